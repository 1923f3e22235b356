#include "tools/cli_commands.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "tools/version_info.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
unsigned long ProcessId() { return GetCurrentProcessId(); }
#else
constexpr const char* kSeparators = "/";
long ProcessId() { return static_cast<long>(getpid()); }
#endif

// The plug-in takes sizes as signed 32-bit counts.
constexpr std::uint64_t kMaxBytes = 0x7FFFFFFF;

#ifdef _WIN32
constexpr const char* kLibraryName = "pngcomment.dll";
#else
constexpr const char* kLibraryName = "libpngcomment.so";
#endif

void Report(const std::string& name, const std::string& cause) {
  std::fprintf(stderr, "%s: %s\n", name.c_str(), cause.c_str());
}

// The library beside this program: a host keeps its plug-ins in its own
// folder, and the current directory must not decide which code runs.
std::string LibraryBesideProgram() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? "" : folder.substr(0, slash + 1) + kLibraryName;
#else
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string folder(path, static_cast<std::size_t>(length));
  const std::size_t slash = folder.rfind('/');
  return slash == std::string::npos ? "" : folder.substr(0, slash + 1) + kLibraryName;
#endif
}

enum class ReadStatus { kOk, kCannotRead, kTooLarge, kNoMemory };

// A large file is read into memory in one go: on Linux, huge pages make
// that one page fault per 2 MiB instead of per 4 KiB.
void AdviseLargeBuffer([[maybe_unused]] char* buffer, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (size < (std::size_t{8} << 20)) return;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = (reinterpret_cast<std::uintptr_t>(buffer) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(buffer) + size) & ~(page - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
}

const char* Cause(ReadStatus status) {
  switch (status) {
    case ReadStatus::kTooLarge: return "too large (over 2 GiB)";
    case ReadStatus::kNoMemory: return "out of memory";
    default: return "cannot read";
  }
}

// Reads a stream whole. A regular file's size is checked before any byte is
// read, so that a file the plug-in cannot take is never loaded.
ReadStatus ReadStream(std::FILE* in, std::string* bytes) {
#ifdef _WIN32
  struct _stati64 info {};
  const bool known = _fstati64(_fileno(in), &info) == 0;
#else
  struct stat info {};
  const bool known = fstat(fileno(in), &info) == 0;
#endif
  const bool regular = known && (info.st_mode & S_IFMT) == S_IFREG;
  if (known && (info.st_mode & S_IFMT) == S_IFDIR) return ReadStatus::kCannotRead;
  if (regular && static_cast<std::uint64_t>(info.st_size) > kMaxBytes) return ReadStatus::kTooLarge;
  try {
    if (regular) {
      bytes->reserve(static_cast<std::size_t>(info.st_size));
      AdviseLargeBuffer(bytes->data(), bytes->capacity());
    }
    char chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
      // A file may grow while it is read, and a pipe has no size.
      if (bytes->size() + count > kMaxBytes) return ReadStatus::kTooLarge;
      bytes->append(chunk, count);
    }
  } catch (const std::bad_alloc&) {
    return ReadStatus::kNoMemory;
  } catch (const std::length_error&) {
    return ReadStatus::kNoMemory;
  }
  return std::ferror(in) ? ReadStatus::kCannotRead : ReadStatus::kOk;
}

ReadStatus ReadFile(const std::string& path, std::string* bytes) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return ReadStatus::kCannotRead;
  const ReadStatus status = ReadStream(in, bytes);
  std::fclose(in);
  return status;
}

// Reads FILE and asks the plug-in whether it takes it. Fewer than eight
// bytes are padded with zeros, as IsSupported reads exactly eight.
bool LoadPng(const CliPlugin& plugin, const std::string& path, std::string* image) {
  const ReadStatus status = ReadFile(path, image);
  if (status != ReadStatus::kOk) {
    Report(path, Cause(status));
    return false;
  }
  char head[8] = {};
  image->copy(head, sizeof head);
  if (plugin.is_supported(head, 0) != 0) {
    Report(path, "not a PNG file");
    return false;
  }
  return true;
}

// Frees a handle received from the plug-in whatever happens to its copy.
struct LocalBlock {
  const PluginLibrary& library;
  void* handle = nullptr;
  ~LocalBlock() { library.FreeLocalBlock(handle); }
};

const std::uint8_t* Bytes(const std::string& image) {
  return reinterpret_cast<const std::uint8_t*>(image.data());
}

