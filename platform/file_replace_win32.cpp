// Safe replacement of a file's content on Windows, and under Wine.
//
// The file to replace is opened for writing first, so that a file this
// process may not write (read-only, denied, held by another program) is
// refused before anything is made, and the path it was opened by
// (GetFinalPathNameByHandleA) is the one replaced: a symbolic link stays and
// the file it names gets the new content. The new content goes to a
// temporary file under a short name in that folder, readable by the user
// alone; it takes the old file's attributes and security (owner, group,
// DACL), is flushed, and is moved over the name by one MoveFileExA, so that
// the name holds the whole old or the whole new file at every instant.
//
// ReplaceFileA is not used: Wine carries it out as two moves and a delete,
// which leave the name empty for a while and, through a symbolic link,
// delete the file the link names. Wine also keeps no security descriptor on
// a file: it maps one to the Unix mode when the file is created (the owner's
// and the others' read and write bits), so there the temporary file is
// created with the mode the old file shows, and nothing is copied later.
#include <aclapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_replace.h"
#include "platform/os.h"
#include "platform/windows_types.h"

namespace pngc::os {
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
  bool Close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle == INVALID_HANDLE_VALUE || CloseHandle(handle);
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

// Temporary names: ".pngc-wPID-N.tmp" (PID in hex), short so that a file
// whose own path is near the limit can still be saved. The "w" keeps them
// apart from the Linux build's, whose process ids are another system's.
constexpr char kTemporaryPattern[] = ".pngc-w*.tmp";

void TemporaryName(const std::string& folder, std::string* path) {
  static unsigned counter = 0;
  char name[48];
  std::snprintf(name, sizeof name, ".pngc-w%lx-%x.tmp",
                static_cast<unsigned long>(GetCurrentProcessId()), ++counter);
  path->assign(folder);
  path->append(name);
}

bool ProcessIsRunning(DWORD pid) {
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

// Removes the temporary files in `folder` of saves whose process is gone (a
// save killed before its move): nothing else would ever remove them. One
// still being written is open without sharing and cannot be deleted anyway.
void RemoveAbandonedTemporaries(const std::string& folder, std::string* scratch) {
  scratch->assign(folder);
  scratch->append(kTemporaryPattern);
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(scratch->c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    unsigned long pid = 0;
    unsigned counter = 0;
    int end = 0;
    if (std::sscanf(found.cFileName, ".pngc-w%lx-%x.tmp%n", &pid, &counter, &end) != 2 ||
        found.cFileName[end] != '\0' || pid == GetCurrentProcessId() ||
        ProcessIsRunning(static_cast<DWORD>(pid))) {
      continue;
    }
    scratch->assign(folder);
    scratch->append(found.cFileName);
    DeleteFileA(scratch->c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// Where the save goes, and what the old file had.
struct Target {
  std::string path;    // as the system resolved it
  std::string folder;  // with its trailing separator
  bool exists = false;
  BY_HANDLE_FILE_INFORMATION info{};
  LocalBlock security;  // the old file's security descriptor (Windows)
  PSID owner = nullptr;
  bool world_reads = false, world_writes = false;  // the Unix mode's others (Wine)
};

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// What Wine's security descriptor of a file says of its Unix mode: an
// allowing ACE for Everyone carries the others' bits.
void ReadWorldAccess(PACL dacl, Target* target) {
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
    target->world_reads = target->world_reads || (ace->Mask & (FILE_READ_DATA | GENERIC_READ)) != 0;
    target->world_writes = target->world_writes ||
                           (ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE)) != 0;
  }
  FreeSid(world);
}

// A path from a call that fills a buffer and returns the path's length, or
// the size it needs when the buffer is too small: Windows counts the
// terminator in that size and Wine does not, so a buffer one longer is asked
// for and a result that does not fit in it is asked for again.
template <typename Fill>
bool GetPath(Fill fill, std::string* path) {
  DWORD size = fill(nullptr, 0);
  for (int attempt = 0; attempt < 3 && size > 0; ++attempt) {
    path->assign(size + 1, '\0');
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

bool FindTarget(const char* path, bool wine, Target* target) {
  // DELETE as well: a file another program holds open without sharing its
  // deletion cannot be replaced, and asking now spares writing it all.
  Handle old(CreateFileA(path, GENERIC_WRITE | READ_CONTROL | DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (old.valid()) {
    target->exists = true;
    if (!GetFileInformationByHandle(old.get(), &target->info) ||
        (target->info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) !=
            0) {
      return false;
    }
    const HANDLE opened = old.get();
    if (!GetPath(
            [opened](char* buffer, DWORD size) {
              return GetFinalPathNameByHandleA(opened, buffer, size, 0);
            },
            &target->path)) {
      return false;
    }
    // "\\?\C:\..." as "C:\...": the ANSI calls take MAX_PATH characters
    // either way, and the prefix would spend four of them.
    if (target->path.compare(0, 4, "\\\\?\\") == 0 && target->path.size() > 6 &&
        target->path[5] == ':') {
      target->path.erase(0, 4);
    }
    PACL dacl = nullptr;
    if (GetSecurityInfo(
            old.get(), SE_FILE_OBJECT,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &target->owner, nullptr, &dacl, nullptr, &target->security.block) != ERROR_SUCCESS) {
      return false;
    }
    if (wine) ReadWorldAccess(dacl, target);
  } else {
    // A new file. Every later call gets the full path: under Wine, moves
    // fail on a bare file name and on a relative path written with '/'.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    if (!GetPath([path](char* buffer,
                        DWORD size) { return GetFullPathNameA(path, size, buffer, nullptr); },
                 &target->path)) {
      return false;
    }
  }
  const auto separator = target->path.find_last_of("\\/");
  if (separator == std::string::npos) return false;
  target->folder = target->path.substr(0, separator + 1);
  return true;
}

// True while the name still holds the file that was opened (or, for a new
// file, nothing): the file replaced is the one this process may write.
bool StillTheTarget(const Target& target) {
  Handle now(CreateFileA(
      target.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!now.valid()) return !target.exists && GetLastError() == ERROR_FILE_NOT_FOUND;
  BY_HANDLE_FILE_INFORMATION info{};
  return target.exists && GetFileInformationByHandle(now.get(), &info) &&
         SameFile(info, target.info);
}

// The security descriptor the temporary file is created with. On Windows:
// full access for this user alone, until it takes the old file's. Under
// Wine, for a file that replaces another: the Unix mode the old file shows,
// the owner's reading and writing and the others' access; Wine gives the
// owner's bits only to an owner outside the process's groups, hence the
// null SID as owner (Wine keeps none of this beyond the mode).
struct PrivateSecurity {
  SECURITY_DESCRIPTOR descriptor{};
  std::vector<unsigned char> acl;
  std::vector<unsigned char> user;
  std::vector<unsigned char> relative;
  SECURITY_ATTRIBUTES attributes{};
};

bool MakePrivateSecurity(const Target& target, bool wine, PrivateSecurity* security) {
  PSID owner = nullptr;
  SID_IDENTIFIER_AUTHORITY null_authority = SECURITY_NULL_SID_AUTHORITY;
  SID_IDENTIFIER_AUTHORITY world_authority = SECURITY_WORLD_SID_AUTHORITY;
  unsigned char null_sid[SECURITY_MAX_SID_SIZE], world_sid[SECURITY_MAX_SID_SIZE];
  if (wine) {
    if (!InitializeSid(null_sid, &null_authority, 1)) return false;
    *GetSidSubAuthority(null_sid, 0) = SECURITY_NULL_RID;
    if (!InitializeSid(world_sid, &world_authority, 1)) return false;
    *GetSidSubAuthority(world_sid, 0) = SECURITY_WORLD_RID;
    owner = null_sid;
  } else {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    security->user.resize(size);
    const bool got =
        size > 0 && GetTokenInformation(token, TokenUser, security->user.data(), size, &size);
    CloseHandle(token);
    if (!got) return false;
    owner = reinterpret_cast<TOKEN_USER*>(security->user.data())->User.Sid;
  }
  security->acl.resize(sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE));
  auto* acl = reinterpret_cast<PACL>(security->acl.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(security->acl.size()), ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION,
                           wine ? FILE_READ_DATA | FILE_WRITE_DATA : FILE_ALL_ACCESS, owner)) {
    return false;
  }
  const DWORD world =
      (target.world_reads ? FILE_READ_DATA : 0) | (target.world_writes ? FILE_WRITE_DATA : 0);
  if (wine && world != 0 && !AddAccessAllowedAce(acl, ACL_REVISION, world, world_sid)) return false;
  if (!InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE) ||
      !SetSecurityDescriptorControl(&security->descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
      (wine && !SetSecurityDescriptorOwner(&security->descriptor, owner, FALSE))) {
    return false;
  }
  // Self-relative, the form Wine reads the owner from.
  DWORD size = 0;
  MakeSelfRelativeSD(&security->descriptor, nullptr, &size);
  security->relative.resize(size);
  if (size == 0 || !MakeSelfRelativeSD(&security->descriptor, security->relative.data(), &size))
    return false;
  security->attributes = {sizeof(SECURITY_ATTRIBUTES), security->relative.data(), FALSE};
  return true;
}

// Gives the temporary file the old one's owner, group and DACL (inherited
// entries come again from the same folder), and its attributes. A file whose
// owner cannot be kept is not replaced.
bool KeepSecurity(const Target& target, HANDLE file) {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID group = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!GetSecurityDescriptorControl(target.security.block, &control, &revision) ||
      !GetSecurityDescriptorGroup(target.security.block, &group, &defaulted) ||
      !GetSecurityDescriptorDacl(target.security.block, &present, &dacl, &defaulted)) {
    return false;
  }
  const SECURITY_INFORMATION dacl_info =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);
  if (SetSecurityInfo(file, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | dacl_info,
                      target.owner, group, present ? dacl : nullptr, nullptr) == ERROR_SUCCESS) {
    return true;
  }
  // Not allowed to name the owner: fine only if it is this user already.
  PSID owner = nullptr;
  LocalBlock now;
  return SetSecurityInfo(file, SE_FILE_OBJECT, dacl_info, nullptr, nullptr,
                         present ? dacl : nullptr, nullptr) == ERROR_SUCCESS &&
         GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                         nullptr, &now.block) == ERROR_SUCCESS &&
         owner != nullptr && target.owner != nullptr && EqualSid(owner, target.owner);
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

}  // namespace

