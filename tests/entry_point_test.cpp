#include "plugin/entry_point.h"

#include <gtest/gtest.h>

namespace {

// Windows calls the entry point with reasons 0 to 3 (process detach, process
// attach, thread attach, thread detach); a FALSE on attach fails the load.
TEST(EntryPoint, AcceptsEveryReason) {
  for (DWORD reason :
       {DLL_PROCESS_DETACH, DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    EXPECT_EQ(DllMain(nullptr, reason, nullptr), TRUE) << reason;
  }
}

}  // namespace