bool ReadComment(const CliPlugin& plugin, const std::string& path, const std::string& image,
                 std::string* comment, std::string* summary) {
  LocalBlock comment_block{plugin.library()}, summary_block{plugin.library()};
  const std::int32_t result = plugin.get_comment(
      0, Bytes(image), static_cast<std::int32_t>(image.size()), &comment_block.handle,
      &summary_block.handle);
  if (result == -4) {
    Report(path, "out of memory");
    return false;
  }
  if (result != 0) {
    Report(path, "cannot read (plug-in result " + std::to_string(result) + ")");
    return false;
  }
  try {
    *summary = plugin.library().LocalBlockBytes(summary_block.handle);
    // The text is a C string, as a host reads it; the block may be larger.
    *comment = plugin.library().LocalBlockBytes(comment_block.handle);
    comment->resize(comment->find('\0') == std::string::npos ? comment->size()
                                                               : comment->find('\0'));
  } catch (const std::bad_alloc&) {
    Report(path, "out of memory");
    return false;
  }
  return true;
}

// The name handed to WriteComment. On Windows a full path, as a graphical
// host passes: Wine's ReplaceFileA fails (ERROR_DIRECTORY) on a bare file
// name without a folder, so "photo.png" could not be rewritten in place.
std::string PathForPlugin(const std::string& target) {
#ifdef _WIN32
  const DWORD length = GetFullPathNameA(target.c_str(), 0, nullptr, nullptr);
  if (length == 0) return target;
  std::string full(length, '\0');
  const DWORD used = GetFullPathNameA(target.c_str(), length, &full[0], nullptr);
  if (used == 0 || used >= length) return target;
  full.resize(used);
  return full;
#else
  return target;
#endif
}

// The folder a save of `target` creates its new file in: that of the file a
// symbolic link names.
std::string FolderOf(const std::string& target) {
  std::string path = target;
#ifndef _WIN32
  struct stat link {};
  char* resolved = lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)
                       ? realpath(target.c_str(), nullptr)
                       : nullptr;
  if (resolved != nullptr) {
    path = resolved;
    std::free(resolved);
  }
#endif
  const std::size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? "." : slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// Whether a new file can be made in `folder`, by making one (removed at
// once): only that answers for every system, user and file system alike.
bool CanCreateIn(const std::string& folder) {
  const std::string probe = folder + "/.pngc-probe-" + std::to_string(ProcessId()) + ".tmp";
#ifdef _WIN32
  const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  CloseHandle(file);
#else
  const int file = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (file < 0) return errno == EEXIST;
  close(file);
  unlink(probe.c_str());
#endif
  return true;
}

// Whether this process may write `path` itself, asked as the plug-in asks:
// by opening it for writing (which changes nothing). A read-only file is
// refused even to root.
bool CanWrite(const std::string& path) {
#ifdef _WIN32
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool writable =
      GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
  CloseHandle(file);
  return writable;
#else
  struct stat info {};
  const int file = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file < 0) return false;
  const bool writable = fstat(file, &info) == 0 && (info.st_mode & 0222) != 0;
  close(file);
  return writable;
#endif
}

// Why a save of the existing `target` is bound to fail, or "" when it may
// succeed.
std::string WhyNotWritable(const std::string& target) {
  if (!CanWrite(target)) return "is read-only or not writable by you";
  const std::string folder = FolderOf(target);
  if (!CanCreateIn(folder)) return "cannot create a file in " + folder;
  return "";
}

bool WriteText(const CliPlugin& plugin, const std::string& target, const std::string& image,
               const std::string& text) {
  const std::int32_t result = plugin.write_comment(
      0, PathForPlugin(target).c_str(), Bytes(image), static_cast<std::int32_t>(image.size()),
      text.data(), static_cast<std::int32_t>(text.size()));
  if (result == 0) return true;
  if (result == -5) {
    const std::string folder = FolderOf(target);
    Report(target, CanCreateIn(folder) ? "could not be written, file left unchanged"
                                       : "cannot create a file in " + folder + ", file left unchanged");
  } else if (result == -4) {
    Report(target, "out of memory");
  } else {
    Report(target, "could not be written (plug-in result " + std::to_string(result) + ")");
  }
  return false;
}

// The comment text with the platform's line ends: the text-mode standard
// output of Windows turns each LF back into CR LF.
std::string WithPlatformLineEnds(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

// A temporary file for the editor, removed however the edit ends.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path_.empty() && !keep_) std::remove(path_.c_str());
  }
  const std::string& path() const { return path_; }
  // Leaves the file in place when this object goes.
  void Keep() { keep_ = true; }

  bool Create(const std::string& bytes) {
#ifdef _WIN32
    char folder[MAX_PATH + 1] = {};
    char name[MAX_PATH] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "pgc", 0, name) == 0) {
      return false;
    }
    path_ = name;
    std::FILE* out = std::fopen(name, "wb");
