// Hostile files: cut short, lying about their lengths, broken inside their
// text chunks, or merely very large. Each recipe below builds its file in
// code and feeds it to both exports of the library loaded as a host loads
// it. Neither export may crash or touch memory it does not own (ASan and
// UBSan natively, the real DLL under Wine), and a rewrite must keep every
// byte that is not a text chunk. Files kept in tests/hostile/ are replayed
// the same way.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <unordered_set>
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

// The bomb: about 1 GiB of zeros, except natively under ASan, where
// inflating that much costs seconds and finds nothing a smaller one would
// not (the size limits themselves are tested on the codec).
#if defined(__SANITIZE_ADDRESS__)
constexpr int kBombMiB = 64;
#else
constexpr int kBombMiB = 1024;
#endif

using CommentCheck = std::function<::testing::AssertionResult(const std::string&)>;

CommentCheck Exactly(std::string want) {
  return [want = std::move(want)](const std::string& got) { return SameBytes(got, want); };
}

// One file for both exports, with what reading it must give where the
// documented behaviour pins that down.
struct Sample {
  std::string label;
  std::string png;
  CommentCheck comment;      // unset: any text (still NUL-free and NUL-ended)
  int summaries = -1;        // IHDRs summarised; -1: not checked
  bool may_run_out = false;  // -4 is an answer too (a text too large for memory)
};

struct Recipe {
  std::string name;
  std::function<std::vector<Sample>()> build;
};

void PrintTo(const Recipe& recipe, std::ostream* out) { *out << recipe.name; }

bool IsText(const std::string& type) { return type == "tEXt" || type == "zTXt"; }

// A text chunk that the writer made must be one a decoder accepts.
::testing::AssertionResult WellFormedText(const ParsedChunk& chunk) {
  if (!chunk.crc_ok) return ::testing::AssertionFailure() << "wrong CRC";
  const std::size_t nul = chunk.data.find('\0');
  if (nul == std::string::npos) return ::testing::AssertionFailure() << "no keyword terminator";
  if (nul == 0) return ::testing::AssertionFailure() << "empty keyword";
  if (chunk.type != "zTXt") return ::testing::AssertionSuccess();
  if (nul + 1 >= chunk.data.size() || chunk.data[nul + 1] != '\0') {
    return ::testing::AssertionFailure() << "compression method is not 0";
  }
  try {
    Inflate(chunk.data.substr(nul + 2));
  } catch (const std::exception&) {
    return ::testing::AssertionFailure() << "not a zlib stream";
  }
  return ::testing::AssertionSuccess();
}

