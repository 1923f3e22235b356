// Shows what a host learns of the plug-in when it loads it: the information
// strings, the answer to the configuration query, the signature test and, on
// Windows, the version resource.
//
// usage: pngcomment-identity [LIBRARY]
#include <cstdio>
#include <cstring>

#include "tools/plugin_loader.h"
#include "tools/version_info.h"

#ifdef _WIN32
constexpr const char* kDefaultLibrary = "pngcomment.dll";
#else
constexpr const char* kDefaultLibrary = "libpngcomment.so";
#endif

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : kDefaultLibrary;
  PluginLibrary library(path);
  if (!library.loaded()) {
    std::fprintf(stderr, "%s: cannot load the plug-in\n", path);
    return 1;
  }
  auto get_info = library.Get<GetPluginInfoFn>("GetPluginInfo");
  auto configure = library.Get<ConfigurationDlgFn>("ConfigurationDlg");
  auto is_supported = library.Get<IsSupportedFn>("IsSupported");
  if (get_info == nullptr || configure == nullptr || is_supported == nullptr) {
    std::fprintf(stderr, "%s: not a pngcomment plug-in\n", path);
    return 1;
  }

  std::printf("plug-in       %s\n", library.Path().c_str());
  static const char* const kRoles[] = {"identifier", "description", "pattern", "format"};
  for (int index = 0; index < 4; ++index) {
    char text[512] = {};
    const int length = get_info(index, text, sizeof text);
    std::printf("info %d %-11s \"%s\" (%d)\n", index, kRoles[index], text, length);
  }
  std::printf("query (2)     %d\n", configure(nullptr, 2));
  const char png[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
  const char gif[8] = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
  std::printf("IsSupported   PNG signature %d, GIF signature %d\n", is_supported(png, 0),
              is_supported(gif, 0));

  const VersionInfo version = ReadVersionInfo(library.Path());
  if (version.found) {
    std::printf("version       file %u.%u.%u.%u, product %u.%u.%u.%u\n",
                version.file_version_ms >> 16, version.file_version_ms & 0xFFFF,
                version.file_version_ls >> 16, version.file_version_ls & 0xFFFF,
                version.product_version_ms >> 16, version.product_version_ms & 0xFFFF,
                version.product_version_ls >> 16, version.product_version_ls & 0xFFFF);
    std::printf("translation   language 0x%04X, code page %u (%d entr%s)\n", version.language,
                version.code_page, version.translation_count,
                version.translation_count == 1 ? "y" : "ies");
    std::printf("FileVersion      \"%s\"\nProductVersion   \"%s\"\n", version.file_version.c_str(),
                version.product_version.c_str());
    std::printf("FileDescription  \"%s\"\nProductName      \"%s\"\n",
                version.file_description.c_str(), version.product_name.c_str());
    std::printf("OriginalFilename \"%s\"\nCompanyName      \"%s\"\nLegalCopyright   \"%s\"\n",
                version.original_filename.c_str(), version.company_name.c_str(),
                version.legal_copyright.c_str());
  }
  return 0;
}
