#include "writer/old_text_chunks.h"

#include <algorithm>
#include <cstring>

#include "png/chunk.h"
#include "reader/text_rendering.h"
#include "stream/memory_error.h"
#include "writer/comment_parser.h"

namespace pngc {
namespace {

// FNV-1a, 64 bits: a section is looked up by its hash, then compared.
constexpr std::uint64_t kHashStart = 0xcbf29ce484222325u;

std::uint64_t Hash(std::uint64_t hash, const std::uint8_t* bytes, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3u;
  return hash;
}

// The section that starts at `at`: its first line, then the lines up to a
// header line or the end. `end` is where its last line that is not empty
// ends, `stop` where the next section starts; false when a zero byte comes
// first (no boundary the parser would see).
bool ScanSection(const std::uint8_t* text, std::int32_t size, std::int32_t at, std::int32_t* end,
                 std::int32_t* stop) {
  std::int32_t line = 0;
  if (TakeLine(text + at, size - at, &line) == 0) return false;
  *end = *stop = at + std::min(line + 2, size - at);
  while (*stop < size) {
    if (TakeLine(text + *stop, size - *stop, &line) == 0) return false;
    if (line > 0 && IsHeaderLine(text + *stop, line)) break;
    *stop = std::min(*stop + line + 2, size);
    if (line > 0) *end = *stop;
  }
  return true;
}

// After `at`: empty lines, then a header line or the end of the text. Only
// there may a taken chunk's rendering end, so that a section the user
// extended is not cut in two.
bool AtSectionBoundary(const std::uint8_t* text, std::int32_t size, std::int32_t at) {
  while (at < size) {
    std::int32_t length = 0;
    if (TakeLine(text + at, size - at, &length) == 0) return false;  // a zero byte
    if (length > 0) return IsHeaderLine(text + at, length);
    at += 2;
  }
  return true;
}

}  // namespace

OldTextChunks::OldTextChunks()
    : chunks_(std::make_unique<TBitMemoryStream>()),
      renderings_(std::make_unique<TBitMemoryStream>()) {}

OldTextChunks::~OldTextChunks() = default;

void OldTextChunks::Add(const std::uint8_t* chunk, std::int32_t size) {
  Entry entry;
  entry.chunk = chunks_->GetSize();
  entry.chunk_size = size;
  chunks_->Seek(0, kFromEnd);
  chunks_->WriteBuffer(chunk, size);
  if (chunks_->GetSize() != std::int64_t{entry.chunk} + size) throw EMemoryError();
  entries_.push_back(entry);
}

void OldTextChunks::Render() {
  auto scratch = std::make_unique<TBitMemoryStream>();
  for (Entry& entry : entries_) {
    const std::int32_t data_size = entry.chunk_size - kChunkHeaderSize - kChunkCrcSize;
    chunks_->Seek(entry.chunk + kChunkHeaderSize, kFromBeginning);
    scratch->Seek(0, kFromBeginning);
    if (std::memcmp(chunks_->GetMemory() + entry.chunk + 4, "zTXt", 4) == 0) {
      RenderCompressedTextChunk(*chunks_, *scratch, data_size);
    } else {
      RenderTextChunk(*chunks_, *scratch, data_size);
    }
    entry.rendering = renderings_->GetSize();
    entry.rendering_size = scratch->GetPosition();
    renderings_->Seek(0, kFromEnd);
    renderings_->WriteBuffer(scratch->GetMemory(), entry.rendering_size);
    if (renderings_->GetSize() != std::int64_t{entry.rendering} + entry.rendering_size) {
      throw EMemoryError();
    }
    const std::uint8_t* rendering = renderings_->GetMemory() + entry.rendering;
    std::int32_t end = 0, stop = 0;
    ScanSection(rendering, entry.rendering_size, 0, &end, &stop);  // a rendering holds no zero byte
    entry.section_size = stop;
    entry.hash = Hash(kHashStart, rendering, stop);
    entry.rendered = true;
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].rendered) by_hash_.push_back(i);
  }
  // Within a hash, the longest rendering first: the first that matches is
  // the one to take.
  std::sort(by_hash_.begin(), by_hash_.end(), [this](std::size_t a, std::size_t b) {
    const Entry& x = entries_[a];
    const Entry& y = entries_[b];
    if (x.hash != y.hash) return x.hash < y.hash;
    return x.rendering_size != y.rendering_size ? x.rendering_size > y.rendering_size : a < b;
  });
  skip_.resize(by_hash_.size());
  for (std::size_t i = 0; i < skip_.size(); ++i) skip_[i] = i;
  budget_ = std::int64_t{renderings_->GetSize()} + chunks_->GetSize() + (std::int64_t{16} << 20);
}

