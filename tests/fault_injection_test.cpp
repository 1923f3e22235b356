// Every allocation and every system call that GetComment and WriteComment
// make, failed in turn: the call must end cleanly (-4 for memory, -5 for
// the file; LeakSanitizer checks that nothing leaks), hand nothing over and
// leave the target file exactly as it was; or, where the plug-in could do
// without what failed, give exactly what the call gives when nothing fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <set>
#include <string>

#include "platform/os.h"
#include "plugin/pngcomment.h"
#include "tests/support/files.h"
#include "tests/support/gtest_bytes.h"
#include "tests/support/local_blocks.h"
#include "tests/support/png_builder.h"

namespace {

// Allocations left before the next one fails; negative: none fails.
int g_allocations_left = -1;

bool NextAllocationFails() { return g_allocations_left >= 0 && g_allocations_left-- == 0; }

}  // namespace

// The objects (streams, codec, strings) come from operator new: it fails in
// step with the byte buffers, so that every allocation of a call counts. Its
// blocks come from malloc, so free is the matching release, whatever GCC
// infers from the names.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  void* block = NextAllocationFails() ? nullptr : std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace {

using namespace pngtest;

// Fails the allocation after the `allowed` next ones, for one scope.
class FailingAllocations {
 public:
  explicit FailingAllocations(int allowed) {
    g_allocations_left = allowed;
    pngc::os::SetFaultHook([](pngc::os::Call call) {
      return call == pngc::os::Call::kAllocate && NextAllocationFails();
    });
  }
  ~FailingAllocations() {
    g_allocations_left = -1;
    pngc::os::SetFaultHook(nullptr);
  }
  bool exhausted() const { return g_allocations_left < 0; }
};

const std::string& Image() {
  static const std::string png =
      Png({Ihdr(4, 4), Text("Title", "t"), Ztxt("Long", std::string(20000, 'z') + "\nend"),
           Idat(70000), Text("After", "a"), Iend()});
  return png;
}

const std::string kComment =
    "[Title]\r\nnew\r\n<Description>\r\n" + std::string(9000, 'd') + "\r\n\r\nmore\r\n";

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(target_, "the user's file");
    Image();  // built now, not while allocations fail
  }
  void TearDown() override { pngc::os::SetFaultHook(nullptr); }
  std::int32_t Read(void** comment, void** summary) {
    return GetComment(0, reinterpret_cast<const std::uint8_t*>(Image().data()),
                      static_cast<std::int32_t>(Image().size()), comment, summary);
  }
  std::int32_t Write() {
    return WriteComment(0, target_.c_str(), reinterpret_cast<const std::uint8_t*>(Image().data()),
                        static_cast<std::int32_t>(Image().size()), kComment.data(),
                        static_cast<std::int32_t>(kComment.size()));
  }
  void ExpectUntouched() {
    EXPECT_TRUE(ReadFile(target_) == "the user's file") << "the target was changed";
    EXPECT_EQ(Listing(folder_.path()), std::set<std::string>{"image.png"})
        << "no temporary file left";
  }

  ScratchFolder folder_{"pngc-" + CurrentTestName()};
  std::string target_ = (folder_ / "image.png").string();
};

