// Reads PNG files through the plug-in as a host does (IsSupported, then
// GetComment) and prints the image summary and the comment text of each.
//
// usage: pngcomment-read LIBRARY FILE...
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/plugin_loader.h"

namespace {

bool ReadFile(const char* path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s LIBRARY FILE...\n", argv[0]);
    return 2;
  }
  PluginLibrary library(argv[1]);
  auto is_supported = library.Get<IsSupportedFn>("IsSupported");
  auto get_comment = library.Get<GetCommentFn>("GetComment");
  if (is_supported == nullptr || get_comment == nullptr) {
    std::fprintf(stderr, "%s: cannot load the plug-in\n", argv[1]);
    return 1;
  }
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    std::string png;
    if (!ReadFile(argv[i], &png) || png.size() > 0x7FFFFFFF) {
      std::fprintf(stderr, "%s: cannot read\n", argv[i]);
      status = 1;
      continue;
    }
    if (png.size() < 8 || is_supported(png.data(), 0) != 0) {
      std::fprintf(stderr, "%s: not a PNG file\n", argv[i]);
      status = 1;
      continue;
    }
    void* comment = nullptr;
    void* summary = nullptr;
    const int result = get_comment(0, reinterpret_cast<const std::uint8_t*>(png.data()),
                                   static_cast<std::int32_t>(png.size()), &comment, &summary);
    if (result != 0) {
      std::fprintf(stderr, "%s: GetComment failed (%d)\n", argv[i], result);
      status = 1;
      continue;
    }
    const std::string summary_text = library.LocalBlockBytes(summary);
    std::string comment_text = library.LocalBlockBytes(comment);
    if (!comment_text.empty()) comment_text.pop_back();  // the host's NUL
    library.FreeLocalBlock(summary);
    library.FreeLocalBlock(comment);
    std::printf("== %s\n-- image summary\n%s-- comment text\n%s", argv[i], summary_text.c_str(),
                comment_text.c_str());
    std::fflush(stdout);
  }
  return status;
}
