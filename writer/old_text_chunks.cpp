#include "writer/old_text_chunks.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "png/chunk.h"
#include "png/comment_text.h"
#include "png/text_rendering.h"
#include "stream/memory_error.h"

namespace pngc {
namespace {

// FNV-1a, 64 bits: renderings are looked up by their hash, then compared.
constexpr std::uint64_t kHashStart = 0xcbf29ce484222325u;

std::uint64_t Hash(std::uint64_t hash, const std::uint8_t* bytes, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3u;
  return hash;
}

// The key of a rendering of `length` bytes whose hash is `hash`.
std::uint64_t RenderingKey(std::int64_t length, std::uint64_t hash) {
  return hash ^ (static_cast<std::uint64_t>(length) * 0x9E3779B97F4A7C15u);
}

// What inflating one zTXt may cost: its rendering's bytes are found without
// holding them, but a text of zeros renders to nothing however long it is.
std::int64_t InflateLimit(std::int32_t compressed_size) {
  return std::int64_t{64} * compressed_size + (std::int64_t{1} << 20);
}

// Hashes a rendering as it comes: its first line, and all of it unless it
// passes `cap` bytes or the first line is all that is asked for.
class Measuring : public TRenderTarget {
 public:
  Measuring(std::int64_t cap, bool first_line_only)
      : cap_(first_line_only ? INT64_MAX : cap), first_line_only_(first_line_only) {}
  bool Put(const std::uint8_t* bytes, std::int32_t count) override {
    for (std::int32_t i = 0; i < count && !line_done_; ++i) {
      // The first line ends at the first CR LF, as the parser cuts lines.
      if (last_ == '\r' && bytes[i] == '\n') {
        line_done_ = true;
        first_line_ = line_hash_;
      } else {
        if (last_ == '\r') line_hash_ = Hash(line_hash_, &last_, 1);
        if (bytes[i] != '\r') line_hash_ = Hash(line_hash_, bytes + i, 1);
      }
      last_ = bytes[i];
    }
    length_ += count;
    hash_ = Hash(hash_, bytes, count);
    return length_ <= cap_ && !(first_line_only_ && line_done_);
  }
  std::uint64_t first_line() const { return first_line_; }
  std::uint64_t hash() const { return hash_; }
  std::int64_t length() const { return length_; }
  bool over() const { return length_ > cap_; }

 private:
  std::int64_t cap_;
  bool first_line_only_;
  std::uint64_t hash_ = kHashStart, line_hash_ = kHashStart, first_line_ = kHashStart;
  std::int64_t length_ = 0;
  std::uint8_t last_ = 0;
  bool line_done_ = false;
};

// Compares a rendering, as it comes, with the text it should be.
class Comparing : public TRenderTarget {
 public:
  Comparing(const std::uint8_t* text, std::int64_t length) : text_(text), left_(length) {}
  bool Put(const std::uint8_t* bytes, std::int32_t count) override {
    equal_ =
        equal_ && count <= left_ && std::memcmp(bytes, text_, static_cast<std::size_t>(count)) == 0;
    text_ += count;
    left_ -= count;
    return equal_;
  }
  bool equal() const { return equal_ && left_ == 0; }

