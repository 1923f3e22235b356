// Byte comparisons for the GoogleTest suites, with an escaped excerpt where
// the bytes differ, and the text chunks the writer made as a decoder reads
// them. Only the suites include it: the fuzz targets and the benchmarks do
// not link GoogleTest.
#ifndef PNGCOMMENT_TESTS_SUPPORT_GTEST_BYTES_H
#define PNGCOMMENT_TESTS_SUPPORT_GTEST_BYTES_H

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>

#include "tests/support/png_builder.h"

namespace pngtest {

// The start of some bytes, escaped: texts here run to megabytes.
inline std::string Excerpt(const std::string& bytes) {
  const std::string more =
      bytes.size() > 40 ? "... (" + std::to_string(bytes.size()) + " bytes)" : "";
  return ::testing::PrintToString(bytes.substr(0, 40)) + more;
}

inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return ::testing::AssertionFailure()
         << "differ from byte " << at << ": " << Excerpt(got.substr(at)) << " against "
         << Excerpt(want.substr(at));
}

// A text chunk as a PNG decoder reads it, a zTXt's text inflated.
struct TextChunk {
  std::string type, keyword, text;
  bool operator==(const TextChunk& o) const {
    return type == o.type && keyword == o.keyword && text == o.text;
  }
};

inline std::ostream& operator<<(std::ostream& out, const TextChunk& c) {
  return out << c.type << " " << Excerpt(c.keyword) << " " << Excerpt(c.text);
}

// A text chunk the writer made: its CRC right, a keyword terminator, and a
// zTXt's method 0 and zlib stream at the default level, also for an empty
// text (Inflate throws on anything but a whole stream, which fails the test).
inline TextChunk DecodeWritten(const ParsedChunk& chunk) {
  EXPECT_TRUE(chunk.crc_ok) << chunk.type;
  const auto nul = chunk.data.find('\0');
  EXPECT_NE(nul, std::string::npos) << chunk.type << " without a keyword terminator";
  TextChunk out{chunk.type, chunk.data.substr(0, nul),
                nul < chunk.data.size() ? chunk.data.substr(nul + 1) : ""};
  if (chunk.type != "zTXt") return out;
  EXPECT_EQ(out.text.substr(0, 3), std::string("\0\x78\x9C", 3)) << "method 0, default level";
  out.text = Inflate(out.text.substr(out.text.empty() ? 0 : 1));
  return out;
}

// "Suite-Test" for the running test, a parameterised one's '/' made '_':
// a name for the files it makes.
inline std::string CurrentTestName() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "-" + test->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

}  // namespace pngtest

#endif
