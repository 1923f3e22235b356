// The DLL is a 32-bit program: size_t is 32 bits and the whole address
// space is 2 GiB. These cases only mean something there.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>

#include "stream/memory_error.h"
#include "stream/memory_stream.h"

namespace {

using pngc::TBitMemoryStream;

TEST(Platform32Bit, SizeTypesAreThirtyTwoBits) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "native 64-bit build";
  EXPECT_EQ(SIZE_MAX, 0xffffffffu);
  EXPECT_EQ(sizeof(std::size_t), 4u);
  EXPECT_EQ(sizeof(std::uintptr_t), 4u);
}

// A write that would end past 2^31 - 1 is refused before any size_t sum
// could wrap; a write that fits the arithmetic but not the address space
// fails with EMemoryError and leaves the stream as it was.
TEST(Platform32Bit, HugeWritesFailCleanly) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "native 64-bit build";
  TBitMemoryStream stream;
  const char bytes[4] = {1, 2, 3, 4};
  stream.WriteBuffer(bytes, 4);
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

  stream.Seek(kMax - 1, pngc::kFromBeginning);
  EXPECT_EQ(stream.Write(bytes, 2), 0);
  EXPECT_EQ(stream.GetSize(), 4);

  // 2^31 - 1 bytes do not fit beside the program in 2 GiB.
  stream.Seek(kMax - 1, pngc::kFromBeginning);
  EXPECT_THROW(stream.Write(bytes, 1), pngc::EMemoryError);
  EXPECT_EQ(stream.GetSize(), 4);
  EXPECT_EQ(stream.GetCapacity(), TBitMemoryStream::kInitialCapacity);
  EXPECT_EQ(std::memcmp(stream.GetMemory(), bytes, 4), 0);
}

}  // namespace
