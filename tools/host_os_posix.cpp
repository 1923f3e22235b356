// The host's seam on Linux and other POSIX systems.
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tools/host_os.h"

namespace hostos {

const char* const kLibraryName = "libpngcomment.so";
const char* const kLineEnd = "\n";
const char* const kEndOfInputKey = "Ctrl-D";

std::string ProgramFolder() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  const std::string program(path, static_cast<std::size_t>(length));
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? "" : program.substr(0, slash + 1);
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

bool TempTextFile::Create(const std::string& bytes) {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                     "/pngcomment-XXXXXX.txt";
  // Created exclusively and readable by its owner only: the text is private.
  const int descriptor = mkstemps(&name[0], 4);
  if (descriptor < 0) return false;
  path_ = name;
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

bool CanCreateIn(const std::string& folder) {
  const std::string probe = folder + "/.pngc-probe-" + std::to_string(getpid()) + ".tmp";
  const int file = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (file < 0) return errno == EEXIST;
  close(file);
  unlink(probe.c_str());
  return true;
}

bool CanWrite(const std::string& path) {
  struct stat info {};
  const int file = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file < 0) return false;
  const bool writable = fstat(file, &info) == 0 && (info.st_mode & 0222) != 0;
  close(file);
  return writable;
}

namespace {

// The terminal's character set for an empty name (the locale's, which main
// takes from the environment).
std::string CharsetName(const std::string& name) {
  return name.empty() ? nl_langinfo(CODESET) : name;
}

}  // namespace

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
