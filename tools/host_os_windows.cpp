// The host's seam on Windows (and under Wine).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <vector>

#include "tools/host_os.h"

namespace hostos {

const char* const kLibraryName = "pngcomment.dll";
const char* const kLineEnd = "\r\n";
const char* const kEndOfInputKey = "Ctrl-Z";

namespace {

// The position of the last '\\' or '/' that is a character of its own, not
// the second byte of a double-byte one (in code page 932, 表 is 0x95 0x5C).
std::size_t LastSeparator(const std::string& path) {
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    if (IsDBCSLeadByte(c) && i + 1 < path.size()) {
      ++i;
    } else if (c == '\\' || c == '/') {
      last = i;
    }
  }
  return last;
}

bool IdentityOfHandle(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file, &info) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
    return false;
  }
  identity->device = info.dwVolumeSerialNumber;
  identity->file = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  identity->size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  identity->modified = basic.LastWriteTime.QuadPart;
  identity->changed = basic.ChangeTime.QuadPart;
  return true;
}

}  // namespace

std::string ProgramFolder(const char*) {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  const std::string program(path, length);
  const std::size_t slash = LastSeparator(program);
  return slash == std::string::npos ? "" : program.substr(0, slash + 1);
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
  const HANDLE file =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool known = IdentityOfHandle(file, identity);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return known;
}

bool IdentityOf(std::FILE* file, FileIdentity* identity) {
  return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), identity);
}

// Windows ends a program at Ctrl-C without unwinding, and has no SIGPIPE.
void RememberTemporary(const std::string&) {}
void ForgetTemporary(const std::string&) {}
void InstallCleanup() {}

bool RegularFileSize(std::FILE* in, std::uint64_t* size, bool* folder) {
  struct _stati64 info {};
  if (_fstati64(_fileno(in), &info) != 0) return false;
  *folder = (info.st_mode & S_IFMT) == S_IFDIR;
  *size = static_cast<std::uint64_t>(info.st_size);
  return (info.st_mode & S_IFMT) == S_IFREG;
}

void* AllocatePages(std::size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreePages(void* pages, std::size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

bool ReadAt(std::FILE* in, std::uint64_t offset, void* buffer, std::size_t size) {
  const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in)));
  auto* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!::ReadFile(file, bytes, want, &n, &at) || n == 0)
      return false;  // an error, or the file shrank
    bytes += n;
    offset += n;
    size -= n;
  }
  return true;
}

void SetBinary(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

const char kSeparator = '\\';

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    // A reparse point (a link, a junction) is neither: it is not followed.
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const bool folder_entry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entries->push_back({name, !link && folder_entry, !link && !folder_entry});
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

bool TempTextFile::Create(const std::string& bytes) {
  char folder[MAX_PATH + 1] = {};
  char name[MAX_PATH] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "pgc", 0, name) == 0)
    return false;
  path_ = name;
  std::FILE* out = std::fopen(name, "wb");
  if (out == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && written;
}

std::string DefaultEditor() { return "notepad"; }  // Windows has no vi

std::string RunEditor(const std::string& editor, const std::string& path) {
  std::fflush(stdout);
  std::fflush(stderr);
  // cmd /c strips the outer pair of quotes, keeping quoted paths inside.
  const std::string command = "\"" + editor + " \"" + path + "\"\"";
  const int status = std::system(command.c_str());
  if (status == -1) return "cannot start the editor";
  if (status != 0) return "the editor exited with status " + std::to_string(status);
  return "";
}

std::string FolderOf(const std::string& target) {
  const std::size_t slash = LastSeparator(target);
  return slash == std::string::npos ? "."
         : slash == 0               ? target.substr(0, 1)
                                    : target.substr(0, slash);
}

std::uint32_t LastError() { return GetLastError(); }

std::string ErrorText(std::uint32_t error, pngc::os::SaveStep step, const std::string&) {
  using pngc::os::SaveStep;
  if (step == SaveStep::kOpenFolder &&
      (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
    return "no such folder";
  switch (error) {
    case ERROR_CANT_RESOLVE_FILENAME:
      return "a symbolic link to a missing file";
    case ERROR_BAD_FILE_TYPE:
      return "not a regular file";
    case ERROR_INVALID_OWNER:
      return "owned by another user";
    case ERROR_FILE_INVALID:
      return "changed by another program meanwhile";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "no space left on device";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "in use by another program";
    case ERROR_ACCESS_DENIED:
      return step == SaveStep::kOpenTarget ? "read-only, or not writable by you" : "access denied";
    default:
      break;
  }
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string words = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' ||
                            words.back() == ' ')) {
    words.pop_back();
  }
  if (!words.empty() && words[0] >= 'A' && words[0] <= 'Z')
    words[0] = static_cast<char>(words[0] - 'A' + 'a');
  return words;
}

