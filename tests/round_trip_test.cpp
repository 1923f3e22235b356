// Read, write back, read again, as when the user saves without editing:
// generated PNGs must keep their text chunks, and every other chunk its bytes
// and its place. The written files are checked with an independent chunk
// reader and zlib, not only through the plug-in's own reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/plugin_host_fixture.h"
#include "tests/support/files.h"
#include "tests/support/gtest_bytes.h"
#include "tests/support/png_builder.h"
#include "tests/support/png_model.h"
#include "tools/plugin_loader.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace pngtest;

// Where the comment text breaks a text into lines: after every LF that a
// lead byte does not take along.
std::vector<std::size_t> LineStarts(const std::string& text) {
  std::vector<std::size_t> starts{0};
  for (std::size_t i = 0; i < text.size(); i += CharacterLength(BytesOf(text), i, text.size())) {
    if (text[i] == '\n') starts.push_back(i + 1);
  }
  return starts;
}

struct Document {
  std::string png;
  std::vector<TextChunk> texts;                             // in file order
  std::vector<std::pair<std::string, std::string>> others;  // type and data, in file order
};

// Documents whose texts the comment text carries unchanged. It cannot carry
// a NUL, an empty keyword, CR LF inside a keyword (CR and LF are kept out of
// keywords altogether), an LF turned into CR LF at the very start or end of
// a text, nor a text line that begins with "[" or "<" and ends with "]" or
// ">": those are the known losses, tested apart. All else may come: CR in
// texts, brackets elsewhere, a lead byte before an LF (the LF stays inside
// its line and comes back), lead bytes ending keywords and texts, blank
// lines inside texts, lines and keywords of any length.
class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}
  void Reseed(std::uint32_t seed) { rng_.seed(seed); }
  std::map<std::string, int> seen;  // how often each feature came up

  Document Next(bool big) {
    Document doc{kSignature, {}, {}};
    Add(&doc, "IHDR", Ihdr(1 + Below(4000), 7).substr(8, 13));
    for (int i = big ? 2 : Below(4); i > 0; --i) AddText(&doc, big && i == 1);
    if (Below(3) == 0) AddOther(&doc);
    const std::string idat = Idat(Below(300));
    Add(&doc, "IDAT", idat.substr(8, idat.size() - 12));
    for (int i = Below(3); i > 0; --i) AddText(&doc, false);
    if (Below(4) == 0) AddOther(&doc);
    Add(&doc, "IEND", "");
    for (int i = Below(5) == 0 ? 1 + Below(2) : 0; i > 0; --i, ++seen["after IEND"])
      AddText(&doc, false);
    seen["no text"] += doc.texts.empty();
    return doc;
  }

 private:
  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  char Byte(int lo, int hi) { return static_cast<char>(lo + Below(hi - lo + 1)); }

  std::string Token(bool in_text) {
    static const char kAscii[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,:;!?-_'()";
    static const char* const kBrackets[] = {"[", "]", "<", ">", "[note]", "<b>"};
    std::string token;
    switch (Below(in_text ? 7 : 6)) {
      case 3:  // Shift_JIS: a lead byte and a valid trail byte
        token += Below(2) ? Byte(0x81, 0x9F) : Byte(0xE0, 0xFC);
        return token += Below(2) ? Byte(0x40, 0x7E) : Byte(0x80, 0xFC);
      case 4:
        return std::string(1, Byte(0xA0, 0xFF));  // Latin-1; 0xE0 up are lead bytes too
      case 5:
        return kBrackets[Below(6)];
      case 6:
        return ++seen["CR"], "\r";
      default:
        for (int n = 1 + Below(8); n > 0; --n) token += kAscii[Below(sizeof kAscii - 1)];
        return token;
    }
  }

  // Tokens up to `size` bytes, or (size 0) each further one with odds 1 - 1/stop.
  std::string Run(std::size_t size, int stop, bool in_text) {
    std::string run;
    do run += Token(in_text);
    while (run.size() < size || (size == 0 && Below(stop) != 0));
    return run;
  }

  std::string Text(bool big) {
    if (!big && Below(6) == 0) return ++seen["empty text"], "";
    std::string text;
    const int lines = 1 + Below(5), long_line = big ? Below(lines) : -1;
    for (int i = 0; i < lines; ++i) {
      if (i > 0) text += Below(4) == 0 ? (++seen["blank line"], "\n\n") : "\n";
      const std::size_t size = i != long_line  ? 0
                               : Below(3) == 0 ? 65537 + Below(5000)
                                               : 4097 + Below(8000);
      const std::string line = Run(size, 4, true);
      text += line;
      seen["line > 4096"] += line.size() > 4096;
      seen["line > 65536"] += line.size() > 65536;
    }
    // A leading space spoils a header shape and keeps the lead-byte pairing:
    // the byte before a line is an LF that no lead byte took.
    const auto starts = LineStarts(text);
    seen["LF after lead byte"] += static_cast<int>(std::count(text.begin(), text.end(), '\n') + 1) -
                                  static_cast<int>(starts.size());
    for (auto k = starts.size(); k-- > 0;) {
      const std::size_t begin = starts[k],
                        end = k + 1 < starts.size() ? starts[k + 1] - 1 : text.size();
      if (end - begin >= 2 && ((text[begin] == '[' && text[end - 1] == ']') ||
                               (text[begin] == '<' && text[end - 1] == '>'))) {
        text.insert(begin, 1, ' ');
        ++seen["near header"];
      }
    }
    return text;
  }

  void Add(Document* doc, const std::string& type, const std::string& data) {
    doc->png += Chunk(type, data);
    doc->others.emplace_back(type, data);
  }

  void AddText(Document* doc, bool big) {
    TextChunk chunk{Below(2) ? "tEXt" : "zTXt", Run(big ? 255 + Below(300) : 0, 3, false),
                    Text(big)};
    seen["zTXt"] += chunk.type == "zTXt";
    seen["keyword > 254"] += chunk.keyword.size() > 254;
    doc->png += chunk.type == "tEXt" ? pngtest::Text(chunk.keyword, chunk.text)
                                     : Ztxt(chunk.keyword, chunk.text);
    doc->texts.push_back(chunk);
  }

  void AddOther(Document* doc) {
    static const std::pair<const char*, std::string> kOthers[] = {
        {"tIME", "\x07\xE8\x01\x02\x03\x04\x05"s},
        {"iTXt", "Title\0\0\0en\0Titel\0Hallo"s},
        {"teXt", "Case\0not a text chunk"s},  // types match case and all
        {"prVt", "\0\x89\xFF[x]\r\n"s}};
    const auto& other = kOthers[Below(4)];
    Add(doc, other.first, other.second);
  }

  std::mt19937 rng_;
};