 private:
  const std::uint8_t* text_;
  std::int64_t left_;
  bool equal_ = true;
};

// The hash of a line as Measuring gives a first line.
std::uint64_t LineHash(const std::uint8_t* line, std::int32_t length) {
  return Hash(kHashStart, line, length);
}

}  // namespace

OldTextChunks::OldTextChunks() : chunks_(std::make_unique<TBitMemoryStream>()) {}

OldTextChunks::~OldTextChunks() = default;

void OldTextChunks::Add(const std::uint8_t* chunk, std::int32_t size, std::int32_t data_size,
                        bool in_tail) {
  Entry entry;
  entry.chunk = chunks_->GetSize();
  entry.chunk_size = size;
  entry.data_size = data_size;
  entry.compressed = size >= kChunkHeaderSize &&
                     std::memcmp(chunk + 4, TypeOf(ChunkKind::kCompressedText), 4) == 0;
  entry.in_tail = in_tail;
  chunks_->Seek(0, kFromEnd);
  chunks_->WriteBuffer(chunk, size);
  if (chunks_->GetSize() != std::int64_t{entry.chunk} + size) throw EMemoryError();
  entries_.push_back(entry);
}

bool OldTextChunks::Render(const Entry& entry, TRenderTarget& target) const {
  const std::uint8_t* data = chunks_->GetMemory() + entry.chunk + kChunkHeaderSize;
  return RenderChunkData(data, entry.data_size, entry.compressed, target,
                         InflateLimit(entry.data_size));
}

void OldTextChunks::Prepare(std::int32_t text_size) {
  prepared_ = true;
  text_size_ = text_size;
  budget_ = std::int64_t{8} * text_size + (std::int64_t{32} << 20);
  next_free_.resize(entries_.size() + 1);
  for (std::size_t i = 0; i < next_free_.size(); ++i) next_free_[i] = static_cast<std::int32_t>(i);
  // The first line needs no inflating: every entry is grouped by it now.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    Measuring first(text_size, true);
    Render(entries_[i], first);
    entries_[i].first_line = first.first_line();
    groups_[first.first_line()].entries.push_back(static_cast<std::int32_t>(i));
  }
}

void OldTextChunks::Measure(std::int32_t index) {
  Entry& entry = entries_[static_cast<std::size_t>(index)];
  Measuring all(text_size_, false);
  entry.state = Render(entry, all) && !all.over() ? State::kMeasured : State::kUnmatchable;
  if (entry.state != State::kMeasured) return;
  entry.hash = all.hash();
  entry.length = all.length();
  Group& group = groups_[entry.first_line];
  group.longest = std::max(group.longest, entry.length);
  // Equal renderings share their first line, and a group is measured at
  // once in file order: the twins stay in file order.
  Twins& twins = twins_[RenderingKey(entry.length, entry.hash)];
  twins.skip.push_back(static_cast<std::int32_t>(twins.entries.size()));
  twins.entries.push_back(index);
}

std::int32_t OldTextChunks::NextFree(std::int32_t index) {
  std::int32_t free = index;
  while (free < static_cast<std::int32_t>(entries_.size()) &&
         entries_[static_cast<std::size_t>(free)].taken) {
    free = std::max(free + 1, next_free_[static_cast<std::size_t>(free)]);
  }
  for (std::int32_t at = index; at < free;) {  // later lookups jump the taken run at once
    const std::int32_t next = std::max(at + 1, next_free_[static_cast<std::size_t>(at)]);
    next_free_[static_cast<std::size_t>(at)] = free;
    at = next;
  }
  return free;
}

std::int32_t OldTextChunks::FreeTwin(Twins& twins, std::int32_t cursor) {
  const auto first_free = [&](std::size_t position) {
    std::size_t free = position;
    while (free < twins.entries.size() &&
           entries_[static_cast<std::size_t>(twins.entries[free])].taken)
      free = std::max(free + 1, static_cast<std::size_t>(twins.skip[free]));
    for (std::size_t at = position; at < free;) {
      const std::size_t next = std::max(at + 1, static_cast<std::size_t>(twins.skip[at]));
      twins.skip[at] = static_cast<std::int32_t>(free);
      at = next;
    }
    return free;
  };
  const auto from =
      std::lower_bound(twins.entries.begin(), twins.entries.end(), cursor) - twins.entries.begin();
  std::size_t pick = first_free(static_cast<std::size_t>(from));
  if (pick == twins.entries.size()) pick = first_free(0);
  return pick < twins.entries.size() ? twins.entries[pick] : -1;
}

std::int32_t OldTextChunks::Take(std::int32_t index, TBitMemoryStream& output) {
  Entry& entry = entries_[static_cast<std::size_t>(index)];
  entry.taken = true;
  cursor_ = index + 1;
  if (!entry.in_tail) {
    output.Seek(0, kFromEnd);
    output.WriteBuffer(chunks_->GetMemory() + entry.chunk, entry.chunk_size);
  }
  return static_cast<std::int32_t>(entry.length);
}

