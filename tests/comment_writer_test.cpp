// Building text chunks from the edited comment text and rewriting the PNG
// around them, checked with an independent chunk reader and zlib.
#include "writer/comment_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "stream/memory_error.h"
#include "tests/support/files.h"
#include "tests/support/gtest_bytes.h"
#include "tests/support/png_builder.h"
#include "writer/comment_parser.h"
#include "writer/text_chunk_emission.h"

namespace {

using namespace std::string_literals;
using namespace pngtest;
using pngc::TBitMemoryStream;

std::string Content(const TBitMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.GetMemory()),
                     static_cast<std::size_t>(stream.GetSize()));
}

void Append(TBitMemoryStream& stream, const std::string& bytes) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

// Reads the chunks back independently: right CRCs, zTXt with method 0 and a
// zlib stream at the default level.
std::vector<TextChunk> Sections(const std::string& chunks) {
  std::string rest;
  std::vector<TextChunk> sections;
  for (const ParsedChunk& chunk : ParseChunks(kSignature + chunks, &rest)) {
    sections.push_back(DecodeWritten(chunk));
  }
  EXPECT_EQ(rest, "");
  return sections;
}

std::string Emit(const std::string& section_bytes, const char* type, const std::string& keyword) {
  TBitMemoryStream output, section;
  Append(section, section_bytes);
  pngc::WriteTextChunk(output, section, type, keyword);
  EXPECT_EQ(section.GetSize(), 0);
  EXPECT_EQ(section.GetPosition(), 0);
  return Content(output);
}

TEST(TextChunkEmission, TextChunkIsFramedWithItsCrc) {
  const std::string chunk = Emit("Comment\0abc"s, "tEXt", "Comment");
  const std::string body = "tEXtComment\0abc"s;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), 15);
  const std::string crc_bytes = {static_cast<char>(crc >> 24), static_cast<char>(crc >> 16),
                                 static_cast<char>(crc >> 8), static_cast<char>(crc)};
  EXPECT_EQ(chunk, "\0\0\0\x0b"s + body + crc_bytes);
}

TEST(TextChunkEmission, CompressedChunksInflateBackToTheText) {
  std::string long_text;
  for (int i = 0; long_text.size() < 100000; ++i)
    long_text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  const struct {
    std::string keyword, text;
  } cases[] = {{"Desc", "x\ny"}, {"Long", long_text}, {"Empty", ""}};
  for (const auto& c : cases) {
    const std::string chunk = Emit(c.keyword + '\0' + c.text, "zTXt", c.keyword);
    EXPECT_EQ(Sections(chunk), (std::vector<TextChunk>{{"zTXt", c.keyword, c.text}}));
  }
  // The empty text is still a zlib stream, as the zTXt layout requires.
  EXPECT_EQ(Emit("Empty\0"s, "zTXt", "Empty").substr(0, 23),
            "\0\0\0\x0fzTXtEmpty\0\0\x78\x9c\x03\0\0\0\0\x01"s);
  // Only exactly "zTXt" is compressed.
  EXPECT_EQ(Emit("K\0t"s, "ztxt", "K").substr(4, 7), "ztxtK\0t"s);
}

std::string Rewrite(const std::string& png, const std::string* comment) {
  TBitMemoryStream output, text;
  if (comment != nullptr) Append(text, *comment + "\0\0"s);
  pngc::RewriteChunks(reinterpret_cast<const std::uint8_t*>(png.data()),
                      static_cast<std::int32_t>(png.size()), comment != nullptr ? &text : nullptr,
                      output);
  return Content(output);
}

