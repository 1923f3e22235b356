// The parts of the host's seam that are the same on every system.
#include "tools/host_os.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "platform/large_pages.h"
#include "png/chunk.h"

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

FileImage::~FileImage() {
  if (allocated_ > 0) FreePages(data_, allocated_);
}

bool FileImage::Allocate(std::size_t size) {
  allocated_ = size > 0 ? size : 1;
  data_ = static_cast<std::uint8_t*>(AllocatePages(allocated_));
  if (data_ == nullptr) allocated_ = 0;
  size_ = data_ != nullptr ? size : 0;
  return data_ != nullptr;
}

ReadStatus FileImage::Load(const std::string& path, bool whole) {
  if (path == "-") {
    const ReadStatus status = ReadStream(stdin, &read_);
    data_ = reinterpret_cast<std::uint8_t*>(read_.data());
    size_ = read_.size();
    return status;
  }
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return ReadStatus::kCannotRead;
  std::uint64_t size = 0;
  bool folder = false;
  ReadStatus status = ReadStatus::kOk;
  has_identity_ = IdentityOf(in, &identity_);
  if (!RegularFileSize(in, &size, &folder)) {
    // A pipe or a device: read as a stream.
    status = folder ? ReadStatus::kCannotRead : ReadStream(in, &read_);
    data_ = reinterpret_cast<std::uint8_t*>(read_.data());
    size_ = read_.size();
  } else if (size > kMaxBytes) {
    status = ReadStatus::kTooLarge;
  } else if (!Allocate(static_cast<std::size_t>(size))) {
    status = ReadStatus::kNoMemory;
  } else if (whole) {
    pngc::os::AdviseLargeBlock(data_, size_);
    if (!ReadAt(in, 0, data_, size_)) status = ReadStatus::kCannotRead;
  } else {
    // The walk the plug-in makes: a header at a time, and the data of the
    // chunks it (or this host) reads. What a chunk states is checked by the
    // plug-in's own framing, so no read passes the end.
    const auto total = static_cast<std::int32_t>(size_);
    std::int32_t offset = std::min<std::int32_t>(total, pngc::kPngSignatureSize);
    bool ok = ReadAt(in, 0, data_, static_cast<std::size_t>(offset));
    pngc::PngChunk chunk;
    while (ok && offset < total) {
      ok = ReadAt(in, static_cast<std::uint64_t>(offset), data_ + offset,
                  static_cast<std::size_t>(std::min(total - offset, pngc::kChunkHeaderSize)));
      const pngc::ChunkFraming framing = pngc::ReadChunkAt(data_, total, offset, &chunk);
      if (!ok ||
          (framing != pngc::ChunkFraming::kComplete && framing != pngc::ChunkFraming::kCutShort))
        break;
      if (pngc::IsChunkType(chunk, "IHDR") || pngc::IsChunkType(chunk, "tEXt") ||
          pngc::IsChunkType(chunk, "zTXt") || pngc::IsChunkType(chunk, "iTXt")) {
        ok = ReadAt(in, static_cast<std::uint64_t>(chunk.data), data_ + chunk.data,
                    static_cast<std::size_t>(chunk.available));
      }
      if (framing != pngc::ChunkFraming::kComplete) break;
      offset = chunk.next;
    }
    if (!ok) status = ReadStatus::kCannotRead;
  }
  std::fclose(in);
  return status;
}

TempTextFile::~TempTextFile() {
  if (path_.empty()) return;
  ForgetTemporary(path_);
  if (!keep_) std::remove(path_.c_str());
}

std::string EditorCommand() {
  for (const char* variable : {"VISUAL", "EDITOR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return DefaultEditor();
}

}  // namespace hostos
