// Files for the tests, the fuzz targets and the benchmarks: whole files read
// and written in one call, a folder's listing, and a scratch folder.
#ifndef PNGCOMMENT_TESTS_SUPPORT_FILES_H
#define PNGCOMMENT_TESTS_SUPPORT_FILES_H

#include <filesystem>
#include <set>
#include <string>

namespace pngtest {

// A file's bytes; empty when it cannot be read. Sized from the file up
// front, so that a large file is not held twice while it is read.
std::string ReadFile(const std::filesystem::path& path);
// Replaces the file's content with `bytes`; false when that failed.
bool WriteFile(const std::filesystem::path& path, const std::string& bytes);
// The names of a folder's entries.
std::set<std::string> Listing(const std::filesystem::path& folder);

// A folder of the temporary folder, emptied when made and removed, with
// whatever it holds, when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace pngtest

#endif
