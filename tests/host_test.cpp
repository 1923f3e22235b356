// The plug-in as a host meets it: the library loaded at run time and every
// export called through a pointer looked up by name.
#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "tests/plugin_host_fixture.h"
#include "tests/support/files.h"
#include "tests/support/gtest_bytes.h"
#include "tests/support/png_builder.h"
#include "tools/plugin_loader.h"
#include "tools/version_info.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

using pngtest::kSignature;

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
  std::memcpy(data, kSignature.data(), 8);
  std::memset(data + 8, 0xEE, sizeof data - 8);  // anything may follow
  EXPECT_EQ(is_supported(data, 0), 0);
  for (int i = 0; i < 8; ++i) {
    for (int delta : {1, 0x80}) {
      char changed[8];
      std::memcpy(changed, kSignature.data(), 8);
      changed[i] = static_cast<char>(changed[i] ^ delta);
      EXPECT_EQ(is_supported(changed, 0), -1) << "byte " << i;
    }
  }
  char zeroed_eof[8];
  std::memcpy(zeroed_eof, kSignature.data(), 8);
  zeroed_eof[6] = 0;  // 0x1A replaced by 0x00
  EXPECT_EQ(is_supported(zeroed_eof, 0), -1);
  EXPECT_EQ(is_supported(nullptr, 0), -1);
}

