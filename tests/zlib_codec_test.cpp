// TZlib checked against zlib itself: what it deflates, uncompress inflates;
// what compress2 writes, it inflates exactly; and every failure (damaged
// data, a full destination, memory that cannot be had) ends cleanly.
#include "stream/zlib_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <ostream>
#include <regex>
#include <string>

#include "platform/os.h"
#include "stream/memory_error.h"
#include "tests/support/png_builder.h"

namespace {

using pngc::TBitMemoryStream;
using pngc::TZlib;

std::string Content(const TBitMemoryStream& stream) {
  const auto* memory = reinterpret_cast<const char*>(stream.GetMemory());
  return memory == nullptr ? std::string() : std::string(memory, stream.GetSize());
}

void Load(TBitMemoryStream& stream, const std::string& bytes, std::int32_t position = 0) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  stream.Seek(position, pngc::kFromBeginning);
}

// Deflate finds nothing to shorten here, so its output outgrows the input.
std::string Random(std::size_t size) {
  std::uint32_t state = 2463534242u;
  return pngtest::Noise(size, state);
}

// Compressible, yet no two lines alike, so that a misplaced piece shows.
std::string Prose(std::size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += "Comment line " + std::to_string(line) + " of the picture\r\n";
  }
  text.resize(size);
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Uncompress(const std::string& stream, std::size_t size) {
  std::string out(size + 1, '\0');
  uLongf length = static_cast<uLongf>(out.size());
  if (uncompress(reinterpret_cast<Bytef*>(&out[0]), &length,
                 reinterpret_cast<const Bytef*>(stream.data()),
                 static_cast<uLong>(stream.size())) != Z_OK) {
    return "<not a zlib stream of that size>";
  }
  out.resize(length);
  return out;
}

struct Outcome {
  std::int32_t code;
  std::string out;
  bool operator==(const Outcome& other) const { return code == other.code && out == other.out; }
};

// Sizes and the first bytes: texts here run to hundreds of kilobytes.
std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "code " << o.code << ", " << o.out.size() << " bytes "
            << ::testing::PrintToString(o.out.substr(0, 24));
}

Outcome Compress(TZlib& zlib, const std::string& input, std::int32_t level = Z_DEFAULT_COMPRESSION,
                 std::int32_t position = 0) {
  TBitMemoryStream source, destination;
  Load(source, input, position);
  const std::int32_t code = zlib.Compress(source, destination, level);
  return {code, Content(destination)};
}

Outcome Decompress(TZlib& zlib, const std::string& input, std::int32_t position = 0) {
  TBitMemoryStream source, destination;
  Load(source, input, position);
  const std::int32_t code = zlib.Decompress(source, destination);
  return {code, Content(destination)};
}

// A stored block: bytes as they are, so that damage lands exactly where
// intended and the text delivered before it is known to the byte.
std::string Stored(const std::string& data, bool final) {
  const auto n = static_cast<std::uint16_t>(data.size()), inverse = static_cast<std::uint16_t>(~n);
  return std::string{char(final), char(n & 0xFF), char(n >> 8), char(inverse & 0xFF),
                     char(inverse >> 8)} +
         data;
}

std::string Adler(const std::string& text) {
  const uLong sum =
      adler32(1, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size()));
  return {char(sum >> 24), char(sum >> 16), char(sum >> 8), char(sum)};
}

// A zlib stream whose header asks for a preset dictionary.
std::string WithDictionary(const std::string& text) {
  const std::string dictionary = "Comment line";
  std::string out(pngtest::Deflate(text).size() + 64, '\0');
  z_stream stream{};
  deflateInit(&stream, Z_DEFAULT_COMPRESSION);
  deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                       static_cast<uInt>(dictionary.size()));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  const bool complete = deflate(&stream, Z_FINISH) == Z_STREAM_END;
  out.resize(complete ? stream.total_out : 0);
  deflateEnd(&stream);
  return out;
}

TEST(ZlibCodec, EmptyInputGivesTheEmptyStreamAndInflatesToNothing) {
  const std::string empty_stream("\x78\x9C\x03\x00\x00\x00\x00\x01", 8),
      abc = pngtest::Deflate("abc");
  struct Case {
    std::string bytes;
    std::int32_t position;
  };
  for (const Case& c :
       {Case{"", 0}, Case{"abc", 3}, Case{abc, static_cast<std::int32_t>(abc.size())}}) {
    SCOPED_TRACE(c.bytes.size());
    TZlib zlib;
    EXPECT_EQ(Compress(zlib, c.bytes, Z_DEFAULT_COMPRESSION, c.position),
              (Outcome{Z_STREAM_END, empty_stream}));
    EXPECT_EQ(Decompress(zlib, c.bytes, c.position), (Outcome{Z_BUF_ERROR, ""}));
  }
}