bool ReplaceChecked(const char* path, const void* data, std::size_t size) {
  // Everything that allocates happens before the temporary file exists:
  // nothing may throw once there is a file to clean up.
  const bool wine = RunningUnderWine();
  Target target;
  PrivateSecurity security;
  if (!FindTarget(path, wine, &target) || !StillTheTarget(target)) return false;
  // A new file is made with the folder's default security, as any other.
  if (target.exists && !MakePrivateSecurity(target, wine, &security)) return false;
  std::string temporary;
  temporary.reserve(target.folder.size() + 48);
  RemoveAbandonedTemporaries(target.folder, &temporary);

  if (Injected(Call::kCreateFile)) return false;
  Handle file;
  for (int attempt = 0; attempt < 100 && !file.valid(); ++attempt) {
    TemporaryName(target.folder, &temporary);
    file.Reset(CreateFileA(temporary.c_str(),
                           GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL, 0,
                           security.attributes.nLength != 0 ? &security.attributes : nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (!file.valid()) return false;

  bool ok = !Injected(Call::kWriteFile) &&
            WriteAll(file.get(), static_cast<const unsigned char*>(data), size);
  if (ok && target.exists) {
    ok = !Injected(Call::kKeepAttributes) && (wine || KeepSecurity(target, file.get()));
    const DWORD kept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD wanted = target.info.dwFileAttributes & kept;
    FILE_BASIC_INFO basic{};
    ok = ok && GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic);
    // Under Wine a name starting with a dot shows as hidden: the temporary
    // file's own name says nothing of what the file should be.
    if (ok && (basic.FileAttributes & kept) != wanted && !(wine && wanted == 0)) {
      basic.FileAttributes = (basic.FileAttributes & ~kept) | wanted;
      ok = SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
    }
  }
  ok = ok && !Injected(Call::kFlushFile) && FlushFileBuffers(file.get());
  ok = file.Close() && ok;
  ok = ok && !Injected(Call::kReplaceFile) && StillTheTarget(target) &&
       MoveFileExA(temporary.c_str(), target.path.c_str(),
                   MOVEFILE_WRITE_THROUGH | (target.exists ? MOVEFILE_REPLACE_EXISTING : 0));
  if (!ok) {
    DeleteFileA(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace pngc::os
