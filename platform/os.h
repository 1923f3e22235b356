// The one seam between the plug-in and the operating system. The core calls
// the system only through these functions, and takes its memory through
// stream/allocation.h, so that a test can make any one call fail
// (SetFaultHook) and see that the plug-in answers cleanly.
#ifndef PNGCOMMENT_PLATFORM_OS_H
#define PNGCOMMENT_PLATFORM_OS_H

#include <cstddef>
#include <cstdint>

namespace pngc::os {

// The calls that can fail, for fault injection.
enum class Call {
  kAllocate,           // a byte buffer of the plug-in's own (zlib's included)
  kLocalAlloc,         // a local-memory block for the host
  kLocalLock,          // locking that block
  kCreateFile,         // creating the temporary file beside the target
  kCreateUnnamedFile,  // Linux: creating it unnamed (O_TMPFILE); when that
                       // fails, a named one is made instead
  kWriteFile,          // writing its content
  kKeepAttributes,     // giving it the old file's owner, group, permissions
                       // and attributes
  kFlushFile,          // flushing it to the disk
  kReplaceFile         // putting it in the target's place
};

// Called before each of the calls above; returning true makes that call fail
// as the system would. Null (the default) injects nothing.
using FaultHook = bool (*)(Call call);
void SetFaultHook(FaultHook hook);
// True when the installed hook asks `call` to fail.
bool Injected(Call call);

using LocalHandle = void*;

// LocalAlloc with LMEM_MOVEABLE | LMEM_ZEROINIT; null when it fails.
LocalHandle AllocateLocal(std::size_t bytes);
// LocalLock; null when it fails (as for any block of 0 bytes).
void* LockLocal(LocalHandle handle);
// LocalUnlock.
void UnlockLocal(LocalHandle handle);
// LocalFree; a null handle is ignored.
void FreeLocal(LocalHandle handle);

// MessageBoxA with an OK button and an information icon, owned by `owner`.
// Natively it prints caption and text to standard error and returns at once.
void ShowMessage(void* owner, const char* text, const char* caption);

// Dispatches the calling thread's pending window messages (PeekMessageA with
// PM_REMOVE, TranslateMessage, DispatchMessageA) so that the host's windows
// stay alive during long work. WM_QUIT is not dispatched: it is posted again
// with its exit code (PostQuitMessage) and false is returned, telling the
// caller to pump no more in this operation, so that the host still receives
// it once after the call. Natively there is nothing to pump: true.
bool PumpMessages();
// Whether PumpMessages can run any code of the host's: on Windows only.
#ifdef _WIN32
constexpr bool kPumpsMessages = true;
#else
constexpr bool kPumpsMessages = false;
#endif
// How many window messages PumpMessages has dispatched on this thread: a
// call that sees it unchanged knows that no host code ran meanwhile.
std::uint64_t DispatchedMessages();

// A system error code, as a host reads it after a failed call: errno on
// Linux, GetLastError's value on Windows. 0 means none.
using SystemError = std::uint32_t;
// Makes `error` the calling thread's last error (errno, SetLastError), for
// the host to read after a call returns.
void SetSystemError(SystemError error);
// Errors the plug-in reports of its own: the file changed or was replaced
// while it was saved (ESTALE, ERROR_FILE_INVALID); a bad argument (EINVAL,
// ERROR_INVALID_PARAMETER); memory ran out (ENOMEM, ERROR_NOT_ENOUGH_MEMORY);
// a fault injected by a test (EIO, ERROR_WRITE_FAULT).
extern const SystemError kChangedError;
extern const SystemError kBadArgumentError;
extern const SystemError kOutOfMemoryError;
extern const SystemError kInjectedError;

// The steps of a save, in their order, as a failed one is reported.
enum class SaveStep {
  kNone,             // nothing failed
  kOpenTarget,       // opening the file for writing: a read-only file, one
                     // this process may not write, a link to nowhere, not a
                     // regular file (EINVAL / ERROR_BAD_FILE_TYPE)
  kOpenFolder,       // finding and opening the folder that holds the file,
                     // and checking that a file may be replaced there (not
                     // an append-only folder, not a mount point: EPERM, EBUSY)
  kCreateTemporary,  // creating the new file in that folder
  kKeepAttributes,   // giving it what the old file had: owner, group,
                     // permissions, attributes (EPERM and the like)
  kWrite,            // writing and flushing it: a full disk, a size limit
  kPutInPlace,       // checking that the file is still the one opened and
                     // unchanged (ESTALE / ERROR_FILE_INVALID when another
                     // program changed or replaced it), then renaming
};

// What a save or its check came to: the error and the step it stopped at.
struct SaveResult {
  SystemError error = 0;
  SaveStep step = SaveStep::kNone;
  bool ok() const { return error == 0; }
};

// Replaces the content of the file `path` with `size` bytes at `data`, or
// creates it. The name holds the whole old or the whole new file at every
// instant: the bytes go to a new temporary file in the same folder, readable
// by its owner alone, which takes the old file's owner, group, permissions
// and attributes, is flushed, and is then renamed over the name, unless the
// file was changed meanwhile. A symbolic link is followed as far as the
// system lets this process open the file; the link stays and the file it
// names is replaced. On failure the target is exactly as it was, no
// temporary file is left behind, and the result says why and where: a
// read-only file, one this process may not write, one whose owner or
// attributes the new file could not keep, a file changed by another
// program. Running out of memory raises std::bad_alloc before any file is
// created.
SaveResult ReplaceFileContent(const char* path, const void* data, std::size_t size);
// The same with the content in pieces, written in their order.
struct ByteRange {
  const void* data;
  std::size_t size;
};
SaveResult ReplaceFileContent(const char* path, const ByteRange* pieces, std::size_t count);

// Goes through the steps of a save of `path` that can refuse it, up to
// giving an empty temporary file the old file's owner and attributes, and
// then drops that file: what it reports, a save now would meet. Changes
// nothing on disk.
SaveResult CheckFileReplace(const char* path);

}  // namespace pngc::os

#endif