// The written file against its input: the signature, every complete chunk
// that is not text byte for byte and in order, the malformed tail as it
// was, and the text chunks only as one run right after each IHDR, each an
// input chunk as it was or a well-formed new one.
void CheckRewrite(const std::string& input, const std::string& written, bool has_comment) {
  EXPECT_TRUE(SameBytes(written.substr(0, kSignature.size()), input.substr(0, kSignature.size())));
  std::string in_rest, out_rest;
  const std::vector<ParsedChunk> in = ParseChunks(input, &in_rest);
  const std::vector<ParsedChunk> out = ParseChunks(written, &out_rest);
  EXPECT_TRUE(SameBytes(out_rest, in_rest)) << "the malformed tail";

  std::vector<const ParsedChunk*> want, kept;
  for (const ParsedChunk& chunk : in) {
    if (!IsText(chunk.type)) want.push_back(&chunk);
  }
  for (const ParsedChunk& chunk : out) {
    if (!IsText(chunk.type)) kept.push_back(&chunk);
  }
  ASSERT_EQ(kept.size(), want.size()) << "chunks other than text";
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_TRUE(SameBytes(kept[i]->bytes, want[i]->bytes)) << "chunk " << i << " " << want[i]->type;
  }

  std::unordered_set<std::string> old_texts;
  for (const ParsedChunk& chunk : in) {
    if (IsText(chunk.type)) old_texts.insert(chunk.bytes);
  }
  std::optional<std::vector<std::string>> first_run;
  for (std::size_t at = 0; at < out.size(); ++at) {
    ASSERT_FALSE(IsText(out[at].type))
        << out[at].type << " at chunk " << at << " is not right after an IHDR";
    if (out[at].type != "IHDR") continue;
    std::vector<std::string> run;
    for (; at + 1 < out.size() && IsText(out[at + 1].type); ++at) {
      // Kept from the input as it was (a section the save left alone), or
      // made by the writer, and then well formed.
      ASSERT_TRUE(old_texts.count(out[at + 1].bytes) > 0 || WellFormedText(out[at + 1]))
          << "chunk " << at + 1 << " " << Excerpt(out[at + 1].data);
      run.push_back(out[at + 1].bytes);
    }
    // A text yields a chunk, unless all it shows is the chunk cut short by
    // the end of the file, whose bytes stay in the tail.
    const bool tail_text = in_rest.size() >= 8 && IsText(in_rest.substr(4, 4));
    EXPECT_TRUE(run.empty() ? !has_comment || tail_text : has_comment)
        << "text chunks after the IHDR ending at chunk " << at;
    if (!first_run) {
      first_run = std::move(run);
    } else {
      EXPECT_TRUE(run == *first_run) << "every IHDR is followed by the same text chunks";
    }
  }
}

class HostileHarness : public PluginHostFixture {
 protected:
  void TearDown() override {
    PluginHostFixture::TearDown();
    // Time inside the exports alone, for a look at how they scale (the XML report).
    RecordProperty(
        "exports_ms",
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(in_exports_).count()));
  }

  struct Reading {
    std::int32_t result = 0;
    bool has_comment = false, has_summary = false;
    std::string comment, summary;  // the blocks' bytes
  };

  Reading Read(const std::string& png) {
    void* const untouched = &scratch_;  // what the host left there
    void* comment = untouched;
    void* summary = untouched;
    Reading reading;
    const auto start = std::chrono::steady_clock::now();
    reading.result = get_comment_(0, reinterpret_cast<const std::uint8_t*>(png.data()),
                                  static_cast<std::int32_t>(png.size()), &comment, &summary);
    in_exports_ += std::chrono::steady_clock::now() - start;
    if (comment != untouched) {
      reading.has_comment = true;
      reading.comment = library_.LocalBlockBytes(comment);
      library_.FreeLocalBlock(comment);
    }
    if (summary != untouched) {
      reading.has_summary = true;
      reading.summary = library_.LocalBlockBytes(summary);
      library_.FreeLocalBlock(summary);
    }
    return reading;
  }

  // Both exports on one file: read it, then write it back with the comment
  // text just read, over a target that already holds something else.
  void Run(const Sample& sample) {
    SCOPED_TRACE(sample.label);
    const Reading reading = Read(sample.png);
    std::string text;
    if (sample.may_run_out) RecordProperty("GetComment", reading.result);
    if (reading.result == -4 && sample.may_run_out) {
      EXPECT_FALSE(reading.has_comment || reading.has_summary) << "nothing is handed over with -4";
    } else {
      EXPECT_EQ(reading.result, 0);
      EXPECT_TRUE(reading.has_summary) << "the summary block is always handed over";
      if (reading.has_comment) {
        ASSERT_FALSE(reading.comment.empty()) << "a comment block of 0 bytes";
        EXPECT_EQ(reading.comment.back(), '\0') << "the comment block ends in NUL";
        text = reading.comment.substr(0, reading.comment.size() - 1);
        EXPECT_FALSE(text.empty()) << "a comment block without text";
        EXPECT_EQ(text.find('\0'), std::string::npos) << "a NUL inside the comment text";
      }
      if (sample.comment) {
        EXPECT_TRUE(sample.comment(text)) << "comment text";
      }
      if (sample.summaries == 0) {
        EXPECT_EQ(reading.summary, "") << "no IHDR to summarise";
      } else if (sample.summaries > 0) {
        std::size_t lines = 0;
        for (std::size_t at = 0; (at = reading.summary.find("\r\n", at)) != std::string::npos;
             at += 2)
          ++lines;
        EXPECT_EQ(lines, 6u * sample.summaries) << Excerpt(reading.summary);
        EXPECT_EQ(reading.summary.substr(std::max<std::size_t>(reading.summary.size(), 2) - 2),
                  "\r\n");
      }
    }

    const fs::path target = folder_ / "target.png";
    const std::string before = "what the target held before\n";
    WriteFile(target, before);
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t result = write_comment_(
        0, target.string().c_str(), reinterpret_cast<const std::uint8_t*>(sample.png.data()),
        static_cast<std::int32_t>(sample.png.size()), text.data(),
        static_cast<std::int32_t>(text.size()));
    in_exports_ += std::chrono::steady_clock::now() - start;
    if (sample.may_run_out) RecordProperty("WriteComment", result);
    const bool not_png = sample.png.compare(0, kSignature.size(), kSignature) != 0;
    if (result == -4 && (sample.may_run_out || not_png)) {
      EXPECT_TRUE(SameBytes(ReadFile(target), before)) << "the target after -4";
      return;
    }
    ASSERT_FALSE(not_png) << "what is not a PNG must be refused, result " << result;
    ASSERT_EQ(result, 0) << "WriteComment";
    const std::string written = ReadFile(target);
    CheckRewrite(sample.png, written, !text.empty());
    EXPECT_EQ(Read(written).result, 0) << "reading the written file";
  }

  std::chrono::steady_clock::duration in_exports_{};
};

