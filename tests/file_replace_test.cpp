// Saving a stream to a file: the new content replaces the old whole, and a
// save that fails for any reason leaves the file exactly as it was, with no
// temporary file left beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/os.h"
#include "stream/memory_stream.h"

namespace {

namespace fs = std::filesystem;
using pngc::TBitMemoryStream;
using pngc::os::Call;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::set<std::string> Listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

void Fill(TBitMemoryStream& stream, const std::string& bytes) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

class SaveToFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() / (std::string("pngc-save-") + info->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    pngc::os::SetFaultHook(nullptr);
    std::error_code ignored;
    fs::permissions(target(), fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(folder_, ignored);
  }
  fs::path target() const { return folder_ / "image.png"; }

  fs::path folder_;
};

TEST_F(SaveToFileTest, ReplacesALongerFileWholeWhateverThePosition) {
  WriteFile(target(), std::string(100, 'x'));
  TBitMemoryStream stream;
  Fill(stream, "new content");
  for (std::int32_t position : {0, 4, 11, 50, -3}) {
    stream.Seek(position, pngc::kFromBeginning);
    EXPECT_EQ(stream.SaveToFile(target().string().c_str()), 11) << position;
    EXPECT_EQ(ReadFile(target()), "new content") << position;
    EXPECT_EQ(stream.GetPosition(), position) << "saving does not move the stream";
  }
  EXPECT_EQ(Listing(folder_), std::set<std::string>{"image.png"});
}

// Hosts and scripts name files relative to the current folder, on Windows
// with '/' too.
TEST_F(SaveToFileTest, ReplacesAFileNamedRelatively) {
  const fs::path folder = "pngc-relative-save";
  fs::create_directories(folder);
  WriteFile(folder / "image.png", "old");
  TBitMemoryStream stream;
  Fill(stream, "slashes");
  EXPECT_EQ(stream.SaveToFile("pngc-relative-save/image.png"), 7);
  EXPECT_EQ(ReadFile(folder / "image.png"), "slashes");
  EXPECT_EQ(Listing(folder), std::set<std::string>{"image.png"});
  fs::remove_all(folder);

  // And a bare file name, in the current folder.
  WriteFile("pngc-bare-save.png", "old");
  EXPECT_EQ(stream.SaveToFile("pngc-bare-save.png"), 7);
  EXPECT_EQ(ReadFile("pngc-bare-save.png"), "slashes");
  fs::remove("pngc-bare-save.png");
}

TEST_F(SaveToFileTest, CreatesNewFilesEmptyOrNot) {
  TBitMemoryStream stream;
  EXPECT_EQ(stream.SaveToFile(target().string().c_str()), 0);
  EXPECT_TRUE(fs::exists(target()));
  EXPECT_EQ(fs::file_size(target()), 0u);

  // More than one write's worth, through a stream that was cleared first.
  stream.Clear();
  std::string big(3 * 1024 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + (i >> 12));
  Fill(stream, big);
  const fs::path other = folder_ / "big.png";
  EXPECT_EQ(stream.SaveToFile(other.string().c_str()), static_cast<std::int32_t>(big.size()));
  EXPECT_EQ(ReadFile(other), big);
}

TEST_F(SaveToFileTest, RefusedTargetsAreLeftAsTheyWere) {
  WriteFile(target(), "old");
  fs::create_directory(folder_ / "folder.png");
  const std::string missing = (folder_ / "missing" / "x.png").string();
  const std::string directory = (folder_ / "folder.png").string();
  TBitMemoryStream stream;
  Fill(stream, "new");
  const std::set<std::string> before = Listing(folder_);
  for (const char* name : {missing.c_str(), directory.c_str(), "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(stream.SaveToFile(name), -1) << (name ? name : "(null)");
  }
  EXPECT_EQ(Listing(folder_), before);
  EXPECT_FALSE(fs::exists(folder_ / "missing"));
}

TEST_F(SaveToFileTest, ReadOnlyTargetIsRefused) {
  WriteFile(target(), "old");
  fs::permissions(target(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  TBitMemoryStream stream;
  Fill(stream, "new");
  EXPECT_EQ(stream.SaveToFile(target().string().c_str()), -1);
  EXPECT_EQ(ReadFile(target()), "old");
  EXPECT_EQ(fs::status(target()).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(Listing(folder_), std::set<std::string>{"image.png"});
}

// Each step of the save failing in turn, as a full disk, an I/O error or a
// file locked by another program would make it fail.
TEST_F(SaveToFileTest, AFailedStepLeavesTheTargetAndNoTemporaryFile) {
  static Call failing;
  for (Call call : {Call::kCreateFile, Call::kWriteFile, Call::kFlushFile, Call::kReplaceFile}) {
    for (bool exists : {true, false}) {
      if (exists) WriteFile(target(), "old image");
      else fs::remove(target());
      TBitMemoryStream stream;
      Fill(stream, "new image, longer than the old");
      failing = call;
      pngc::os::SetFaultHook([](Call c) { return c == failing; });
      EXPECT_EQ(stream.SaveToFile(target().string().c_str()), -1) << static_cast<int>(call);
      pngc::os::SetFaultHook(nullptr);
      if (exists) {
        EXPECT_EQ(ReadFile(target()), "old image") << static_cast<int>(call);
        EXPECT_EQ(Listing(folder_), std::set<std::string>{"image.png"}) << static_cast<int>(call);
      } else {
        EXPECT_TRUE(Listing(folder_).empty()) << static_cast<int>(call);
      }
    }
  }
}

#ifndef _WIN32
TEST_F(SaveToFileTest, KeepsTheModeAndWritesThroughASymbolicLink) {
  WriteFile(target(), "old");
  fs::permissions(target(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("image.png", folder_ / "link.png");
  TBitMemoryStream stream;
  Fill(stream, "new");
  EXPECT_EQ(stream.SaveToFile((folder_ / "link.png").string().c_str()), 3);
  EXPECT_TRUE(fs::is_symlink(folder_ / "link.png"));
  EXPECT_EQ(ReadFile(target()), "new");
  EXPECT_EQ(fs::status(target()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Listing(folder_), (std::set<std::string>{"image.png", "link.png"}));
}
#endif

}  // namespace
