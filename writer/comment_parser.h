// Reading the edited comment text back into keyword sections, each of which
// becomes one PNG text chunk, by the comment text's grammar
// (png/comment_text.h) with its header test byte by byte, as the writer
// has always read it.
#ifndef PNGCOMMENT_WRITER_COMMENT_PARSER_H
#define PNGCOMMENT_WRITER_COMMENT_PARSER_H

#include <cstdint>

#include "stream/memory_stream.h"

namespace pngc {

class OldTextChunks;

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