TEST_F(FaultInjection, EveryAllocationOfAReadFailsCleanly) {
  void* const untouched = reinterpret_cast<void*>(0x5EED);
  // What the read hands over when nothing fails.
  void* first_comment = untouched;
  void* first_summary = untouched;
  ASSERT_EQ(Read(&first_comment, &first_summary), 0);
  ASSERT_TRUE(first_comment != untouched && first_summary != untouched);
  const std::string comment_text = BlockBytes(static_cast<HLOCAL>(first_comment));
  const std::string summary_text = BlockBytes(static_cast<HLOCAL>(first_summary));
  LocalFree(static_cast<HLOCAL>(first_comment));
  LocalFree(static_cast<HLOCAL>(first_summary));
  ASSERT_NE(comment_text.find("<Long>\r\nzzz"), std::string::npos) << "the zTXt is read";
  int failures = 0;
  for (int allowed = 0;; ++allowed) {
    ASSERT_LT(allowed, 10000) << "the read never succeeded";
    void* comment = untouched;
    void* summary = untouched;
    std::int32_t result;
    bool exhausted;
    {
      FailingAllocations faults(allowed);
      result = Read(&comment, &summary);
      exhausted = faults.exhausted();
    }
    if (!exhausted) {  // no failure was injected: the read is complete
      EXPECT_EQ(result, 0);
      LocalFree(static_cast<HLOCAL>(comment));
      LocalFree(static_cast<HLOCAL>(summary));
      break;
    }
    // A stream that cannot grow generously retries at the exact size, so a
    // single failure may be absorbed, and then the read is the same as
    // without it; otherwise nothing is handed over.
    if (result == 0) {
      ASSERT_TRUE(comment != untouched && summary != untouched) << allowed;
      EXPECT_TRUE(SameBytes(BlockBytes(static_cast<HLOCAL>(comment)), comment_text)) << allowed;
      EXPECT_TRUE(SameBytes(BlockBytes(static_cast<HLOCAL>(summary)), summary_text)) << allowed;
      LocalFree(static_cast<HLOCAL>(comment));
      LocalFree(static_cast<HLOCAL>(summary));
      continue;
    }
    ++failures;
    EXPECT_EQ(result, -4) << allowed;
    EXPECT_EQ(comment, untouched) << allowed;
    EXPECT_EQ(summary, untouched) << allowed;
  }
  EXPECT_GT(failures, 10) << "a read of text and zTXt allocates more than this";
}

TEST_F(FaultInjection, EveryAllocationOfAWriteFailsBeforeTheFileIsTouched) {
  // What the write makes when nothing fails.
  ASSERT_EQ(Write(), 0);
  const std::string written = ReadFile(target_);
  ASSERT_GT(written.size(), Image().size() / 2) << "the image is written";
  WriteFile(target_, "the user's file");
  int failures = 0;
  for (int allowed = 0;; ++allowed) {
    ASSERT_LT(allowed, 10000) << "the write never succeeded";
    std::int32_t result;
    bool exhausted;
    {
      FailingAllocations faults(allowed);
      result = Write();
      exhausted = faults.exhausted();
    }
    if (!exhausted) {
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(SameBytes(ReadFile(target_), written));
      break;
    }
    if (result == 0) {  // a failure absorbed by the retry at the exact size
      EXPECT_TRUE(SameBytes(ReadFile(target_), written)) << allowed;
      WriteFile(target_, "the user's file");
      continue;
    }
    ++failures;
    EXPECT_EQ(result, -4) << allowed;
    ExpectUntouched();
  }
  EXPECT_GT(failures, 10);
}

// The system calls, each failing at its first and at its second use.
TEST_F(FaultInjection, EverySystemCallFailsCleanly) {
  static pngc::os::Call failing;
  static int uses;
  static int fail_at;
  const auto hook = [](pngc::os::Call call) { return call == failing && ++uses == fail_at; };
  using pngc::os::Call;
  for (Call call : {Call::kLocalAlloc, Call::kLocalLock}) {
    for (fail_at = 1; fail_at <= 2; ++fail_at) {
      failing = call;
      uses = 0;
      void* const untouched = reinterpret_cast<void*>(0x5EED);
      void* comment = untouched;
      void* summary = untouched;
      pngc::os::SetFaultHook(hook);
      EXPECT_EQ(Read(&comment, &summary), 0);
      pngc::os::SetFaultHook(nullptr);
      // The block that failed is not handed over; the other one is.
      EXPECT_EQ(summary == untouched, fail_at == 1);
      EXPECT_EQ(comment == untouched, fail_at == 2);
      if (summary != untouched) LocalFree(static_cast<HLOCAL>(summary));
      if (comment != untouched) LocalFree(static_cast<HLOCAL>(comment));
    }
  }
  for (Call call : {Call::kCreateFile, Call::kWriteFile, Call::kKeepAttributes, Call::kFlushFile,
                    Call::kReplaceFile}) {
    failing = call;
    uses = 0;
    fail_at = 1;
    pngc::os::SetFaultHook(hook);
    EXPECT_EQ(Write(), -5) << static_cast<int>(call);
    pngc::os::SetFaultHook(nullptr);
    ExpectUntouched();
  }
}

}  // namespace