std::int32_t OldTextChunks::TakeAt(const std::uint8_t* text, std::int32_t size, std::int32_t at,
                                   TBitMemoryStream& output) {
  if (entries_.empty()) return 0;
  if (!prepared_) Prepare(size);
  std::int32_t line = 0;
  if (TakeLine(text + at, size - at, &line) == 0) return 0;
  const auto group_found = groups_.find(LineHash(text + at, line));
  if (group_found == groups_.end()) return 0;
  Group& group = group_found->second;
  if (!group.measured) {  // the first time its first line starts a section
    for (const std::int32_t index : group.entries) Measure(index);
    group.measured = true;
  }
  const std::int32_t cursor = NextFree(cursor_);
  const bool cursor_here =
      cursor < static_cast<std::int32_t>(entries_.size()) &&
      entries_[static_cast<std::size_t>(cursor)].first_line == group_found->first;
  const Entry* at_cursor = cursor_here ? &entries_[static_cast<std::size_t>(cursor)] : nullptr;
  // Past the budget only the chunk at the cursor is looked for, as far as
  // its own rendering.
  const std::int64_t reach = budget_ > 0 ? group.longest
                             : at_cursor != nullptr && at_cursor->state == State::kMeasured
                                 ? at_cursor->length
                                 : 0;

  // From the section start, line by line: every place a rendering may end
  // (after empty lines, a header line or the end) is looked up by the
  // length and hash of the text up to it.
  std::int32_t pick = -1, longest_pick = -1;
  std::int64_t picked_length = 0, longest_length = 0;
  std::uint64_t hash = kHashStart;
  std::int64_t position = at, hashed_to = at;
  const auto try_end = [&](std::int64_t end) {
    const std::int64_t length = end - at;
    if (length > hashed_to - at) {
      hash = Hash(hash, text + hashed_to, end - hashed_to);
      hashed_to = end;
    }
    if (at_cursor != nullptr && pick < 0 && at_cursor->state == State::kMeasured &&
        at_cursor->length == length && at_cursor->hash == hash) {
      pick = cursor;
      picked_length = length;
    }
    if (budget_ <= 0) return;
    const auto twins = twins_.find(RenderingKey(length, hash));
    if (twins == twins_.end()) return;
    const std::int32_t twin = FreeTwin(twins->second, cursor);
    if (twin >= 0 && entries_[static_cast<std::size_t>(twin)].length == length &&
        entries_[static_cast<std::size_t>(twin)].hash == hash && length >= longest_length) {
      longest_pick = twin;
      longest_length = length;
    }
  };
  std::vector<std::int64_t> pending;  // possible ends, valid once a header line or the end follows
  bool ended = true;                  // the walk reached the end of the text
  while (position < size) {
    if (TakeLine(text + position, static_cast<std::int32_t>(size - position), &line) == 0) {
      ended = false;  // a zero byte: no rendering holds one, nor ends before it unseen
      break;
    }
    if (line > 0 && position > at) {
      if (IsHeaderLine(text + position, line, kSingleByte)) {
        for (const std::int64_t end : pending) try_end(end);
      }
      pending.clear();
    }
    // No rendering under this header line ends further on; empty lines are
    // still walked while an end before them waits for what follows.
    if (position - at >= reach && (line > 0 || pending.empty())) {
      ended = false;
      break;
    }
    position = std::min<std::int64_t>(position + line + 2, size);
    if (position - at <= reach) pending.push_back(position);
  }
  if (ended) {
    for (const std::int64_t end : pending) try_end(end);
  }
  budget_ -= position - at;

  if (pick < 0) {
    pick = longest_pick;
    picked_length = longest_length;
  }
  if (pick >= 0) {
    // Found by its hash: compared byte for byte before it is taken.
    Comparing same(text + at, picked_length);
    budget_ -= picked_length;
    if (Render(entries_[static_cast<std::size_t>(pick)], same) && same.equal())
      return Take(pick, output);
  }
  // Not recognised: an edit of the chunk at the cursor, if its header line
  // is this one.
  if (at_cursor != nullptr) cursor_ = cursor + 1;
  return 0;
}

}  // namespace pngc