// ---- The recipes ----

std::vector<Sample> One(std::string label, std::string png, CommentCheck comment, int summaries) {
  std::vector<Sample> samples(1);
  samples[0] = {std::move(label), std::move(png), std::move(comment), summaries};
  return samples;
}

// A valid file cut after each of its bytes, from nothing to all of it. A
// chunk cut short is read from the bytes that are there; an IHDR only when
// its 13 data bytes are.
std::vector<Sample> TruncatedAtEveryByte() {
  const std::string ihdr = Ihdr(7, 9), text = Text("T", "text"), ztxt = Ztxt("Z", "zipped");
  const std::string png = Png({ihdr, text, ztxt, Idat(16), Iend()});
  const std::size_t text_at = kSignature.size() + ihdr.size(), ztxt_at = text_at + text.size();
  std::vector<Sample> samples;
  for (std::size_t cut = 0; cut <= png.size(); ++cut) {
    // The data bytes of the chunk at `at` before the cut; none when its
    // header is not all there.
    const auto data_before_cut = [cut](std::size_t at,
                                       const std::string& chunk) -> std::optional<std::string> {
      if (cut < at + 8) return std::nullopt;
      return chunk.substr(8, std::min(cut - at - 8, chunk.size() - 12));
    };
    const std::optional<std::string> text_data = data_before_cut(text_at, text);
    const std::optional<std::string> ztxt_data = data_before_cut(ztxt_at, ztxt);
    const bool whole_stream = ztxt_data && ztxt_data->size() == ztxt.size() - 12;
    const bool some_stream = ztxt_data && ztxt_data->size() > 3;  // past "Z", NUL, method
    CommentCheck comment = [=](const std::string& got) -> ::testing::AssertionResult {
      std::string want = text_data ? RenderText("tEXt", *text_data) : "";
      if (!ztxt_data) return SameBytes(got, want);
      want += "<" + ztxt_data->substr(0, ztxt_data->find('\0')) + ">\r\n";
      if (got.compare(0, want.size(), want) != 0) return SameBytes(got, want);
      // Once any of the stream is there: however much of it inflated (all of
      // it once the stream is whole) and CR LF, even after nothing.
      const std::string inflated = got.substr(want.size());
      if (!some_stream && inflated.empty()) return ::testing::AssertionSuccess();
      for (std::size_t size = whole_stream ? 6 : 0; some_stream && size <= 6; ++size) {
        if (inflated == "zipped"s.substr(0, size) + "\r\n") return ::testing::AssertionSuccess();
      }
      return ::testing::AssertionFailure()
             << "after " << Excerpt(want) << " came " << Excerpt(inflated);
    };
    const int summaries = cut >= kSignature.size() + 8 + 13 ? 1 : 0;
    samples.push_back(
        {"cut after " + std::to_string(cut) + " of " + std::to_string(png.size()) + " bytes",
         png.substr(0, cut), comment, summaries});
  }
  return samples;
}