TEST(CommentRewrite, ReplacesTextChunksAndKeepsEveryOtherByte) {
  const std::string itxt = Chunk("iTXt", "K\0\0\0\0\0x"s);
  const std::string wrong_case = Chunk("TEXt", "K\0x"s);
  std::string bad_crc = Chunk("tIME", "\x07\xEA\x0C\x08\x0A\x00\x00"s);
  bad_crc.back() ^= 1;  // copied as it is
  const std::string idat = Idat(70000);
  const std::string comment = "[New]\r\nn\r\n";
  const std::string added = Chunk("tEXt", "New\0n"s);
  const struct {
    const char* name;
    std::string png;
    const std::string* comment;
    std::string expected;
  } cases[] = {
      {"text before and after IDAT",
       Png({Ihdr(1, 1), Text("Old", "o"), idat, Ztxt("Old", "z"), Iend(), Text("Late", "")}),
       &comment, Png({Ihdr(1, 1), added, idat, Iend()})},
      {"other chunks copied", Png({Ihdr(1, 1), itxt, wrong_case, bad_crc, Text("A", ""), idat}),
       &comment, Png({Ihdr(1, 1), added, itxt, wrong_case, bad_crc, idat})},
      {"no comment", Png({Ihdr(1, 1), Text("A", "a"), idat, Iend()}), nullptr,
       Png({Ihdr(1, 1), idat, Iend()})},
      {"two IHDR", Png({Ihdr(1, 1), Ihdr(2, 2)}), &comment,
       Png({Ihdr(1, 1), added, Ihdr(2, 2), added})},
      {"no IHDR", Png({Text("A", "a"), idat}), &comment, Png({idat})},
      // From where the bytes stop framing complete chunks, all is kept.
      {"cut chunk", Png({Ihdr(1, 1), Text("A", "a")}) + Text("B", "b").substr(0, 9), &comment,
       Png({Ihdr(1, 1), added}) + Text("B", "b").substr(0, 9)},
      {"huge length",
       Png({Ihdr(1, 1), Text("A", "a"), ChunkStating(0x80000000u, "tEXt", "x"), Iend()}), &comment,
       Png({Ihdr(1, 1), added, ChunkStating(0x80000000u, "tEXt", "x"), Iend()})},
      {"length past the end", Png({Ihdr(1, 1), ChunkStating(1000, "IDAT", "xy")}), &comment,
       Png({Ihdr(1, 1), added, ChunkStating(1000, "IDAT", "xy")})},
      {"signature only", kSignature, &comment, kSignature},
      {"shorter than a signature", "\x89PN", &comment, "\x89PN"},
      {"empty", "", &comment, ""},
  };
  for (const auto& c : cases) EXPECT_TRUE(Rewrite(c.png, c.comment) == c.expected) << c.name;
}

class WriteCommentFileTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(target_, "old file"); }
  bool Write(const char* name, const std::string& png, const char* comment, std::int32_t length) {
    return pngc::WriteCommentFile(name, reinterpret_cast<const std::uint8_t*>(png.data()),
                                  static_cast<std::int32_t>(png.size()), comment, length)
        .ok();
  }
  ScratchFolder folder_{"pngc-" + CurrentTestName()};
  std::string target_ = (folder_ / "image.png").string();
};

// Result codes for unwritable targets and bad arguments are the host
// tests' and the fault-injection suite's; here, the comment's length.
TEST_F(WriteCommentFileTest, LengthZeroDropsEveryTextChunk) {
  const std::string png = Png({Ihdr(1, 1), Text("A", "a"), Ztxt("Z", "z"), Iend()});
  const std::string comment = "[B]\r\nb";
  EXPECT_TRUE(Write(target_.c_str(), png, comment.data(), 6));
  EXPECT_EQ(ReadFile(target_), Png({Ihdr(1, 1), Chunk("tEXt", "B\0b"s), Iend()}));
  EXPECT_TRUE(Write(target_.c_str(), png, nullptr, 0));  // the comment is not read
  EXPECT_EQ(ReadFile(target_), Png({Ihdr(1, 1), Iend()}));
}

// The new chunks go after every IHDR: many of them times a long comment
// would pass what a file can hold, which is refused before anything is
// allocated for it (and the file is left alone).
TEST_F(WriteCommentFileTest, NewChunksPastTwoGigabytesAreRefused) {
  std::string png = kSignature;
  for (int i = 0; i < 70000; ++i) png += Ihdr(1, 1);
  const std::string comment = "[K]\r\n" + std::string(40000, 'x');  // 70000 x 40 KB > 2 GiB
  EXPECT_THROW(
      Write(target_.c_str(), png, comment.data(), static_cast<std::int32_t>(comment.size())),
      pngc::EMemoryError);
  EXPECT_EQ(ReadFile(target_), "old file");
}

}  // namespace
