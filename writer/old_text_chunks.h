// The image's own text chunks, so that a section of the edited comment text
// that is still exactly the rendering GetComment gives one of them is
// written back as that chunk's own bytes: text the user did not change keeps
// every byte (leading and trailing line feeds, NULs, header-shaped lines,
// compression, CRC), which a rebuilt chunk could not. Image editors store
// EXIF and IPTC profiles in such chunks.
//
// What is recognised, where a section starts (the text's first byte, and
// each header line): a chunk not taken yet whose whole rendering stands
// there, followed only by empty lines up to a header line or the end of the
// text. The chunk at the cursor (the first not taken after the last one
// taken) comes first; else the longest rendering; among equal ones the first
// at or after the cursor, else the first in file order. A section that is
// not recognised and whose header line is that of the chunk at the cursor
// replaced that chunk: the cursor moves past it, so that an unchanged
// section further on keeps its own chunk rather than an earlier look-alike.
//
// What it costs: a zTXt is inflated only when its header line starts a
// section, and at most 64 times its compressed size plus 1 MiB, and no
// further than its rendering could fit in the text; one that inflates
// further is never recognised (its section, if kept, becomes a new chunk).
// Renderings are found by a hash of the text from the section start to each
// possible end, up to the longest rendering under that header line. The
// bytes hashed and compared are limited to 8 times the text plus 32 MiB, so
// that the time stays linear on any text; past that, only the chunk at the
// cursor is tried.
#ifndef PNGCOMMENT_WRITER_OLD_TEXT_CHUNKS_H
#define PNGCOMMENT_WRITER_OLD_TEXT_CHUNKS_H

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "stream/memory_stream.h"

namespace pngc {

class OldTextChunks {
 public:
  OldTextChunks();
  ~OldTextChunks();
  OldTextChunks(const OldTextChunks&) = delete;
  OldTextChunks& operator=(const OldTextChunks&) = delete;

  // Copies the chunk of `size` bytes at `chunk` (length, type, data, CRC),
  // in file order, `data_size` of them its data; `in_tail`: a chunk cut
  // short by the end of the image, whose bytes stay in the tail that is
  // copied as it is (what it holds of its CRC is no data). Called while the
  // host's image is read, before any window message can run.
  void Add(const std::uint8_t* chunk, std::int32_t size, std::int32_t data_size, bool in_tail);

  // When the `size` bytes of comment text at `text` hold, from `at` (where a
  // section starts), a chunk's rendering as described above, appends that
  // chunk's bytes to `output` (nothing for a chunk in the tail), marks it
  // taken and returns the rendering's length; else returns 0. Inflating a
  // zTXt dispatches window messages; the text must stay the same between
  // calls.
  std::int32_t TakeAt(const std::uint8_t* text, std::int32_t size, std::int32_t at,
                      TBitMemoryStream& output);

 private:
  enum class State : std::uint8_t { kUnmeasured, kMeasured, kUnmatchable };
  struct Entry {
    std::int32_t chunk = 0, chunk_size = 0;  // in chunks_
    std::int32_t data_size = 0;
    bool compressed = false, in_tail = false, taken = false;
    State state = State::kUnmeasured;
    std::uint64_t first_line = 0;  // hash of the rendering's first line
    std::uint64_t hash = 0;        // of the whole rendering
    std::int64_t length = 0;       // of the whole rendering
  };
  // The entries whose rendering has the same first line, and of those the
  // longest rendering.
  struct Group {
    std::vector<std::int32_t> entries;
    std::int64_t longest = 0;
    bool measured = false;
  };
  // Entries with the same rendering (length and hash), in file order, with
  // skip pointers past taken ones.
  struct Twins {
    std::vector<std::int32_t> entries;
    std::vector<std::int32_t> skip;
  };

  void Prepare(std::int32_t text_size);
  // Renders the entry into `target` (see RenderChunkData); false when it
  // stopped early or inflated past its limit.
  bool Render(const Entry& entry, class TRenderTarget& target) const;
  void Measure(std::int32_t index);
  // The first entry not taken at or after `index` (entries_.size(): none).
  std::int32_t NextFree(std::int32_t index);
  // Of `twins`, the first not taken at or after `cursor` in file order,
  // else the first not taken; -1 when all are.
  std::int32_t FreeTwin(Twins& twins, std::int32_t cursor);
  std::int32_t Take(std::int32_t index, TBitMemoryStream& output);

  std::unique_ptr<TBitMemoryStream> chunks_;
  std::vector<Entry> entries_;
  bool prepared_ = false;
  std::int32_t text_size_ = 0;
  std::unordered_map<std::uint64_t, Group> groups_;  // by first line
  std::unordered_map<std::uint64_t, Twins> twins_;   // by length and hash
  std::vector<std::int32_t> next_free_;              // skip pointers over entries_
  std::int32_t cursor_ = 0;
  std::int64_t budget_ = 0;  // bytes that hashing and comparing may still cost
};

}  // namespace pngc

#endif
