// Reading a PNG held in memory into the two texts that GetComment hands the
// host: the image summary and the comment text.
#ifndef PNGCOMMENT_READER_COMMENT_READER_H
#define PNGCOMMENT_READER_COMMENT_READER_H

#include <cstdint>

#include "stream/memory_stream.h"

namespace pngc {

// The work of GetComment. Walks the chunks of the image from byte 8 on:
// every IHDR whose 13 data bytes are there adds a summary, every tEXt and
// zTXt a section of the comment text; other chunks and all CRCs are skipped.
// The walk ends at the end of the data, at a header cut short, at a stated
// length of 2^31 or more, and after a chunk that runs past the end (a text
// chunk is still rendered from the bytes that are there). Only the chunk
// headers are read in place; the IHDR and text data are copied first, and
// only then rendered (inflating pumps window messages, and the host's
// buffer may change then). A null `image` or a negative `size` reads nothing.
// `*summary_out` receives a moveable local-memory block of
// exactly the summary's bytes (0 bytes when the image has no IHDR), and
// `*comment_out`, only when there is comment text, a block of the text and
// one NUL; a block that cannot be made leaves its out-parameter as it was,
// and a null out-parameter is not written. Raises EMemoryError (or
// std::bad_alloc) when memory runs out during the walk; nothing is written
// through the out-parameters then.
void ReadComment(const std::uint8_t* image, std::int32_t size, void** comment_out,
                 void** summary_out);

}  // namespace pngc

#endif
