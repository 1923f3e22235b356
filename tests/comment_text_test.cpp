// The comment text's grammar, tested once where it lives: the writer reads
// every text with it, the command-line host takes texts apart with it.
#include "png/comment_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/gtest_bytes.h"

namespace {

using namespace std::string_literals;
using pngtest::TextChunk;

std::vector<TextChunk> Split(const std::string& text, pngc::TextRules rules) {
  std::vector<TextChunk> sections;
  std::string joined;
  for (const pngc::CommentSection& s : pngc::SplitSections(text, rules)) {
    sections.push_back({s.compressed ? "zTXt" : "tEXt", s.keyword, s.text});
    joined += s.shown;
  }
  EXPECT_EQ(joined, text) << "the sections' bytes are the text";
  return sections;
}

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

TEST(CommentText, SectionsAsTheWriterReadsThem) {
  const std::string long_line(70000, 'L');
  const std::string long_keyword(300, 'K');
  const struct {
    const char* name;
    std::string text;
    std::vector<TextChunk> sections;
  } cases[] = {
      {"tEXt", "[Title]\r\nA\r\nB\r\n", {{"tEXt", "Title", "A\nB"}}},
      {"zTXt", "<Title>\r\nA\r\nB", {{"zTXt", "Title", "A\nB"}}},
      {"default section first",
       "x\r\ny\r\n[T]\r\nz",
       {{"tEXt", "Comment", "x\ny"}, {"tEXt", "T", "z"}}},
      {"empty bracket pairs",
       "[]\r\na\r\n<>\r\nb",
       {{"tEXt", "Comment", "a"}, {"zTXt", "Comment", "b"}}},
      {"two headers in a row", "[A]\r\n[B]\r\nb", {{"tEXt", "A", ""}, {"tEXt", "B", "b"}}},
      {"header alone", "<Z>", {{"zTXt", "Z", ""}}},
      {"only empty lines", "\r\n\r\n\r\n", {{"tEXt", "Comment", ""}}},
      {"same keyword twice", "[A]\r\n1\r\n[A]\r\n2", {{"tEXt", "A", "1"}, {"tEXt", "A", "2"}}},
      // Lone CR and LF are bytes of their line; a CR before CR LF stays.
      {"lone CR and LF", "[K]\r\na\nb\r\r\nc\r", {{"tEXt", "K", "a\nb\r\nc\r"}}},
      // A zero byte ends its line and takes the next byte with it; at the
      // start of a line it is stepped over alone.
      {"zero bytes", "[K]\r\nab\0Xcd\r\n\0ef"s, {{"tEXt", "K", "ab\ncd\nef"}}},
      // Header test on bytes: 0x5D as the second byte of a double-byte
      // character still closes a header.
      {"no lead-byte rule", "[\x83]\r\nx", {{"tEXt", "\x83", "x"}}},
      {"not headers", "[a>\r\n x]\r\n[\r\n[b] \r\n", {{"tEXt", "Comment", "[a>\n x]\n[\n[b] "}}},
      {"keyword kept as it is", "[a [b] <c>]\r\nx", {{"tEXt", "a [b] <c>", "x"}}},
      {"long line and keyword",
       "[" + long_keyword + "]\r\n" + long_line + "\r\nend",
       {{"tEXt", long_keyword, long_line + "\nend"}}},
      // Empty lines between two lines of a text are part of it (a paragraph
      // break survives a save); around a section's text they only separate.
      {"a paragraph break", "[K]\r\na\r\n\r\nb\r\n", {{"tEXt", "K", "a\n\nb"}}},
      {"empty lines kept inside", "[K]\r\na\r\n\r\n\r\n\r\nb", {{"tEXt", "K", "a\n\n\n\nb"}}},
      {"empty lines around",
       "\r\n[K]\r\n\r\na\r\n\r\n\r\n[L]\r\n\r\nb\r\n\r\n",
       {{"tEXt", "K", "a"}, {"tEXt", "L", "b"}}},
      {"around the default section", "\r\nx\r\n\r\ny", {{"tEXt", "Comment", "x\n\ny"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.text, pngc::kSingleByte), c.sections) << c.name;
}

// The lead-byte rule belongs to the text's character set: under Shift_JIS
// a "]" or LF that is a character's second byte is no bracket and no line
// end; in Latin-1 or UTF-8 it is.
TEST(CommentText, TheLeadByteRuleFollowsTheCharacterSet) {
  const std::string important =
      "[\x8f\x64\x97\x76] \x88\xda\x93\x5d";  // "[重要] 移転" in Shift_JIS
  const struct {
    const char* name;
    std::string line;
    bool header_single, header_double;
  } headers[] = {
      {"a Japanese line ending in a second byte", important, true, false},
      {"a lead byte before the bracket", "[\x83]", true, false},
      {"a lead byte inside", "[\x83\x40x]", true, true},
      {"plain", "<K>", true, true},
  };
  for (const auto& c : headers) {
    const auto length = static_cast<std::int32_t>(c.line.size());
    EXPECT_EQ(pngc::IsHeaderLine(Bytes(c.line), length, pngc::kSingleByte), c.header_single)
        << c.name;
    EXPECT_EQ(pngc::IsHeaderLine(Bytes(c.line), length, pngc::kShiftJis), c.header_double)
        << c.name;
  }
  EXPECT_EQ(pngc::WhyNotCarried("K", important + "\nx", pngc::kShiftJis), "");
  EXPECT_NE(pngc::WhyNotCarried("K", important + "\nx", pngc::kSingleByte), "");
  EXPECT_EQ(Split("[T]\r\n" + important + "\r\nx", pngc::kShiftJis),
            (std::vector<TextChunk>{{"tEXt", "T", important + "\nx"}}));

  const struct {
    const char* name;
    std::string text, single, double_byte;
  } line_ends[] = {
      {"Latin-1 before an LF", "[A]\nCaf\xe9\n[B]\nx\n", "[A]\r\nCaf\xe9\r\n[B]\r\nx\r\n",
       "[A]\r\nCaf\xe9\n[B]\r\nx\r\n"},
      {"CR LF kept, a byte-order mark dropped", "\xEF\xBB\xBF[A]\r\nx\n", "[A]\r\nx\r\n",
       "[A]\r\nx\r\n"},
  };
  for (const auto& c : line_ends) {
    EXPECT_EQ(pngc::NormaliseLineEnds(c.text, pngc::kSingleByte), c.single) << c.name;
    EXPECT_EQ(pngc::NormaliseLineEnds(c.text, pngc::kShiftJis), c.double_byte) << c.name;
  }
}

TEST(CommentText, TakeLineNeverPassesItsCount) {
  const std::string text = "ab\r\ncd";
  const struct {
    std::int32_t count, result, length;
  } cases[] = {{0, 0, 0}, {1, 2, 1}, {3, 2, 3}, {4, 2, 2}, {6, 2, 2}};
  for (const auto& c : cases) {
    std::int32_t length = -1;
    EXPECT_EQ(pngc::TakeLine(Bytes(text), c.count, &length), c.result) << c.count;
    EXPECT_EQ(length, c.length) << c.count;
  }
}

}  // namespace
