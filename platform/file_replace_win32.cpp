// The save's steps on Windows, and under Wine (see file_replace.h).
//
// The file name arrives in the code page of the file functions (ANSI, or
// OEM after SetFileApisToOEM) and is turned into UTF-16 once: every later
// call takes the wide form with the "\\?\" prefix, so that paths are split
// at real separators whatever the code page (in code page 932 the second
// byte of a character such as 表, 0x95 0x5C, is a backslash) and a path
// longer than MAX_PATH still works.
//
// The file is opened for writing first, so that a file this process may not
// write (read-only, denied, held by another program) is refused before
// anything is made, and the path it was opened by
// (GetFinalPathNameByHandleW) is the one replaced: a symbolic link stays
// and the file it names gets the new content. The temporary file is opened
// without sharing and marked for deletion at once, so that a process that
// dies (killed, or SIGXFSZ under Wine) leaves nothing behind; it is locked,
// which another Wine prefix or a native save sees as a POSIX lock. It
// takes the old file's security (owner, group, DACL) and attributes, is
// flushed, and is renamed over the name through its own handle, which it
// keeps until then: no other save can take it for abandoned.
//
// ReplaceFileA is not used: Wine carries it out as two moves and a delete,
// which leave the name empty for a while and, through a symbolic link,
// delete the file the link names. Wine also keeps no security descriptor on
// a file: it maps one to the Unix mode when the file is created (the owner's
// and the others' read and write bits), so there the temporary file is
// created with the mode the old file shows, and nothing is copied later.
// Wine follows symbolic links even where FILE_FLAG_OPEN_REPARSE_POINT asks
// it not to, so a file looked at by name is trusted only when the path its
// handle resolves to is the one asked for.
#include <aclapi.h>
#include <ntsecapi.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_replace.h"
#include "platform/windows_types.h"

namespace pngc::os {

const SystemError kChangedError = ERROR_FILE_INVALID;
const SystemError kBadArgumentError = ERROR_INVALID_PARAMETER;
const SystemError kOutOfMemoryError = ERROR_NOT_ENOUGH_MEMORY;
const SystemError kInjectedError = ERROR_WRITE_FAULT;

void SetSystemError(SystemError error) { SetLastError(error); }

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  if (RtlGenRandom(&bits, sizeof bits)) return bits;
  static std::atomic<std::uint64_t> counter{0};  // saves may run on several threads
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  bits = static_cast<std::uint64_t>(now.QuadPart) ^
         (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40) ^ ++counter;
  return bits * 0x9E3779B97F4A7C15ull;
}

namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle) {
    Close();
    handle_ = handle;
  }
  void Close() {
    if (valid()) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

// A block that LocalFree releases (security descriptors, SIDs).
struct LocalBlock {
  void* block = nullptr;
  ~LocalBlock() {
    if (block != nullptr) LocalFree(block);
  }
};

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

SystemError LastError() { return GetLastError(); }

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::int64_t Seconds(const FILETIME& time) {
  return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) |
                                   time.dwLowDateTime) /
         10000000;
}

// Locks byte kLockOffset: exclusive for the save that holds the file, shared
// for a sweep that asks whether anyone does. False when another holds it.
bool Lock(HANDLE file, bool exclusive) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(kLockOffset);
  at.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
  return LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0), 0,
                    1, 0, &at) != 0;
}

bool MarkForDeletion(HANDLE file, bool deleted) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleted ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

// A path from a call that fills a buffer and returns the path's length, or
// the size it needs when the buffer is too small: Windows counts the
// terminator in that size and Wine does not, so a buffer one longer is asked
// for and a result that does not fit in it is asked for again.
template <typename Fill>
bool GetPath(Fill fill, std::wstring* path) {
  DWORD size = fill(nullptr, 0);
  for (int attempt = 0; attempt < 3 && size > 0; ++attempt) {
    path->assign(size + 1, L'\0');
    const DWORD length = fill(path->data(), size + 1);
    if (length == 0) return false;
    if (length <= size) {
      path->resize(length);
      return true;
    }
    size = length;
  }
  return false;
}

