// The parts of the host's seam that are the same on every system.
#include "tools/host_os.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "platform/file_replace.h"
#include "platform/large_pages.h"
#include "png/chunk.h"
#include "stream/big_endian.h"

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

namespace {

// Writes the header of one chunk of type `type` that spans `image` from
// `start` to `end`, for a run of chunks the plug-in passes over.
void PutRunHeader(std::uint8_t* image, std::int32_t start, std::int32_t end,
                  const std::uint8_t* type) {
  pngc::StoreBE32(image + start, static_cast<std::uint32_t>(end - start - pngc::kChunkHeaderSize -
                                                            pngc::kChunkCrcSize));
  std::memcpy(image + start + 4, type, 4);
}

// A file's bytes, read through one window: a run of small chunks costs one
// read, which the page cache and the disk's read-ahead serve as they serve
// cat; past a large chunk the next header is read alone. Get copies `count`
// bytes at `offset` to `out`.
class WindowedBytes {
 public:
  WindowedBytes(std::FILE* in, std::uint64_t size)
      : in_(in), size_(size), window_(new std::uint8_t[kWindow]) {}
  bool Get(std::uint64_t offset, std::size_t count, std::uint8_t* out) {
    if (offset < start_ || offset + count > end_) {
      if (count > kWindow / 2) return ReadAt(in_, offset, out, count);
      // From the page the bytes start in, as the system's cache holds them.
      const std::uint64_t start = offset & ~std::uint64_t{kPage - 1};
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(
          std::max<std::uint64_t>(offset - start + count, ahead_), size_ - start));
      if (!ReadAt(in_, start, window_.get(), want)) return false;
      start_ = start;
      end_ = start + want;
    }
    if (count > 0) std::memcpy(out, window_.get() + (offset - start_), count);
    return true;
  }
  // The walk passes over a chunk of `length` bytes.
  void Passing(std::int32_t length) { ahead_ = length >= 65536 ? kSmallRead : kWindow; }

 private:
  static constexpr std::size_t kWindow = std::size_t{128} << 10, kSmallRead = 4096, kPage = 4096;
  std::FILE* in_;
  std::uint64_t size_;
  std::unique_ptr<std::uint8_t[]> window_;
  std::uint64_t start_ = 0, end_ = 0;
  std::size_t ahead_ = kWindow;
};

// The walk the plug-in makes, as the file's chunks lie, into `image` (the
// file's `total` bytes, untouched where nothing is copied). The chunks the
// walk reads (IHDR, tEXt, zTXt, and this host's iTXt) are copied to their
// places; a run of other chunks, which the walk only passes over, stands as
// one chunk of the run's length, so that their pages are never touched.
// What a chunk states is checked by the plug-in's own framing, so no read
// passes the end, and the plug-in meets a cut or a broken length where the
// file has it.
bool WalkChunks(WindowedBytes& bytes, std::uint8_t* image, std::int32_t total) {
  pngc::ChunkWalk walk(nullptr, total);
  if (!bytes.Get(0, static_cast<std::size_t>(walk.position()), image)) return false;
  std::int32_t run = -1;  // where a run of passed-over chunks began
  std::uint8_t run_type[4] = {};
  for (;;) {
    const std::int32_t offset = walk.position();
    std::uint8_t header[pngc::kChunkHeaderSize] = {};
    const auto count = static_cast<std::size_t>(std::min(total - offset, pngc::kChunkHeaderSize));
    if (!bytes.Get(static_cast<std::uint64_t>(offset), count, header)) return false;
    pngc::PngChunk chunk;
    const bool framed = walk.NextFromHeader(header, &chunk);
    const bool read = framed && pngc::KindOf(chunk) != pngc::ChunkKind::kOther;
    if (framed && chunk.complete && !read) {
      if (run < 0) {
        run = offset;
        std::memcpy(run_type, header + 4, 4);
      }
      bytes.Passing(chunk.length);
      continue;
    }
    if (run >= 0) PutRunHeader(image, run, offset, run_type);
    run = -1;
    // The header, or the bytes that frame none, as the file has them.
    std::memcpy(image + offset, header, count);
    if (read && !bytes.Get(static_cast<std::uint64_t>(chunk.data),
                           static_cast<std::size_t>(chunk.available), image + chunk.data)) {
      return false;
    }
    if (!framed || !chunk.complete) return true;
  }
}

}  // namespace

bool FindPngFiles(const std::string& folder, std::vector<std::string>* files) {
  std::vector<FolderEntry> entries;
  if (!ListFolder(folder, &entries)) return false;
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  const std::string prefix = folder.empty() || folder.back() == kSeparator || folder.back() == '/'
                                 ? folder
                                 : folder + kSeparator;
  bool ok = true;
  for (const FolderEntry& entry : entries) {
    const std::string path = prefix + entry.name;
    if (entry.folder && entry.name[0] != '.') {
      ok = FindPngFiles(path, files) && ok;
    } else if (entry.regular &&
               pngc::os::KindOfTemporary(entry.name.c_str()) == pngc::os::TemporaryKind::kNone) {
      std::uint8_t head[pngc::kPngSignatureSize] = {};
      std::FILE* in = std::fopen(path.c_str(), "rb");
      if (in == nullptr) {
        files->push_back(path);  // for its failure to be reported
        continue;
      }
      const bool png = std::fread(head, 1, sizeof head, in) == sizeof head &&
                       std::memcmp(head, pngc::kPngSignature, sizeof head) == 0;
      std::fclose(in);
      if (png) files->push_back(path);
    }
  }
  return ok;
}

bool FileImage::ReadChunksOnly(std::FILE* in) {
  WindowedBytes bytes(in, size_);
  return WalkChunks(bytes, data_, static_cast<std::int32_t>(size_));
}

void FileImage::PagesRelease::operator()(std::uint8_t* pages) const { FreePages(pages, size); }

bool FileImage::Allocate(std::size_t size) {
  const std::size_t pages = size > 0 ? size : 1;
  pages_ = {static_cast<std::uint8_t*>(AllocatePages(pages)), PagesRelease{pages}};
  data_ = pages_.get();
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
  } else if (!ReadChunksOnly(in)) {
    status = ReadStatus::kCannotRead;
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
