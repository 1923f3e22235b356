// TBitMemoryStream as a byte container: capacity, positions, writes, block
// copies, and what is left behind when memory cannot be had.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

#include "platform/os.h"
#include "stream/memory_error.h"
#include "stream/memory_stream.h"

namespace {

using pngc::TBitMemoryStream;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kBlock = 61440;

// A period of 251, so that bytes taken from a wrong offset do not match.
Bytes Pattern(std::int32_t n, int seed = 0) {
  Bytes bytes(static_cast<std::size_t>(n));
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = (i + seed) % 251;
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Content(const TBitMemoryStream& stream) {
  const std::uint8_t* memory = stream.GetMemory();
  return memory == nullptr ? Bytes() : Bytes(memory, memory + stream.GetSize());
}

void Append(TBitMemoryStream& stream, const Bytes& bytes) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

// Size, position and capacity, compared in one go.
std::tuple<std::int32_t, std::int32_t, std::int32_t> State(const TBitMemoryStream& s) {
  return {s.GetSize(), s.GetPosition(), s.GetCapacity()};
}

template <typename It>
bool All(It begin, It end, std::uint8_t value) {
  return std::all_of(begin, end, [value](std::uint8_t b) { return b == value; });
}

// What a failed call must leave as it found it.
struct Snapshot {
  explicit Snapshot(const TBitMemoryStream& s)
      : size(s.GetSize()),
        position(s.GetPosition()),
        capacity(s.GetCapacity()),
        memory(s.GetMemory()),
        content(Content(s)) {}
  std::int32_t size, position, capacity;
  const std::uint8_t* memory;
  Bytes content;
};

void ExpectUnchanged(const Snapshot& before, const TBitMemoryStream& stream) {
  EXPECT_EQ(State(stream), std::make_tuple(before.size, before.position, before.capacity));
  EXPECT_EQ(stream.GetMemory(), before.memory);
  EXPECT_TRUE(Content(stream) == before.content) << "content changed";
}

// Lets `allowed` more allocations through and fails all later ones (growth
// retries a smaller request before giving up, so failing only one is not
// enough). The hook goes however the test ends.
class AllocationFaults {
 public:
  explicit AllocationFaults(int allowed) {
    remaining_ = allowed;
    pngc::os::SetFaultHook(
        [](pngc::os::Call call) { return call == pngc::os::Call::kAllocate && remaining_-- <= 0; });
  }
  ~AllocationFaults() { pngc::os::SetFaultHook(nullptr); }
  AllocationFaults(const AllocationFaults&) = delete;
  AllocationFaults& operator=(const AllocationFaults&) = delete;

 private:
  static inline int remaining_ = 0;
};

// Grown storage is uninitialised; this marks it, so that a byte that is never
// written cannot pass for a zero by luck.
class DirtyStream : public TBitMemoryStream {
 public:
  std::uint8_t* Realloc(std::int32_t capacity) override {
    const std::int32_t old_capacity = GetCapacity();
    std::uint8_t* memory = TBitMemoryStream::Realloc(capacity);
    if (memory != nullptr && capacity > old_capacity) {
      const auto size = static_cast<std::size_t>(capacity - old_capacity);
      // The storage past the content is poisoned under AddressSanitizer.
      ASAN_UNPOISON_MEMORY_REGION(memory + old_capacity, size);
      std::memset(memory + old_capacity, 0xAA, size);
      ASAN_POISON_MEMORY_REGION(memory + old_capacity, size);
    }
    return memory;
  }
};

// Records every Write's count, to see how CopyFrom splits a copy.
class RecordingStream : public TBitMemoryStream {
 public:
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    writes.push_back(count);
    return TBitMemoryStream::Write(buffer, count);
  }
  std::vector<std::int32_t> writes;
};

TEST(MemoryStreamTest, NewStreamHasStorageAndNothingToRead) {
  TBitMemoryStream stream;
  EXPECT_EQ(State(stream), std::make_tuple(0, 0, 10240));
  EXPECT_EQ(stream.GetBitsLeft(), 8);
  ASSERT_NE(stream.GetMemory(), nullptr);
  std::uint8_t buffer[10] = {};
  EXPECT_EQ(stream.Read(buffer, 10), 0);
  EXPECT_EQ(stream.GetPosition(), 0);
}

// Whatever the storage reserves behind it, the capacity seen from outside is
// exactly the furthest end written.
TEST(MemoryStreamTest, CapacityIsExactlyTheFurthestEnd) {
  TBitMemoryStream stream;
  const std::uint8_t* initial = stream.GetMemory();
  Bytes expected = Pattern(10240);
  Append(stream, expected);
  EXPECT_EQ(stream.GetCapacity(), 10240);
  EXPECT_EQ(stream.GetMemory(), initial);  // the initial storage was enough
  for (std::int32_t end = 10241; end <= 10300; ++end) {
    const auto byte = static_cast<std::uint8_t>(end * 7);
    stream.WriteBuffer(&byte, 1);
    expected.push_back(byte);
    ASSERT_EQ(State(stream), std::make_tuple(end, end, end));
  }
  const Bytes big = Pattern(100000, 5);
  Append(stream, big);
  EXPECT_EQ(stream.GetCapacity(), 110300);
  EXPECT_TRUE(Content(stream) == Concat(expected, big));
}

TEST(MemoryStreamTest, ClearDropsTheStorageAndTheNextWriteTakesWhatItNeeds) {
  TBitMemoryStream stream;
  Append(stream, Pattern(20));
  stream.Seek(0, pngc::kFromBeginning);
  stream.ReadBits(3);
  stream.Clear();
  EXPECT_EQ(State(stream), std::make_tuple(0, 0, 0));
  EXPECT_EQ(stream.GetMemory(), nullptr);
  EXPECT_EQ(stream.GetBitsLeft(), 8);
  const Bytes five = Pattern(5, 9);
  Append(stream, five);
  EXPECT_EQ(State(stream), std::make_tuple(5, 5, 5));
  EXPECT_TRUE(Content(stream) == five);
}

TEST(MemoryStreamTest, RefusedWriteChangesNothing) {
  struct Case {
    const char* name;
    std::int32_t position, count;
  };
  const Case cases[] = {
      {"count 0", 1, 0},
      {"count -1", 1, -1},
      {"count INT32_MIN", 1, kMin},
      {"negative position", -1, 1},
      {"end one past INT32_MAX", kMax, 1},
      {"end two past INT32_MAX", kMax - 1, 3},
      {"huge count", 1000, kMax},
  };
  const Bytes data = Pattern(8);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitMemoryStream stream;
    Append(stream, Pattern(3, 100));
    stream.Seek(c.position, pngc::kFromBeginning);
    const Snapshot before(stream);
    EXPECT_EQ(stream.Write(data.data(), c.count), 0);
    ExpectUnchanged(before, stream);
  }
}

