// The plug-in as a host meets it: the library loaded at run time and every
// export called through a pointer looked up by name.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "tools/plugin_loader.h"
#include "tools/version_info.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(library_.loaded()) << "cannot load " << PNGC_LIBRARY_NAME; }

  PluginLibrary library_{PNGC_LIBRARY_NAME};
};

TEST_F(HostTest, ExportsTheFiveFunctionsByTheirPlainNames) {
  for (const char* name :
       {"GetPluginInfo", "ConfigurationDlg", "IsSupported", "GetComment", "WriteComment"}) {
    EXPECT_NE(library_.Find(name), nullptr) << name;
  }
  // stdcall decorations stay inside the library.
  for (const char* name : {"GetPluginInfo@12", "_GetPluginInfo@12", "_IsSupported@8"}) {
    EXPECT_EQ(library_.Find(name), nullptr) << name;
  }
}

TEST_F(HostTest, GetPluginInfoCopiesEachStringWithItsTerminator) {
  auto get_info = library_.Get<GetPluginInfoFn>("GetPluginInfo");
  ASSERT_NE(get_info, nullptr);
  const struct {
    std::int32_t index;
    const char* expected;  // null: the description, checked apart
  } cases[] = {{0, "CPI1"}, {1, nullptr}, {2, "*.png"}, {3, "PNG Image (ZLib Text)"}};
  for (const auto& c : cases) {
    std::vector<char> buffer(512, '\x7F');
    // The length argument does not limit the copy.
    const std::int32_t length = get_info(c.index, buffer.data(), 0);
    ASSERT_GT(length, 0) << c.index;
    EXPECT_EQ(buffer[length], '\0') << c.index;
    EXPECT_EQ(std::strlen(buffer.data()), static_cast<std::size_t>(length)) << c.index;
    EXPECT_EQ(buffer[length + 1], '\x7F') << "wrote past the terminator, index " << c.index;
    if (c.expected != nullptr) {
      EXPECT_STREQ(buffer.data(), c.expected);
    }
  }
  std::vector<char> description(512);
  const std::int32_t length = get_info(1, description.data(), 512);
  EXPECT_NE(std::string(description.data(), length).find("PNG"), std::string::npos);
  EXPECT_LT(length, 80) << "hosts allot small buffers for the description";
}

TEST_F(HostTest, GetPluginInfoLeavesTheBufferAloneOutOfRange) {
  auto get_info = library_.Get<GetPluginInfoFn>("GetPluginInfo");
  ASSERT_NE(get_info, nullptr);
  for (std::int32_t index : {-1, 4, 5, INT_MIN, INT_MAX}) {
    char buffer[16];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(get_info(index, buffer, sizeof buffer), 0) << index;
    for (char byte : buffer) ASSERT_EQ(byte, 0x5A) << index;
  }
  EXPECT_EQ(get_info(0, nullptr, 0), 0) << "a null buffer is not written through";
}

TEST_F(HostTest, ConfigurationDlgAnswersOnlyTheQuery) {
  auto configure = library_.Get<ConfigurationDlgFn>("ConfigurationDlg");
  ASSERT_NE(configure, nullptr);
  // Request 0 opens a modal box; it is not run here.
  const struct {
    std::int32_t request, result;
  } cases[] = {{2, 1}, {1, -6}, {3, -6}, {-1, -6}, {INT_MIN, -6}, {INT_MAX, -6}};
  for (const auto& c : cases) EXPECT_EQ(configure(nullptr, c.request), c.result) << c.request;
}

TEST_F(HostTest, IsSupportedComparesTheEightSignatureBytes) {
  auto is_supported = library_.Get<IsSupportedFn>("IsSupported");
  ASSERT_NE(is_supported, nullptr);
  char data[32];
  std::memcpy(data, kSignature, 8);
  std::memset(data + 8, 0xEE, sizeof data - 8);  // anything may follow
  EXPECT_EQ(is_supported(data, 0), 0);
  for (int i = 0; i < 8; ++i) {
    for (int delta : {1, 0x80}) {
      char changed[8];
      std::memcpy(changed, kSignature, 8);
      changed[i] = static_cast<char>(changed[i] ^ delta);
      EXPECT_EQ(is_supported(changed, 0), -1) << "byte " << i;
    }
  }
  char zeroed_eof[8];
  std::memcpy(zeroed_eof, kSignature, 8);
  zeroed_eof[6] = 0;  // 0x1A replaced by 0x00
  EXPECT_EQ(is_supported(zeroed_eof, 0), -1);
  EXPECT_EQ(is_supported(nullptr, 0), -1);
}

// The signature placed against an unreadable page: a read past the eighth
// byte would fault.
TEST_F(HostTest, IsSupportedReadsNothingPastTheEighthByte) {
  auto is_supported = library_.Get<IsSupportedFn>("IsSupported");
  ASSERT_NE(is_supported, nullptr);
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize;
  auto* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT,
                                                PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
#else
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  auto* pages = static_cast<char*>(map);
  ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
#endif
  std::memcpy(pages + page - 8, kSignature, 8);
  EXPECT_EQ(is_supported(pages + page - 8, 0), 0);
#ifdef _WIN32
  VirtualFree(pages, 0, MEM_RELEASE);
#else
  munmap(pages, 2 * page);
#endif
}

#ifdef _WIN32
DWORD WINAPI ReturnSeven(LPVOID) { return 7; }

// Loading runs the entry point for process attach; a thread started and
// ended while the DLL is loaded runs it for thread attach and detach, and
// FreeLibrary for process detach. Any FALSE would fail the load or crash.
TEST(HostLifecycle, LoadsServesThreadsAndUnloads) {
  for (int round = 0; round < 2; ++round) {
    PluginLibrary library(PNGC_LIBRARY_NAME);
    ASSERT_TRUE(library.loaded());
    HANDLE thread = CreateThread(nullptr, 0, ReturnSeven, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(library.Unload());
  }
}

// The version resource as Windows Explorer and installers read it.
TEST_F(HostTest, VersionResourceHoldsVersionOneForJapaneseUnicode) {
  const VersionInfo info = ReadVersionInfo(library_.Path());
  ASSERT_TRUE(info.found) << "no version resource in " << library_.Path();
  EXPECT_EQ(info.file_version_ms, 0x00010000u);
  EXPECT_EQ(info.file_version_ls, 0u);
  EXPECT_EQ(info.product_version_ms, 0x00010000u);
  EXPECT_EQ(info.product_version_ls, 0u);
  EXPECT_EQ(info.file_type, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(info.translation_count, 1);
  EXPECT_EQ(info.language, 0x0411);
  EXPECT_EQ(info.code_page, 1200);
  EXPECT_EQ(info.file_version, "1, 0, 0, 0");
  EXPECT_EQ(info.product_version, "1.00.00");
  EXPECT_EQ(info.original_filename, "pngcomment.dll");
  char description[512] = {};
  library_.Get<GetPluginInfoFn>("GetPluginInfo")(1, description, sizeof description);
  EXPECT_EQ(info.file_description, description);
}
#endif

}  // namespace
