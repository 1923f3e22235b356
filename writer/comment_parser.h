// Reading the edited comment text back into keyword sections, each of which
// becomes one PNG text chunk.
//
// The text is cut into lines at CR LF (a lone CR or LF is an ordinary byte)
// and at a zero byte, which ends its line together with the byte after it.
// A line whose first and last bytes are "[" and "]" opens a tEXt section,
// "<" and ">" a zTXt section, named by the bytes between ("Comment" for an
// empty pair); any other non-empty line is a body line. Body lines before
// the first header form a "Comment" tEXt section. A section's lines are
// joined with LF; an empty line between two body lines of a section adds one
// LF more, while empty lines before its first or after its last body line
// are dropped. Lines and keywords of any length are kept whole.
#ifndef PNGCOMMENT_WRITER_COMMENT_PARSER_H
#define PNGCOMMENT_WRITER_COMMENT_PARSER_H

#include <cstdint>

#include "stream/memory_stream.h"

namespace pngc {

class OldTextChunks;

// Cuts the line that starts at `text`, `count` bytes before the end of the
// comment stream. Returns 2, the length of the line's terminator ("\r\n", or
// a zero byte and the byte after it), with the line's length in
// `*line_length`; returns 0 when no line starts here (a zero byte stands
// here, or nothing remains). Never looks past the `count` bytes.
std::int32_t TakeLine(const std::uint8_t* text, std::int32_t count, std::int32_t* line_length);

// True when the line's first and last bytes are "[" and "]", or "<" and ">".
bool IsHeaderLine(const std::uint8_t* line, std::int32_t length);

// Appends to `output` one chunk per section of `comment`, which holds the
// comment text followed by two zero bytes. Every text yields at least one
// chunk. Where a section starts (at the text's first byte and at each header
// line), `old` (when given) may recognise the rendering of one of the
// image's own chunks: that chunk is appended as it is, and the empty lines
// after it are passed over. Raises EMemoryError when memory runs out.
void ParseCommentText(TBitMemoryStream& output, TBitMemoryStream& comment,
                      OldTextChunks* old = nullptr);

}  // namespace pngc

#endif
