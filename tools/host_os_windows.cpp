// The host's seam on Windows (and under Wine).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdlib>

#include "tools/host_os.h"

namespace hostos {

const char* const kLibraryName = "pngcomment.dll";
const char* const kEndOfInputKey = "Ctrl-Z";

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  const std::string program(path, length);
  const std::size_t slash = program.find_last_of("\\/");
  return slash == std::string::npos ? "" : program.substr(0, slash + 1);
}

bool RegularFileSize(std::FILE* in, std::uint64_t* size, bool* folder) {
  struct _stati64 info {};
  if (_fstati64(_fileno(in), &info) != 0) return false;
  *folder = (info.st_mode & S_IFMT) == S_IFDIR;
  *size = static_cast<std::uint64_t>(info.st_size);
  return (info.st_mode & S_IFMT) == S_IFREG;
}

void SetBinary(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

bool TempTextFile::Create(const std::string& bytes) {
  char folder[MAX_PATH + 1] = {};
  char name[MAX_PATH] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "pgc", 0, name) == 0) return false;
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
  const std::size_t slash = target.find_last_of("\\/");
  return slash == std::string::npos ? "." : slash == 0 ? target.substr(0, 1) : target.substr(0, slash);
}

bool CanCreateIn(const std::string& folder) {
  const std::string probe = folder + "\\.pngc-probe-" + std::to_string(GetCurrentProcessId()) + ".tmp";
  const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
  CloseHandle(file);
  return true;
}

bool CanWrite(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool writable =
      GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
  CloseHandle(file);
  return writable;
}

}  // namespace hostos