// Pages of the test's own, some of which can be made unreadable: bytes put
// against such a page show that a call does not read there.
class GuardedPages {
 public:
  explicit GuardedPages(std::size_t count) : count_(count) {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    pages_ = static_cast<char*>(
        VirtualAlloc(nullptr, count * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
#else
    page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* map =
        mmap(nullptr, count * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    pages_ = map == MAP_FAILED ? nullptr : static_cast<char*>(map);
#endif
  }
  ~GuardedPages() {
#ifdef _WIN32
    if (pages_ != nullptr) VirtualFree(pages_, 0, MEM_RELEASE);
#else
    if (pages_ != nullptr) munmap(pages_, count_ * page_);
#endif
  }
  bool Forbid(std::size_t first, std::size_t count) {
#ifdef _WIN32
    DWORD old;
    return VirtualProtect(pages_ + first * page_, count * page_, PAGE_NOACCESS, &old) != 0;
#else
    return mprotect(pages_ + first * page_, count * page_, PROT_NONE) == 0;
#endif
  }
  char* at(std::size_t page) const { return pages_ + page * page_; }
  std::size_t page() const { return page_; }

 private:
  std::size_t count_, page_ = 0;
  char* pages_ = nullptr;
};

// The signature placed against an unreadable page: a read past the eighth
// byte would fault.
TEST_F(HostTest, IsSupportedReadsNothingPastTheEighthByte) {
  auto is_supported = library_.Get<IsSupportedFn>("IsSupported");
  ASSERT_NE(is_supported, nullptr);
  GuardedPages pages(2);
  ASSERT_NE(pages.at(0), nullptr);
  ASSERT_TRUE(pages.Forbid(1, 1));
  std::memcpy(pages.at(1) - 8, kSignature.data(), 8);
  EXPECT_EQ(is_supported(pages.at(1) - 8, 0), 0);
}

// GetComment as a host calls it: the image bytes in, two blocks out.
class GetCommentTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    get_comment_ = library_.Get<GetCommentFn>("GetComment");
    ASSERT_NE(get_comment_, nullptr);
  }
  void TearDown() override {
    if (comment_ != kUntouched) library_.FreeLocalBlock(comment_);
    if (summary_ != kUntouched) library_.FreeLocalBlock(summary_);
  }
  std::int32_t Read(const std::string& png, std::int32_t size = -1) {
    TearDown();
    comment_ = summary_ = kUntouched;
    return get_comment_(0, reinterpret_cast<const std::uint8_t*>(png.data()),
                        size >= 0 ? size : static_cast<std::int32_t>(png.size()), &comment_,
                        &summary_);
  }

  void* const kUntouched = reinterpret_cast<void*>(0x5EED);
  GetCommentFn get_comment_ = nullptr;
  void* comment_ = kUntouched;
  void* summary_ = kUntouched;
};

// The image's pixel data on unreadable pages: the walk reads chunk headers,
// IHDR and the texts, never the data it does not show.
TEST_F(GetCommentTest, NeverReadsThePixelData) {
  using namespace pngtest;
  GuardedPages pages(4);
  ASSERT_NE(pages.at(0), nullptr);
  // IHDR, a tEXt and an IDAT header end where the unreadable pages begin;
  // the IDAT's CRC, a zTXt and IEND follow them.
  const std::size_t data = 2 * pages.page();
  const std::string head = Png({Ihdr(5, 5), Text("A", "before")}) +
                           ChunkStating(static_cast<std::uint32_t>(data), "IDAT", "").substr(0, 8);
  const std::string after = std::string(4, '\0') + Ztxt("Z", "after") + Iend();
  char* start = pages.at(1) - head.size();
  std::memcpy(start, head.data(), head.size());
  std::memcpy(pages.at(3), after.data(), after.size());
  ASSERT_TRUE(pages.Forbid(1, 2));
  comment_ = summary_ = kUntouched;
  const auto size = static_cast<std::int32_t>(head.size() + data + after.size());
  EXPECT_EQ(
      get_comment_(0, reinterpret_cast<const std::uint8_t*>(start), size, &comment_, &summary_), 0);
  EXPECT_EQ(library_.LocalBlockBytes(comment_),
            std::string("[A]\r\nbefore\r\n<Z>\r\nafter\r\n") + '\0');
  EXPECT_NE(
      library_.LocalBlockBytes(summary_).find("File Size  : " + std::to_string(size) + " byte"),
      std::string::npos);
}

TEST_F(GetCommentTest, HandsOverTheSummaryAndTheCommentText) {
  using namespace pngtest;
  using namespace std::string_literals;
  const std::string png = Png({Ihdr(640, 480, 8, 3, 1), Text("Title", "Hello\nworld"), Idat(100),
                               Ztxt("Desc", "x\ny"), Iend(), Text("Late", "")});
  ASSERT_EQ(Read(png), 0);
  const std::string comment = "[Title]\r\nHello\r\nworld\r\n<Desc>\r\nx\r\ny\r\n[Late]\r\n"s;
  EXPECT_EQ(library_.LocalBlockSize(comment_), comment.size() + 1);
  EXPECT_EQ(library_.LocalBlockBytes(comment_), comment + "\0"s);
  const std::string summary =
      "PNG(Portable Network Graphics) Image\r\n"
      "Pixel Size : 640 x 480\r\n"
      "Color Type : Indexed Color\r\n"
      "Color Depth: 8 bits/pixel\r\n"
      "Interlace  : Adam7 interlace\r\n"
      "File Size  : " +
      std::to_string(png.size()) + " byte\r\n";
  EXPECT_EQ(library_.LocalBlockSize(summary_), summary.size());
  EXPECT_EQ(library_.LocalBlockBytes(summary_), summary);

  // Without text the comment out-parameter keeps what the host put there.
  ASSERT_EQ(Read(Png({Ihdr(1, 1), Iend()})), 0);
  EXPECT_EQ(comment_, kUntouched);
  EXPECT_NE(summary_, kUntouched);
  // Without IHDR the summary block is empty, but handed over.
  ASSERT_EQ(Read(Png({Text("A", "b")})), 0);
  EXPECT_NE(summary_, kUntouched);
  EXPECT_EQ(library_.LocalBlockSize(summary_), 0u);
}

TEST_F(GetCommentTest, BrokenFramingEndsTheWalk) {
  using namespace pngtest;
  const std::string png = Png({Ihdr(7, 9), Text("T", "text"), Ztxt("Z", "zipped"), Iend()});
  for (std::size_t size = 0; size <= png.size(); ++size) {
    EXPECT_EQ(Read(png, static_cast<std::int32_t>(size)), 0) << size;
  }
  for (std::uint32_t length : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFF4u}) {
    EXPECT_EQ(Read(Png({Ihdr(1, 1), ChunkStating(length, "zTXt", "K"), Text("A", "")})), 0);
  }
  TearDown();
  comment_ = summary_ = kUntouched;
  EXPECT_EQ(get_comment_(0, nullptr, 10, &comment_, &summary_), 0);
  EXPECT_EQ(library_.LocalBlockSize(summary_), 0u) << "nothing read: an empty summary";
  EXPECT_EQ(
      get_comment_(0, reinterpret_cast<const std::uint8_t*>(png.data()), -1, nullptr, nullptr), 0);
}