TEST(ZlibCodec, RoundTripsAcrossBufferBoundaries) {
  for (const std::string& text : {std::string(), std::string("x"), Prose(4095), Prose(4096),
                                  Prose(4097), Prose(300000), Random(300000)}) {
    SCOPED_TRACE(text.size());
    TZlib zlib;
    const Outcome deflated = Compress(zlib, text);
    EXPECT_EQ(deflated.code, Z_STREAM_END);
    EXPECT_EQ(deflated.out.substr(0, 2), "\x78\x9C");
    EXPECT_TRUE(Uncompress(deflated.out, text.size()) == text);
    EXPECT_EQ(Decompress(zlib, deflated.out), (Outcome{Z_OK, text}));
    EXPECT_EQ(Decompress(zlib, pngtest::Deflate(text)), (Outcome{Z_OK, text}));
  }
}

TEST(ZlibCodec, WorksFromTheSourcePositionOnAndIgnoresWhatFollowsTheStream) {
  const std::string junk = Random(5000), text = Prose(20000);
  const auto start = static_cast<std::int32_t>(junk.size());
  TZlib zlib;
  EXPECT_TRUE(Uncompress(Compress(zlib, junk + text, Z_DEFAULT_COMPRESSION, start).out,
                         text.size()) == text);
  EXPECT_EQ(Decompress(zlib, junk + pngtest::Deflate(text), start), (Outcome{Z_OK, text}));
  for (const std::string& tail :
       {std::string("trailing"), junk, pngtest::Deflate("another text")}) {
    EXPECT_EQ(Decompress(zlib, pngtest::Deflate(text) + tail), (Outcome{Z_OK, text}));
  }
}

TEST(ZlibCodec, DamagedOrShortStreamKeepsWhatWasInflated) {
  const std::string first = Prose(10000), second = Prose(30000).substr(10000);
  const std::string whole =
      "\x78\x01" + Stored(first, false) + Stored(second, true) + Adler(first + second);
  const std::size_t second_header = 2 + 5 + first.size();
  std::string bad_length = whole, bad_check = whole, bad_header = whole;
  bad_length[second_header + 3] ^= 0x10;
  bad_check.back() ^= 0x01;
  bad_header[1] = '\x02';
  struct Case {
    const char* name;
    std::string stream;
    Outcome expected;
  };
  for (const Case& c :
       {Case{"sound", whole, {Z_OK, first + second}},
        Case{"stored length", bad_length, {Z_DATA_ERROR, first}},
        Case{"adler-32", bad_check, {Z_DATA_ERROR, first + second}},
        Case{"header", bad_header, {Z_DATA_ERROR, ""}},
        Case{"cut between blocks", whole.substr(0, second_header), {Z_BUF_ERROR, first}},
        Case{"cut in a block",
             whole.substr(0, second_header + 5 + 7000),
             {Z_BUF_ERROR, first + second.substr(0, 7000)}},
        Case{"preset dictionary", WithDictionary(first), {Z_NEED_DICT, ""}}}) {
    SCOPED_TRACE(c.name);
    TZlib zlib;
    EXPECT_EQ(Decompress(zlib, c.stream), c.expected);
  }
  // Cut inside Huffman-coded data: what comes out is still the text's start.
  const std::string text = Prose(300000), deflated = pngtest::Deflate(text);
  TZlib zlib;
  const Outcome cut = Decompress(zlib, deflated.substr(0, deflated.size() / 2));
  EXPECT_EQ(cut.code, Z_BUF_ERROR);
  EXPECT_GT(cut.out.size(), 0u);
  EXPECT_LT(cut.out.size(), text.size());
  EXPECT_TRUE(StartsWith(text, cut.out));
}

