// Safe replacement of a file's content on Linux.
//
// The file to replace is found by opening it for writing: symbolic links are
// followed only as far as the kernel lets this process follow them
// (fs.protected_symlinks), and a file this process may not write is refused
// before anything is made. The new content goes to a temporary file in that
// file's folder, unnamed (O_TMPFILE) where the file system allows, so that a
// crash leaves nothing behind, and readable by its owner alone. Once written
// it takes the old file's owner, group, extended attributes (ACLs among
// them) and mode, is flushed, and is renamed over the name, which therefore
// holds the whole old or the whole new file at every instant. A save that
// cannot keep any of these is refused with the old file untouched.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_replace.h"
#include "platform/os.h"

namespace pngc::os {
namespace {

// A descriptor closed on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The path of an open descriptor, as the kernel resolved it.
bool PathOf(int fd, std::string* path) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  std::vector<char> buffer(PATH_MAX + 1);
  const ssize_t n = readlink(link, buffer.data(), buffer.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return false;
  path->assign(buffer.data(), static_cast<std::size_t>(n));
  return true;
}

// Temporary names: ".pngc-PID-N.tmp", short so that a file whose own name
// is as long as the system allows can still be saved. Earlier versions put
// the same suffix after the file's name.
constexpr char kTemporaryTag[] = ".pngc-";

void TemporaryName(std::string* name) {
  static unsigned counter = 0;
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%s%ld-%u.tmp", kTemporaryTag, static_cast<long>(getpid()),
                ++counter);
  *name = buffer;
}

// The writer's process id when `name` ends in a temporary name, else 0.
long WriterOf(const char* name) {
  const char* tag = nullptr;
  for (const char* at = std::strstr(name, kTemporaryTag); at != nullptr;
       at = std::strstr(at + 1, kTemporaryTag)) {
    tag = at;
  }
  if (tag == nullptr) return 0;
  long pid = 0;
  unsigned counter = 0;
  int end = 0;
  if (std::sscanf(tag + sizeof kTemporaryTag - 1, "%ld-%u.tmp%n", &pid, &counter, &end) != 2 ||
      tag[sizeof kTemporaryTag - 1 + end] != '\0' || pid <= 0) {
    return 0;
  }
  return pid;
}

// Removes the named temporary files of this user's saves in the folder
// whose writer is gone (a save killed before its rename): nothing else would
// ever remove them.
void RemoveAbandonedTemporaries(int folder) {
  const int listing = dup(folder);
  if (listing < 0) return;
  DIR* dir = fdopendir(listing);
  if (dir == nullptr) {
    close(listing);
    return;
  }
  rewinddir(dir);
  while (const dirent* entry = readdir(dir)) {
    const long pid = WriterOf(entry->d_name);
    if (pid == 0 || pid == getpid() || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) {
      continue;
    }
    struct stat st {};
    if (fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == geteuid()) {
      unlinkat(folder, entry->d_name, 0);
    }
  }
  closedir(dir);
}

// A file's extended attributes: user attributes, ACLs
// (system.posix_acl_access), security labels. Read before the temporary file
// exists, so that running out of memory cannot strand it.
struct Attributes {
  std::vector<std::pair<std::string, std::vector<char>>> values;
  // Room for any file's list of names; not zero-filled, as a save takes
  // it every time.
  std::unique_ptr<char[]> names;
};

bool ReadAttributes(int fd, Attributes* attributes) {
  attributes->names.reset(new char[XATTR_LIST_MAX]);
  const ssize_t size = flistxattr(fd, attributes->names.get(), XATTR_LIST_MAX);
  if (size < 0) return errno == ENOTSUP;  // a file system without them
  for (ssize_t at = 0; at < size;) {
    const char* name = &attributes->names[static_cast<std::size_t>(at)];
    at += static_cast<ssize_t>(std::strlen(name)) + 1;
    const ssize_t length = fgetxattr(fd, name, nullptr, 0);
    if (length < 0) return false;
    std::vector<char> value(static_cast<std::size_t>(length) + 1);
    const ssize_t got = fgetxattr(fd, name, value.data(), value.size());
    if (got < 0) return false;
    value.resize(static_cast<std::size_t>(got));
    attributes->values.emplace_back(name, std::move(value));
  }
  return true;
}

// Gives `fd` exactly these attributes: one it inherited (a folder's default
// ACL) is removed. Any that cannot be set or removed fails the save.
bool ApplyAttributes(Attributes& attributes, int fd) {
  const ssize_t size = flistxattr(fd, attributes.names.get(), XATTR_LIST_MAX);
  if (size < 0) return errno == ENOTSUP && attributes.values.empty();
  for (ssize_t at = 0; at < size;) {
    const char* name = &attributes.names[static_cast<std::size_t>(at)];
    at += static_cast<ssize_t>(std::strlen(name)) + 1;
    bool wanted = false;
    for (const auto& value : attributes.values) wanted = wanted || value.first == name;
    if (!wanted && fremovexattr(fd, name) != 0) return false;
  }
  for (const auto& [name, value] : attributes.values) {
    if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  return true;
}

// Gives the temporary file the old one's owner, group, extended attributes
// and mode (set-user-ID and set-group-ID bits included), and checks that it
// has them: the kernel drops some silently.
bool KeepAttributes(const struct stat& old, Attributes& attributes, int fd) {
  struct stat now {};
  if (fstat(fd, &now) != 0) return false;
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      fchown(fd, old.st_uid, old.st_gid) != 0) {
    return false;  // another user's file, or a group this user is not in
  }
  if (!ApplyAttributes(attributes, fd)) return false;
  // After the ACL: the mode sets the ACL's mask and other entries as the old
  // file has them, and after the owner, since a change of owner clears the
  // set-ID bits.
  if (fchmod(fd, old.st_mode & 07777) != 0 || fstat(fd, &now) != 0) return false;
  return now.st_uid == old.st_uid && now.st_gid == old.st_gid &&
         (now.st_mode & 07777) == (old.st_mode & 07777);
}

// Writes in pieces and hands each piece to the disk as soon as it is
// written: the disk works while the rest is copied, and the fsync that
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

// Where the save goes: the folder (open) and the name in it, and the old
// file when there is one.
struct Target {
  Descriptor old;  // open for writing: proof that this process may write it
  struct stat old_stat {};
  Descriptor folder;
  std::string name;
  bool Exists() const { return old.get() >= 0; }
};

bool FindTarget(const char* path, Target* target) {
  std::string resolved = path;
  const int fd = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    target->old.Reset(fd);
    // A read-only file is refused even where root could write it, as on
    // Windows.
    if (fstat(fd, &target->old_stat) != 0 || !S_ISREG(target->old_stat.st_mode) ||
        (target->old_stat.st_mode & 0222) == 0 || !PathOf(fd, &resolved)) {
      return false;
    }
  } else {
    struct stat st {};
    // Missing: a new file, unless the name is a link to nowhere, which would
    // make the save create a file wherever the link points.
    if (errno != ENOENT || lstat(path, &st) == 0) return false;
  }
  const auto slash = resolved.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : resolved.substr(0, slash);
  target->name = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  target->folder.Reset(dir);
  return true;
}

