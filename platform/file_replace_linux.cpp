// The save's steps on Linux (see file_replace.h).
//
// The file is found by opening it for writing: symbolic links are followed
// only as far as the kernel lets this process follow them
// (fs.protected_symlinks), and a file this process may not write is refused
// before anything is made. Its folder is found from directory descriptors,
// never from a whole path, so that a folder deeper than PATH_MAX works and
// /proc is not needed. The new content goes to a temporary file in that
// folder: unnamed (O_TMPFILE) until it is complete where the file system
// and /proc allow, so that a crash leaves nothing behind, else under a
// random name. It holds an open file description lock while this process
// has it, which any process that shares the folder sees, in another PID
// namespace, under Wine (which maps Windows locks to the same POSIX locks)
// or over NFS. It takes the old file's inode flags, owner, group, extended
// attributes (ACLs among them) and mode, each checked after it is set, is
// flushed, and is renamed over the name unless the file changed meanwhile.
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_replace.h"

namespace pngc::os {

const SystemError kChangedError = ESTALE;
const SystemError kBadArgumentError = EINVAL;
const SystemError kOutOfMemoryError = ENOMEM;
const SystemError kInjectedError = EIO;

void SetSystemError(SystemError error) { errno = static_cast<int>(error); }

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == sizeof bits) return bits;
  // Early in boot, or a kernel without getrandom: time, process and a count.
  static std::atomic<std::uint64_t> counter{0};  // saves may run on several threads
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  bits = (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^ static_cast<std::uint64_t>(now.tv_sec) ^
         (static_cast<std::uint64_t>(getpid()) << 40) ^ ++counter;
  return bits * 0x9E3779B97F4A7C15ull;
}

namespace {

// A descriptor closed on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

SystemError LastError() { return static_cast<SystemError>(errno); }

// A new file's name found taken: made by another program meanwhile.
SystemError NameError() { return errno == EEXIST ? kChangedError : LastError(); }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// True when this process has locked byte kLockOffset of `fd`: shared for a
// descriptor open for reading, exclusive for one open for writing. False
// when another holds it, and where the file system has no locks.
bool Lock(int fd, bool exclusive) {
  struct flock lock {};
  lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(kLockOffset);
  lock.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// The inode flags (chattr) a file's owner may set and a save keeps: no
// dump, no atime, synchronous, compressed, secure deletion, undeletable,
// data journaling, no tail merging, no copy on write, no compression. The
// immutable and append-only flags never reach a save: such a file cannot be
// opened for writing.
constexpr int kKeptFlags = FS_NODUMP_FL | FS_NOATIME_FL | FS_SYNC_FL | FS_COMPR_FL | FS_SECRM_FL |
                           FS_UNRM_FL | FS_JOURNAL_DATA_FL | FS_NOTAIL_FL | FS_NOCOW_FL |
                           FS_NOCOMP_FL;

// A file's flags; 0 where the file system has none.
bool GetFlags(int fd, int* flags) {
  *flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, flags) == 0) return true;
  *flags = 0;
  return errno == ENOTTY || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS ||
         errno == EINVAL;
}

// A file's extended attributes: user attributes, ACLs
// (system.posix_acl_access), security labels. Attributes in the trusted
// namespace are invisible to a process without CAP_SYS_ADMIN, which
// therefore cannot keep them.
struct Attributes {
  std::vector<std::pair<std::string, std::vector<char>>> values;
  // Room for any file's list of names; not zero-filled, as a save takes
  // it every time.
  std::unique_ptr<char[]> names;
};

bool NoAttributes(int error) { return error == ENOTSUP || error == ENOSYS; }

SystemError ReadAttributes(int fd, Attributes* attributes) {
  attributes->names.reset(new char[XATTR_LIST_MAX]);
  const ssize_t size = flistxattr(fd, attributes->names.get(), XATTR_LIST_MAX);
  if (size < 0) return NoAttributes(errno) ? 0 : LastError();
  for (ssize_t at = 0; at < size;) {
    const char* name = &attributes->names[static_cast<std::size_t>(at)];
    at += static_cast<ssize_t>(std::strlen(name)) + 1;
    const ssize_t length = fgetxattr(fd, name, nullptr, 0);
    if (length < 0) return LastError();
    std::vector<char> value(static_cast<std::size_t>(length) + 1);
    const ssize_t got = fgetxattr(fd, name, value.data(), value.size());
    if (got < 0) return LastError();
    value.resize(static_cast<std::size_t>(got));
    attributes->values.emplace_back(name, std::move(value));
  }
  return 0;
}

