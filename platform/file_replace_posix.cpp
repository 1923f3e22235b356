// Safe replacement of a file's content on POSIX systems: write a temporary
// file beside the target, fsync it, give it the target's mode, rename it over
// the target, then fsync the folder so that the rename itself is durable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/os.h"

namespace pngc::os {
namespace {

// The folder part of a path, for the temporary file and the folder fsync.
std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates a new file beside `target`, never over an existing one.
int CreateTemporary(const std::string& target, std::string* name) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".pngc-%ld-%u.tmp", static_cast<long>(getpid()),
                  ++counter);
    *name = target + suffix;
    const int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Writes in pieces and, on Linux, hands each piece to the disk as soon as it
// is written: the disk works while the rest is copied, and the fsync that
// follows waits for the last piece rather than for the whole file.
bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
  constexpr std::size_t kPiece = std::size_t{8} << 20;
  off_t written = 0;
  while (size > 0) {
    const ssize_t n = write(fd, data, size < kPiece ? size : kPiece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
#ifdef SYNC_FILE_RANGE_WRITE
    sync_file_range(fd, written, n, SYNC_FILE_RANGE_WRITE);  // a hint: fsync still decides
#endif
    written += n;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);  // best effort: the new content is already in place
  close(fd);
}

bool Replace(const char* path, const void* data, std::size_t size) {
  std::string target = path;

  // Write through a symbolic link to the file it names, keeping the link.
  struct stat old {};
  bool exists = lstat(target.c_str(), &old) == 0;
  if (exists && S_ISLNK(old.st_mode)) {
    char* resolved = realpath(target.c_str(), nullptr);
    if (resolved == nullptr) return false;
    target = resolved;
    std::free(resolved);
    exists = stat(target.c_str(), &old) == 0;
  }
  // A read-only file is refused even where root could write it, as on Windows.
  if (exists && (!S_ISREG(old.st_mode) || (old.st_mode & 0222) == 0)) return false;

  // Every name is made before the temporary file exists: nothing may throw
  // once there is a file to clean up.
  const std::string folder = FolderOf(target);
  if (Injected(Call::kCreateFile)) return false;
  std::string temporary;
  const int fd = CreateTemporary(target, &temporary);
  if (fd < 0) return false;

  bool ok = !Injected(Call::kWriteFile) &&
            WriteAll(fd, static_cast<const unsigned char*>(data), size);
  ok = ok && !Injected(Call::kFlushFile) && fsync(fd) == 0;
  if (ok && exists) {
    // Keep the target's permissions and, where allowed, its owner.
    ok = fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Not permitted for other users' files; the mode still holds.
    }
  }
  ok = (close(fd) == 0) && ok;
  ok = ok && !Injected(Call::kReplaceFile) && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}

}  // namespace

bool ReplaceFileContent(const char* path, const void* data, std::size_t size) {
  if (path == nullptr || *path == '\0' || (data == nullptr && size > 0)) return false;
  return Replace(path, data, size);
}

}  // namespace pngc::os