TEST(MemoryStreamTest, SeekWrapsAsThirtyTwoBitArithmetic) {
  struct Case {
    std::int32_t start, offset;
    std::uint16_t origin;
    std::int32_t expected;
  };
  const Case cases[] = {
      {0, 5, 0, 5},           {2, -1, 0, -1},         {1, 2, 7, 1},       {0, -1, 2, 2},
      {1, 1, 1, 2},           {1, -3, 1, -2},         {kMax, 1, 1, kMin}, {kMin, -1, 1, kMax},
      {0, kMax, 2, kMin + 2}, {0, kMin, 2, kMin + 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "from " << c.start << ": " << c.offset << ", " << c.origin);
    TBitMemoryStream stream;
    Append(stream, {1, 2, 3});
    stream.Seek(c.start, pngc::kFromBeginning);
    EXPECT_EQ(stream.Seek(c.offset, c.origin), c.expected);
    EXPECT_EQ(State(stream), std::make_tuple(3, c.expected, 10240));
  }
}

TEST(MemoryStreamTest, ReadTakesWhatThereIsAtThePosition) {
  TBitMemoryStream stream;
  Append(stream, {1, 2, 3});
  std::uint8_t buffer[4] = {9, 9, 9, 9};
  for (const std::int32_t position : {5, 3, -1}) {
    stream.Seek(position, pngc::kFromBeginning);
    EXPECT_EQ(stream.Read(buffer, 1), 0);
    EXPECT_EQ(stream.GetPosition(), position);
  }
  stream.Seek(1, pngc::kFromBeginning);
  EXPECT_EQ(stream.Read(buffer, -1), 0);
  // A short read copies what there is and leaves the rest of the buffer.
  EXPECT_EQ(stream.Read(buffer, 4), 2);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{2, 3, 9, 9}));
  EXPECT_EQ(stream.GetPosition(), 3);
}

