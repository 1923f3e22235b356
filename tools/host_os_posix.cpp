// The host's seam on Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "tools/host_os.h"

namespace hostos {

const char* const kLibraryName = PNGCOMMENT_LIBRARY_NAME;
const char* const kLineEnd = "\n";
const char* const kEndOfInputKey = "Ctrl-D";

std::string ProgramFolder(const char* argv0) {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string program;
  if (length > 0) {
    program.assign(path, static_cast<std::size_t>(length));
  } else if (argv0 != nullptr && std::strchr(argv0, '/') != nullptr) {
    // No /proc (a chroot, some containers): the name the shell ran, or the
    // first match on PATH for a bare one.
    program = argv0;
  } else if (const char* search = std::getenv("PATH"); argv0 != nullptr && search != nullptr) {
    for (const char* at = search;; ++at) {
      const char* end = std::strchr(at, ':');
      const std::string folder(at, end != nullptr ? end : at + std::strlen(at));
      const std::string candidate = (folder.empty() ? "." : folder) + "/" + argv0;
      if (access(candidate.c_str(), X_OK) == 0) {
        program = candidate;
        break;
      }
      if (end == nullptr) break;
      at = end;
    }
  }
  char* resolved = program.empty() ? nullptr : realpath(program.c_str(), nullptr);
  if (resolved == nullptr) return "";
  program = resolved;
  std::free(resolved);
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? "" : program.substr(0, slash + 1);
}

namespace {

FileIdentity IdentityFrom(const struct stat& info) {
  FileIdentity identity;
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.file = static_cast<std::uint64_t>(info.st_ino);
  identity.size = static_cast<std::uint64_t>(info.st_size);
  identity.modified = std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
  identity.changed = std::int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec;
  return identity;
}

// Temporary files the program may be ended with, by name, for a signal
// handler, which may only look at memory laid out beforehand.
constexpr int kTemporaries = 4;
char g_temporaries[kTemporaries][4096];

void RemoveTemporariesAndEnd(int signal_number) {
  for (auto& path : g_temporaries) {
    if (path[0] != '\0') unlink(path);
  }
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

bool IdentityOf(const std::string& path, FileIdentity* identity) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  *identity = IdentityFrom(info);
  return true;
}

bool IdentityOf(std::FILE* file, FileIdentity* identity) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *identity = IdentityFrom(info);
  return true;
}

void RememberTemporary(const std::string& path) {
  for (auto& slot : g_temporaries) {
    if (slot[0] == '\0' && path.size() < sizeof slot) {
      std::memcpy(slot, path.c_str(), path.size() + 1);
      return;
    }
  }
}

void ForgetTemporary(const std::string& path) {
  for (auto& slot : g_temporaries) {
    if (path == slot) slot[0] = '\0';
  }
}

void InstallCleanup() {
  std::signal(SIGPIPE, SIG_IGN);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    if (std::signal(signal_number, RemoveTemporariesAndEnd) == SIG_IGN)
      std::signal(signal_number, SIG_IGN);  // left ignored, as nohup asks
  }
}

bool RegularFileSize(std::FILE* in, std::uint64_t* size, bool* folder) {
  struct stat info {};
  if (fstat(fileno(in), &info) != 0) return false;
  *folder = S_ISDIR(info.st_mode);
  *size = static_cast<std::uint64_t>(info.st_size);
  return S_ISREG(info.st_mode);
}