// A zlib stream of `mib` MiB of `byte`, about 1 KiB a MiB: 1 MiB after a
// full flush deflates to a block that depends on no earlier data, so
// repeating the block makes a stream of any length at no cost.
std::string DeflatedRun(char byte, int mib) {
  z_stream deflater{};
  EXPECT_EQ(deflateInit(&deflater, 9), Z_OK);
  const std::string run(1 << 20, byte);
  std::string out(1 << 16, '\0');
  const auto deflate_run = [&] {
    deflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(run.data()));
    deflater.avail_in = static_cast<uInt>(run.size());
    deflater.next_out = reinterpret_cast<Bytef*>(out.data());
    deflater.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&deflater, Z_FULL_FLUSH), Z_OK);
    return out.substr(0, out.size() - deflater.avail_out);
  };
  std::string stream = deflate_run();  // with the zlib header
  const std::string block = deflate_run();
  deflateEnd(&deflater);
  for (int k = 1; k < mib; ++k) stream += block;
  return stream;
}

// A zTXt whose text inflates past what a 32-bit process can hold ends the
// call with -4 as soon as the text stops growing, and hands nothing over.
// (Natively the same path, a destination that refuses to grow, is tested on
// the codec; inflating 2 GiB here would only cost time.)
TEST_F(GetCommentTest, TextTooLargeForMemoryIsRefused) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "64-bit: memory holds the text";
  using namespace pngtest;
  const std::string png = Png({Ihdr(1, 1), Text("A", "kept?"),
                               Chunk("zTXt", std::string("Big\0\0", 5) + DeflatedRun('x', 2048))});
  EXPECT_EQ(Read(png), -4);
  EXPECT_EQ(comment_, kUntouched);
  EXPECT_EQ(summary_, kUntouched);
}

using WriteCommentHostTest = PluginHostFixture;

// A zTXt of 1 GiB of zeros in 1 MiB costs a save nothing when the new text
// does not keep it, and a bounded inflate when it does: then it is written
// anew, for the zeros it would cost are not in its rendering. Never -4,
// also in a 32-bit process.
TEST_F(WriteCommentHostTest, AZtxtBombCostsASaveNothing) {
  using namespace pngtest;
  const std::string bomb = Chunk("zTXt", std::string("Bomb\0\0", 6) + DeflatedRun('\0', 1024));
  const std::string png = Png({Ihdr(1, 1), Text("A", "kept?"), bomb, Iend()});
  const struct {
    const char* what;
    std::string comment;
    std::string written;
  } cases[] = {
      {"replaced", "[K]\r\nv\r\n", Png({Ihdr(1, 1), Text("K", "v"), Iend()})},
      {"kept as shown", "[A]\r\nkept?\r\n<Bomb>\r\n\r\n",
       Png({Ihdr(1, 1), Text("A", "kept?"), Ztxt("Bomb", ""), Iend()})},
  };
  for (const auto& c : cases) {
    const std::string file = (folder_ / "bomb.png").string();
    EXPECT_EQ(write_comment_(0, file.c_str(), reinterpret_cast<const std::uint8_t*>(png.data()),
                             static_cast<std::int32_t>(png.size()), c.comment.data(),
                             static_cast<std::int32_t>(c.comment.size())),
              0)
        << c.what;
    EXPECT_TRUE(SameBytes(ReadFile(file), c.written)) << c.what;
  }
}

#ifdef _WIN32
// A message-only window of a class of its own, served by `procedure`.
HWND MessageWindow(const char* class_name, WNDPROC procedure) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = class_name;
  RegisterClassA(&window_class);
  return CreateWindowA(class_name, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, window_class.hInstance,
                       nullptr);
}

int g_app_messages = 0;

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP) ++g_app_messages;
  return DefWindowProcA(window, message, wparam, lparam);
}

