// Saving onto a disk that refuses: a full file system, a file another
// program holds open without sharing. WriteComment answers -5, the file
// stays exactly as it was, and no temporary file is left behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "plugin/pngcomment.h"
#include "tests/support/files.h"
#include "tests/support/png_builder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace pngtest;

std::int32_t Write(const std::string& target, const std::string& png) {
  const std::string comment = "[Title]\r\nnew\r\n";
  return WriteComment(0, target.c_str(), reinterpret_cast<const std::uint8_t*>(png.data()),
                      static_cast<std::int32_t>(png.size()), comment.data(),
                      static_cast<std::int32_t>(comment.size()));
}

#ifndef _WIN32
// A 64 KiB tmpfs holds the old 40 KB file but not a second copy of it.
TEST(DiskFaults, FullFileSystemLeavesTheFileAsItWas) {
  const fs::path mount_point = fs::temp_directory_path() / "pngc-full-disk";
  fs::create_directories(mount_point);
  if (mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=64k") != 0) {
    fs::remove(mount_point);
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root); the injected write "
                    "failure of the fault-injection test covers this path";
  }
  const std::string png = Png({Ihdr(1, 1), Text("Old", "o"), Idat(40000), Iend()});
  const std::string target = (mount_point / "image.png").string();
  WriteFile(target, png);
  EXPECT_EQ(Write(target, png), -5);
  EXPECT_EQ(errno, ENOSPC) << "the host is told why";
  EXPECT_TRUE(ReadFile(target) == png) << "the file was changed";
  EXPECT_EQ(Listing(mount_point), std::set<std::string>{"image.png"});
  umount(mount_point.c_str());
  fs::remove_all(mount_point);
}

// A FAT file system through FUSE, as a USB stick is often mounted: no
// owners, modes or hard links to keep, a mode it refuses to set even to what
// it is, no RENAME_NOREPLACE. Saves of an existing and of a new file work.
TEST(DiskFaults, SavesOnAFatFileSystem) {
  const fs::path folder = fs::temp_directory_path() / "pngc-fat";
  fs::remove_all(folder);
  fs::create_directories(folder / "mount");
  const std::string image = (folder / "fat.img").string(),
                    mount_point = (folder / "mount").string();
  const std::string make = "truncate -s 4M '" + image + "' && mkfs.vfat '" + image +
                           "' >/dev/null 2>&1 && fusefat -o rw+ '" + image + "' '" + mount_point +
                           "' >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) {
    fs::remove_all(folder);
    GTEST_SKIP()
        << "cannot mount a FAT image with fusefat here (needs /dev/fuse, fusefat, mkfs.vfat)";
  }
  const std::string png = Png({Ihdr(1, 1), Text("Old", "o"), Idat(1000), Iend()});
  const std::string target = mount_point + "/image.png", made = mount_point + "/new.png";
  WriteFile(target, png);
  EXPECT_EQ(Write(target, png), 0) << std::strerror(errno);
  EXPECT_EQ(Write(made, png), 0) << std::strerror(errno);
  EXPECT_NE(ReadFile(target).find("Title"), std::string::npos);
  EXPECT_EQ(ReadFile(made), ReadFile(target));
  EXPECT_EQ(Listing(mount_point), (std::set<std::string>{"image.png", "new.png"}));
  EXPECT_EQ(std::system(("fusermount -u '" + mount_point + "'").c_str()), 0);
  fs::remove_all(folder);
}
#else
// Another program has the file open without sharing: it cannot be replaced.
TEST(DiskFaults, FileHeldOpenByAnotherProgramIsLeftAsItWas) {
  const fs::path folder = fs::temp_directory_path() / "pngc-locked";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string png = Png({Ihdr(1, 1), Text("Old", "o"), Idat(1000), Iend()});
  const std::string target = (folder / "image.png").string();
  WriteFile(target, png);
  HANDLE held = CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Write(target, png), -5);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << "the host is told why";
  CloseHandle(held);
  EXPECT_TRUE(ReadFile(target) == png) << "the file was changed";
  EXPECT_EQ(Listing(folder), std::set<std::string>{"image.png"});
  EXPECT_EQ(Write(target, png), 0) << "once released, the file can be written";
  fs::remove_all(folder);
}
#endif

}  // namespace
