// Rendering a tEXt or zTXt chunk as its section of the comment text
// (png/comment_text.h), as the plug-in shows it: with the Shift_JIS rule, a
// lead byte taking the byte after it along unexamined (so an LF there stays
// bare), except a NUL, which a double-byte character never holds: that
// still ends the keyword or is still dropped.
#ifndef PNGCOMMENT_PNG_TEXT_RENDERING_H
#define PNGCOMMENT_PNG_TEXT_RENDERING_H

#include <cstdint>

#include "png/comment_text.h"
#include "stream/memory_stream.h"

namespace pngc {

// Each takes `input` positioned at a chunk's first data byte and `length`,
// the number of its data bytes to render (the walk passes only bytes that
// lie inside the image; a longer length is cut to the content). Appends one
// section to `comment` and leaves `input` right after the rendered bytes.
void RenderTextChunk(TBitMemoryStream& input, TBitMemoryStream& comment, std::int32_t length);
// The compression method byte is skipped unexamined. What inflates before
// the zlib stream ends, breaks or is cut short is rendered; raises
// EMemoryError when the text does not fit in memory or in a stream.
void RenderCompressedTextChunk(TBitMemoryStream& input, TBitMemoryStream& comment,
                               std::int32_t length);

// Where a rendering goes piece by piece, for a reader that only looks at it
// (and so never holds a whole text): Put returns false when it wants no more.
class TRenderTarget {
 public:
  virtual ~TRenderTarget() = default;
  virtual bool Put(const std::uint8_t* bytes, std::int32_t count) = 0;
};

// Renders the `length` data bytes at `data` of a tEXt chunk, or of a zTXt
// one (`compressed`), into `target`, inflating no more than `inflate_limit`
// bytes (window messages are dispatched meanwhile). True when the whole
// section was rendered; false when the target stopped it or the limit was
// reached first.
bool RenderChunkData(const std::uint8_t* data, std::int32_t length, bool compressed,
                     TRenderTarget& target, std::int64_t inflate_limit);

}  // namespace pngc

#endif
