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

// Replaces the content of the file `path` with `size` bytes at `data`, or
// creates it. The name holds the whole old or the whole new file at every
// instant: the bytes go to a new temporary file in the same folder, readable
// by its owner alone, which takes the old file's owner, group, permissions
// and attributes, is flushed, and is then renamed over the name. A symbolic
// link is followed as far as the system lets this process open the file; the
// link stays and the file it names is replaced. Returns false, with the
// target exactly as it was and no temporary file left behind, when any step
// fails, when the file is read-only or this process may not write it, and
// when the new file could not keep what the old one had. Running out of
// memory raises std::bad_alloc before any file is created.
bool ReplaceFileContent(const char* path, const void* data, std::size_t size);

}  // namespace pngc::os

#endif