// A chunk stating `length` amid others: 2^31 or more ends the walk there;
// 2^31 - 1 runs past the end, so that chunk is the last one read (a text
// chunk from all the bytes after its header). Either way the rewrite copies
// everything from that chunk on unchanged.
std::vector<Sample> LyingLength(const std::string& type, std::uint32_t length) {
  std::string data;
  if (type == "IHDR") data = Ihdr(2, 3).substr(8, 13);
  if (type == "tEXt") data = "K\0abc"s;
  if (type == "zTXt") data = "K\0\0"s + Deflate("zipped");
  if (type == "prIv") data = "private data";
  const std::string before = Text("A", "before");
  const std::string png =
      Png({Ihdr(1, 1), before, ChunkStating(length, type, data), Text("B", "after"), Iend()});
  std::string want = "[A]\r\nbefore\r\n";
  int summaries = 1;
  if (length == 0x7FFFFFFF) {
    if (type == "IHDR") summaries = 2;
    if (type == "tEXt")
      want += RenderText("tEXt", png.substr(kSignature.size() + 25 + before.size() + 8));
    if (type == "zTXt") want += "<K>\r\nzipped\r\n";
  }
  return One(type + " stating " + std::to_string(length), png, Exactly(want), summaries);
}

// A 57-byte file whose last chunk claims 1 GiB: nothing may be sized from
// the stated length.
std::vector<Sample> QuarterLengthInTinyFile() {
  const std::string png =
      Png({Ihdr(4, 4), ChunkStating(0x3FFFFFFF, "tEXt", "Title\0Hello, you"s).substr(0, 24)});
  if (png.size() != 57) throw std::logic_error("the recipe no longer makes 57 bytes");
  return One("57 bytes", png, Exactly("[Title]\r\nHello, you\r\n"), 1);
}

// An IHDR of `size` data bytes: summarised only when its 13 bytes are there.
std::vector<Sample> IhdrOfSize(std::size_t size) {
  std::string data = Ihdr(640, 480).substr(8, 13);
  data.resize(size, '\x01');
  return One("IHDR of " + std::to_string(size),
             Png({Chunk("IHDR", data), Text("A", "x"), Idat(20), Iend()}), Exactly("[A]\r\nx\r\n"),
             size >= 13 ? 1 : 0);
}

std::vector<Sample> KeywordOfSize(std::size_t size) {
  const std::string keyword(size, 'k');
  return One("keyword of " + std::to_string(size), Png({Ihdr(1, 1), Text(keyword, "t"), Iend()}),
             Exactly("[" + keyword + "]\r\nt\r\n"), 1);
}

// A zTXt with the data `data`, then a sound tEXt: whatever the zTXt holds,
// the walk goes on after it.
std::vector<Sample> BrokenZtxt(const std::string& label, const std::string& data,
                               CommentCheck comment) {
  return One(label, Png({Ihdr(1, 1), Chunk("zTXt", data), Text("Next", "ok"), Iend()}),
             std::move(comment), 1);
}