// True while the name still holds the file that was opened (or, for a new
// file, nothing): the file replaced is the one this process may write.
bool StillTheTarget(const Target& target) {
  struct stat st {};
  if (fstatat(target.folder.get(), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT && !target.Exists();
  }
  return target.Exists() && S_ISREG(st.st_mode) && SameFile(st, target.old_stat);
}

// A new temporary file in the target's folder: unnamed where the file system
// allows (`*name` left empty), else under a short new name. Readable by the
// owner alone when it is to replace a file, whose permissions it takes last.
int CreateTemporary(const Target& target, std::string* name) {
  const mode_t mode = target.Exists() ? 0600 : 0666;
  name->clear();
#ifdef O_TMPFILE
  if (!Injected(Call::kCreateUnnamedFile)) {
    const int fd = openat(target.folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) return fd;
  }
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    TemporaryName(name);
    const int fd =
        openat(target.folder.get(), name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Puts the written temporary file in the target's place: over the old file
// by one rename, or as a new name that must not exist yet.
bool PutInPlace(const Target& target, int fd, std::string* name) {
  const int dir = target.folder.get();
  if (name->empty()) {
    // An unnamed file gets a name first, unless it can take the new file's
    // own at once.
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (!target.Exists())
      return linkat(AT_FDCWD, self, dir, target.name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    for (int attempt = 0; name->empty() && attempt < 100; ++attempt) {
      TemporaryName(name);
      if (linkat(AT_FDCWD, self, dir, name->c_str(), AT_SYMLINK_FOLLOW) != 0) {
        const bool taken = errno == EEXIST;
        name->clear();
        if (!taken) return false;
      }
    }
    if (name->empty()) return false;
  }
  if (!StillTheTarget(target)) return false;
  if (target.Exists()) return renameat(dir, name->c_str(), dir, target.name.c_str()) == 0;
#ifdef RENAME_NOREPLACE
  if (renameat2(dir, name->c_str(), dir, target.name.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // A link fails where the name has been taken meanwhile.
  if (linkat(dir, name->c_str(), dir, target.name.c_str(), 0) != 0) return false;
  unlinkat(dir, name->c_str(), 0);
  return true;
}

}  // namespace

bool ReplaceChecked(const char* path, const void* data, std::size_t size) {
  // Everything that allocates happens before the temporary file exists:
  // nothing may throw once there is a file to clean up.
  Target target;
  if (!FindTarget(path, &target) || !StillTheTarget(target)) return false;
  Attributes attributes;
  if (target.Exists() && !ReadAttributes(target.old.get(), &attributes)) return false;
  std::string temporary;  // empty while the file has no name
  temporary.reserve(64);  // room for any temporary name
  RemoveAbandonedTemporaries(target.folder.get());

  if (Injected(Call::kCreateFile)) return false;
  Descriptor file(CreateTemporary(target, &temporary));
  if (file.get() < 0) return false;

  bool ok = !Injected(Call::kWriteFile) &&
            WriteAll(file.get(), static_cast<const unsigned char*>(data), size);
  if (ok && target.Exists()) {
    ok =
        !Injected(Call::kKeepAttributes) && KeepAttributes(target.old_stat, attributes, file.get());
  }
  ok = ok && !Injected(Call::kFlushFile) && fsync(file.get()) == 0;
  ok = ok && !Injected(Call::kReplaceFile) && PutInPlace(target, file.get(), &temporary);
  ok = file.Close() && ok;
  if (!ok) {
    if (!temporary.empty()) unlinkat(target.folder.get(), temporary.c_str(), 0);
    return false;
  }
  fsync(target.folder.get());  // best effort: the new content is already in place
  return true;
}

}  // namespace pngc::os