class RoundTripTest : public PluginHostFixture {
 protected:
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(read_only_, fs::perms::owner_write, fs::perm_options::add, ignored);
    PluginHostFixture::TearDown();
  }

  // The comment text handed over, without its NUL; empty when none is.
  std::string Comment(const std::string& png) {
    void* comment = &scratch_;  // what the host left there
    void* summary = nullptr;
    EXPECT_EQ(get_comment_(0, reinterpret_cast<const std::uint8_t*>(png.data()),
                           static_cast<std::int32_t>(png.size()), &comment, &summary),
              0);
    library_.FreeLocalBlock(summary);
    if (comment == &scratch_) return "";
    std::string block = library_.LocalBlockBytes(comment);
    library_.FreeLocalBlock(comment);
    EXPECT_TRUE(block.size() >= 2 && block.back() == '\0') << Excerpt(block);
    return block.substr(0, block.empty() ? 0 : block.size() - 1);
  }

  std::int32_t Write(const fs::path& file, const std::string& png, const std::string& comment) {
    return write_comment_(0, file.string().c_str(),
                          reinterpret_cast<const std::uint8_t*>(png.data()),
                          static_cast<std::int32_t>(png.size()), comment.data(),
                          static_cast<std::int32_t>(comment.size()));
  }

  // Saves `comment` over `doc` and checks the file: IHDR, the text chunks
  // in the old ones' order, each with its old type and data (CRC right) or,
  // for the section at `edited`, `edit`; then the other chunks as they were.
  void CheckWritten(const Document& doc, const std::string& comment, std::size_t edited = SIZE_MAX,
                    const TextChunk& edit = {}) {
    const fs::path file = folder_ / "out.png";
    ASSERT_EQ(Write(file, doc.png, comment), 0);
    const std::string out = ReadFile(file);
    fs::remove(file);
    std::vector<ParsedChunk> old_texts;
    for (const ParsedChunk& chunk : ParseChunks(doc.png)) {
      if (chunk.type == "tEXt" || chunk.type == "zTXt") old_texts.push_back(chunk);
    }
    std::string rest;
    const std::vector<ParsedChunk> chunks = ParseChunks(out, &rest);
    EXPECT_TRUE(SameBytes(out.substr(0, 8), kSignature));
    EXPECT_TRUE(rest.empty()) << Excerpt(rest);
    ASSERT_EQ(chunks.size(), doc.texts.size() + doc.others.size());
    for (std::size_t at = 0; at < chunks.size(); ++at) {
      EXPECT_TRUE(chunks[at].crc_ok) << "chunk " << at << " " << chunks[at].type;
      if (at >= 1 && at <= doc.texts.size()) {
        if (at - 1 == edited) {
          EXPECT_EQ(DecodeWritten(chunks[at]), edit) << "the edited chunk " << at;
        } else {
          EXPECT_EQ(chunks[at].type, old_texts[at - 1].type) << "chunk " << at;
          EXPECT_TRUE(SameBytes(chunks[at].data, old_texts[at - 1].data)) << "text chunk " << at;
        }
        continue;
      }
      const auto& want = doc.others[at == 0 ? 0 : at - doc.texts.size()];
      EXPECT_EQ(chunks[at].type, want.first) << "chunk " << at;
      EXPECT_TRUE(SameBytes(chunks[at].data, want.second)) << "chunk " << at << " " << want.first;
    }
  }

  // A save with no edit keeps every text chunk byte for byte; one with a
  // line added at the top of one section rebuilds that chunk alone.
  void CheckRoundTrip(const Document& doc) {
    const std::string c1 = Comment(doc.png);
    EXPECT_EQ(c1.empty(), doc.texts.empty());
    CheckWritten(doc, c1);
    if (doc.texts.empty()) return;

    // These texts hold no header-shaped line, and their keywords no CR LF:
    // the n-th line that looks like a header is the n-th section's.
    const std::size_t edited = doc.texts.size() / 2;
    std::size_t at = 0, line_end = 0;
    for (std::size_t header = 0;; at = line_end + 2) {
      line_end = c1.find("\r\n", at);
      const bool is_header = line_end - at >= 2 && ((c1[at] == '[' && c1[line_end - 1] == ']') ||
                                                    (c1[at] == '<' && c1[line_end - 1] == '>'));
      if (is_header && header++ == edited) break;
    }
    const TextChunk& old = doc.texts[edited];
    const TextChunk edit{old.type, old.keyword,
                         old.text.empty() ? "edited" : "edited\n" + old.text};
    CheckWritten(doc, c1.substr(0, line_end + 2) + "edited\r\n" + c1.substr(line_end + 2), edited,
                 edit);
  }

  fs::path read_only_;
};