// 1 MiB of zeros after a full flush deflates to a block that depends on no
// earlier data, so repeating it makes a huge stream at no cost. The text is
// "x" and `mib` MiB of zeros, with its true Adler-32: a clean stream.
std::string ZeroBomb(int mib) {
  z_stream deflater{};
  if (deflateInit(&deflater, 9) != Z_OK) throw std::runtime_error("deflateInit");
  const std::string zeros(1 << 20, '\0');
  std::string out(1 << 16, '\0');
  const auto deflate_some = [&](const std::string& in, int flush) {
    deflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    deflater.avail_in = static_cast<uInt>(in.size());
    deflater.next_out = reinterpret_cast<Bytef*>(out.data());
    deflater.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&deflater, flush);
    if (result != (flush == Z_FINISH ? Z_STREAM_END : Z_OK) || deflater.avail_in != 0) {
      throw std::runtime_error("deflate");
    }
    return out.substr(0, out.size() - deflater.avail_out);
  };
  std::string stream = deflate_some("x" + zeros, Z_FULL_FLUSH);
  const std::string block = deflate_some(zeros, Z_FULL_FLUSH);
  for (int i = 1; i < mib; ++i) stream += block;
  std::string end = deflate_some("", Z_FINISH);
  deflateEnd(&deflater);
  uLong adler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>("x"), 1);
  const uLong zeros_adler =
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(zeros.data()),
              static_cast<uInt>(zeros.size()));
  for (int i = 0; i < mib; ++i)
    adler = adler32_combine(adler, zeros_adler, static_cast<z_off_t>(zeros.size()));
  for (int i = 0; i < 4; ++i) end[end.size() - 4 + i] = static_cast<char>(adler >> (24 - 8 * i));
  return stream + end;
}

std::vector<Sample> ZtxtBomb() {
  // The recipe itself, checked small: it must be the stream it claims to be.
  if (Inflate(ZeroBomb(3)) != "x" + std::string(3 << 20, '\0'))
    throw std::logic_error("ZeroBomb is wrong");
  std::vector<Sample> samples =
      One("x and " + std::to_string(kBombMiB) + " MiB of zeros",
          Png({Ihdr(1, 1), Chunk("zTXt", "Bomb\0\0"s + ZeroBomb(kBombMiB)), Text("After", "ok"),
               Iend()}),
          Exactly("<Bomb>\r\nx\r\n[After]\r\nok\r\n"), 1);
  return samples;  // its zeros are dropped as they inflate: nothing to run out of
}

// Every chunk costs the same however many came before: quadratic work here
// would take minutes.
std::vector<Sample> ManyTinyTextChunks() {
  std::string png = kSignature + Ihdr(1, 1), want;
  for (int i = 0; i < 100000; ++i) {
    png += Text(std::to_string(i), "v");
    want += "[" + std::to_string(i) + "]\r\nv\r\n";
  }
  png += Iend();
  return One("100000 chunks", png, Exactly(want), 1);
}

std::vector<Sample> NoIhdr() {
  return One("no IHDR", Png({Text("A", "x"), Idat(10), Ztxt("B", "y"), Iend()}),
             Exactly("[A]\r\nx\r\n<B>\r\ny\r\n"), 0);
}

std::vector<Sample> TextBeforeIhdr() {
  return One("text first", Png({Text("A", "x"), Ztxt("B", "y"), Ihdr(3, 3), Idat(10), Iend()}),
             Exactly("[A]\r\nx\r\n<B>\r\ny\r\n"), 1);
}

// All of it is the keyword, and nothing past it is read as text.
std::vector<Sample> TextWithoutNul() {
  return One("no keyword terminator",
             Png({Ihdr(1, 1), Chunk("tEXt", "NoTerminator"), Text("Next", "ok"), Iend()}),
             Exactly("[NoTerminator]\r\n[Next]\r\nok\r\n"), 1);
}

const std::string kNext = "[Next]\r\nok\r\n";  // the tEXt after every broken zTXt