bool FinalPath(HANDLE handle, std::wstring* path) {
  return GetPath(
      [handle](wchar_t* buffer, DWORD size) {
        return GetFinalPathNameByHandleW(handle, buffer, size, VOLUME_NAME_DOS);
      },
      path);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// A full path in the form that every wide call takes at any length.
std::wstring LongForm(const std::wstring& full) {
  if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// What Wine's security descriptor of a file says of its Unix mode: an
// allowing ACE for Everyone carries the others' bits.
void ReadWorldAccess(PACL dacl, bool* reads, bool* writes) {
  SID_IDENTIFIER_AUTHORITY world_authority = SECURITY_WORLD_SID_AUTHORITY;
  PSID world = nullptr;
  if (dacl == nullptr || !AllocateAndInitializeSid(&world_authority, 1, SECURITY_WORLD_RID, 0, 0, 0,
                                                   0, 0, 0, 0, &world)) {
    return;
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
        ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !EqualSid(reinterpret_cast<PSID>(&ace->SidStart), world)) {
      continue;
    }
    *reads = *reads || (ace->Mask & (FILE_READ_DATA | GENERIC_READ)) != 0;
    *writes = *writes || (ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE)) != 0;
  }
  FreeSid(world);
}

// This process's user.
bool ProcessUser(std::vector<unsigned char>* user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  user->resize(size);
  const bool got = size > 0 && GetTokenInformation(token, TokenUser, user->data(), size, &size);
  CloseHandle(token);
  return got;
}

