// The image summary and the comment text sections, rendered from chunk data.
#include "png/text_rendering.h"

#include <gtest/gtest.h>

#include <string>

#include "reader/image_summary.h"
#include "tests/support/png_builder.h"

namespace {

using namespace std::string_literals;
using pngc::TBitMemoryStream;

std::string Content(const TBitMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.GetMemory()),
                     static_cast<std::size_t>(stream.GetSize()));
}

// An input stream holding `before`, then `data` (where the renderer starts),
// then `after`, as the chunk walk hands it over.
struct Input {
  Input(const std::string& data, const std::string& before = "\x01\x02"s,
        const std::string& after = "CRC!"s) {
    const std::string all = before + data + after;
    stream.WriteBuffer(all.data(), static_cast<std::int32_t>(all.size()));
    stream.Seek(static_cast<std::int32_t>(before.size()), pngc::kFromBeginning);
    end = static_cast<std::int32_t>(before.size() + data.size());
  }
  TBitMemoryStream stream;
  std::int32_t end;
};

std::string Summary(std::uint32_t width, std::uint32_t height, std::uint8_t depth,
                    std::uint8_t colour, std::uint8_t interlace, std::int32_t file_size) {
  const std::string ihdr = pngtest::Ihdr(width, height, depth, colour, interlace);
  // Pad the stream to the file size the summary reports.
  Input input(ihdr.substr(8, 13), std::string(static_cast<std::size_t>(file_size) - 13, 'p'), "");
  TBitMemoryStream summary;
  RenderImageSummary(input.stream, file_size, summary);
  EXPECT_EQ(input.stream.GetPosition(), input.end) << "reads exactly the 13 data bytes";
  return Content(summary);
}

TEST(ImageSummary, SixLinesWithTheColonInTheTwelfthColumn) {
  EXPECT_EQ(Summary(640, 480, 8, 2, 0, 4000),
            "PNG(Portable Network Graphics) Image\r\n"
            "Pixel Size : 640 x 480\r\n"
            "Color Type : True Color\r\n"
            "Color Depth: 8 bits/pixel\r\n"
            "Interlace  : No Interlace\r\n"
            "File Size  : 4000 byte\r\n");
  // Widths past the PNG limit print as the signed values they read as.
  EXPECT_NE(
      Summary(0x80000000u, 0xFFFFFFFFu, 16, 6, 1, 100).find("Pixel Size : -2147483648 x -1\r\n"),
      std::string::npos);
}