// Gives `fd` exactly these attributes: one it inherited (a folder's default
// ACL) is removed. Any that cannot be set or removed fails the save.
SystemError ApplyAttributes(Attributes& attributes, int fd) {
  const ssize_t size = flistxattr(fd, attributes.names.get(), XATTR_LIST_MAX);
  if (size < 0) return NoAttributes(errno) && attributes.values.empty() ? 0 : LastError();
  for (ssize_t at = 0; at < size;) {
    const char* name = &attributes.names[static_cast<std::size_t>(at)];
    at += static_cast<ssize_t>(std::strlen(name)) + 1;
    bool wanted = false;
    for (const auto& value : attributes.values) wanted = wanted || value.first == name;
    if (!wanted && fremovexattr(fd, name) != 0) return LastError();
  }
  for (const auto& [name, value] : attributes.values) {
    if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0) return LastError();
  }
  return 0;
}

// The folder part of `path` (".", "/" or what precedes the last '/') and
// the name after it.
void Split(const std::string& path, std::string* folder, std::string* name) {
  const auto slash = path.find_last_of('/');
  *folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens a folder for listing, flushing and asking its flags; one that may
// be searched and written but not read is opened for the path alone, and
// is then neither swept nor flushed.
int OpenFolderAt(int at, const char* path) {
  const int fd = openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0 || errno != EACCES) return fd;
  return openat(at, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Writes in pieces and hands each piece to the disk as soon as it is
// written: the disk works while the rest is copied, and the fsync that
// follows waits for the last piece rather than for the whole file.
SystemError WriteAll(int fd, const unsigned char* data, std::size_t size, off_t* written_before) {
  constexpr std::size_t kPiece = std::size_t{8} << 20;
  off_t& written = *written_before;
  while (size > 0) {
    const ssize_t n = write(fd, data, size < kPiece ? size : kPiece);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastError();
    if (n == 0) return ENOSPC;
    sync_file_range(fd, written, n, SYNC_FILE_RANGE_WRITE);  // a hint: fsync still decides
    written += n;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

class LinuxSaveFiles final : public SaveFiles {
 public:
  ~LinuxSaveFiles() override {
    // A named temporary file that was not put in place; an unnamed one
    // vanishes with its descriptor.
    if (temporary_name_[0] != '\0' && !placed_) unlinkat(folder_.get(), temporary_name_, 0);
  }

  SystemError OpenTarget(const char* path) override {
    path_ = path;
    const int fd = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      const SystemError error = LastError();
      struct stat st {};
      // Missing: a new file, unless the name is a link to nowhere, which
      // would make the save create a file wherever the link points.
      if (error != ENOENT) return error;
      return lstat(path, &st) == 0 ? ENOENT : 0;
    }
    old_.Reset(fd);
    if (fstat(fd, &old_stat_) != 0) return LastError();
    if (!S_ISREG(old_stat_.st_mode)) return EINVAL;
    // A read-only file is refused even where root could write it, as on
    // Windows.
    if ((old_stat_.st_mode & 0222) == 0) return EACCES;
      // A file that is a mount point (a bind-mounted file) cannot be renamed
      // over.
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx sx {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &sx) == 0 &&
        (sx.stx_attributes_mask & sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) {
      return EBUSY;
    }
#endif
    if (!GetFlags(fd, &old_flags_)) return LastError();
    return ReadAttributes(fd, &attributes_);
  }

  SystemError OpenFolder() override {
    std::string folder, name;
    Split(path_, &folder, &name);
    folder_.Reset(OpenFolderAt(AT_FDCWD, folder.c_str()));
    if (folder_.get() < 0) return LastError();
    // Where the name leads, a link at a time: the folder and name of the
    // file itself, which the rename replaces (the links stay).
    std::vector<char> link(PATH_MAX + 1);
    for (int hops = 0;; ++hops) {
      struct stat st {};
      if (fstatat(folder_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT && !Exists()) break;  // a new file's name
        return errno == ENOENT ? kChangedError : LastError();
      }
      // Not the file the system opened, or for a new name something made
      // there meanwhile (a link to nowhere is never followed).
      if (!Exists()) return kChangedError;
      if (!S_ISLNK(st.st_mode)) {
        if (!SameFile(st, old_stat_)) return kChangedError;
        break;
      }
      if (hops == 40) return ELOOP;
      const ssize_t n = readlinkat(folder_.get(), name.c_str(), link.data(), link.size());
      if (n < 0) return LastError();
      if (static_cast<std::size_t>(n) >= link.size()) return ENAMETOOLONG;
      const std::string target(link.data(), static_cast<std::size_t>(n));
      std::string next;
      Split(target, &next, &name);
      if (target.find('/') != std::string::npos) {
        const int dir = OpenFolderAt(target[0] == '/' ? AT_FDCWD : folder_.get(), next.c_str());
        if (dir < 0) return LastError();
        folder_.Reset(dir);
      }
    }
    name_ = name;
    // An append-only or immutable folder takes no rename.
    int folder_flags = 0;
    if (ioctl(folder_.get(), FS_IOC_GETFLAGS, &folder_flags) == 0 &&
        (folder_flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
      return EPERM;
    }
    return 0;
  }

  void RemoveAbandonedTemporaries() override {
    const int listing = openat(folder_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0) return;
    DIR* dir = fdopendir(listing);
    if (dir == nullptr) {
      close(listing);
      return;
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    while (const dirent* entry = readdir(dir)) {
      const TemporaryKind kind = KindOfTemporary(entry->d_name);
      if (kind == TemporaryKind::kNone) continue;
      // Never through a link, never a pipe's open waiting for a writer.
      Descriptor file(openat(folder_.get(), entry->d_name,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      struct stat st {};
      if (file.get() < 0 || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
          st.st_uid != geteuid() || st.st_nlink != 1) {
        continue;
      }
      const std::int64_t age = now.tv_sec - st.st_mtim.tv_sec;
      if ((kind == TemporaryKind::kOlder && age < kOlderAge) ||
          (st.st_size == 0 && age < kEmptyAge) || !Lock(file.get(), false)) {
        continue;
      }
      // Still the file looked at: the name may have been taken meanwhile.
      struct stat now_there {};
      if (fstatat(folder_.get(), entry->d_name, &now_there, AT_SYMLINK_NOFOLLOW) == 0 &&
          SameFile(now_there, st)) {
        unlinkat(folder_.get(), entry->d_name, 0);
      }
    }
    closedir(dir);
  }

  SystemError CreateTemporary() override {
    // Readable by the owner alone when it is to replace a file, whose
    // permissions it takes last.
    const mode_t mode = Exists() ? 0600 : 0666;
#ifdef O_TMPFILE
    char self[32];
    if (!Injected(Call::kCreateUnnamedFile)) {
      temporary_.Reset(openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
      // Named later through /proc, which a chroot or a container may lack.
      std::snprintf(self, sizeof self, "/proc/self/fd/%d", temporary_.get());
      if (temporary_.get() >= 0 && faccessat(AT_FDCWD, self, F_OK, 0) != 0) temporary_.Close();
    }
#endif
    for (int attempt = 0; temporary_.get() < 0 && attempt < 100; ++attempt) {
      TemporaryName(temporary_name_);
      temporary_.Reset(openat(folder_.get(), temporary_name_,
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
      if (temporary_.get() < 0) {
        const SystemError error = LastError();
        temporary_name_[0] = '\0';
        if (error != EEXIST) return error;
      }
    }
    if (temporary_.get() < 0) return EEXIST;
    Lock(temporary_.get(), true);  // where the file system has no locks, the sweep keeps away
    return 0;
  }

  SystemError PrepareTemporary() override {
    // Flags such as no-copy-on-write are taken only by an empty file.
    int flags = 0;
    if (!Exists() || !GetFlags(temporary_.get(), &flags) ||
        (flags & kKeptFlags) == (old_flags_ & kKeptFlags)) {
      return 0;
    }
    int wanted = (flags & ~kKeptFlags) | (old_flags_ & kKeptFlags);
    if (ioctl(temporary_.get(), FS_IOC_SETFLAGS, &wanted) != 0) return LastError();
    return GetFlags(temporary_.get(), &flags) && (flags & kKeptFlags) == (old_flags_ & kKeptFlags)
               ? 0
               : EOPNOTSUPP;
  }

  SystemError Write(const void* data, std::size_t size) override {
    return WriteAll(temporary_.get(), static_cast<const unsigned char*>(data), size, &written_);
  }

  // Owner and group first (a change of owner clears the set-ID bits), then
  // the attributes, then the mode, which sets an ACL's mask and other
  // entries as the old file has them; each is checked, as the kernel drops
  // some silently. Only what differs is set: a file system such as FAT
  // refuses to change what it cannot store, even to the same value.
  SystemError KeepAttributes() override {
    if (!Exists()) return 0;
    const int fd = temporary_.get();
    struct stat now {};
    if (fstat(fd, &now) != 0) return LastError();
    if ((now.st_uid != old_stat_.st_uid || now.st_gid != old_stat_.st_gid) &&
        fchown(fd, old_stat_.st_uid, old_stat_.st_gid) != 0) {
      return LastError();  // another user's file, or a group this user is not in
    }
    if (const SystemError error = ApplyAttributes(attributes_, fd)) return error;
    if (fstat(fd, &now) != 0) return LastError();
    if ((now.st_mode & 07777) != (old_stat_.st_mode & 07777) &&
        (fchmod(fd, old_stat_.st_mode & 07777) != 0 || fstat(fd, &now) != 0)) {
      return LastError();
    }
    return now.st_uid == old_stat_.st_uid && now.st_gid == old_stat_.st_gid &&
                   (now.st_mode & 07777) == (old_stat_.st_mode & 07777)
               ? 0
               : EPERM;
  }

  SystemError Flush() override { return fsync(temporary_.get()) == 0 ? 0 : LastError(); }

  SystemError CheckUnchanged() override {
    struct stat st {};
    if (fstatat(folder_.get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return errno == ENOENT && !Exists() ? 0 : kChangedError;
    return Exists() && SameFile(st, old_stat_) && st.st_size == old_stat_.st_size &&
                   SameTime(st.st_mtim, old_stat_.st_mtim) &&
                   SameTime(st.st_ctim, old_stat_.st_ctim)
               ? 0
               : kChangedError;
  }

  SystemError PutInPlace() override {
    const int dir = folder_.get();
    if (temporary_name_[0] == '\0') {
      // An unnamed file takes a new file's name at once, which fails if the
      // name was taken meanwhile; else a temporary name, renamed over the
      // old file's.
      char self[32];
      std::snprintf(self, sizeof self, "/proc/self/fd/%d", temporary_.get());
      if (!Exists()) {
        if (linkat(AT_FDCWD, self, dir, name_.c_str(), AT_SYMLINK_FOLLOW) != 0) return NameError();
        placed_ = true;
        return 0;
      }
      for (int attempt = 0; temporary_name_[0] == '\0' && attempt < 100; ++attempt) {
        TemporaryName(temporary_name_);
        if (linkat(AT_FDCWD, self, dir, temporary_name_, AT_SYMLINK_FOLLOW) != 0) {
          const SystemError error = LastError();
          temporary_name_[0] = '\0';
          if (error != EEXIST) return error;
        }
      }
      if (temporary_name_[0] == '\0') return EEXIST;
    }
    if (Exists()) {
      if (renameat(dir, temporary_name_, dir, name_.c_str()) != 0) return LastError();
      placed_ = true;
      return 0;
    }
    // A new name, which must still be free.
    if (renameat2(dir, temporary_name_, dir, name_.c_str(), RENAME_NOREPLACE) == 0) {
      placed_ = true;
      return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) return NameError();
    if (linkat(dir, temporary_name_, dir, name_.c_str(), 0) == 0) {
      unlinkat(dir, temporary_name_, 0);
      placed_ = true;
      return 0;
    }
    // A file system without hard links either (FAT): the name is looked at
    // once more, then taken.
    if (errno != EPERM && errno != ENOTSUP && errno != ENOSYS) return NameError();
    struct stat st {};
    if (fstatat(dir, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return kChangedError;
    if (renameat(dir, temporary_name_, dir, name_.c_str()) != 0) return LastError();
    placed_ = true;
    return 0;
  }

  void FlushFolder() override { fsync(folder_.get()); }

 private:
  bool Exists() const { return old_.get() >= 0; }

  std::string path_;
  Descriptor old_;  // open for writing: proof that this process may write it
  struct stat old_stat_ {};
  int old_flags_ = 0;
  Attributes attributes_;
  Descriptor folder_;
  std::string name_;
  Descriptor temporary_;
  char temporary_name_[kTemporaryNameSize] = {};  // empty while the file has no name
  off_t written_ = 0;
  bool placed_ = false;
};

}  // namespace

std::unique_ptr<SaveFiles> NewSaveFiles() { return std::make_unique<LinuxSaveFiles>(); }

}  // namespace pngc::os
