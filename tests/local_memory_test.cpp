// The local-memory calls through which the host receives its texts. The same
// test runs against KERNEL32 under Wine and against the native stand-ins, so
// that the stand-ins are held to what Windows does.
#include "platform/local_memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/os.h"

namespace {

TEST(LocalMemory, MoveableBlocksAreZeroedLockedAndFreed) {
  for (std::size_t size : {1u, 13u, 4096u, 1000000u}) {
    void* handle = pngc::os::AllocateLocal(size);
    ASSERT_NE(handle, nullptr) << size;
    EXPECT_EQ(LocalSize(static_cast<HLOCAL>(handle)), size);
    auto* bytes = static_cast<unsigned char*>(pngc::os::LockLocal(handle));
    ASSERT_NE(bytes, nullptr);
    for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(bytes[i], 0) << i;
    std::memset(bytes, 0xAB, size);
    pngc::os::UnlockLocal(handle);
    // The host locks it again and finds what was put there.
    auto* again = static_cast<unsigned char*>(LocalLock(static_cast<HLOCAL>(handle)));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again[size - 1], 0xAB);
    EXPECT_EQ(LocalUnlock(static_cast<HLOCAL>(handle)), FALSE) << "no lock left";
    EXPECT_EQ(LocalFree(static_cast<HLOCAL>(handle)), nullptr);
  }
}

// A moveable block of 0 bytes is "discarded": it has a handle but no memory.
TEST(LocalMemory, EmptyMoveableBlockCannotBeLocked) {
  void* handle = pngc::os::AllocateLocal(0);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(LocalSize(static_cast<HLOCAL>(handle)), 0u);
  EXPECT_EQ(pngc::os::LockLocal(handle), nullptr);
  EXPECT_EQ(LocalFree(static_cast<HLOCAL>(handle)), nullptr);
}

TEST(LocalMemory, FaultHookFailsAllocationAndLocking) {
  pngc::os::SetFaultHook([](pngc::os::Call call) { return call == pngc::os::Call::kLocalAlloc; });
  EXPECT_EQ(pngc::os::AllocateLocal(10), nullptr);
  pngc::os::SetFaultHook([](pngc::os::Call call) { return call == pngc::os::Call::kLocalLock; });
  void* handle = pngc::os::AllocateLocal(10);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(pngc::os::LockLocal(handle), nullptr);
  pngc::os::SetFaultHook(nullptr);
  pngc::os::FreeLocal(handle);
  pngc::os::FreeLocal(nullptr);  // ignored, as the host's cleanup relies on
}

}  // namespace