TEST(MemoryStreamTest, WritePastTheEndZeroFillsTheGap) {
  struct Case {
    const char* name;
    bool clear_first;
    std::int32_t content_size, gap_end;
  };
  const Case cases[] = {
      {"beyond the initial storage", false, 10, 20000},
      {"after Clear", true, 0, 100},
      {"within what growth reserved", true, 100, 140},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DirtyStream stream;
    if (c.clear_first) stream.Clear();
    Append(stream, Pattern(c.content_size, 1));
    stream.Seek(c.gap_end, pngc::kFromBeginning);
    const std::uint8_t byte = 0x77;
    EXPECT_EQ(stream.Write(&byte, 1), 1);
    const std::int32_t end = c.gap_end + 1;
    EXPECT_EQ(State(stream), std::make_tuple(end, end, std::max(end, c.clear_first ? 0 : 10240)));
    const Bytes content = Content(stream);
    EXPECT_TRUE(Bytes(content.begin(), content.begin() + c.content_size) ==
                Pattern(c.content_size, 1));
    EXPECT_TRUE(All(content.begin() + c.content_size, content.end() - 1, 0));
    EXPECT_EQ(content.back(), 0x77);
  }
}

// Growing may move the storage; the bytes must come from where they are now.
// Reserve makes room without changing what can be seen: writes up to the
// reserved size keep the storage where it is.
TEST(MemoryStreamTest, ReserveMakesRoomBehindTheCapacity) {
  TBitMemoryStream stream;
  Append(stream, Pattern(100, 1));
  stream.Reserve(1 << 20);
  EXPECT_EQ(State(stream), std::make_tuple(100, 100, 10240));
  const std::uint8_t* memory = stream.GetMemory();
  Append(stream, Pattern((1 << 20) - 100, 2));
  EXPECT_EQ(stream.GetMemory(), memory);
  EXPECT_EQ(stream.GetCapacity(), 1 << 20);
  EXPECT_TRUE(Content(stream) == Concat(Pattern(100, 1), Pattern((1 << 20) - 100, 2)));
}

TEST(MemoryStreamTest, WriteFromItsOwnStorage) {
  TBitMemoryStream stream;
  const Bytes first = Pattern(10240);
  Append(stream, first);
  stream.WriteBuffer(stream.GetMemory() + 7, 10233);
  EXPECT_TRUE(Content(stream) == Concat(first, Bytes(first.begin() + 7, first.end())));
  // Overlapping ranges inside the content copy as if through a buffer.
  TBitMemoryStream small;
  Append(small, Pattern(10));
  small.Seek(2, pngc::kFromBeginning);
  EXPECT_EQ(small.Write(small.GetMemory(), 5), 5);
  EXPECT_EQ(Content(small), (Bytes{0, 1, 0, 1, 2, 3, 4, 7, 8, 9}));
}

TEST(MemoryStreamTest, SetPositionClampsToTheContent) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {{-5, 0}, {kMin, 0}, {0, 0},   {2, 2},
                                                         {3, 3},  {13, 3},   {kMax, 3}};
  for (const auto& [requested, expected] : cases) {
    SCOPED_TRACE(requested);
    TBitMemoryStream stream;
    Append(stream, {1, 2, 3});
    stream.Seek(1, pngc::kFromBeginning);
    stream.SetPosition(requested);
    EXPECT_EQ(stream.GetPosition(), expected);
  }
}