#else
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                       "/pngcomment-XXXXXX.txt";
    // Created exclusively and readable by its owner only: the text is private.
    const int descriptor = mkstemps(&name[0], 4);
    if (descriptor < 0) return false;
    path_ = name;
    std::FILE* out = fdopen(descriptor, "wb");
    if (out == nullptr) close(descriptor);
#endif
    if (out == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
  }

 private:
  std::string path_;
  bool keep_ = false;
};

std::string EditorCommand() {
  for (const char* variable : {"VISUAL", "EDITOR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
#ifdef _WIN32
  return "notepad";  // Windows has no vi
#else
  return "vi";
#endif
}

// Runs the editor on `path` through the shell, so that a value with its own
// arguments ("code --wait") works. An empty result means success.
std::string RunEditor(const std::string& editor, const std::string& path) {
  std::fflush(stdout);
  std::fflush(stderr);
#ifdef _WIN32
  // cmd /c strips the outer pair of quotes, keeping quoted paths inside.
  const std::string command = "\"" + editor + " \"" + path + "\"\"";
  const int status = std::system(command.c_str());
  if (status == -1) return "cannot start the editor";
  if (status != 0) return "the editor exited with status " + std::to_string(status);
#else
  std::string quoted = "'";
  for (const char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  const int status = std::system((editor + " " + quoted + "'").c_str());
  if (status == -1) return "cannot start the editor";
  if (WIFSIGNALED(status)) return "the editor was ended by signal " + std::to_string(WTERMSIG(status));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "the editor exited with status " + std::to_string(WEXITSTATUS(status));
  }
#endif
  return "";
}

bool TooLargeText(const std::string& name, const std::string& text) {
  if (text.size() <= kMaxBytes) return false;
  Report(name, "too large (over 2 GiB)");
  return true;
}

int Finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "pngcomment: cannot write standard output\n");
    return kExitFailed;
  }
  return status;
}

}  // namespace

CliPlugin::CliPlugin() {
  std::string path = LibraryBesideProgram();
  if (!path.empty()) library_.reset(new PluginLibrary(path.c_str()));
  if (library_ == nullptr || !library_->loaded()) {
    // Installed apart from the program: the system's search decides.
    library_.reset(new PluginLibrary(kLibraryName));
  }
  if (!library_->loaded()) {
    std::fprintf(stderr, "pngcomment: cannot load the plug-in %s\n",
                 path.empty() ? kLibraryName : path.c_str());
    return;
  }
  get_info = library_->Get<GetPluginInfoFn>("GetPluginInfo");
  configure = library_->Get<ConfigurationDlgFn>("ConfigurationDlg");
  is_supported = library_->Get<IsSupportedFn>("IsSupported");
  get_comment = library_->Get<GetCommentFn>("GetComment");
  write_comment = library_->Get<WriteCommentFn>("WriteComment");
  ok_ = get_info != nullptr && configure != nullptr && is_supported != nullptr &&
        get_comment != nullptr && write_comment != nullptr;
  if (!ok_) {
    std::fprintf(stderr, "pngcomment: %s is not a pngcomment plug-in\n", library_->Path().c_str());
  }
}

std::string WithCrLfLines(const std::string& text) {
  if (text.find("\r\n") != std::string::npos) return text;
  std::string lines;
  lines.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return lines;
}

int RunInfo(const CliPlugin& plugin, const std::vector<std::string>& files) {
  int status = kExitOk;
  bool first = true;
  for (const std::string& file : files) {
    std::string image, comment, summary;
    if (!LoadPng(plugin, file, &image) || !ReadComment(plugin, file, image, &comment, &summary)) {
      status = kExitFailed;
      continue;
    }
    if (files.size() > 1) std::printf("%s%s:\n", first ? "" : "\n", file.c_str());
    first = false;
    const std::string lines = WithPlatformLineEnds(summary);
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);  // keeps the order with error lines on a terminal
  }
  return Finish(status);
}

int RunGet(const CliPlugin& plugin, const std::string& file) {
  std::string image, comment, summary;
  if (!LoadPng(plugin, file, &image) || !ReadComment(plugin, file, image, &comment, &summary)) {
    return kExitFailed;
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);  // the CR LF as the plug-in gives it
#endif
  std::fwrite(comment.data(), 1, comment.size(), stdout);
  return Finish(kExitOk);
}