TEST(ZlibCodec, OneObjectRunsOperationsLikeAFreshOne) {
  const std::string text = Prose(50000), deflated = pngtest::Deflate(text);
  TZlib zlib;
  for (std::int32_t level : {10, -2}) {
    EXPECT_EQ(Compress(zlib, text, level), (Outcome{Z_STREAM_ERROR, ""})) << level;
  }
  EXPECT_EQ(Decompress(zlib, deflated.substr(0, 100)).code, Z_BUF_ERROR);
  EXPECT_EQ(Decompress(zlib, "\x78\x9C\xFF\xFF").code, Z_DATA_ERROR);
  EXPECT_EQ(Decompress(zlib, deflated), (Outcome{Z_OK, text}));
  // The header's level bits tell which level deflate really ran at.
  for (const auto& [level, flags] :
       {std::pair{9, '\xDA'}, {0, '\x01'}, {Z_DEFAULT_COMPRESSION, '\x9C'}}) {
    SCOPED_TRACE(level);
    TZlib fresh;
    const Outcome reused = Compress(zlib, text, level);
    EXPECT_EQ(reused, Compress(fresh, text, level));
    EXPECT_EQ(reused.out.substr(0, 2), std::string("\x78") + flags);
    EXPECT_TRUE(Uncompress(reused.out, text.size()) == text);
  }
}

constexpr std::int32_t kLimit = 64 * 1024;

// Takes no more once it holds more than kLimit bytes.
struct FullStream : TBitMemoryStream {
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (GetSize() <= kLimit) return TBitMemoryStream::Write(buffer, count);
    ++refused;
    return 0;
  }
  int refused = 0;
};

TEST(ZlibCodec, FullDestinationStopsTheOperationAtOnce) {
  const std::string text(10 * 1024 * 1024, 'x'), random = Random(1024 * 1024);
  TZlib zlib;
  for (bool inflating : {true, false}) {
    SCOPED_TRACE(inflating ? "Decompress" : "Compress");
    TBitMemoryStream source;
    FullStream destination;
    Load(source, inflating ? pngtest::Deflate(text) : random);
    EXPECT_THROW(inflating ? zlib.Decompress(source, destination)
                           : zlib.Compress(source, destination, Z_DEFAULT_COMPRESSION),
                 pngc::EMemoryError);
    EXPECT_LT(source.GetPosition(), source.GetSize());
    EXPECT_EQ(destination.refused, 1);
    EXPECT_LE(destination.GetSize(), kLimit + TZlib::kBufferSize);
    if (inflating) {
      EXPECT_TRUE(StartsWith(text, Content(destination)));
    }
  }
}

// Lets `allowed` allocations through, then fails every one after.
class FailingFrom {
 public:
  explicit FailingFrom(int allowed) {
    allowed_ = allowed;
    pngc::os::SetFaultHook(
        [](pngc::os::Call call) { return call == pngc::os::Call::kAllocate && allowed_-- <= 0; });
  }
  ~FailingFrom() { pngc::os::SetFaultHook(nullptr); }
  FailingFrom(const FailingFrom&) = delete;
  FailingFrom& operator=(const FailingFrom&) = delete;

 private:
  static inline int allowed_ = 0;
};

TEST(ZlibCodec, AllocationFailuresEndCleanly) {
  // Outputs well past the destination's first 10240 bytes, so that it grows.
  const std::string text = Prose(300000), random = Random(100000);
  TZlib reference;
  const std::string deflated = Compress(reference, random).out;
  for (bool inflating : {true, false}) {
    SCOPED_TRACE(inflating ? "Decompress" : "Compress");
    const std::string input = inflating ? pngtest::Deflate(text) : random;
    const std::string& expected = inflating ? text : deflated;
    // R: no record; M: out of memory inside the operation (zlib's own memory
    // or the destination's growth); D: done. zlib's Z_MEM_ERROR never comes
    // back as a result: the text would be lost without a word.
    std::string trace = "-";
    for (int allowed = 0; trace.back() != 'D' && allowed < 200; ++allowed) {
      TBitMemoryStream source, destination;
      Load(source, input);
      char step = 'R';
      std::int32_t code = 0;
      try {
        FailingFrom faults(allowed);
        TZlib zlib;
        step = 'M';
        code = inflating ? zlib.Decompress(source, destination)
                         : zlib.Compress(source, destination, Z_DEFAULT_COMPRESSION);
        step = 'D';
      } catch (const pngc::EMemoryError&) {
      }
      const std::string out = Content(destination);
      EXPECT_TRUE(StartsWith(expected, out)) << allowed;
      if (step == 'D') {
        EXPECT_EQ((Outcome{code, out}), (Outcome{inflating ? Z_OK : Z_STREAM_END, expected}));
      }
      trace += step;
    }
    EXPECT_TRUE(std::regex_match(trace, std::regex("-RM+D"))) << trace;
  }
}

}  // namespace
