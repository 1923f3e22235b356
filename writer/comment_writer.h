// Rewriting a PNG with its text chunks replaced by chunks built from the
// edited comment text.
#ifndef PNGCOMMENT_WRITER_COMMENT_WRITER_H
#define PNGCOMMENT_WRITER_COMMENT_WRITER_H

#include <cstdint>

#include "stream/memory_stream.h"

namespace pngc {

// Builds the new file in `output` from the `size` bytes at `image`: the
// signature and every chunk but tEXt and zTXt copied byte for byte, the
// chunks parsed from `comment` (text and two zero bytes; null for none)
// right after each IHDR. A section of the comment that is still exactly the
// rendering of one of the image's text chunks stands for that chunk
// (writer/old_text_chunks.h), which is written as it was, or not at all
// when it is cut short by the end of the image. From the first point where
// the bytes no longer frame a complete chunk, the rest of the image is
// copied unchanged; an image of fewer than 8 bytes is copied whole. Raises
// EMemoryError when memory runs out or the file would pass 2^31 - 1 bytes.
void RewriteChunks(const std::uint8_t* image, std::int32_t size, TBitMemoryStream* comment,
                   TBitMemoryStream& output);

// The work of the WriteComment export, whose arguments it has checked: a
// PNG of `size` bytes at `image` (8 or more, starting with the signature),
// `length` (0 or more) bytes of comment text at `comment` (none when
// `length` is 0). Rewrites the image with the text and puts the result in
// the file `file_name`, written from `image` itself, which must stay
// readable for the call: ok when the new file is in place, else why it could
// not be written (it is then exactly as it was); kChangedError with step
// kNone when a window procedure changed the image while a zTXt was
// compressed or inflated (nothing is written). Raises EMemoryError (or
// std::bad_alloc) when memory runs out; the file is then not touched.
os::SaveResult WriteCommentFile(const char* file_name, const std::uint8_t* image, std::int32_t size,
                                const char* comment, std::int32_t length);

}  // namespace pngc

#endif