TEST_F(RoundTripTest, GeneratedDocumentsComeBackUnchanged) {
  Generator generate(0);
  for (std::uint32_t seed : {101u, 202u, 303u, 404u, 505u}) {
    generate.Reseed(seed);
    for (int n = 0; n < 50 && !HasFailure(); ++n) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", document " + std::to_string(n));
      CheckRoundTrip(generate.Next(false));
    }
  }
  // The documents held what they are meant to exercise.
  for (const char* feature : {"zTXt", "after IEND", "no text", "empty text", "blank line",
                              "LF after lead byte", "CR", "near header"}) {
    EXPECT_GT(generate.seen[feature], 3) << feature;
  }
}

TEST_F(RoundTripTest, LongLinesAndKeywordsComeBackWhole) {
  Generator generate(4242u);
  for (int n = 0; n < 30 && !HasFailure(); ++n) {
    SCOPED_TRACE("document " + std::to_string(n));
    CheckRoundTrip(generate.Next(true));
  }
  EXPECT_GE(generate.seen["keyword > 254"], 30);
  EXPECT_GE(generate.seen["line > 4096"], 30);
  EXPECT_GT(generate.seen["line > 65536"], 3);
}

// Texts the comment text cannot carry, and some that it carries against
// first appearance: saved without an edit, each chunk keeps every byte; as
// typed into a file that has no such chunk, each comes back exactly so.
TEST_F(RoundTripTest, KnownLossesApplyOnlyToTextTheUserTyped) {
  const struct {
    std::string chunk;
    std::vector<TextChunk> typed;
  } cases[] = {
      {Text("K", "\nabc"), {{"tEXt", "K", "abc"}}},
      {Ztxt("K", "abc\n\n"), {{"zTXt", "K", "abc"}}},
      {Text("K", "\n\n"), {{"tEXt", "K", ""}}},
      {Text("", "abc"), {{"tEXt", "Comment", "abc"}}},
      {Ztxt("", ""), {{"zTXt", "Comment", ""}}},
      {Ztxt("K", "z", 1), {{"zTXt", "K", "z"}}},  // another compression method
      {Ztxt("K", "z").replace(20, 4, "\xBA\xD0\xBA\xD0"), {{"zTXt", "K", "z"}}},  // a wrong CRC
      {Chunk("tEXt", "K"), {{"tEXt", "K", ""}}},  // no keyword terminator
      {Text("K", "a\xE9\0b"s),
       {{"tEXt", "K",
         "a\xE9"
         "b"}}},  // a NUL goes, also after a lead byte
      {Text("K", "a\n[B]\nc"), {{"tEXt", "K", "a"}, {"tEXt", "B", "c"}}},
      {Ztxt("K", "<>\nz"), {{"zTXt", "K", ""}, {"zTXt", "Comment", "z"}}},
      {Text("K", "x\n[\x81]"), {{"tEXt", "K", "x"}, {"tEXt", "\x81", ""}}},  // "]" as a trail byte
      {Text("K", "caf\xE9\n"), {{"tEXt", "K", "caf\xE9\n"}}},  // the LF goes with the lead byte
      {Ztxt("K", "a\n\n\nb"), {{"zTXt", "K", "a\n\n\nb"}}},
      {Text("R\xE9sum\xE9", "t"), {{"tEXt", "R\xE9sum\xE9", "t"}}},
      {Text("K", "a\r\nb\r"), {{"tEXt", "K", "a\r\nb\r"}}},
  };
  const std::string before = Text("Title", "untouched"),
                    after = Ztxt("Raw profile type exif", "\nexif\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(Excerpt(c.chunk.substr(8)));
    // Unedited, among others and with one of them edited.
    const std::string png = kSignature + Ihdr(2, 2) + before + c.chunk + after + Iend();
    const std::string comment = Comment(png);
    ASSERT_EQ(Write(folder_ / "out.png", png, comment), 0);
    EXPECT_TRUE(SameBytes(ReadFile(folder_ / "out.png"), png));
    ASSERT_EQ(Write(folder_ / "out.png", png, "[Title]\r\nedited\r\n" + comment.substr(20)), 0);
    EXPECT_TRUE(
        SameBytes(ReadFile(folder_ / "out.png"),
                  kSignature + Ihdr(2, 2) + Text("Title", "edited") + c.chunk + after + Iend()));

    // Typed: no chunk of the image stands for the text.
    const std::string plain = kSignature + Ihdr(2, 2) + Iend();
    ASSERT_EQ(
        Write(folder_ / "out.png", plain, Comment(kSignature + Ihdr(2, 2) + c.chunk + Iend())), 0);
    const std::vector<ParsedChunk> chunks = ParseChunks(ReadFile(folder_ / "out.png"));
    ASSERT_GE(chunks.size(), 2u);
    std::vector<TextChunk> back;
    for (std::size_t i = 1; i + 1 < chunks.size(); ++i) back.push_back(DecodeWritten(chunks[i]));
    EXPECT_EQ(back, c.typed);
  }
}