namespace {

// A code page for a name: a number ("932", "cp932"), a few iconv names, or
// for the empty name the console's (else the system's ANSI) code page.
// 0 for a name not known here.
UINT CodePage(const std::string& name) {
  if (name.empty()) {
    const UINT console = GetConsoleOutputCP();
    return console != 0 ? console : GetACP();
  }
  std::string lower;
  for (const char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static const struct {
    const char* name;
    UINT code_page;
  } kNames[] = {{"utf-8", CP_UTF8},     {"utf8", CP_UTF8},    {"latin1", 28591},
                {"iso-8859-1", 28591},  {"iso8859-1", 28591}, {"shift_jis", 932},
                {"shift-jis", 932},     {"sjis", 932},        {"windows-31j", 932},
                {"windows-1252", 1252}, {"euc-jp", 20932},    {"ascii", 20127},
                {"us-ascii", 20127}};
  for (const auto& known : kNames) {
    if (lower == known.name) return known.code_page;
  }
  const std::string digits = lower.compare(0, 2, "cp") == 0 ? lower.substr(2) : lower;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  const unsigned long number = std::strtoul(digits.c_str(), nullptr, 10);
  return number > 0 && number < 65536 && IsValidCodePage(static_cast<UINT>(number))
             ? static_cast<UINT>(number)
             : 0;
}

}  // namespace

bool UnknownCharset(const std::string& name) { return CodePage(name) == 0; }

std::string TerminalCharset() { return std::to_string(CodePage("")); }

std::string SystemTextToUtf8(const std::string& text) {
  std::string utf8;
  std::size_t bad = 0;
  return ConvertText(std::to_string(GetACP()), "UTF-8", text, &utf8, &bad) ? utf8 : text;
}

std::string Utf8ToSystemText(const std::string& utf8) {
  std::string text;
  std::size_t bad = 0;
  return ConvertText("UTF-8", std::to_string(GetACP()), utf8, &text, &bad) ? text : utf8;
}

bool ConvertText(const std::string& from, const std::string& to, const std::string& in,
                 std::string* out, std::size_t* bad) {
  out->clear();
  *bad = 0;
  const UINT source = CodePage(from), target = CodePage(to);
  if (source == 0 || target == 0) return false;
  if (in.empty()) return true;
  const int size = static_cast<int>(in.size());
  const int wide_size =
      MultiByteToWideChar(source, MB_ERR_INVALID_CHARS, in.data(), size, nullptr, 0);
  if (wide_size == 0) return false;  // bytes that are no character of `from`
  std::vector<wchar_t> wide(static_cast<std::size_t>(wide_size));
  MultiByteToWideChar(source, MB_ERR_INVALID_CHARS, in.data(), size, wide.data(), wide_size);
  // A character `to` lacks is never replaced by a look-alike or a '?'.
  BOOL lost = FALSE;
  const bool utf8 = target == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  const int length = WideCharToMultiByte(target, flags, wide.data(), wide_size, nullptr, 0, nullptr,
                                         utf8 ? nullptr : &lost);
  if (length == 0 || lost) return false;
  out->resize(static_cast<std::size_t>(length));
  WideCharToMultiByte(target, flags, wide.data(), wide_size, &(*out)[0], length, nullptr, nullptr);
  return true;
}

bool GetModifiedTime(const std::string& path, FileTime* time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  const std::int64_t ticks = (std::int64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                             data.ftLastWriteTime.dwLowDateTime;
  time->seconds = ticks / 10000000;
  time->nanoseconds = (ticks % 10000000) * 100;
  return true;
}

bool SetModifiedTime(const std::string& path, const FileTime& time) {
  const HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::int64_t ticks = time.seconds * 10000000 + time.nanoseconds / 100;
  FILETIME written;
  written.dwLowDateTime = static_cast<DWORD>(ticks);
  written.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  const bool ok = SetFileTime(file, nullptr, nullptr, &written) != 0;
  CloseHandle(file);
  return ok;
}

}  // namespace hostos