bool OldTextChunks::Matches(const Entry& entry, const std::uint8_t* text, std::int32_t size,
                            std::int32_t at) {
  if (!entry.rendered || entry.taken || entry.rendering_size > size - at || budget_ <= 0)
    return false;
  const std::uint8_t* rendering = renderings_->GetMemory() + entry.rendering;
  const std::uint8_t* differ =
      std::mismatch(rendering, rendering + entry.rendering_size, text + at).first;
  if (differ == rendering + entry.rendering_size &&
      AtSectionBoundary(text, size, at + entry.rendering_size)) {
    return true;
  }
  budget_ -= differ - rendering + 1;
  return false;
}

std::int32_t OldTextChunks::Take(std::size_t index, TBitMemoryStream& output) {
  Entry& entry = entries_[index];
  entry.taken = true;
  next_ = index + 1;
  output.Seek(0, kFromEnd);
  output.WriteBuffer(chunks_->GetMemory() + entry.chunk, entry.chunk_size);
  return entry.rendering_size;
}

std::size_t OldTextChunks::NextFree(std::size_t position) {
  std::size_t free = position;
  while (free < by_hash_.size() && entries_[by_hash_[free]].taken)
    free = std::max(free + 1, skip_[free]);
  // Later lookups jump past the taken run at once.
  while (position < free) {
    const std::size_t next = std::max(position + 1, skip_[position]);
    skip_[position] = free;
    position = next;
  }
  return free;
}

std::int32_t OldTextChunks::TakeAt(const std::uint8_t* text, std::int32_t size, std::int32_t at,
                                   TBitMemoryStream& output) {
  if (next_ < entries_.size() && Matches(entries_[next_], text, size, at))
    return Take(next_, output);

  // A rendering's first section (all of it, unless its text holds a
  // header-shaped line) stands from `at` to the next header line, less any
  // of the empty lines before that.
  std::int32_t end = 0, stop = 0;
  if (by_hash_.empty() || !ScanSection(text, size, at, &end, &stop)) return 0;
  std::uint64_t hash = Hash(kHashStart, text + at, end - at);
  std::size_t best = entries_.size();
  for (std::int32_t candidate = end; candidate <= stop; candidate += 2) {
    if (candidate > end) hash = Hash(hash, reinterpret_cast<const std::uint8_t*>("\r\n"), 2);
    const auto first =
        std::lower_bound(by_hash_.begin(), by_hash_.end(), hash,
                         [this](std::size_t i, std::uint64_t h) { return entries_[i].hash < h; });
    for (std::size_t position = NextFree(static_cast<std::size_t>(first - by_hash_.begin()));
         position < by_hash_.size() && entries_[by_hash_[position]].hash == hash;
         position = NextFree(position + 1)) {
      const std::size_t index = by_hash_[position];
      if (entries_[index].section_size == candidate - at &&
          Matches(entries_[index], text, size, at)) {
        if (best == entries_.size() ||
            entries_[index].rendering_size > entries_[best].rendering_size) {
          best = index;  // the longest: the user's text is all of it
        }
        break;  // the longest for this section, first in file order
      }
    }
  }
  return best < entries_.size() ? Take(best, output) : 0;
}

}  // namespace pngc