TEST(MemoryStreamTest, CopyFromZeroCountTakesTheWholeSourceFromItsStart) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {{0, 0},  {5, 3},      {5, 9},
                                                         {5, -4}, {kBlock, 7}, {kBlock + 1, 100}};
  for (const auto& [size, position] : cases) {
    SCOPED_TRACE(testing::Message() << size << " bytes at " << position);
    TBitMemoryStream source;
    const Bytes bytes = Pattern(size, 1);
    Append(source, bytes);
    source.Seek(position, pngc::kFromBeginning);
    RecordingStream dest;
    Append(dest, {0xEE, 0xEE});
    dest.writes.clear();
    EXPECT_EQ(dest.CopyFrom(source, 0), size);
    EXPECT_TRUE(Content(dest) == Concat({0xEE, 0xEE}, bytes));
    EXPECT_EQ(source.GetPosition(), size);
    // The transfer block is bounded: 61441 bytes go as 61440 and then 1.
    std::vector<std::int32_t> blocks;
    for (std::int32_t left = size; left > 0; left -= blocks.back()) {
      blocks.push_back(std::min(left, kBlock));
    }
    EXPECT_EQ(dest.writes, blocks);
  }
}

// A source left inside a byte by ReadBits is still copied from its first
// byte whole.
TEST(MemoryStreamTest, CopyFromZeroCountIgnoresAPartlyReadByte) {
  TBitMemoryStream source;
  Append(source, {0xA5, 0x3C});
  source.Seek(0, pngc::kFromBeginning);
  source.ReadBits(3);
  TBitMemoryStream dest;
  EXPECT_EQ(dest.CopyFrom(source, 0), 2);
  EXPECT_TRUE(Content(dest) == Bytes({0xA5, 0x3C}));
}

TEST(MemoryStreamTest, CopyFromCountReadsFromTheSourcePosition) {
  TBitMemoryStream source;
  const Bytes b = Pattern(10, 1);
  Append(source, b);
  source.Seek(2, pngc::kFromBeginning);
  TBitMemoryStream dest;
  Append(dest, {0xEE});
  EXPECT_EQ(dest.CopyFrom(source, 5), 5);
  EXPECT_EQ(source.GetPosition(), 7);
  // Like ReadBuffer, it starts after a partly read byte.
  source.ReadBits(3);
  EXPECT_EQ(dest.CopyFrom(source, 2), 2);
  EXPECT_EQ(Content(dest), (Bytes{0xEE, b[2], b[3], b[4], b[5], b[6], b[8], b[9]}));
  for (const std::int32_t count : {-1, kMin}) {
    const Snapshot before(dest);
    EXPECT_EQ(dest.CopyFrom(source, count), 0);
    ExpectUnchanged(before, dest);
    EXPECT_EQ(source.GetPosition(), 10);
  }
}

