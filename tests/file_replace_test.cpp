// Saving a stream to a file: the new content replaces the old whole, and a
// save that fails for any reason leaves the file exactly as it was, with no
// temporary file left beside it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include "platform/os.h"
#include "stream/memory_stream.h"
#include "tests/support/files.h"
#include "tests/support/gtest_bytes.h"

namespace {

namespace fs = std::filesystem;
using namespace pngtest;
using pngc::TBitMemoryStream;
using pngc::os::Call;

void Fill(TBitMemoryStream& stream, const std::string& bytes) {
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

class SaveToFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    pngc::os::SetFaultHook(nullptr);
    std::error_code ignored;
    fs::permissions(target(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::path target() const { return folder_ / "image.png"; }

  ScratchFolder scratch_{"pngc-" + CurrentTestName()};
  const fs::path& folder_ = scratch_.path();
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
  for (const char* name :
       {missing.c_str(), directory.c_str(), "", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(stream.SaveToFile(name), -1) << (name ? name : "(null)");
  }
  EXPECT_EQ(Listing(folder_), before);
  EXPECT_FALSE(fs::exists(folder_ / "missing"));
}

TEST_F(SaveToFileTest, ReadOnlyTargetIsRefused) {
  WriteFile(target(), "old");
  fs::permissions(target(),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
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
  for (Call call : {Call::kCreateFile, Call::kWriteFile, Call::kKeepAttributes, Call::kFlushFile,
                    Call::kReplaceFile}) {
    for (bool exists : {true, false}) {
      if (call == Call::kKeepAttributes && !exists) continue;  // a new file has none to keep
      if (exists)
        WriteFile(target(), "old image");
      else
        fs::remove(target());
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

  // A link to nowhere would make the save create a file wherever it points.
  fs::create_symlink("nowhere/missing.png", folder_ / "dangling.png");
  EXPECT_EQ(stream.SaveToFile((folder_ / "dangling.png").string().c_str()), -1);
  EXPECT_TRUE(fs::is_symlink(folder_ / "dangling.png"));
}

bool Save(const fs::path& path, const std::string& bytes) {
  return pngc::os::ReplaceFileContent(path.string().c_str(), bytes.data(), bytes.size());
}

// A file's extended attributes, name by name.
std::map<std::string, std::string> Attributes(const fs::path& path) {
  std::map<std::string, std::string> attributes;
  char names[4096];
  const ssize_t size = listxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at > -1 && at < size;
       at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
    char value[4096];
    const ssize_t n = getxattr(path.c_str(), names + at, value, sizeof value);
    attributes[names + at] = std::string(value, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  return attributes;
}

// An access ACL as the kernel stores it: owner rw-, user `uid` r--, group
// r--, mask r--, others ---.
std::string AclGranting(std::uint32_t uid) {
  std::string acl;
  const auto put32 = [&](std::uint32_t v) { acl.append(reinterpret_cast<const char*>(&v), 4); };
  const auto entry = [&](std::uint16_t tag, std::uint16_t perm, std::uint32_t id) {
    acl.append(reinterpret_cast<const char*>(&tag), 2);
    acl.append(reinterpret_cast<const char*>(&perm), 2);
    put32(id);
  };
  put32(2);  // version
  entry(0x01, 6, ~0u);
  entry(0x02, 4, uid);
  entry(0x04, 4, ~0u);
  entry(0x10, 4, ~0u);
  entry(0x20, 0, ~0u);
  return acl;
}

// Owner, group, mode with its set-ID bits, user attributes and the ACL all
// survive a save, which replaces the file by a new one.
TEST_F(SaveToFileTest, KeepsOwnerGroupModeAndAttributes) {
  const bool root = geteuid() == 0;
  const struct {
    mode_t mode;
    uid_t uid;
    gid_t gid;
    bool acl;
  } cases[] = {
      {0600, geteuid(), getegid(), false},
      {0640, geteuid(), getegid(), true},
      {06755, geteuid(), getegid(), false},
      {02775, root ? 4321u : geteuid(), root ? 4322u : getegid(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode));
    WriteFile(target(), "old");
    ASSERT_EQ(chown(target().c_str(), c.uid, c.gid), 0);
    ASSERT_EQ(chmod(target().c_str(), c.mode), 0);
    if (setxattr(target().c_str(), "user.pngc.note", "kept", 4, 0) != 0) {
      GTEST_SKIP() << "the temporary folder's file system has no user attributes";
    }
    const std::string acl = AclGranting(1234);
    if (c.acl) {
      ASSERT_EQ(setxattr(target().c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0),
                0);
    }
    struct stat before {};
    ASSERT_EQ(stat(target().c_str(), &before), 0);
    const auto attributes = Attributes(target());

    ASSERT_TRUE(Save(target(), "new content"));
    struct stat after {};
    ASSERT_EQ(stat(target().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "not replaced, written in place";
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(Attributes(target()), attributes);
    EXPECT_EQ(ReadFile(target()), "new content");
    fs::remove(target());
  }
}

// While the new content is written, the temporary file (named or not) can
// be read by its owner alone, whatever the old file allows.
TEST_F(SaveToFileTest, TemporaryFileIsPrivateUntilItTakesThePermissions) {
  static fs::path folder;
  static std::vector<mode_t> modes;
  static bool unnamed;
  folder = fs::canonical(folder_);
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named" : "unnamed");
    WriteFile(target(), "old");
    fs::permissions(target(), fs::perms::all);
    modes.clear();
    unnamed = !named;
    pngc::os::SetFaultHook([](Call call) {
      if (call == Call::kWriteFile) {  // each open file in the folder, as written
        for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
          std::error_code ec;
          const fs::path open = fs::read_symlink(fd.path(), ec);
          struct stat st {};
          if (!ec && open.parent_path() == folder && open.filename() != "image.png" &&
              stat(fd.path().c_str(), &st) == 0) {
            modes.push_back(st.st_mode & 0777);
          }
        }
      }
      return call == Call::kCreateUnnamedFile && !unnamed;
    });
    ASSERT_TRUE(Save(target(), "secret"));
    pngc::os::SetFaultHook(nullptr);
    ASSERT_FALSE(modes.empty()) << "no temporary file seen";
    for (mode_t mode : modes) EXPECT_EQ(mode & 077, 0u) << std::oct << mode;
    EXPECT_EQ(fs::status(target()).permissions(), fs::perms::all);
    EXPECT_EQ(Listing(folder_), std::set<std::string>{"image.png"});
  }
}

// A save killed before its rename leaves a named temporary file; the next
// save in that folder removes it once its writer is gone, in either naming.
TEST_F(SaveToFileTest, RemovesTemporaryFilesOfSavesThatDied) {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string dead = std::to_string(child), alive = std::to_string(getppid());
  WriteFile(folder_ / (".pngc-" + dead + "-1.tmp"), "left by a crash");
  WriteFile(folder_ / ("image.png.pngc-" + dead + "-7.tmp"), "left by an older version");
  WriteFile(folder_ / (".pngc-" + alive + "-1.tmp"), "still being written");
  WriteFile(folder_ / (".pngc-" + dead + "-1.tmp.keep"), "not ours");
  ASSERT_TRUE(Save(target(), "new"));
  EXPECT_EQ(Listing(folder_), (std::set<std::string>{"image.png", ".pngc-" + alive + "-1.tmp",
                                                     ".pngc-" + dead + "-1.tmp.keep"}));
}

// The temporary name is short: a file whose name is as long as the system
// allows can be saved.
TEST_F(SaveToFileTest, SavesFilesWithTheLongestNames) {
  const fs::path longest = folder_ / (std::string(251, 'n') + ".png");
  WriteFile(longest, "old");
  for (bool named : {false, true}) {
    pngc::os::FaultHook no_unnamed = [](Call call) { return call == Call::kCreateUnnamedFile; };
    pngc::os::SetFaultHook(named ? no_unnamed : nullptr);
    EXPECT_TRUE(Save(longest, named ? "named" : "unnamed"));
    EXPECT_EQ(ReadFile(longest), named ? "named" : "unnamed");
  }
}

// Runs `work` in a child process with the given user, group and no other
// groups; true when it returned true.
bool AsUser(uid_t uid, gid_t gid, bool (*work)()) {
  const pid_t child = fork();
  if (child == 0) {
    const bool switched = setgroups(1, &gid) == 0 && setgid(gid) == 0 && setuid(uid) == 0;
    _exit(switched && work() ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

fs::path g_shared;  // the file another user saves

// Other users: one who may not write the file but may write its folder,
// and one who may write it through the group but could not keep its owner.
// Both are refused, leaving the file and its owner as they were.
TEST_F(SaveToFileTest, RefusesWhatTheCallerCouldNotWriteOrKeep) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
  fs::permissions(folder_, fs::perms::all);
  g_shared = target();
  const struct {
    const char* what;
    mode_t mode;
    uid_t saver;
    gid_t saver_group;
    bool saved;
  } cases[] = {
      {"no write permission, writable folder", 0644, 5001, 5001, false},
      {"group member, another user's file", 0664, 5001, 5000, false},
      {"the owner", 0664, 5000, 5000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(target(), "owned by 5000");
    ASSERT_EQ(chown(target().c_str(), 5000, 5000), 0);
    ASSERT_EQ(chmod(target().c_str(), c.mode), 0);
    EXPECT_EQ(AsUser(c.saver, c.saver_group, [] { return Save(g_shared, "saved"); }), c.saved);
    struct stat st {};
    ASSERT_EQ(stat(target().c_str(), &st), 0);
    EXPECT_EQ(ReadFile(target()), c.saved ? "saved" : "owned by 5000");
    EXPECT_EQ(st.st_uid, 5000u);
    EXPECT_EQ(st.st_gid, 5000u);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_EQ(Listing(folder_), std::set<std::string>{"image.png"});
  }
}

// In a world-writable sticky folder, a link planted by another user is not
// followed by root (the kernel's fs.protected_symlinks, switched on here for
// the test): the file it names is left alone.
TEST_F(SaveToFileTest, APlantedLinkDoesNotSendTheSaveElsewhere) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
  const char* const kSetting = "/proc/sys/fs/protected_symlinks";
  const std::string setting = ReadFile(kSetting);
  std::ofstream(kSetting) << "1";
  if (ReadFile(kSetting) != "1\n") GTEST_SKIP() << "cannot switch on " << kSetting;
  fs::permissions(folder_, fs::perms::all | fs::perms::sticky_bit);
  const fs::path secret = folder_.string() + "-secret.conf";
  WriteFile(secret, "root's secret");
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(secret, folder_ / "out.png");
  ASSERT_EQ(lchown((folder_ / "out.png").c_str(), 5001, 5001), 0);

  const bool saved = Save(folder_ / "out.png", "attacker's choice");
  std::ofstream(kSetting) << setting;
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadFile(secret), "root's secret");
  EXPECT_TRUE(fs::is_symlink(folder_ / "out.png"));
  fs::remove(secret);
}
#endif

}  // namespace
