// The image's own text chunks, each beside the rendering that GetComment
// gives it, so that a section of the edited comment text that is still
// exactly that rendering is written back as the chunk's own bytes: text the
// user did not change keeps every byte (leading and trailing line feeds,
// NULs, header-shaped lines, compression, CRC), which a rebuilt chunk could
// not. Image editors store EXIF and IPTC profiles in such chunks.
#ifndef PNGCOMMENT_WRITER_OLD_TEXT_CHUNKS_H
#define PNGCOMMENT_WRITER_OLD_TEXT_CHUNKS_H

#include <cstdint>
#include <memory>
#include <vector>

#include "stream/memory_stream.h"

namespace pngc {

class OldTextChunks {
 public:
  OldTextChunks();
  ~OldTextChunks();
  OldTextChunks(const OldTextChunks&) = delete;
  OldTextChunks& operator=(const OldTextChunks&) = delete;

  // Copies the complete chunk of `size` bytes at `chunk` (length, type,
  // data, CRC), in file order. Called while the host's image is read, before
  // any window message can run.
  void Add(const std::uint8_t* chunk, std::int32_t size);

  // Renders every chunk as the reader does; a zTXt is inflated, so window
  // messages may run. Raises EMemoryError, as reading would, when a text does
  // not fit in memory.
  void Render();

  // When the `size` bytes of comment text at `text` hold, from `at` (where a
  // section starts), the rendering of a chunk not taken yet, followed only by
  // empty lines up to a header line or the end of the text, appends that
  // chunk's bytes to `output`, marks it taken and returns the rendering's
  // length; else returns 0. The chunk after the last one taken is tried
  // first, then the chunks whose rendering begins with the section at `at`
  // (looked up by a hash of it); the longest rendering that matches is
  // taken, and among equal ones the first in file order. Comparisons that
  // fail may cost in all only about as many bytes as the texts hold, so that
  // no text makes the save slow; past that, chunks are only recognised in
  // file order.
  std::int32_t TakeAt(const std::uint8_t* text, std::int32_t size, std::int32_t at,
                      TBitMemoryStream& output);

 private:
  struct Entry {
    std::int32_t chunk = 0, chunk_size = 0;          // in chunks_
    std::int32_t rendering = 0, rendering_size = 0;  // in renderings_
    std::int32_t section_size = 0;  // the rendering's first section (all of it, mostly)
    std::uint64_t hash = 0;         // of that section
    bool rendered = false, taken = false;
  };
  // True when `entry` is free and its rendering stands at `at`, followed by
  // a section boundary. A comparison that fails is charged to the budget.
  bool Matches(const Entry& entry, const std::uint8_t* text, std::int32_t size, std::int32_t at);
  std::int32_t Take(std::size_t index, TBitMemoryStream& output);
  // The first position at or after `position` in by_hash_ whose entry is free.
  std::size_t NextFree(std::size_t position);

  std::unique_ptr<TBitMemoryStream> chunks_, renderings_;
  std::vector<Entry> entries_;
  std::vector<std::size_t> by_hash_;  // entry indices by (hash, file order)
  std::vector<std::size_t> skip_;     // by_hash_ positions: where to look on from a taken one
  std::size_t next_ = 0;              // the entry after the last one taken
  std::int64_t budget_ = 0;           // bytes that failing comparisons may still cost
};

}  // namespace pngc

#endif