// A section left as it was keeps its own chunk, never a look-alike's that
// an edit or a removal left free; and a chunk cut short by the end of the
// file is not written again while its bytes stay in the tail.
TEST_F(RoundTripTest, UnchangedSectionsKeepTheirOwnChunks) {
  std::string wrong_crc = Ztxt("Z", "same text");
  wrong_crc.back() ^= 1;
  const std::string level9 = Ztxt("Z", "same text", 9), level1 = Ztxt("Z", "same text", 1);
  const std::string x = Text("X", "x"), y = Text("Y", "y"), edited = Ztxt("Z", "edited");
  const struct {
    const char* what;
    std::vector<std::string> chunks;
    std::string comment;  // of those chunks, as the user saves it
    std::vector<std::string> written;
  } cases[] = {
      {"twins, the first edited", {level9, level1}, "<Z>\r\nedited\r\n<Z>\r\nsame text\r\n",
       {edited, level1}},
      {"a twin of wrong CRC", {Ztxt("Z", "same text"), wrong_crc},
       "<Z>\r\nedited\r\n<Z>\r\nsame text\r\n", {edited, wrong_crc}},
      {"twins, the first removed", {x, level9, y, level1},
       "[X]\r\nx\r\n[Y]\r\ny\r\n<Z>\r\nsame text\r\n", {x, y, level1}},
  };
  for (const auto& c : cases) {
    std::string png = kSignature + Ihdr(1, 1);
    for (const std::string& chunk : c.chunks) png += chunk;
    ASSERT_EQ(Write(folder_ / "out.png", png + Iend(), c.comment), 0) << c.what;
    std::string want = kSignature + Ihdr(1, 1);
    for (const std::string& chunk : c.written) want += chunk;
    EXPECT_TRUE(SameBytes(ReadFile(folder_ / "out.png"), want + Iend())) << c.what;
  }

  const std::string cut = kSignature + Ihdr(1, 1) + Idat(100) + Text("Comment", "note").substr(0, 18);
  std::string png = cut;
  for (int save = 1; save <= 3; ++save) {
    ASSERT_EQ(Write(folder_ / "out.png", png, Comment(png)), 0);
    png = ReadFile(folder_ / "out.png");
    EXPECT_TRUE(SameBytes(png, cut)) << "save " << save;
  }
}

