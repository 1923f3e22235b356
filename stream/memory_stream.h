// TBitMemoryStream: the one container for bytes in the plug-in. The image
// the host hands in, the texts handed back and the rewritten PNG are all
// built in one. Sizes, positions and counts are signed 32-bit, as in the
// host interface; arithmetic on them wraps as 32-bit arithmetic would, and a
// write whose end would pass 2^31 - 1 is refused.
//
// Capacity: 10240 zeroed bytes at construction, raised to exactly the end of
// a write past it, 0 after Clear; the storage behind it grows geometrically,
// so appends cost linear time. A failed allocation raises EMemoryError and
// leaves the stream (for CopyFrom, both) as it was.
#ifndef PNGCOMMENT_STREAM_MEMORY_STREAM_H
#define PNGCOMMENT_STREAM_MEMORY_STREAM_H

#include <cstddef>
#include <cstdint>

#include "platform/os.h"

namespace pngc {

// The most bytes a stream holds: sizes are signed 32-bit, as in the host
// interface, which therefore counts no more either.
constexpr std::int32_t kMaxStreamSize = 0x7FFFFFFF;

// Seek origins.
enum SeekOrigin : std::uint16_t {
  kFromBeginning = 0,  // the position becomes the offset
  kFromCurrent = 1,    // the offset is added to the position
  kFromEnd = 2         // the position becomes the size plus the offset
};

class TBitMemoryStream {
 public:
  static constexpr std::int32_t kInitialCapacity = 10240;
  // CopyFrom moves bytes through one block of at most this size.
  static constexpr std::int32_t kCopyBlockSize = 61440;

  TBitMemoryStream();
  virtual ~TBitMemoryStream();
  TBitMemoryStream(const TBitMemoryStream&) = delete;
  TBitMemoryStream& operator=(const TBitMemoryStream&) = delete;

  // Storage for `capacity` bytes, the content kept up to the smaller size;
  // a capacity of 0 frees the storage, empties the stream and returns null.
  // Does not record the new capacity: SetCapacity does.
  virtual std::uint8_t* Realloc(std::int32_t capacity);
  // Copies up to `count` bytes from the position and advances past them.
  // Returns the number copied: 0 for a negative position or count, or when
  // nothing remains.
  virtual std::int32_t Read(void* buffer, std::int32_t count);
  // Copies `count` bytes in at the position, growing the content as needed.
  // Returns `count`, or 0 when it writes nothing (a negative position, a
  // count of 0 or less, or an end past 2^31 - 1).
  virtual std::int32_t Write(const void* buffer, std::int32_t count);
  // Moves the position (not limited to the content), returns it, and
  // returns to a byte boundary. An unknown origin leaves the position.
  virtual std::int32_t Seek(std::int32_t offset, std::uint16_t origin);

  // Read after discarding the unread bits of a partly read byte; a short
  // read leaves the rest of `buffer` as it was. A count of 0 does nothing.
  void ReadBuffer(void* buffer, std::int32_t count);
  // Write, then back to a byte boundary. A count of 0 does nothing.
  void WriteBuffer(const void* buffer, std::int32_t count);

  std::int32_t GetPosition() const { return position_; }
  std::int32_t GetSize() const { return size_; }
  std::int32_t GetCapacity() const { return capacity_; }
  std::int8_t GetBitsLeft() const { return bits_left_; }
  // The content's first byte; valid until the stream next grows past its
  // capacity, is cleared or destroyed. Null when there is no storage.
  std::uint8_t* GetMemory() const { return memory_; }

  // Sets the position, clamped to 0 through the size.
  void SetPosition(std::int32_t position);
  void SetPointer(std::uint8_t* memory, std::int32_t size);
  // Realloc to `capacity` and record it; only 0 or a larger capacity.
  void SetCapacity(std::int32_t capacity);
  // Frees the storage: size, position and capacity 0.
  void Clear();
  // Makes room behind the capacity for `bytes` of content, so that writes up
  // to there move nothing (an allocator such as msvcrt's copies a block on
  // every growth), in memory fit to be filled at once. The capacity itself
  // does not change.
  void Reserve(std::int32_t bytes);

  // Appends `count` bytes of `source`, read from its position; a count of 0
  // copies the whole source from its first byte (a partly read one
  // included). The content always grows by the full count: bytes that the
  // source does not have are written as zeros. Returns the count (0 for a
  // negative count, which copies nothing).
  std::int32_t CopyFrom(TBitMemoryStream& source, std::int32_t count);
  // Replaces the named file's content with the whole content, whatever the
  // position, without ever leaving a partly written file. Returns the number
  // of bytes written, or -1 with the file exactly as it was; `*result`, when
  // given, receives why (os::ReplaceFileContent).
  std::int32_t SaveToFile(const char* file_name, os::SaveResult* result = nullptr) const;
  // The next `count` bits (1 to 32), most significant first; 0 and nothing
  // moved for any other count. When the content ends first, the bits read
  // so far are returned.
  std::int32_t ReadBits(std::int32_t count);

 private:
  std::uint8_t* memory_ = nullptr;
  std::int32_t size_ = 0;
  std::int32_t position_ = 0;
  std::int32_t capacity_ = 0;
  std::int8_t bits_left_ = 8;
  // Bytes really allocated at memory_: at least the capacity.
  std::size_t reserved_ = 0;
};

}  // namespace pngc

#endif
