// Saving a stream to a file: the new content replaces the old whole, and a
// save that fails for any reason leaves the file exactly as it was, with no
// temporary file left beside it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

#include "platform/file_replace.h"
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

pngc::os::SaveResult SaveResultOf(const fs::path& path, const std::string& bytes) {
  return pngc::os::ReplaceFileContent(path.string().c_str(), bytes.data(), bytes.size());
}

bool Save(const fs::path& path, const std::string& bytes) { return SaveResultOf(path, bytes).ok(); }

// Holds a file as a live save holds its temporary file: open, and locked.
class HeldLikeASave {
 public:
  explicit HeldLikeASave(const fs::path& path) {
#ifdef _WIN32
    file_ =
        CreateFileW(path.wstring().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    OVERLAPPED at{};
    at.OffsetHigh = static_cast<DWORD>(pngc::os::kLockOffset >> 32);
    EXPECT_TRUE(
        LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
#else
    fd_ = open(path.c_str(), O_WRONLY);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_start = static_cast<off_t>(pngc::os::kLockOffset);
    lock.l_len = 1;
    EXPECT_EQ(fcntl(fd_, F_OFD_SETLK, &lock), 0);
#endif
  }
  ~HeldLikeASave() {
#ifdef _WIN32
    CloseHandle(file_);
#else
    close(fd_);
#endif
  }

 private:
#ifdef _WIN32
  HANDLE file_;
#else
  int fd_;
#endif
};

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

// What a save's sweep removes from its folder: the temporary files of saves
// that died (killed, or a machine that went down), and nothing that a live
// save holds, that is too young to tell, or that is not one.
TEST_F(SaveToFileTest, SweepRemovesWhatDeadSavesLeftAndNothingElse) {
  const struct {
    const char* name;
    const char* content;
    bool old;  // unchanged for two hours
    bool held;
    bool removed;
  } cases[] = {
      {".pngc-0123456789abcdef.tmp", "left by a killed save", false, false, true},
      {".pngc-1111111111111111.tmp", "being written", true, true, false},
      {".pngc-2222222222222222.tmp", "", false, false, false},  // made, not locked yet
      {".pngc-3333333333333333.tmp", "", true, false, true},
      {".pngc-12345-1.tmp", "an earlier version's, which took no lock", false, false, false},
      {".pngc-12345-2.tmp", "an earlier version's, long dead", true, false, true},
      {"image.png.pngc-12345-7.tmp", "older still", true, false, true},
      {".pngc-wa1b2-3.tmp", "the Windows build's", true, false, true},
      {".pngc-0123456789abcdef.tmp.keep", "not a temporary file", true, false, false},
  };
  const auto two_hours_ago = fs::file_time_type::clock::now() - std::chrono::hours(2);
  std::vector<std::unique_ptr<HeldLikeASave>> held;
  for (const auto& c : cases) {
    WriteFile(folder_ / c.name, c.content);
    if (c.old) fs::last_write_time(folder_ / c.name, two_hours_ago);
    if (c.held) held.push_back(std::make_unique<HeldLikeASave>(folder_ / c.name));
  }
  ASSERT_TRUE(Save(target(), "new"));
  for (const auto& c : cases) EXPECT_EQ(fs::exists(folder_ / c.name), !c.removed) << c.name;
}

// Another program changes the file while it is saved: the save is refused
// at its last check, and what that program did stays.
TEST_F(SaveToFileTest, AFileChangedDuringTheSaveIsNeverOverwritten) {
  static fs::path g_target;
  static void (*g_meanwhile)() = nullptr;
  g_target = target();
  const struct {
    const char* what;
    bool exists;
    void (*meanwhile)();
    const char* left;  // the target's content afterwards; null: no file
  } cases[] = {
      {"written in place", true,
       [] { std::ofstream(g_target, std::ios::binary | std::ios::app) << "+edit"; }, "old+edit"},
      {"replaced by another file", true,
       [] {
         WriteFile(g_target.string() + ".other", "other");
         fs::rename(g_target.string() + ".other", g_target);
       },
       "other"},
      {"removed", true, [] { fs::remove(g_target); }, nullptr},
      {"made meanwhile", false, [] { WriteFile(g_target, "made"); }, "made"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(target());
    if (c.exists) WriteFile(target(), "old");
    g_meanwhile = c.meanwhile;
    pngc::os::SetFaultHook([](Call call) {
      if (call == Call::kFlushFile) g_meanwhile();
      return false;
    });
    const pngc::os::SaveResult result = SaveResultOf(target(), "saved");
    pngc::os::SetFaultHook(nullptr);
    EXPECT_EQ(result.error, pngc::os::kChangedError);
    EXPECT_EQ(result.step, pngc::os::SaveStep::kPutInPlace);
    EXPECT_EQ(fs::exists(target()), c.left != nullptr);
    EXPECT_EQ(c.left != nullptr ? ReadFile(target()) : "", c.left != nullptr ? c.left : "");
    fs::remove(target().string() + ".other");
    EXPECT_EQ(Listing(folder_).size(), c.left != nullptr ? 1u : 0u);
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
  static pngc::os::SaveStep g_refused_at;
  const struct {
    const char* what;
    mode_t mode;
    uid_t saver;
    gid_t saver_group;
    pngc::os::SaveStep refused_at;  // kNone: saved
  } cases[] = {
      {"no write permission, writable folder", 0644, 5001, 5001, pngc::os::SaveStep::kOpenTarget},
      {"group member, another user's file", 0664, 5001, 5000, pngc::os::SaveStep::kKeepAttributes},
      {"the owner", 0664, 5000, 5000, pngc::os::SaveStep::kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(target(), "owned by 5000");
    ASSERT_EQ(chown(target().c_str(), 5000, 5000), 0);
    ASSERT_EQ(chmod(target().c_str(), c.mode), 0);
    // The check that the host makes first says what the save meets.
    g_refused_at = c.refused_at;
    const auto as_expected = [] {
      return pngc::os::CheckFileReplace(g_shared.c_str()).step == g_refused_at &&
             SaveResultOf(g_shared, "saved").step == g_refused_at;
    };
    EXPECT_TRUE(AsUser(c.saver, c.saver_group, as_expected));
    const bool saved = c.refused_at == pngc::os::SaveStep::kNone;
    struct stat st {};
    ASSERT_EQ(stat(target().c_str(), &st), 0);
    EXPECT_EQ(ReadFile(target()), saved ? "saved" : "owned by 5000");
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

// A link planted under a temporary file's name, by this user or another, is
// never followed by the sweep: the file it names stays.
TEST_F(SaveToFileTest, TheSweepNeverFollowsALink) {
  const fs::path victim = folder_.string() + "-thesis.txt";
  WriteFile(victim, "years of work");
  const std::string names[] = {".pngc-fffffffffffffffc.tmp", ".pngc-4242-1.tmp"};
  for (const std::string& name : names) {
    fs::create_symlink(victim, folder_ / name);
    if (geteuid() == 0) {
      ASSERT_EQ(lchown((folder_ / name).c_str(), 5001, 5001), 0);
    }
  }
  const auto two_hours_ago = fs::file_time_type::clock::now() - std::chrono::hours(2);
  fs::last_write_time(victim, two_hours_ago);
  ASSERT_TRUE(Save(target(), "new"));
  EXPECT_EQ(ReadFile(victim), "years of work");
  for (const std::string& name : names) EXPECT_TRUE(fs::is_symlink(folder_ / name)) << name;
  fs::remove(victim);
}

// Inode flags (chattr) that a user may set stay with the file.
TEST_F(SaveToFileTest, KeepsTheFilesFlags) {
  WriteFile(target(), "old");
  int flags = 0;
  {
    const int fd = open(target().c_str(), O_RDONLY);
    ioctl(fd, FS_IOC_GETFLAGS, &flags);
    flags |= FS_NODUMP_FL | FS_NOATIME_FL;
    const int set = ioctl(fd, FS_IOC_SETFLAGS, &flags);
    close(fd);
    if (set != 0) GTEST_SKIP() << "the temporary folder's file system takes no flags";
  }
  ASSERT_TRUE(Save(target(), "new"));
  const int fd = open(target().c_str(), O_RDONLY);
  int kept = 0;
  ioctl(fd, FS_IOC_GETFLAGS, &kept);
  close(fd);
  EXPECT_EQ(kept & (FS_NODUMP_FL | FS_NOATIME_FL), FS_NODUMP_FL | FS_NOATIME_FL);
}

// Sets or clears an inode flag (chattr) of a file or folder.
bool SetFlag(const fs::path& path, int flag, bool on) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int flags = 0;
  const bool done =
      fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
      (flags = on ? flags | flag : flags & ~flag, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  if (fd >= 0) close(fd);
  return done;
}

// Runs `work` in a child process; true when it returned true.
bool InChild(bool (*work)()) {
  const pid_t child = fork();
  if (child == 0) _exit(work() ? 0 : 1);
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// Saves of an existing file and of a new one, where the caller stands.
bool SaveHere() {
  return WriteFile("image.png", "old") && Save("image.png", "new") &&
         ReadFile("image.png") == "new" && Save("new.png", "made") &&
         ReadFile("new.png") == "made" &&
         Listing(".") == std::set<std::string>{"image.png", "new.png"};
}

// A chroot or a container without /proc, and a folder deeper than PATH_MAX:
// a save needs neither /proc nor a whole path.
TEST_F(SaveToFileTest, SavesWithoutProcAndBeyondPathMax) {
  static fs::path g_folder;
  g_folder = folder_;
  EXPECT_TRUE(InChild([] {
    std::string name(200, 'd');
    if (chdir(g_folder.c_str()) != 0) return false;
    for (int depth = 0; depth < 25; ++depth) {  // 5,000 bytes of path
      if (mkdir(name.c_str(), 0700) != 0 || chdir(name.c_str()) != 0) return false;
    }
    return SaveHere();
  }));
  EXPECT_EQ(std::system(("rm -rf '" + folder_.string() + "'/d*").c_str()), 0);
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hide /proc";
  EXPECT_TRUE(InChild([] {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           umount2("/proc", MNT_DETACH) == 0 && !fs::exists("/proc/self") &&
           chdir(g_folder.c_str()) == 0 && SaveHere();
  }));
}

// Places where a file cannot be replaced say so, and keep nothing of the
// attempt: an immutable file, an append-only folder (which takes no
// removal either), a file mounted over another.
TEST_F(SaveToFileTest, RefusalsSayWhyAndLeaveNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for file flags and mounts";
  const fs::path other = folder_.string() + "-mounted.png";
  const struct {
    const char* what;
    std::function<bool()> set_up, tear_down;
    pngc::os::SaveStep step;
    pngc::os::SystemError error;
  } cases[] = {
      {"immutable file", [&] { return SetFlag(target(), FS_IMMUTABLE_FL, true); },
       [&] { return SetFlag(target(), FS_IMMUTABLE_FL, false); }, pngc::os::SaveStep::kOpenTarget,
       EPERM},
      {"append-only folder", [&] { return SetFlag(folder_, FS_APPEND_FL, true); },
       [&] { return SetFlag(folder_, FS_APPEND_FL, false); }, pngc::os::SaveStep::kOpenFolder,
       EPERM},
      {"bind-mounted file",
       [&] {
         return WriteFile(other, "other") &&
                mount(other.c_str(), target().c_str(), nullptr, MS_BIND, nullptr) == 0;
       },
       [&] { return umount(target().c_str()) == 0 && fs::remove(other); },
       pngc::os::SaveStep::kOpenTarget, EBUSY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(target(), "old");
    if (!c.set_up()) {
      std::printf("skipped: cannot make a%s here\n", c.what + 1);
      continue;
    }
    const std::string before = ReadFile(target());
    const pngc::os::SaveResult result = SaveResultOf(target(), "new");
    const std::string after = ReadFile(target());
    const std::set<std::string> listing = Listing(folder_);
    EXPECT_TRUE(c.tear_down());
    EXPECT_EQ(result.step, c.step);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(after, before);
    EXPECT_EQ(listing, std::set<std::string>{"image.png"});
  }
}
#endif

}  // namespace
