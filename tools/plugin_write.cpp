// Writes a PNG's comment text through the plug-in as a host does: the image
// and the edited text (in the comment text format, lines ending in CR LF) go
// to WriteComment, which writes OUT (or FILE itself).
//
// usage: pngcomment-write LIBRARY FILE TEXTFILE [OUT]
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
  return !in.bad() && bytes->size() <= 0x7FFFFFFF;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: %s LIBRARY FILE TEXTFILE [OUT]\n", argv[0]);
    return 2;
  }
  PluginLibrary library(argv[1]);
  auto is_supported = library.Get<IsSupportedFn>("IsSupported");
  auto write_comment = library.Get<WriteCommentFn>("WriteComment");
  if (is_supported == nullptr || write_comment == nullptr) {
    std::fprintf(stderr, "%s: cannot load the plug-in\n", argv[1]);
    return 1;
  }
  std::string png, text;
  if (!ReadFile(argv[2], &png) || !ReadFile(argv[3], &text)) {
    std::fprintf(stderr, "%s: cannot read\n", ReadFile(argv[2], &png) ? argv[3] : argv[2]);
    return 1;
  }
  if (png.size() < 8 || is_supported(png.data(), 0) != 0) {
    std::fprintf(stderr, "%s: not a PNG file\n", argv[2]);
    return 1;
  }
  const char* out = argc == 5 ? argv[4] : argv[2];
  const int result = write_comment(0, out, reinterpret_cast<const std::uint8_t*>(png.data()),
                                   static_cast<std::int32_t>(png.size()), text.data(),
                                   static_cast<std::int32_t>(text.size()));
  if (result != 0) {
    std::fprintf(stderr, "%s: %s (%d)\n", out,
                 result == -5 ? "could not be written, file left unchanged" : "out of memory",
                 result);
    return 1;
  }
  std::printf("%s: written\n", out);
  return 0;
}