TEST(ImageSummary, NamesEveryColourTypeAndInterlaceMethod) {
  const struct {
    std::uint8_t colour, depth, interlace;
    const char* colour_line;
    const char* depth_line;
    const char* interlace_line;
  } cases[] = {
      {0, 1, 0, "Gray Scale", "1", "No Interlace"},
      {2, 16, 1, "True Color", "16", "Adam7 interlace"},
      {3, 4, 2, "Indexed Color", "4", "UnKnown"},
      {4, 8, 255, "Gray Scale (with Alpha Channel)", "8", "UnKnown"},
      {6, 255, 0, "True Color (with Alpha Channel)", "255", "No Interlace"},
      {1, 8, 0, "UnKnown", "8", "No Interlace"},
      {5, 8, 0, "UnKnown", "8", "No Interlace"},
      {7, 8, 0, "UnKnown", "8", "No Interlace"},
      {200, 8, 0, "UnKnown", "8", "No Interlace"},
  };
  for (const auto& c : cases) {
    const std::string text = Summary(1, 1, c.depth, c.colour, c.interlace, 57);
    EXPECT_NE(text.find("Color Type : "s + c.colour_line + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Color Depth: "s + c.depth_line + " bits/pixel\r\n"), std::string::npos);
    EXPECT_NE(text.find("Interlace  : "s + c.interlace_line + "\r\n"), std::string::npos);
  }
}

std::string RenderText(const std::string& data) {
  Input input(data);
  TBitMemoryStream comment;
  pngc::RenderTextChunk(input.stream, comment, static_cast<std::int32_t>(data.size()));
  EXPECT_EQ(input.stream.GetPosition(), input.end) << "left after the chunk's data";
  return Content(comment);
}

TEST(TextRendering, TextSections) {
  const struct {
    std::string data, section;
  } cases[] = {
      {"Title\0Hello"s, "[Title]\r\nHello\r\n"},
      {"Title\0line1\nline2"s, "[Title]\r\nline1\r\nline2\r\n"},
      {"K\0a\r\nb"s, "[K]\r\na\r\r\nb\r\n"},  // a CR stays; its LF still becomes CR LF
      {"K\0abc\n"s, "[K]\r\nabc\r\n\r\n"},
      {"K\0a\0b\0"s, "[K]\r\nab\r\n"},  // NULs in the text vanish
      {"Title\0"s, "[Title]\r\n"},      // empty text: no body
      {"Title"s, "[Title]\r\n"},        // no NUL at all
      {""s, "[]\r\n"},
      {"\0text"s, "[]\r\ntext\r\n"},          // empty keyword
      {"K]\r\n>\0x"s, "[K]\r\n>]\r\nx\r\n"},  // keyword bytes are copied as they are
      {"K\0[not a header]"s, "[K]\r\n[not a header]\r\n"},
      // Shift_JIS: a lead byte takes the next byte along, so an LF after it
      // stays bare and a 0x5C after it is not examined.
      {"K\0caf\xE9\nx"s, "[K]\r\ncaf\xE9\nx\r\n"},
      {"\x83\x5C\0\x82\xA0\n"s, "[\x83\x5C]\r\n\x82\xA0\r\n\r\n"},
      {"K\0end\x81"s, "[K]\r\nend\x81\r\n"},        // a lead byte last is copied alone
      {"\xFD\0\xFF\n"s, "[\xFD]\r\n\xFF\r\n\r\n"},  // 0xFD-0xFF are no lead bytes
      // A NUL is never the second byte of a character: it still ends the
      // keyword (the header holds no NUL) and is still dropped in the text.
      {"R\xE9sum\xE9\0text"s, "[R\xE9sum\xE9]\r\ntext\r\n"},
      {"K\0a\x81\0b"s,
       "[K]\r\na\x81"
       "b\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(RenderText(c.data), c.section) << c.data;
}

// The body is converted through a 16 KiB block, ordinary runs copied whole:
// every conversion must hold on either side of the block's edge.
TEST(TextRendering, ConversionsAcrossTheBlockEdge) {
  for (const std::size_t run : {1u, 16381u, 16382u, 16383u, 16384u, 16385u, 40000u}) {
    const std::string a(run, 'a');
    const std::string b(run, 'b');
    const std::string text = a + "\n" + b + "\x82\xA0\x83\n" + a + "\0" + b + "\n\n" + a + "\x81";
    const std::string body = a + "\r\n" + b + "\x82\xA0\x83\n" + a + b + "\r\n\r\n" + a + "\x81";
    EXPECT_TRUE(RenderText("K\0"s + text) == "[K]\r\n" + body + "\r\n") << run;
  }
}

TEST(TextRendering, IsLeadByteRanges) {
  int leads = 0;
  for (int byte = 0; byte < 256; ++byte) leads += pngc::IsLeadByte(static_cast<std::uint8_t>(byte));
  EXPECT_EQ(leads, (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1));
  for (int byte : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(pngc::IsLeadByte(byte)) << byte;
  for (int byte : {0x80, 0xA0, 0xDF, 0xFD, 0x0A, 0x00})
    EXPECT_FALSE(pngc::IsLeadByte(byte)) << byte;
}

// The renderer never reads past the length it is given, nor past the content.
TEST(TextRendering, StopsAtTheGivenLengthAndTheContent) {
  Input input("K\0abcdef"s, "", "");
  TBitMemoryStream comment;
  pngc::RenderTextChunk(input.stream, comment, 5);
  EXPECT_EQ(Content(comment), "[K]\r\nabc\r\n");
  EXPECT_EQ(input.stream.GetPosition(), 5);

  input.stream.Seek(2, pngc::kFromBeginning);
  comment.Clear();
  pngc::RenderTextChunk(input.stream, comment, 1000);
  EXPECT_EQ(Content(comment), "[abcdef]\r\n");
  EXPECT_EQ(input.stream.GetPosition(), input.stream.GetSize());
}

std::string RenderZtxt(const std::string& data) {
  Input input(data);
  TBitMemoryStream comment;
  pngc::RenderCompressedTextChunk(input.stream, comment, static_cast<std::int32_t>(data.size()));
  EXPECT_EQ(input.stream.GetPosition(), input.end) << "left after the chunk's data";
  return Content(comment);
}

TEST(CompressedTextRendering, Sections) {
  const std::string desc = pngtest::Deflate("x\ny");
  const std::string big(10000, 'z');
  const struct {
    std::string data, section;
  } cases[] = {
      {"Desc\0\0"s + desc, "<Desc>\r\nx\r\ny\r\n"},
      {"Desc\0\x01"s + desc, "<Desc>\r\nx\r\ny\r\n"},  // the method byte is not examined
      {"Desc\0\0"s + desc + "junk after the stream", "<Desc>\r\nx\r\ny\r\n"},
      {"Desc\0\0"s + pngtest::Deflate(""), "<Desc>\r\n\r\n"},  // inflates to nothing
      {"Desc\0\0"s, "<Desc>\r\n"},                             // nothing after the method
      {"Desc\0"s, "<Desc>\r\n"},                               // nothing after the NUL
      {"Desc"s, "<Desc>\r\n"},
      {"Big\0\0"s + pngtest::Deflate(big), "<Big>\r\n" + big + "\r\n"},  // past 4096 bytes
      {"Bad\0\0"s + "not zlib at all", "<Bad>\r\n\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(RenderZtxt(c.data), c.section) << c.data.substr(0, 8);
}

// A damaged or cut-short stream renders what inflated before it stopped.
TEST(CompressedTextRendering, RendersWhatInflatedFromADamagedStream) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + "\n";
  std::string rendered;
  for (const char c : text) rendered += c == '\n' ? "\r\n"s : std::string(1, c);
  const std::string stream = pngtest::Deflate(text, 1);

  const std::string cut = RenderZtxt("K\0\0"s + stream.substr(0, stream.size() / 2));
  ASSERT_GT(cut.size(), 10000u);
  EXPECT_EQ(cut.substr(0, cut.size() - 2), "<K>\r\n" + rendered.substr(0, cut.size() - 7));
  EXPECT_EQ(cut.substr(cut.size() - 2), "\r\n");

  std::string damaged = stream;
  damaged[damaged.size() - 2] ^= 0x55;  // the Adler-32
  EXPECT_EQ(RenderZtxt("K\0\0"s + damaged), "<K>\r\n" + rendered + "\r\n");
}

}  // namespace