std::vector<Sample> ZtxtMethodOne() {
  return BrokenZtxt("method 1", "M\0\1"s + Deflate("text"), Exactly("<M>\r\ntext\r\n" + kNext));
}

std::vector<Sample> ZtxtEndsAtMethod() {
  return BrokenZtxt("nothing after the method", "M\0\0"s, Exactly("<M>\r\n" + kNext));
}

std::vector<Sample> ZtxtBadZlibHeader() {
  std::string stream = Deflate("text");
  stream[1] = static_cast<char>(stream[1] ^ 1);  // the header no longer a multiple of 31
  // Nothing inflates, but the chunk has a text: an empty line stands for it.
  return BrokenZtxt("bad header", "M\0\0"s + stream, Exactly("<M>\r\n\r\n" + kNext));
}

std::vector<Sample> ZtxtBadAdler32() {
  std::string stream = Deflate("text");
  stream.back() = static_cast<char>(stream.back() ^ 1);
  return BrokenZtxt("bad Adler-32", "M\0\0"s + stream, Exactly("<M>\r\ntext\r\n" + kNext));
}

// Half the stream of 3000 letters: a beginning of them, then the walk goes on.
std::vector<Sample> ZtxtCutStream() {
  std::string text;
  for (std::uint32_t state = 7; text.size() < 3000;) {
    state = state * 1103515245u + 12345u;
    text += static_cast<char>('a' + (state >> 16) % 26);
  }
  const std::string stream = Deflate(text);
  CommentCheck check = [text](const std::string& got) -> ::testing::AssertionResult {
    const std::string head = "<M>\r\n", tail = "\r\n" + kNext;
    if (got.size() > head.size() + tail.size() && got.compare(0, head.size(), head) == 0 &&
        got.compare(got.size() - tail.size(), tail.size(), tail) == 0) {
      const std::string inflated = got.substr(head.size(), got.size() - head.size() - tail.size());
      if (inflated.size() < text.size() && text.compare(0, inflated.size(), inflated) == 0) {
        return ::testing::AssertionSuccess();
      }
    }
    return ::testing::AssertionFailure() << "not a beginning of the text: " << Excerpt(got);
  };
  return BrokenZtxt("cut stream", "M\0\0"s + stream.substr(0, stream.size() / 2), check);
}

std::vector<Sample> ZtxtJunkAfterStream() {
  return BrokenZtxt("junk after the stream", "M\0\0"s + Deflate("text") + "JUNK\0\xFF"s,
                    Exactly("<M>\r\ntext\r\n" + kNext));
}

std::string WithWrongCrc(std::string chunk) {
  chunk.back() = static_cast<char>(chunk.back() ^ 0x5A);
  return chunk;
}

// CRCs are not checked when reading; the text chunk is replaced anyway.
std::vector<Sample> WrongCrcOnText() {
  return One("tEXt CRC", Png({Ihdr(1, 1), WithWrongCrc(Text("A", "x")), Iend()}),
             Exactly("[A]\r\nx\r\n"), 1);
}

// The IHDR is summarised, and copied with its wrong CRC.
std::vector<Sample> WrongCrcOnIhdr() {
  return One("IHDR CRC", Png({WithWrongCrc(Ihdr(5, 6)), Text("A", "x"), Idat(10), Iend()}),
             Exactly("[A]\r\nx\r\n"), 1);
}

// A text chunk after IEND is still read (and dropped on rewrite); the bytes
// that frame no chunk stay at the end.
std::vector<Sample> DataAfterIend() {
  return One("after IEND",
             Png({Ihdr(1, 1), Text("A", "x"), Iend(), Text("Late", "y")}) + "trailing garbage",
             Exactly("[A]\r\nx\r\n[Late]\r\ny\r\n"), 1);
}

std::vector<Sample> NoIend() {
  return One("no IEND", Png({Ihdr(1, 1), Text("A", "x"), Idat(50)}), Exactly("[A]\r\nx\r\n"), 1);
}