// Bytes the source lacks arrive as zeros, never as what a previous block held.
TEST(MemoryStreamTest, CopyFromZeroFillsWhatTheSourceLacks) {
  struct Case {
    const char* name;
    std::int32_t source_size, source_position, count;
  };
  const Case cases[] = {
      {"short single block", 3, 1, 10},
      {"short second block", kBlock + 10, 0, kBlock + 100},
      {"source position past its end", 3, 8, 4},
      {"negative source position", 3, -2, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitMemoryStream source;
    Append(source, Bytes(static_cast<std::size_t>(c.source_size), 0xFF));
    source.Seek(c.source_position, pngc::kFromBeginning);
    TBitMemoryStream dest;
    EXPECT_EQ(dest.CopyFrom(source, c.count), c.count);
    ASSERT_EQ(dest.GetSize(), c.count);
    const std::int32_t present =
        c.source_position < 0 ? 0 : std::clamp(c.source_size - c.source_position, 0, c.count);
    const Bytes content = Content(dest);
    EXPECT_TRUE(All(content.begin(), content.begin() + present, 0xFF));
    EXPECT_TRUE(All(content.begin() + present, content.end(), 0));
  }
}

// Appends past the capacity must not each move the content: the storage
// behind the exact capacity grows by half again, so N appends reallocate
// O(log N) times (exact growth would take N reallocations). Also when
// memory is short and the first, generous request of every growth fails:
// the smaller one that follows still grows by a quarter.
TEST(StreamAllocationTest, AppendsReallocateLogarithmicallyOften) {
  static int allocations;
  static bool short_of_memory, refused_last;
  for (const bool short_memory : {false, true}) {
    for (const std::int32_t pieces : {1000, 100000, 1000000}) {
      TBitMemoryStream stream;
      short_of_memory = short_memory;
      refused_last = false;
      allocations = 0;
      pngc::os::SetFaultHook([](pngc::os::Call call) {
        if (call != pngc::os::Call::kAllocate) return false;
        refused_last = short_of_memory && !refused_last;
        allocations += !refused_last;
        return refused_last;
      });
      const std::uint8_t byte = 7;
      for (std::int32_t i = 0; i < pieces; ++i) stream.WriteBuffer(&byte, 1);
      pngc::os::SetFaultHook(nullptr);
      EXPECT_EQ(stream.GetCapacity(), std::max(pieces, TBitMemoryStream::kInitialCapacity));
      // log base 1.5 of a million is 34; log base 1.25, 62.
      const double growth = short_memory ? 1.25 : 1.5;
      EXPECT_LE(allocations, 2 + static_cast<int>(std::log(pieces) / std::log(growth)))
          << pieces << (short_memory ? " pieces, memory short" : " pieces");
    }
  }
}

TEST(StreamAllocationTest, ConstructionThrowsWhenStorageCannotBeHad) {
  AllocationFaults faults(0);
  EXPECT_THROW({ TBitMemoryStream stream; }, pngc::EMemoryError);
}

TEST(StreamAllocationTest, FailedGrowthLeavesTheStreamAsItWas) {
  struct Case {
    const char* name;
    bool clear_first;
    std::int32_t seek_to, count;
  };
  const Case cases[] = {
      {"append past the initial storage", false, 10240, 1},
      {"write after a seek far past the end", false, 50000, 4},
      {"first write after Clear", true, 0, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TBitMemoryStream stream;
    Append(stream, Pattern(10240));
    if (c.clear_first) stream.Clear();
    stream.Seek(c.seek_to, pngc::kFromBeginning);
    const Snapshot before(stream);
    const Bytes data = Pattern(c.count, 3);
    {
      AllocationFaults faults(0);
      EXPECT_THROW(stream.Write(data.data(), c.count), pngc::EMemoryError);
    }
    ExpectUnchanged(before, stream);
    EXPECT_EQ(stream.Write(data.data(), c.count), c.count);  // usable once memory is back
  }
}

// Fails each allocation of a copy in turn until the copy goes through, and
// checks after every failure that the destination is as it was (LeakSanitizer
// sees that the transfer block is freed on the way out) and, if asked, that
// the source has not moved. Returns the number of failures.
int CopyUnderFaults(const Bytes& from, std::int32_t position, std::int32_t count, const Bytes& to,
                    bool check_source) {
  for (int allowed = 0; allowed < 10; ++allowed) {
    SCOPED_TRACE(testing::Message() << allowed << " allocations allowed");
    TBitMemoryStream source, dest;
    Append(source, from);
    source.Seek(position, pngc::kFromBeginning);
    Append(dest, to);
    const Snapshot before(dest);
    try {
      AllocationFaults faults(allowed);
      EXPECT_EQ(dest.CopyFrom(source, count), count != 0 ? count : std::int32_t(from.size()));
    } catch (const pngc::EMemoryError&) {
      ExpectUnchanged(before, dest);
      if (check_source) {
        EXPECT_EQ(source.GetPosition(), position);
      }
      continue;
    }
    return allowed;
  }
  ADD_FAILURE() << "the copy never went through";
  return 0;
}

TEST(StreamAllocationTest, FailedCopyFromLeavesTheDestinationAsItWas) {
  // The destination is full: the transfer block and then the growth can fail.
  EXPECT_GE(CopyUnderFaults(Pattern(20000, 1), 0, 20000, Pattern(10240, 2), false), 2);
}

// A copy that fails is all or nothing: no block of it is appended and the
// source is not moved. It can fail only twice, for the transfer block and
// for the destination's one growth, before it reads anything.
TEST(StreamAllocationTest, FailedCopyFromLeavesBothStreamsAsTheyWere) {
  EXPECT_EQ(CopyUnderFaults(Pattern(3 * kBlock, 1), 100, 0, {}, true), 2);
}

#if defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer the storage past the content is poisoned, so that
// the hostile-file tests see any read beyond the data.
TEST(MemoryStreamDeathTest, ReadPastTheContentIsReported) {
  TBitMemoryStream stream;
  stream.WriteBuffer("abc", 3);
  const volatile std::uint8_t* memory = stream.GetMemory();
  EXPECT_EQ(memory[2], 'c');
  EXPECT_DEATH((void)memory[3], "use-after-poison");
}
#endif

}  // namespace
