// The bit reader, and the big-endian words of the PNG format, on a stream.
#include "stream/big_endian.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "stream/memory_stream.h"

namespace {

using pngc::TBitMemoryStream;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

// Writes `bytes` and rewinds, ready to be read.
void Fill(TBitMemoryStream& stream, const Bytes& bytes) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  stream.Seek(0, pngc::kFromBeginning);
}

Bytes Content(const TBitMemoryStream& stream) {
  return Bytes(stream.GetMemory(), stream.GetMemory() + stream.GetSize());
}

TEST(ReadBitsTest, TakesBitsMostSignificantFirstAcrossBytes) {
  struct Step {
    std::int32_t count, value, bits_left, position;
  };
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"nibble, two straddled halves, nibble",
       {0xA5, 0x3C},
       {{4, 0xA, 4, 0}, {8, 0x53, 4, 1}, {4, 0xC, 8, 2}}},
      // Counts outside 1 to 32 give 0 and move nothing, also inside a byte.
      {"counts out of range",
       {0xA5, 0x3C},
       {{0, 0, 8, 0},
        {3, 5, 5, 0},
        {0, 0, 5, 0},
        {33, 0, 5, 0},
        {-1, 0, 5, 0},
        {kMin, 0, 5, 0},
        {kMax, 0, 5, 0},
        {5, 5, 8, 1}}},
      {"single bits and small groups",
       {0xA5},
       {{1, 1, 7, 0}, {1, 0, 6, 0}, {1, 1, 5, 0}, {2, 0, 3, 0}, {3, 5, 8, 1}}},
      {"whole bytes", {0xA5, 0x3C}, {{8, 0xA5, 8, 1}, {8, 0x3C, 8, 2}}},
      {"3 then 13", {0xA5, 0x3C}, {{3, 5, 5, 0}, {13, 0x53C, 8, 2}}},
      {"32 bits from the middle of a byte",
       {0x12, 0x34, 0x56, 0x78, 0x9A},
       {{4, 1, 4, 0}, {32, 0x23456789, 4, 4}, {4, 0xA, 8, 5}}},
      {"32 bits with the top bit set", {0xF0, 0, 0, 1}, {{32, -268435455, 8, 4}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitMemoryStream stream;
    Fill(stream, c.bytes);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "step " << i);
      const Step& step = c.steps[i];
      EXPECT_EQ(stream.ReadBits(step.count), step.value);
      EXPECT_EQ(stream.GetBitsLeft(), step.bits_left);
      EXPECT_EQ(stream.GetPosition(), step.position);
    }
  }
}

TEST(ReadBitsTest, EndOfContentYieldsTheBitsReadSoFar) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::int32_t first_read, count, expected, position;
  };
  const Case cases[] = {
      {"twelve bits of one byte", {0xA5}, 0, 12, 0xA5, 1},
      {"32 bits after a nibble", {0xA5, 0x3C}, 4, 32, 0x53C, 2},
      {"nothing left", {0xA5}, 8, 5, 0, 1},
      {"empty stream", {}, 0, 1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitMemoryStream stream;
    Fill(stream, c.bytes);
    stream.ReadBits(c.first_read);
    EXPECT_EQ(stream.ReadBits(c.count), c.expected);
    EXPECT_EQ(stream.GetBitsLeft(), 8);
    EXPECT_EQ(stream.GetPosition(), c.position);
  }
  // Positions outside the content read nothing (and touch no memory there).
  TBitMemoryStream stream;
  Fill(stream, {0xA5});
  for (const std::int32_t position : {-1, 5}) {
    stream.Seek(position, pngc::kFromBeginning);
    EXPECT_EQ(stream.ReadBits(8), 0);
    EXPECT_EQ(stream.GetPosition(), position);
  }
}