std::vector<Recipe> Recipes() {
  std::vector<Recipe> recipes = {{"TruncatedAtEveryByte", TruncatedAtEveryByte}};
  const std::pair<const char*, const char*> types[] = {
      {"IHDR", "Ihdr"}, {"tEXt", "Text"}, {"zTXt", "Ztxt"}, {"prIv", "Unknown"}};
  const std::pair<std::uint32_t, const char*> lengths[] = {{0x7FFFFFFFu, "7FFFFFFF"},
                                                           {0x80000000u, "80000000"},
                                                           {0xFFFFFFFFu, "FFFFFFFF"},
                                                           {0xFFFFFFF4u, "FFFFFFF4"}};
  for (const auto& type : types) {
    for (const auto& length : lengths) {
      recipes.push_back({type.second + "Length"s + length.second,
                         [type = std::string(type.first), length = length.first] {
                           return LyingLength(type, length);
                         }});
    }
  }
  recipes.push_back({"Length3FFFFFFFIn57ByteFile", QuarterLengthInTinyFile});
  for (std::size_t size : {0, 12, 14}) {
    recipes.push_back({"IhdrOfLength" + std::to_string(size), [size] { return IhdrOfSize(size); }});
  }
  recipes.insert(
      recipes.end(),
      {{"NoIhdr", NoIhdr}, {"TextBeforeIhdr", TextBeforeIhdr}, {"TextWithoutNul", TextWithoutNul}});
  for (std::size_t size : {0, 79, 80, 100000}) {
    recipes.push_back(
        {"KeywordOf" + std::to_string(size) + "Bytes", [size] { return KeywordOfSize(size); }});
  }
  recipes.insert(recipes.end(), {
                                    {"ZtxtMethodOne", ZtxtMethodOne},
                                    {"ZtxtEndsAtMethod", ZtxtEndsAtMethod},
                                    {"ZtxtBadZlibHeader", ZtxtBadZlibHeader},
                                    {"ZtxtBadAdler32", ZtxtBadAdler32},
                                    {"ZtxtCutStream", ZtxtCutStream},
                                    {"ZtxtJunkAfterStream", ZtxtJunkAfterStream},
                                    {"ZtxtBomb", ZtxtBomb},
                                    {"HundredThousandTinyTextChunks", ManyTinyTextChunks},
                                    {"WrongCrcOnText", WrongCrcOnText},
                                    {"WrongCrcOnIhdr", WrongCrcOnIhdr},
                                    {"DataAfterIend", DataAfterIend},
                                    {"NoIend", NoIend},
                                });
  return recipes;
}

class HostileFilesTest : public HostileHarness, public ::testing::WithParamInterface<Recipe> {};

TEST_P(HostileFilesTest, BothExportsSurvive) {
  for (const Sample& sample : GetParam().build()) Run(sample);
}

INSTANTIATE_TEST_SUITE_P(Recipes, HostileFilesTest, ::testing::ValuesIn(Recipes()),
                         [](const ::testing::TestParamInfo<Recipe>& info) {
                           return info.param.name;
                         });

// The folder is given as a Unix path; under Wine the Z: drive is the Unix root.
fs::path HostileFolder() {
  const std::string folder = PNGC_HOSTILE_DIR;
#ifdef _WIN32
  if (!folder.empty() && folder[0] == '/') return fs::path("Z:" + folder);
#endif
  return fs::path(folder);
}

using HostileFolderTest = HostileHarness;

// Inputs kept one file per bug: each must read with 0 and rewrite intact.
TEST_F(HostileFolderTest, ReplaysEveryPngKeptThere) {
  const fs::path folder = HostileFolder();
  ASSERT_TRUE(fs::is_regular_file(folder / "README.md"))
      << "the folder is not where it should be: " << folder;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".png") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    Sample sample;
    sample.label = file.filename().string();
    sample.png = ReadFile(file);
    Run(sample);
  }
}

}  // namespace
