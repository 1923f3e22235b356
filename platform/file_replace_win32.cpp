// Safe replacement of a file's content on Windows: write a temporary file
// beside the target, flush it, then ReplaceFileA (which keeps the target's
// attributes, security and creation time) or, for a new file, MoveFileExA.
#include <cstdio>
#include <string>

#include "platform/os.h"
#include "platform/windows_types.h"

namespace pngc::os {
namespace {

// Creates a new file beside `target`, never over an existing one.
HANDLE CreateTemporary(const std::string& target, std::string* name) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".pngc-%lx-%x.tmp",
                  static_cast<unsigned long>(GetCurrentProcessId()), ++counter);
    *name = target + suffix;
    HANDLE file = CreateFileA(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE file, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, data, want, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool Replace(const char* path, const void* data, std::size_t size) {
  // Every call gets the full path: under Wine, ReplaceFileA fails on a bare
  // file name ("a.png") and on a relative path written with '/'.
  const DWORD length = GetFullPathNameA(path, 0, nullptr, nullptr);
  if (length == 0) return false;
  std::string target(length, '\0');
  const DWORD written = GetFullPathNameA(path, length, target.data(), nullptr);
  if (written == 0 || written >= length) return false;
  target.resize(written);
  path = target.c_str();
  const DWORD attributes = GetFileAttributesA(path);
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  // A file that another program holds open without sharing deletion cannot
  // be replaced. Asking first spares a failed ReplaceFileA, which under Wine
  // leaves a temporary file of its own behind.
  if (exists) {
    HANDLE probe = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    CloseHandle(probe);
  }

  if (Injected(Call::kCreateFile)) return false;
  std::string temporary;
  HANDLE file = CreateTemporary(target, &temporary);
  if (file == INVALID_HANDLE_VALUE) return false;

  bool ok = !Injected(Call::kWriteFile) &&
            WriteAll(file, static_cast<const unsigned char*>(data), size);
  ok = ok && !Injected(Call::kFlushFile) && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  if (ok && Injected(Call::kReplaceFile)) ok = false;
  if (ok) {
    ok = exists ? ReplaceFileA(path, temporary.c_str(), nullptr,
                               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                : MoveFileExA(temporary.c_str(), path,
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (!ok) {
    DeleteFileA(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool ReplaceFileContent(const char* path, const void* data, std::size_t size) {
  if (path == nullptr || *path == '\0' || (data == nullptr && size > 0)) return false;
  return Replace(path, data, size);
}

}  // namespace pngc::os