void* AllocatePages(std::size_t size) {
  void* pages = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void FreePages(void* pages, std::size_t size) { munmap(pages, size); }

bool ReadAt(std::FILE* in, std::uint64_t offset, void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = pread(fileno(in), bytes, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file shrank meanwhile
    bytes += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void SetBinary(std::FILE*) {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

const char kSeparator = '/';

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    entries->push_back({name, S_ISDIR(info.st_mode), S_ISREG(info.st_mode)});
  }
  closedir(dir);
  return true;
}

bool TempTextFile::Create(const std::string& bytes) {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                     "/pngcomment-XXXXXX.txt";
  // Created exclusively and readable by its owner only: the text is private.
  const int descriptor = mkstemps(&name[0], 4);
  if (descriptor < 0) return false;
  path_ = name;
  RememberTemporary(path_);
  std::FILE* out = fdopen(descriptor, "wb");
  if (out == nullptr) {
    close(descriptor);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

std::string DefaultEditor() { return "vi"; }

std::string RunEditor(const std::string& editor, const std::string& path) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::string quoted = "'";
  for (const char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  const int status = std::system((editor + " " + quoted + "'").c_str());
  if (status == -1) return "cannot start the editor";
  if (WIFSIGNALED(status))
    return "the editor was ended by signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "the editor exited with status " + std::to_string(WEXITSTATUS(status));
  }
  return "";
}

std::string FolderOf(const std::string& target) {
  std::string path = target;
  struct stat link {};
  char* resolved = lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)
                       ? realpath(target.c_str(), nullptr)
                       : nullptr;
  if (resolved != nullptr) {
    path = resolved;
    std::free(resolved);
  }
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::uint32_t LastError() { return static_cast<std::uint32_t>(errno); }

std::string ErrorText(std::uint32_t error, pngc::os::SaveStep step, const std::string& path) {
  using pngc::os::SaveStep;
  const int code = static_cast<int>(error);
  struct stat info {};
  if (step == SaveStep::kOpenTarget && code == ENOENT) return "a symbolic link to a missing file";
  if (step == SaveStep::kOpenTarget && code == EACCES) return "read-only, or not writable by you";
  if (step == SaveStep::kOpenFolder && (code == ENOENT || code == ENOTDIR)) return "no such folder";
  if (step == SaveStep::kOpenFolder && code == EPERM) return "an append-only or immutable folder";
  if (step == SaveStep::kOpenTarget && (code == EINVAL || code == ENXIO))
    return "not a regular file";
  if (step == SaveStep::kOpenTarget && code == EBUSY) return "a mount point, which stays as it is";
  if (step == SaveStep::kKeepAttributes && code == EPERM && stat(path.c_str(), &info) == 0) {
    if (info.st_uid != geteuid()) return "owned by another user";
    if (info.st_gid != getegid()) return "its group is one you are not in";
    return "an attribute or flag the new file cannot take";
  }
  if (code == ESTALE) return "changed by another program meanwhile";
  if (code == ENOSPC) return "no space left on device";
  if (code == EFBIG) return "file too large for the file system or the size limit (ulimit -f)";
  std::string text = std::strerror(code);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

namespace {

// The terminal's character set for an empty name (the locale's, which main
// takes from the environment).
std::string CharsetName(const std::string& name) {
  return name.empty() ? nl_langinfo(CODESET) : name;
}

}  // namespace

std::string TerminalCharset() { return nl_langinfo(CODESET); }

std::string SystemTextToUtf8(const std::string& text) {
  std::string utf8;
  std::size_t bad = 0;
  return ConvertText("", "UTF-8", text, &utf8, &bad) ? utf8 : text;
}

std::string Utf8ToSystemText(const std::string& utf8) {
  std::string text;
  std::size_t bad = 0;
  return ConvertText("UTF-8", "", utf8, &text, &bad) ? text : utf8;
}

bool UnknownCharset(const std::string& name) {
  const iconv_t cd = iconv_open("UTF-8", CharsetName(name).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return true;
  iconv_close(cd);
  return false;
}

bool ConvertText(const std::string& from, const std::string& to, const std::string& in,
                 std::string* out, std::size_t* bad) {
  out->clear();
  *bad = 0;
  const iconv_t cd = iconv_open(CharsetName(to).c_str(), CharsetName(from).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* source = const_cast<char*>(in.data());
  std::size_t left = in.size();
  bool ok = true;
  for (bool flushed = false; !flushed;) {
    char buffer[4096];
    char* target = buffer;
    std::size_t room = sizeof buffer;
    // The last call, with no input, ends a shift state.
    const std::size_t result = left > 0 ? iconv(cd, &source, &left, &target, &room)
                                        : iconv(cd, nullptr, nullptr, &target, &room);
    out->append(buffer, static_cast<std::size_t>(target - buffer));
    if (result == static_cast<std::size_t>(-1) && errno == E2BIG) continue;
    // EILSEQ, EINVAL: a character the target cannot hold, or one cut short.
    // A positive count: characters replaced by others, which is a loss too.
    if (result != 0) {
      ok = false;
      break;
    }
    flushed = left == 0 && source == in.data() + in.size() && room == sizeof buffer;
    if (left == 0 && !flushed) continue;
  }
  *bad = in.size() - left;
  iconv_close(cd);
  return ok;
}

bool GetModifiedTime(const std::string& path, FileTime* time) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  time->seconds = info.st_mtim.tv_sec;
  time->nanoseconds = info.st_mtim.tv_nsec;
  return true;
}

bool SetModifiedTime(const std::string& path, const FileTime& time) {
  struct timespec times[2] = {
      {0, UTIME_OMIT}, {static_cast<time_t>(time.seconds), static_cast<long>(time.nanoseconds)}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace hostos