// While a zTXt inflates, the host's windows are served; a quit message that
// arrives meanwhile is not swallowed but reaches the host once afterwards.
TEST_F(GetCommentTest, ServesWindowsAndKeepsTheQuitMessage) {
  HWND window = MessageWindow("pngcomment-counting", CountingWindowProc);
  ASSERT_NE(window, nullptr);
  using namespace pngtest;
  const std::string png =
      Png({Ihdr(1, 1), Ztxt("One", std::string(100000, 'x')), Ztxt("Two", "y")});
  g_app_messages = 0;
  PostMessageA(window, WM_APP, 0, 0);
  PostQuitMessage(7);
  EXPECT_EQ(Read(png), 0);
  EXPECT_EQ(g_app_messages, 1) << "the window's message was dispatched during the call";
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 7u);
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << "WM_QUIT comes once";
  DestroyWindow(window);
}

std::string* g_host_name = nullptr;
std::string* g_host_image = nullptr;
std::string* g_host_comment = nullptr;

// A host that reuses its buffers as soon as one of its windows is served
// (its image only when one is given).
LRESULT CALLBACK ScribblingWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP) {
    g_host_name->back() = 'X';
    if (g_host_image != nullptr) g_host_image->assign(g_host_image->size(), 'X');
    g_host_comment->assign(g_host_comment->size(), 'Y');
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

// The host's windows are served while a zTXt inflates; what they do then to
// the host's image must not reach the texts.
TEST_F(GetCommentTest, ReadsTheImageAsTheCallFoundIt) {
  HWND window = MessageWindow("pngcomment-scribbling-reader", ScribblingWindowProc);
  ASSERT_NE(window, nullptr);
  using namespace pngtest;
  std::string png =
      Png({Ihdr(1, 1), Ztxt("Big", std::string(100000, 'z')), Text("After", "a"), Ihdr(2, 2)});
  ASSERT_EQ(Read(png), 0);  // no message waiting: the reference
  const std::string comment = library_.LocalBlockBytes(comment_),
                    summary = library_.LocalBlockBytes(summary_);
  std::string name = "unused", text = "unused";
  g_host_name = &name;
  g_host_image = &png;
  g_host_comment = &text;
  PostMessageA(window, WM_APP, 0, 0);
  EXPECT_EQ(Read(png), 0);
  EXPECT_EQ(png, std::string(png.size(), 'X')) << "the window was served during the call";
  EXPECT_EQ(library_.LocalBlockBytes(comment_), comment);
  EXPECT_EQ(library_.LocalBlockBytes(summary_), summary);
  DestroyWindow(window);
}

// The host's windows are served while a zTXt section is compressed. The
// name and the text are the writer's own copies by then, so what the
// windows do to the host's is not written; the image is written from the
// host's buffer, so a change to it there ends the call with -4 and nothing
// written, never a file that mixes the two.
TEST_F(WriteCommentHostTest, WritesTheBuffersAsTheCallFoundThem) {
  HWND window = MessageWindow("pngcomment-scribbling", ScribblingWindowProc);
  ASSERT_NE(window, nullptr);
  using namespace pngtest;
  const std::string original = Png({Ihdr(1, 1), Text("Old", "o"), Idat(70000), Ihdr(2, 2), Iend()});
  const std::string text = "<Big>\r\n" + std::string(100000, 'z') + "\r\n[After]\r\na\r\n";
  std::string png = original, comment = text;
  std::string name = (folder_ / "quiet.png").string();
  const auto write = [&] {
    return write_comment_(0, name.c_str(), reinterpret_cast<const std::uint8_t*>(png.data()),
                          static_cast<std::int32_t>(png.size()), comment.data(),
                          static_cast<std::int32_t>(comment.size()));
  };
  ASSERT_EQ(write(), 0);  // no message waiting: the reference

  for (const bool image_too : {false, true}) {
    SCOPED_TRACE(image_too ? "the image changed" : "the name and the text changed");
    png = original;
    comment = text;
    name = (folder_ / "served.png").string();
    std::filesystem::remove(name);
    g_host_name = &name;
    g_host_image = image_too ? &png : nullptr;
    g_host_comment = &comment;
    PostMessageA(window, WM_APP, 0, 0);
    EXPECT_EQ(write(), image_too ? -4 : 0);
    EXPECT_EQ(comment, std::string(comment.size(), 'Y')) << "the window was served during the call";
    if (image_too) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
      EXPECT_FALSE(std::filesystem::exists(folder_ / "served.png"));
    } else {
      EXPECT_TRUE(ReadFile(folder_ / "served.png") == ReadFile(folder_ / "quiet.png"));
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ / "served.pnX"));
  }
  DestroyWindow(window);
}

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
