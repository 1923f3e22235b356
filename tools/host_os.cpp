// The parts of the host's seam that are the same on every system.
#include "tools/host_os.h"

#include <cstdlib>
#include <new>
#include <stdexcept>

#include "platform/large_pages.h"

namespace hostos {

ReadStatus ReadStream(std::FILE* in, std::string* bytes) {
  std::uint64_t size = 0;
  bool folder = false;
  const bool regular = RegularFileSize(in, &size, &folder);
  if (folder) return ReadStatus::kCannotRead;
  if (regular && size > kMaxBytes) return ReadStatus::kTooLarge;
  try {
    if (regular) {
      bytes->reserve(static_cast<std::size_t>(size));
      pngc::os::AdviseLargeBlock(bytes->data(), bytes->capacity());
    }
    char chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
      // A file may grow while it is read, and a pipe has no size.
      if (bytes->size() + count > kMaxBytes) return ReadStatus::kTooLarge;
      bytes->append(chunk, count);
    }
  } catch (const std::bad_alloc&) {
    return ReadStatus::kNoMemory;
  } catch (const std::length_error&) {
    return ReadStatus::kNoMemory;
  }
  return std::ferror(in) ? ReadStatus::kCannotRead : ReadStatus::kOk;
}

ReadStatus ReadFile(const std::string& path, std::string* bytes) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return ReadStatus::kCannotRead;
  const ReadStatus status = ReadStream(in, bytes);
  std::fclose(in);
  return status;
}

TempTextFile::~TempTextFile() {
  if (!path_.empty() && !keep_) std::remove(path_.c_str());
}

std::string EditorCommand() {
  for (const char* variable : {"VISUAL", "EDITOR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return DefaultEditor();
}

}  // namespace hostos