TEST_F(RoundTripTest, UnwritableTargetsAreReportedAndLeftAlone) {
  const std::string png = kSignature + Ihdr(3, 3) + Text("A", "old") + Iend();
  const std::string comment = "[A]\r\nnew\r\n";
  EXPECT_EQ(Write(folder_ / "missing" / "out.png", png, comment), -5);
  EXPECT_TRUE(fs::is_empty(folder_)) << "nothing created";

  read_only_ = folder_ / "locked.png";
  WriteFile(read_only_, png);
  fs::permissions(read_only_,
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_EQ(fs::status(read_only_).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(Write(read_only_, png, comment), -5);
  EXPECT_TRUE(SameBytes(ReadFile(read_only_), png));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
      << "a file left beside it";

  // Arguments that a host got wrong: refused, and neither a new file nor
  // the user's old one is touched.
  const std::string not_png = "GIF89a" + png.substr(6);
  const auto* image = reinterpret_cast<const std::uint8_t*>(png.data());
  const auto size = static_cast<std::int32_t>(png.size());
  const struct {
    const char* what;
    const std::uint8_t* image;
    std::int32_t size;
    const char* comment;
    std::int32_t length;
  } refused[] = {
      {"null comment", image, size, nullptr, 10},
      {"null image", nullptr, size, comment.data(), 10},
      {"null image, size 0", nullptr, 0, comment.data(), 10},
      {"size 0", image, 0, comment.data(), 10},
      {"size -1", image, -1, comment.data(), 10},
      {"size INT32_MIN", image, INT32_MIN, comment.data(), 10},
      {"size 7", image, 7, comment.data(), 10},
      {"no PNG signature", reinterpret_cast<const std::uint8_t*>(not_png.data()), size,
       comment.data(), 10},
      {"comment length -1", image, size, comment.data(), -1},
      {"comment length INT32_MIN", image, size, nullptr, INT32_MIN},
  };
  const fs::path fresh = folder_ / "new.png", old = folder_ / "old.png";
  const std::string old_bytes = kSignature + Ihdr(1, 1) + Text("Keep", "me") + Iend();
  WriteFile(old, old_bytes);
  for (const auto& c : refused) {
    for (const fs::path& target : {fresh, old}) {
      EXPECT_EQ(write_comment_(0, target.string().c_str(), c.image, c.size, c.comment, c.length),
                -4)
          << c.what << " " << target;
    }
    EXPECT_FALSE(fs::exists(fresh)) << c.what;
    EXPECT_TRUE(SameBytes(ReadFile(old), old_bytes)) << c.what;
  }
  EXPECT_EQ(write_comment_(0, nullptr, image, size, comment.data(), 10), -4);
  // The same targets take the file: the refusals came from the arguments.
  EXPECT_EQ(Write(fresh, png, comment), 0);
  EXPECT_EQ(ParseChunks(ReadFile(fresh)).size(), 3u);
  EXPECT_EQ(write_comment_(0, old.string().c_str(), image, size, nullptr, 0), 0)
      << "length 0: no text";
  EXPECT_EQ(ParseChunks(ReadFile(old)).size(), 2u);
}

}  // namespace