// ReadBuffer (and so ReadBE32) skips the rest of a partly read byte; Read
// starts at that byte. Only whole-byte operations end at a byte boundary.
TEST(ReadBitsTest, ByteOperationsAndThePartlyReadByte) {
  struct Case {
    const char* name;
    std::function<void(TBitMemoryStream&)> operation;
    std::int32_t bits_left, position;
    std::uint8_t byte;  // after the operation
  };
  std::uint8_t byte = 0;
  const Case cases[] = {
      {"Seek by 0 from the position", [](auto& s) { s.Seek(0, pngc::kFromCurrent); }, 8, 0, 0x11},
      {"Seek with an unknown origin", [](auto& s) { s.Seek(1, 7); }, 8, 0, 0x11},
      {"WriteBuffer", [&](auto& s) { s.WriteBuffer(&byte, 1); }, 8, 1, 0x11},
      {"refused WriteBuffer", [&](auto& s) { s.WriteBuffer(&byte, -1); }, 8, 0, 0x11},
      {"ReadBuffer", [&](auto& s) { s.ReadBuffer(&byte, 1); }, 8, 2, 0x3C},
      {"ReadBuffer of nothing", [&](auto& s) { s.ReadBuffer(&byte, 0); }, 5, 0, 0x11},
      {"WriteBuffer of nothing", [&](auto& s) { s.WriteBuffer(&byte, 0); }, 5, 0, 0x11},
      {"Read", [&](auto& s) { s.Read(&byte, 1); }, 5, 1, 0xA5},
      {"Write", [&](auto& s) { s.Write(&byte, 1); }, 5, 1, 0x11},
      {"SetPosition", [](auto& s) { s.SetPosition(1); }, 5, 1, 0x11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitMemoryStream stream;
    Fill(stream, {0xA5, 0x3C});
    stream.ReadBits(3);
    byte = 0x11;
    c.operation(stream);
    EXPECT_EQ(stream.GetBitsLeft(), c.bits_left);
    EXPECT_EQ(stream.GetPosition(), c.position);
    EXPECT_EQ(byte, c.byte);
  }
}

TEST(BigEndianTest, ReadBE32TakesTheFirstByteAsMostSignificant) {
  struct Case {
    Bytes bytes;
    std::int32_t expected, position;
  };
  const Case cases[] = {
      {{0, 0, 0, 0x0D}, 13, 4},
      {{0x12, 0x34, 0x56, 0x78, 0x9A}, 0x12345678, 4},
      {{0x80, 0, 0, 0}, kMin, 4},
      {{0xFF, 0xFF, 0xFF, 0xFE}, -2, 4},
      // Bytes missing at the end count as zeros.
      {{0x12, 0x34, 0x56}, 0x12345600, 3},
      {{0x80}, kMin, 1},
      {{}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes.size() << " bytes, expecting " << c.expected);
    TBitMemoryStream stream;
    Fill(stream, c.bytes);
    EXPECT_EQ(pngc::ReadBE32(stream), c.expected);
    EXPECT_EQ(stream.GetPosition(), c.position);
  }
  // Inside a byte, the rest of that byte is skipped first.
  TBitMemoryStream stream;
  Fill(stream, {0xA5, 0, 0, 0, 0x0D});
  stream.ReadBits(1);
  EXPECT_EQ(pngc::ReadBE32(stream), 13);
}

TEST(BigEndianTest, WriteBE32WritesMostSignificantFirstAtThePosition) {
  struct Case {
    std::uint32_t value;
    Bytes bytes;
  };
  const Case cases[] = {
      {13, {0, 0, 0, 0x0D}},
      {0x12345678, {0x12, 0x34, 0x56, 0x78}},
      {0x80000000, {0x80, 0, 0, 0}},
      {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TBitMemoryStream stream;
    Fill(stream, {0xEE});
    stream.Seek(0, pngc::kFromEnd);
    pngc::WriteBE32(stream, c.value);
    EXPECT_EQ(Content(stream), (Bytes{0xEE, c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3]}));
    EXPECT_EQ(stream.GetPosition(), 5);
    stream.Seek(1, pngc::kFromBeginning);
    EXPECT_EQ(pngc::ReadBE32(stream), static_cast<std::int32_t>(c.value));
  }
}

}  // namespace
