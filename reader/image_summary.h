// The image summary: six fixed lines describing the image, built from the
// data of an IHDR chunk and the size of the whole file.
#ifndef PNGCOMMENT_READER_IMAGE_SUMMARY_H
#define PNGCOMMENT_READER_IMAGE_SUMMARY_H

#include <cstdint>

#include "stream/memory_stream.h"

namespace pngc {

// Reads the 13 IHDR data bytes at `input`'s position (the caller makes sure
// they are there) and appends the six summary lines, each ending in CR LF,
// to `summary`. The file size line shows `file_size`.
void RenderImageSummary(TBitMemoryStream& input, std::int32_t file_size, TBitMemoryStream& summary);

}  // namespace pngc

#endif
