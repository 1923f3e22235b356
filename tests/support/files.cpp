#include "tests/support/files.h"

#include <fstream>
#include <system_error>

namespace pngtest {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  std::error_code ec;
  const auto size = fs::file_size(path, ec);  // 0 for /proc files, which still have bytes
  if (!in) return bytes;
  if (!ec) bytes.reserve(size);
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) bytes.append(buffer, in.gcount());
  return bytes;
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

ScratchFolder::ScratchFolder(const std::string& name) : path_(fs::temp_directory_path() / name) {
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace pngtest