PSID SidOf(std::vector<unsigned char>& user) {
  return reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
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

class WindowsSaveFiles final : public SaveFiles {
 public:
  WindowsSaveFiles() : wine_(RunningUnderWine()) {}
  ~WindowsSaveFiles() override {
    if (!temporary_.valid() || placed_) return;
    // Marked for deletion since its creation, or marked again now; a file
    // system that takes no mark loses the file by name once it is closed.
    const bool marked = pending_ || MarkForDeletion(temporary_.get(), true);
    temporary_.Close();
    if (!marked) DeleteFileW(temporary_path_.c_str());
  }

  SystemError OpenTarget(const char* path) override {
    const UINT code_page = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    const int length = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (length <= 0) return LastError();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, path, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length) - 1);
    std::wstring full;
    if (!GetPath(
            [&wide](wchar_t* buffer, DWORD size) {
              return GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
            },
            &full)) {
      return LastError();
    }
    path_ = LongForm(full);
    // DELETE as well: a file another program holds open without sharing its
    // deletion cannot be replaced, and asking now spares writing it all.
    Handle old(CreateFileW(path_.c_str(), GENERIC_WRITE | READ_CONTROL | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!old.valid()) {
      const SystemError error = LastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return error;
      // Nothing there: a new file, unless the name is taken by what cannot
      // be opened, such as a link to nowhere (Windows lists it; Wine lists
      // nothing but says so otherwise than for a free name), which would
      // make the save create a file wherever the link points.
      if (path_.find_first_of(L"*?", path_.rfind(L'\\')) != std::wstring::npos)
        return ERROR_INVALID_NAME;
      WIN32_FIND_DATAW found;
      const HANDLE search = FindFirstFileW(path_.c_str(), &found);
      if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return ERROR_CANT_RESOLVE_FILENAME;
      }
      const SystemError why = LastError();
      return why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND
                 ? 0
                 : ERROR_CANT_RESOLVE_FILENAME;
    }
    exists_ = true;
    if (GetFileType(old.get()) != FILE_TYPE_DISK) return ERROR_BAD_FILE_TYPE;
    if (!GetFileInformationByHandle(old.get(), &info_) ||
        !GetFileInformationByHandleEx(old.get(), FileBasicInfo, &basic_, sizeof basic_)) {
      return LastError();
    }
    if ((info_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ERROR_BAD_FILE_TYPE;
    if ((info_.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return ERROR_ACCESS_DENIED;
    if (!FinalPath(old.get(), &path_)) return LastError();
    PACL dacl = nullptr;
    if (const DWORD error = GetSecurityInfo(
            old.get(), SE_FILE_OBJECT,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &owner_, nullptr, &dacl, nullptr, &security_.block)) {
      return error;
    }
    if (wine_) ReadWorldAccess(dacl, &world_reads_, &world_writes_);
    return 0;
  }

  SystemError OpenFolder() override {
    const std::size_t separator = path_.rfind(L'\\');
    if (separator == std::wstring::npos) return ERROR_INVALID_NAME;
    folder_ = path_.substr(0, separator + 1);
    Handle folder(CreateFileW(folder_.c_str(), FILE_LIST_DIRECTORY,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid() || !FinalPath(folder.get(), &folder_final_)) return LastError();
    if (folder_final_.empty() || folder_final_.back() != L'\\') folder_final_ += L'\\';
    // Room for every later name, so that nothing allocates once the
    // temporary file exists, and the rename's request: the name in the
    // form the system's own calls take ("\??\C:\...").
    temporary_path_.reserve(folder_.size() + kTemporaryNameSize);
    const std::wstring nt_path = L"\\??\\" + path_.substr(4);
    rename_.assign(sizeof(FILE_RENAME_INFO) + nt_path.size() * sizeof(wchar_t), 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(rename_.data());
    rename->ReplaceIfExists = exists_ ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(nt_path.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, nt_path.data(), rename->FileNameLength);
    return 0;
  }

  void RemoveAbandonedTemporaries() override {
    std::vector<unsigned char> user;
    if (!ProcessUser(&user)) return;
    // Earlier versions of the Linux build put their tag after the file's name.
    std::wstring candidate = folder_ + L"*.pngc-*.tmp", final_path;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(candidate.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    FILETIME now_time;
    GetSystemTimeAsFileTime(&now_time);
    const std::int64_t now = Seconds(now_time);
    do {
      char name[MAX_PATH] = {};
      if (WideCharToMultiByte(CP_ACP, 0, found.cFileName, -1, name, sizeof name, nullptr,
                              nullptr) == 0) {
        continue;
      }
      const TemporaryKind kind = KindOfTemporary(name);
      if (kind == TemporaryKind::kNone) continue;
      candidate = folder_ + found.cFileName;
      // A live save's file is open without sharing: it does not open here.
      Handle file(CreateFileW(candidate.c_str(), GENERIC_READ | DELETE | READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      BY_HANDLE_FILE_INFORMATION info{};
      if (!file.valid() || !GetFileInformationByHandle(file.get(), &info) ||
          (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
              0 ||
          info.nNumberOfLinks != 1 || !FinalPath(file.get(), &final_path) ||
          final_path != folder_final_ + found.cFileName) {
        continue;  // a link, which Wine follows: never the file it names
      }
      PSID owner = nullptr;
      LocalBlock descriptor;
      if (GetSecurityInfo(file.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor.block) != ERROR_SUCCESS ||
          owner == nullptr || !EqualSid(owner, SidOf(user))) {
        continue;
      }
      const std::int64_t age = now - Seconds(info.ftLastWriteTime);
      const bool empty = info.nFileSizeHigh == 0 && info.nFileSizeLow == 0;
      if ((kind == TemporaryKind::kOlder && age < kOlderAge) || (empty && age < kEmptyAge) ||
          !Lock(file.get(), false)) {
        continue;
      }
      MarkForDeletion(file.get(), true);  // this very file, whatever its name now leads to
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }

  SystemError CreateTemporary() override {
    if (exists_) {
      if (const SystemError error = MakePrivateSecurity()) return error;
    }
    // A new file is made with the folder's default security, as any other.
    SECURITY_ATTRIBUTES* attributes = exists_ ? &security_attributes_ : nullptr;
    for (int attempt = 0; attempt < 100 && !temporary_.valid(); ++attempt) {
      char name[kTemporaryNameSize];
      TemporaryName(name);
      temporary_path_.assign(folder_);
      for (const char* at = name; *at != '\0'; ++at) temporary_path_ += static_cast<wchar_t>(*at);
      temporary_.Reset(CreateFileW(temporary_path_.c_str(),
                                   GENERIC_WRITE | DELETE | WRITE_DAC | WRITE_OWNER | READ_CONTROL,
                                   0, attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!temporary_.valid() && GetLastError() != ERROR_FILE_EXISTS) return LastError();
    }
    if (!temporary_.valid()) return ERROR_FILE_EXISTS;
    pending_ = MarkForDeletion(temporary_.get(), true);
    Lock(temporary_.get(), true);
    return 0;
  }

  SystemError PrepareTemporary() override { return 0; }

  SystemError Write(const void* data, std::size_t size) override {
    return WriteAll(temporary_.get(), static_cast<const unsigned char*>(data), size) ? 0
                                                                                     : LastError();
  }

  SystemError KeepAttributes() override {
    if (!exists_) return 0;
    if (!wine_) {
      if (const SystemError error = KeepSecurity()) return error;
    }
    const DWORD kept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD wanted = info_.dwFileAttributes & kept;
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(temporary_.get(), FileBasicInfo, &basic, sizeof basic))
      return LastError();
    // Under Wine a name starting with a dot shows as hidden: the temporary
    // file's own name says nothing of what the file should be.
    if ((basic.FileAttributes & kept) == wanted || (wine_ && wanted == 0)) return 0;
    basic.FileAttributes = (basic.FileAttributes & ~kept) | wanted;
    return SetFileInformationByHandle(temporary_.get(), FileBasicInfo, &basic, sizeof basic)
               ? 0
               : LastError();
  }

  SystemError Flush() override { return FlushFileBuffers(temporary_.get()) ? 0 : LastError(); }

  SystemError CheckUnchanged() override {
    Handle now(CreateFileW(path_.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!now.valid()) {
      const SystemError error = LastError();
      return !exists_ && error == ERROR_FILE_NOT_FOUND ? 0 : kChangedError;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    return exists_ && GetFileInformationByHandle(now.get(), &info) &&
                   GetFileInformationByHandleEx(now.get(), FileBasicInfo, &basic, sizeof basic) &&
                   SameFile(info, info_) && info.nFileSizeHigh == info_.nFileSizeHigh &&
                   info.nFileSizeLow == info_.nFileSizeLow &&
                   SameTime(info.ftLastWriteTime, info_.ftLastWriteTime) &&
                   basic.ChangeTime.QuadPart == basic_.ChangeTime.QuadPart
               ? 0
               : kChangedError;
  }

  SystemError PutInPlace() override {
    if (pending_ && !MarkForDeletion(temporary_.get(), false)) return LastError();
    pending_ = false;
    if (!SetFileInformationByHandle(temporary_.get(), FileRenameInfo, rename_.data(),
                                    static_cast<DWORD>(rename_.size()))) {
      const SystemError error = LastError();
      return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? kChangedError : error;
    }
    placed_ = true;
    // As MOVEFILE_WRITE_THROUGH does: the rename reaches the disk before the
    // save reports success.
    FlushFileBuffers(temporary_.get());
    return 0;
  }

  void FlushFolder() override {}

 private:
  // The security descriptor the temporary file is created with. On Windows:
  // full access for this user alone, until it takes the old file's. Under
  // Wine: the Unix mode the old file shows, the owner's reading and writing
  // and the others' access; Wine gives the owner's bits only to an owner
  // outside the process's groups, hence the null SID as owner (Wine keeps
  // none of this beyond the mode).
  SystemError MakePrivateSecurity() {
    PSID owner = nullptr;
    SID_IDENTIFIER_AUTHORITY null_authority = SECURITY_NULL_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY world_authority = SECURITY_WORLD_SID_AUTHORITY;
    unsigned char null_sid[SECURITY_MAX_SID_SIZE], world_sid[SECURITY_MAX_SID_SIZE];
    if (wine_) {
      if (!InitializeSid(null_sid, &null_authority, 1) ||
          !InitializeSid(world_sid, &world_authority, 1)) {
        return LastError();
      }
      *GetSidSubAuthority(null_sid, 0) = SECURITY_NULL_RID;
      *GetSidSubAuthority(world_sid, 0) = SECURITY_WORLD_RID;
      owner = null_sid;
    } else {
      if (!ProcessUser(&user_)) return LastError();
      owner = SidOf(user_);
    }
    acl_.resize(sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE));
    auto* acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION,
                             wine_ ? FILE_READ_DATA | FILE_WRITE_DATA : FILE_ALL_ACCESS, owner)) {
      return LastError();
    }
    const DWORD world = (world_reads_ ? FILE_READ_DATA : 0) | (world_writes_ ? FILE_WRITE_DATA : 0);
    if (wine_ && world != 0 && !AddAccessAllowedAce(acl, ACL_REVISION, world, world_sid))
      return LastError();
    SECURITY_DESCRIPTOR descriptor{};
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
        (wine_ && !SetSecurityDescriptorOwner(&descriptor, owner, FALSE))) {
      return LastError();
    }
    // Self-relative, the form Wine reads the owner from.
    DWORD size = 0;
    MakeSelfRelativeSD(&descriptor, nullptr, &size);
    relative_.resize(size);
    if (size == 0 || !MakeSelfRelativeSD(&descriptor, relative_.data(), &size)) return LastError();
    security_attributes_ = {sizeof(SECURITY_ATTRIBUTES), relative_.data(), FALSE};
    return 0;
  }

  // Gives the temporary file the old one's owner, group and DACL (inherited
  // entries come again from the same folder). A file whose owner cannot be
  // kept is not replaced.
  SystemError KeepSecurity() {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    PSID group = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (!GetSecurityDescriptorControl(security_.block, &control, &revision) ||
        !GetSecurityDescriptorGroup(security_.block, &group, &defaulted) ||
        !GetSecurityDescriptorDacl(security_.block, &present, &dacl, &defaulted)) {
      return LastError();
    }
    const SECURITY_INFORMATION dacl_info =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const HANDLE file = temporary_.get();
    const DWORD error = SetSecurityInfo(
        file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | dacl_info,
        owner_, group, present ? dacl : nullptr, nullptr);
    if (error == ERROR_SUCCESS) return 0;
    // Not allowed to name the owner: fine only if it is this user already.
    PSID owner = nullptr;
    LocalBlock now;
    if (const DWORD again = SetSecurityInfo(file, SE_FILE_OBJECT, dacl_info, nullptr, nullptr,
                                            present ? dacl : nullptr, nullptr)) {
      return again;
    }
    return GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                           nullptr, nullptr, &now.block) == ERROR_SUCCESS &&
                   owner != nullptr && owner_ != nullptr && EqualSid(owner, owner_)
               ? 0
               : ERROR_INVALID_OWNER;
  }

  const bool wine_;
  std::wstring path_;          // "\\?\..." as the system resolved it
  std::wstring folder_;        // its folder, with the trailing separator
  std::wstring folder_final_;  // the folder as its handle resolves it (links followed)
  bool exists_ = false;
  BY_HANDLE_FILE_INFORMATION info_{};
  FILE_BASIC_INFO basic_{};
  LocalBlock security_;  // the old file's security descriptor
  PSID owner_ = nullptr;
  bool world_reads_ = false, world_writes_ = false;  // the Unix mode's others (Wine)
  std::vector<unsigned char> user_, acl_, relative_, rename_;
  SECURITY_ATTRIBUTES security_attributes_{};
  std::wstring temporary_path_;
  Handle temporary_;
  bool pending_ = false;  // marked for deletion on close
  bool placed_ = false;
};

}  // namespace

std::unique_ptr<SaveFiles> NewSaveFiles() { return std::make_unique<WindowsSaveFiles>(); }

}  // namespace pngc::os
