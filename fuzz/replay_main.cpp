// A main for the fuzz targets without libFuzzer: runs the target once on
// every file named on the command line and on every file under every folder
// named there (README files and dot-files aside), in name order; those named
// after --every-fault with every fault in turn (fuzz/harness.h). This makes
// the corpus and the saved crashers a regression test on any compiler,
// natively and as a Windows program under Wine. A failed check aborts, and
// the last "replay:" line names the input that did it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "fuzz/harness.h"
#include "tests/support/files.h"
#include "tests/support/png_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool IsInput(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name[0] != '.' && name.rfind("README", 0) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE-OR-FOLDER... [--every-fault FILE-OR-FOLDER...]\n", argv[0]);
    return 2;
  }
  std::vector<std::pair<fs::path, bool>> inputs;  // and whether every fault
  bool every_fault = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--every-fault") {
      every_fault = true;
      continue;
    }
    const fs::path arg = argv[i];
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::vector<fs::path> found;
      for (const auto& entry : fs::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file() && IsInput(entry.path())) found.push_back(entry.path());
      }
      std::sort(found.begin(), found.end());
      for (const fs::path& path : found) inputs.emplace_back(path, every_fault);
    } else if (fs::is_regular_file(arg, ec)) {
      inputs.emplace_back(arg, every_fault);
    } else {
      std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
      return 2;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "replay: no input found\n");
    return 1;
  }
  for (const auto& [path, every] : inputs) {
    pngfuzz::every_fault = every;
    std::printf("replay: %s\n", path.string().c_str());
    std::fflush(stdout);
    const std::string bytes = pngtest::ReadFile(path);
    if (bytes.empty() && fs::file_size(path) != 0) {
      std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
      return 1;
    }
    // libFuzzer never passes a null pointer, even for an empty input.
    static const std::uint8_t kEmpty = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kEmpty : pngtest::BytesOf(bytes), bytes.size());
  }
  std::printf("replay: %lu inputs, all passed\n", static_cast<unsigned long>(inputs.size()));
  return 0;
}
