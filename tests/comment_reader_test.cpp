// Reading a whole PNG: the chunk walk, the two local-memory blocks handed to
// the host, and bad host arguments. Broken framing and failing allocations
// are the hostile-file and fault-injection suites' work.
#include "reader/comment_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/os.h"
#include "tests/support/local_blocks.h"
#include "tests/support/png_builder.h"

namespace {

using namespace std::string_literals;
using namespace pngtest;

void* const kUntouched = reinterpret_cast<void*>(0x5EED);

struct Result {
  void* comment = kUntouched;
  void* summary = kUntouched;
  std::string comment_text;  // the block's bytes, its NUL included
  std::string summary_text;

  ~Result() {
    if (comment != kUntouched) LocalFree(static_cast<HLOCAL>(comment));
    if (summary != kUntouched) LocalFree(static_cast<HLOCAL>(summary));
  }
};

std::string BytesOrUntouched(void* handle) {
  return handle == kUntouched ? "<untouched>" : BlockBytes(static_cast<HLOCAL>(handle));
}

void Read(const std::string& png, Result* result, std::int32_t size = -1) {
  pngc::ReadComment(reinterpret_cast<const std::uint8_t*>(png.data()),
                    size >= 0 ? size : static_cast<std::int32_t>(png.size()), &result->comment,
                    &result->summary);
  result->comment_text = BytesOrUntouched(result->comment);
  result->summary_text = BytesOrUntouched(result->summary);
}

std::string SummaryOf(std::uint32_t width, std::uint32_t height, std::size_t file_size) {
  return "PNG(Portable Network Graphics) Image\r\nPixel Size : " + std::to_string(width) + " x " +
         std::to_string(height) +
         "\r\nColor Type : True Color\r\nColor Depth: 8 bits/pixel\r\n"
         "Interlace  : No Interlace\r\nFile Size  : " +
         std::to_string(file_size) + " byte\r\n";
}

TEST(CommentReader, WalksEveryChunkInFileOrder) {
  const struct {
    const char* name;
    std::string png;
    std::string comment;  // with its NUL; "<untouched>" when there is no text
    int summaries;
  } cases[] = {
      {"no text", Png({Ihdr(3, 2), Idat(50), Iend()}), "<untouched>", 1},
      {"mixed order",
       Png({Ihdr(3, 2), Text("A", "1"), Idat(50), Ztxt("B", "2\n3"), Text("C", ""), Iend()}),
       "[A]\r\n1\r\n<B>\r\n2\r\n3\r\n[C]\r\n\0"s, 1},
      {"text after IEND", Png({Ihdr(3, 2), Iend(), Text("Late", "x")}), "[Late]\r\nx\r\n\0"s, 1},
      {"types match exactly",
       Png({Ihdr(3, 2), Chunk("TEXt", "A\0x"s), Chunk("ztxt", "B\0\0"s),
            Chunk("iTXt", "C\0\0\0\0\0x"s)}),
       "<untouched>", 1},
      {"two IHDR", Png({Ihdr(3, 2), Text("A", "1"), Ihdr(3, 2)}), "[A]\r\n1\r\n\0"s, 2},
      {"no IHDR", Png({Text("A", "1"), Iend()}), "[A]\r\n1\r\n\0"s, 0},
      {"IHDR length 12", Png({ChunkStating(12, "IHDR", Ihdr(3, 2).substr(8, 12)), Text("A", "")}),
       "[A]\r\n\0"s, 0},
      // A wrong IHDR length does not derail the walk: it goes on after it.
      {"IHDR length 14", Png({Chunk("IHDR", Ihdr(3, 2).substr(8, 13) + "?"), Text("A", "")}),
       "[A]\r\n\0"s, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Result result;
    Read(c.png, &result);
    EXPECT_EQ(result.comment_text, c.comment);
    std::string summaries;
    for (int i = 0; i < c.summaries; ++i) summaries += SummaryOf(3, 2, c.png.size());
    EXPECT_EQ(result.summary_text, summaries);
    EXPECT_NE(result.summary, kUntouched) << "a summary block is handed over even when empty";
  }
}

TEST(CommentReader, BadHostArgumentsReadNothing) {
  Result null_image;
  pngc::ReadComment(nullptr, 100, &null_image.comment, &null_image.summary);
  EXPECT_EQ(null_image.comment, kUntouched);
  EXPECT_EQ(BlockBytes(null_image.summary), "");

  const std::string png = Png({Ihdr(3, 2), Text("A", "1")});
  Result negative;
  pngc::ReadComment(reinterpret_cast<const std::uint8_t*>(png.data()), -5, &negative.comment,
                    &negative.summary);
  EXPECT_EQ(negative.comment, kUntouched);
  EXPECT_EQ(BlockBytes(negative.summary), "");

  // Null out-parameters are not written through.
  pngc::ReadComment(reinterpret_cast<const std::uint8_t*>(png.data()),
                    static_cast<std::int32_t>(png.size()), nullptr, nullptr);
}

// A block that cannot be made leaves its out-parameter alone; the other one
// is still made, and the call still succeeds.
TEST(CommentReader, AFailedBlockLeavesItsOutParameter) {
  static int calls;
  static int fail_at;
  const std::string png = Png({Ihdr(3, 2), Text("A", "1")});
  for (pngc::os::Call call : {pngc::os::Call::kLocalAlloc, pngc::os::Call::kLocalLock}) {
    for (fail_at = 1; fail_at <= 2; ++fail_at) {
      calls = 0;
      static pngc::os::Call failing;
      failing = call;
      pngc::os::SetFaultHook([](pngc::os::Call c) { return c == failing && ++calls == fail_at; });
      Result result;
      Read(png, &result);
      pngc::os::SetFaultHook(nullptr);
      // The summary block is made first, then the comment block.
      EXPECT_EQ(result.summary == kUntouched, fail_at == 1);
      EXPECT_EQ(result.comment == kUntouched, fail_at == 2);
    }
  }
}

}  // namespace
