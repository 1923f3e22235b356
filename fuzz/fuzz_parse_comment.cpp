// Fuzz target: the edited comment text alone, cut into sections and emitted
// as chunks (ParseCommentText), with no image around it.
//
// The stream that comes out must be exactly the chunks that the model in
// tests/support/png_model.h expects, one per section and in order: framed with the right
// lengths, tEXt or zTXt, right CRCs, keyword and text whole, a zTXt's data
// its keyword, NUL, method 0 and one zlib stream inflating to the text.
// TakeLine is also given the bare bytes, in a block of exactly their size,
// so that AddressSanitizer sees any look past them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "stream/memory_stream.h"
#include "tests/support/png_model.h"
#include "png/comment_text.h"
#include "writer/comment_parser.h"

namespace {

using pngtest::Require;

void CheckTakeLine(const std::uint8_t* data, std::size_t size) {
  // Exactly `size` bytes on the heap: one past them is a reported overflow.
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size > 0 ? size : 1]);
  if (size > 0) std::memcpy(bytes.get(), data, size);
  std::int32_t line_length = -1;
  const std::int32_t terminator =
      pngc::TakeLine(bytes.get(), static_cast<std::int32_t>(size), &line_length);
  if (size == 0 || data[0] == 0) {
    Require(terminator == 0 && line_length == 0, "TakeLine found a line where none starts");
    return;
  }
  std::size_t end = 0;
  while (end < size && data[end] != 0 &&
         !(data[end] == '\r' && end + 1 < size && data[end + 1] == '\n')) {
    ++end;
  }
  Require(terminator == 2, "TakeLine gave a terminator other than 2");
  Require(line_length >= 0 && static_cast<std::size_t>(line_length) == end,
          "TakeLine cut the line in the wrong place");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0x7FFFFFF0) return 0;
  CheckTakeLine(data, size);

  pngc::TBitMemoryStream comment;
  pngc::TBitMemoryStream output;
  comment.WriteBuffer(data, static_cast<std::int32_t>(size));
  comment.WriteBuffer("\0\0", 2);  // the end marker a real comment stream carries
  pngc::ParseCommentText(output, comment);

  const auto sections = pngtest::ExpectedSections(data, size);
  const std::uint8_t* out = output.GetMemory();
  const auto out_size = static_cast<std::size_t>(output.GetSize());
  Require(out != nullptr && out_size > 0, "no chunk was emitted");
  std::size_t at = 0;
  for (const pngtest::Section& section : sections) {
    at = pngtest::CheckTextChunk(out, out_size, at, section);
  }
  Require(at == out_size, "more chunks were emitted than the text has sections");
  return 0;
}