int RunSet(const CliPlugin& plugin, const std::string& file, const std::string& text_file,
           const std::string& out) {
  std::string image, text;
  if (!LoadPng(plugin, file, &image)) return kExitFailed;
  const bool from_stdin = text_file == "-";
  const std::string text_name = from_stdin ? "standard input" : text_file;
  ReadStatus status;
  if (from_stdin) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);  // CR LF and any 0x1A pass as they are
    if (_isatty(_fileno(stdin))) std::fputs("pngcomment: type the text, then Ctrl-Z\n", stderr);
#else
    if (isatty(fileno(stdin))) std::fputs("pngcomment: type the text, then Ctrl-D\n", stderr);
#endif
    status = ReadStream(stdin, &text);
  } else {
    status = ReadFile(text_file, &text);
  }
  if (status != ReadStatus::kOk) {
    Report(text_name, Cause(status));
    return kExitFailed;
  }
  text = WithCrLfLines(text);
  if (TooLargeText(text_name, text)) return kExitFailed;
  const std::string& target = out.empty() ? file : out;
  if (!WriteText(plugin, target, image, text)) return kExitFailed;
  std::printf("%s: written\n", target.c_str());
  return Finish(kExitOk);
}

int RunEdit(const CliPlugin& plugin, const std::string& file) {
  std::string image, comment, summary;
  if (!LoadPng(plugin, file, &image) || !ReadComment(plugin, file, image, &comment, &summary)) {
    return kExitFailed;
  }
  // Edits that could never be saved are not asked for.
  if (const std::string why = WhyNotWritable(file); !why.empty()) {
    Report(file, why + ", not opened for editing");
    return kExitFailed;
  }
  TempFile temp;
  if (!temp.Create(comment)) {
    Report(file, "cannot create a temporary file for the text");
    return kExitFailed;
  }
  const std::string failure = RunEditor(EditorCommand(), temp.path());
  if (!failure.empty()) {
    Report(file, failure + ", nothing written");
    return kExitFailed;
  }
  std::string edited;
  const ReadStatus status = ReadFile(temp.path(), &edited);
  if (status != ReadStatus::kOk) {
    Report(temp.path(), Cause(status));
    return kExitFailed;
  }
  // An editor that only changed the line ends has not changed the comment;
  // rewriting would still re-encode every text chunk.
  if (edited == comment || WithCrLfLines(edited) == comment) {
    std::printf("%s: unchanged\n", file.c_str());
    return Finish(kExitOk);
  }
  edited = WithCrLfLines(edited);
  // The new file is built from the image read before the editor opened: if
  // another program changed the file meanwhile, writing would undo that
  // change. The edited text is kept for the user instead.
  std::string now;
  if (ReadFile(file, &now) != ReadStatus::kOk || now != image) {
    temp.Keep();
    Report(file, "changed by another program during the edit, nothing written; the edited text is in " +
                     temp.path());
    return kExitFailed;
  }
  if (TooLargeText(file, edited) || !WriteText(plugin, file, image, edited)) return kExitFailed;
  std::printf("%s: written\n", file.c_str());
  return Finish(kExitOk);
}

int RunClear(const CliPlugin& plugin, const std::vector<std::string>& files) {
  int status = kExitOk;
  for (const std::string& file : files) {
    std::string image;
    if (!LoadPng(plugin, file, &image) || !WriteText(plugin, file, image, "")) {
      status = kExitFailed;
      continue;
    }
    std::printf("%s: cleared\n", file.c_str());
    std::fflush(stdout);
  }
  return Finish(status);
}

int RunVersion(const CliPlugin& plugin) {
  // The copy is not limited by the length argument: the buffer must be
  // large enough for any description.
  char description[4096] = {};
  plugin.get_info(1, description, sizeof description);
  std::printf("%s\nplug-in: %s\n", description, plugin.library().Path().c_str());
  const VersionInfo version = ReadVersionInfo(plugin.library().Path());
  if (version.found) {
    const auto quad = [](std::uint32_t ms, std::uint32_t ls) {
      return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
             std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
    };
    std::printf("file version %s (\"%s\"), product version %s (\"%s\")\n",
                quad(version.file_version_ms, version.file_version_ls).c_str(),
                version.file_version.c_str(),
                quad(version.product_version_ms, version.product_version_ls).c_str(),
                version.product_version.c_str());
    std::printf("language 0x%04X, code page %u\n", version.language, version.code_page);
  }
  return Finish(kExitOk);
}
