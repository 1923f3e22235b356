#include "stream/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/large_pages.h"
#include "platform/os.h"
#include "stream/allocation.h"
#include "stream/memory_error.h"

// Under AddressSanitizer the storage past the content is poisoned, so that a
// read beyond the content (beyond the image data, for the input stream) is
// reported even though it stays inside the allocation.
#if defined(__SANITIZE_ADDRESS__)
#define PNGC_POISON_SLACK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PNGC_POISON_SLACK 1
#endif
#endif
#ifdef PNGC_POISON_SLACK
#include <sanitizer/asan_interface.h>
#endif

namespace pngc {
namespace {

void Poison([[maybe_unused]] const std::uint8_t* bytes, [[maybe_unused]] std::size_t size) {
#ifdef PNGC_POISON_SLACK
  ASAN_POISON_MEMORY_REGION(bytes, size);
#endif
}

void Unpoison([[maybe_unused]] const std::uint8_t* bytes, [[maybe_unused]] std::size_t size) {
#ifdef PNGC_POISON_SLACK
  ASAN_UNPOISON_MEMORY_REGION(bytes, size);
#endif
}

// a + b as 32-bit two's complement arithmetic gives it, without the undefined
// behaviour of a signed overflow.
std::int32_t WrapAdd(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

struct FreeBytesDeleter {
  void operator()(void* block) const { FreeBytes(block); }
};

}  // namespace

TBitMemoryStream::TBitMemoryStream() {
  memory_ = static_cast<std::uint8_t*>(AllocateZeroedBytes(kInitialCapacity));
  if (memory_ == nullptr) throw EMemoryError();
  capacity_ = kInitialCapacity;
  reserved_ = kInitialCapacity;
  Poison(memory_, reserved_);
}

TBitMemoryStream::~TBitMemoryStream() {
  FreeBytes(memory_);
  memory_ = nullptr;
  size_ = position_ = capacity_ = 0;
  reserved_ = 0;
}

std::uint8_t* TBitMemoryStream::Realloc(std::int32_t capacity) {
  if (capacity <= 0) {
    FreeBytes(memory_);
    memory_ = nullptr;
    reserved_ = 0;
    size_ = position_ = capacity_ = 0;
    bits_left_ = 8;
    return nullptr;
  }
  const auto wanted = static_cast<std::size_t>(capacity);
  if (memory_ != nullptr && wanted <= reserved_) return memory_;
  // Grow the storage by half again at least, so that appends past the
  // capacity reallocate only O(log n) times (one large write still takes
  // just what it needs). Where memory is short, as in a 32-bit process with
  // 2 GiB of address space, the extra is halved until a block can be had,
  // down to the exact size: appends near the limit then still do not move
  // the content on every write.
  const std::size_t generous = static_cast<std::size_t>(std::min<std::int64_t>(
      std::int64_t{kMaxStreamSize},
      std::max<std::int64_t>(capacity, static_cast<std::int64_t>(reserved_) * 3 / 2)));
  for (std::size_t size = generous;; size = wanted + (size - wanted) / 2) {
    void* block = memory_ != nullptr ? ReallocateBytes(memory_, size) : AllocateBytes(size);
    if (block != nullptr) {
      reserved_ = size;
      auto* bytes = static_cast<std::uint8_t*>(block);
      const auto content = static_cast<std::size_t>(memory_ != nullptr ? size_ : 0);
      Poison(bytes + content, reserved_ - content);
      return bytes;
    }
    if (size == wanted) break;
  }
  throw EMemoryError();
}

std::int32_t TBitMemoryStream::Read(void* buffer, std::int32_t count) {
  if (position_ < 0 || count <= 0 || buffer == nullptr) return 0;
  const std::int32_t remaining = size_ - position_;  // both non-negative here
  if (remaining <= 0) return 0;
  const std::int32_t n = std::min(count, remaining);
  std::memcpy(buffer, memory_ + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int32_t TBitMemoryStream::Write(const void* buffer, std::int32_t count) {
  if (position_ < 0 || count <= 0 || buffer == nullptr) return 0;
  const std::int64_t end = std::int64_t{position_} + count;
  if (end > std::int64_t{kMaxStreamSize}) return 0;  // the 32-bit sum would wrap negative
  const auto* source = static_cast<const std::uint8_t*>(buffer);
  if (end > size_) {
    if (end > capacity_) {
      // The source may lie in our own storage, which growing can move.
      const bool inside = memory_ != nullptr && source >= memory_ && source < memory_ + reserved_;
      const std::size_t offset = inside ? static_cast<std::size_t>(source - memory_) : 0;
      SetCapacity(static_cast<std::int32_t>(end));
      if (inside) source = memory_ + offset;
    }
    Unpoison(memory_ + size_, static_cast<std::size_t>(end - size_));
    // Bytes skipped by a seek past the end become zeros, never stale memory.
    if (position_ > size_)
      std::memset(memory_ + size_, 0, static_cast<std::size_t>(position_ - size_));
    size_ = static_cast<std::int32_t>(end);
  }
  std::memmove(memory_ + position_, source, static_cast<std::size_t>(count));
  position_ = static_cast<std::int32_t>(end);
  return count;
}

std::int32_t TBitMemoryStream::Seek(std::int32_t offset, std::uint16_t origin) {
  switch (origin) {
    case kFromBeginning:
      position_ = offset;
      break;
    case kFromCurrent:
      position_ = WrapAdd(position_, offset);
      break;
    case kFromEnd:
      position_ = WrapAdd(size_, offset);
      break;
    default:
      break;
  }
  bits_left_ = 8;
  return position_;
}

void TBitMemoryStream::ReadBuffer(void* buffer, std::int32_t count) {
  if (count == 0) return;
  if (bits_left_ < 8) ReadBits(bits_left_);
  Read(buffer, count);
}

void TBitMemoryStream::WriteBuffer(const void* buffer, std::int32_t count) {
  if (count == 0) return;
  Write(buffer, count);
  bits_left_ = 8;
}

void TBitMemoryStream::SetPosition(std::int32_t position) {
  position_ = std::clamp(position, std::int32_t{0}, size_);
}

void TBitMemoryStream::SetPointer(std::uint8_t* memory, std::int32_t size) {
  memory_ = memory;
  size_ = size;
}

void TBitMemoryStream::SetCapacity(std::int32_t capacity) {
  std::uint8_t* memory = Realloc(capacity);
  SetPointer(memory, size_);
  capacity_ = std::max(capacity, std::int32_t{0});
}

void TBitMemoryStream::Clear() {
  SetCapacity(0);
  position_ = 0;
  size_ = 0;
}

void TBitMemoryStream::Reserve(std::int32_t bytes) {
  if (bytes <= 0 || static_cast<std::size_t>(bytes) <= reserved_) return;
  void* block = memory_ != nullptr ? ReallocateBytes(memory_, static_cast<std::size_t>(bytes))
                                   : AllocateBytes(static_cast<std::size_t>(bytes));
  if (block == nullptr) throw EMemoryError();
  os::AdviseLargeBlock(block, static_cast<std::size_t>(bytes));
  memory_ = static_cast<std::uint8_t*>(block);
  Poison(memory_ + size_, static_cast<std::size_t>(bytes) - static_cast<std::size_t>(size_));
  reserved_ = static_cast<std::size_t>(bytes);
}

std::int32_t TBitMemoryStream::CopyFrom(TBitMemoryStream& source, std::int32_t count) {
  const bool whole = count == 0;
  if (whole) count = source.GetSize();
  if (count <= 0) {  // a negative count would never count down to 0
    if (whole) source.Seek(0, kFromBeginning);
    return 0;
  }
  // Everything that can fail comes first, so that a failure leaves both
  // streams as they were and the copy itself cannot fail halfway.
  const std::int32_t block_size = std::min(count, kCopyBlockSize);
  std::unique_ptr<void, FreeBytesDeleter> block(
      AllocateBytes(static_cast<std::size_t>(block_size)));
  if (!block) throw EMemoryError();
  const std::int64_t end = std::int64_t{position_} + count;
  if (position_ >= 0 && end <= std::int64_t{kMaxStreamSize} && end > capacity_) {
    SetCapacity(static_cast<std::int32_t>(end));
  }
  if (whole) source.Seek(0, kFromBeginning);

  const std::int32_t result = count;
  auto* bytes = static_cast<std::uint8_t*>(block.get());
  while (count > 0) {
    const std::int32_t n = std::min(block_size, count);
    // ReadBuffer, except that what the source lacks is zeroed rather than
    // left over from the previous block.
    if (source.bits_left_ < 8) source.ReadBits(source.bits_left_);
    const std::int32_t got = source.Read(bytes, n);
    if (got < n) std::memset(bytes + got, 0, static_cast<std::size_t>(n - got));
    WriteBuffer(bytes, n);
    count -= n;
  }
  return result;
}

std::int32_t TBitMemoryStream::SaveToFile(const char* file_name, os::SaveResult* result) const {
  const os::SaveResult saved =
      os::ReplaceFileContent(file_name, memory_, static_cast<std::size_t>(size_));
  if (result != nullptr) *result = saved;
  return saved.ok() ? size_ : -1;
}

std::int32_t TBitMemoryStream::ReadBits(std::int32_t count) {
  if (count <= 0 || count > 32) return 0;
  std::uint32_t result = 0;
  while (count > 0) {
    if (position_ < 0 || position_ >= size_) break;
    const std::int32_t k = std::min<std::int32_t>(count, bits_left_);
    const std::uint32_t bits =
        (std::uint32_t{memory_[position_]} >> (bits_left_ - k)) & ((1u << k) - 1u);
    result = (result << k) | bits;
    bits_left_ = static_cast<std::int8_t>(bits_left_ - k);
    if (bits_left_ == 0) {
      bits_left_ = 8;
      ++position_;
    }
    count -= k;
  }
  return static_cast<std::int32_t>(result);
}

}  // namespace pngc
