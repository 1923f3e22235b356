// Turning one keyword section of the edited comment text into one framed
// PNG text chunk.
#ifndef PNGCOMMENT_WRITER_TEXT_CHUNK_EMISSION_H
#define PNGCOMMENT_WRITER_TEXT_CHUNK_EMISSION_H

#include <string>

#include "stream/memory_stream.h"

namespace pngc {

// `section` holds the keyword, a zero byte and the text. Appends to `output`
// a chunk of type `chunk_type` (its first four bytes): for "zTXt" the data is
// the keyword, its zero byte, compression method 0 and the text deflated at
// zlib's default level (an empty text too, so the layout stays valid); for
// any other type the section as it is. The chunk is framed as PNG requires:
// length, type, data, CRC-32 over type and data. `keyword` locates the text
// in the section. Leaves `section` empty; raises EMemoryError when memory
// runs out.
void WriteTextChunk(TBitMemoryStream& output, TBitMemoryStream& section, const char* chunk_type,
                    const std::string& keyword);

}  // namespace pngc

#endif
