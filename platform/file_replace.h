// The save sequence's dealings with the system. file_replace.cpp runs the
// one sequence (open the target, sweep, make the temporary file, keep what
// the old file had, write, flush, check again, rename); file_replace_linux.cpp
// and file_replace_win32.cpp carry out each step, so that a check made on
// one system is made on the other.
#ifndef PNGCOMMENT_PLATFORM_FILE_REPLACE_H
#define PNGCOMMENT_PLATFORM_FILE_REPLACE_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/os.h"

namespace pngc::os {

// One save's files. Each step returns 0 or the system's error; nothing
// allocates once the temporary file exists. When the object goes it closes
// what it opened and removes a temporary file that was not put in place.
class SaveFiles {
 public:
  virtual ~SaveFiles() = default;
  // Opens `path` (not empty) for writing as the system would open it for
  // this process, which proves that it may write the file. A missing file
  // is a new one; a link to nowhere, a read-only file and anything but a
  // regular file are refused.
  virtual SystemError OpenTarget(const char* path) = 0;
  // Finds and opens the folder holding the file the name leads to (through
  // symbolic links), and checks that a file may be replaced there.
  virtual SystemError OpenFolder() = 0;
  // Removes the folder's temporary files of saves that died (see
  // TemporaryKind): only regular files of this user, never through a link,
  // never one that a live save anywhere holds. Fails nothing.
  virtual void RemoveAbandonedTemporaries() = 0;
  // A new temporary file in the folder: readable by its owner alone, locked
  // (kLockOffset) while this process holds it, and gone if the process dies
  // before PutInPlace where the system allows.
  virtual SystemError CreateTemporary() = 0;
  // What the temporary file must have before any data: file flags that some
  // file systems change only on an empty file.
  virtual SystemError PrepareTemporary() = 0;
  // Appends to what earlier calls wrote.
  virtual SystemError Write(const void* data, std::size_t size) = 0;
  // The old file's owner, group, permissions and attributes, checked after
  // they are set; nothing for a new file.
  virtual SystemError KeepAttributes() = 0;
  virtual SystemError Flush() = 0;
  // The name still holds the file opened, unchanged (size, modification and
  // change times), or for a new file still nothing; else kChangedError.
  virtual SystemError CheckUnchanged() = 0;
  // Renames the temporary file over the name (a new file: only while the
  // name is free), in one step.
  virtual SystemError PutInPlace() = 0;
  // Makes the rename itself durable, as far as the system allows.
  virtual void FlushFolder() = 0;
};

std::unique_ptr<SaveFiles> NewSaveFiles();

// Temporary names, the same on every system: ".pngc-" and 16 random hex
// digits, ".tmp". Short, so that a file whose own name is as long as the
// system allows can still be saved, and unguessable, so that names planted
// in a shared folder cannot stop a save.
constexpr std::size_t kTemporaryNameSize = 28;  // with its terminating zero
void TemporaryName(char (&name)[kTemporaryNameSize]);
// 64 random bits from the system (a weaker mix when it has none to give).
std::uint64_t RandomBits();

enum class TemporaryKind {
  kNone,     // not a temporary file's name
  kCurrent,  // this version's: a live save holds its lock
  kOlder,    // an earlier version's (".pngc-PID-N.tmp", ".pngc-wPID-N.tmp",
             // "NAME.pngc-PID-N.tmp"), whose writers took no lock: removed
             // only once it has not changed for kOlderAge seconds
};
TemporaryKind KindOfTemporary(const char* name);
constexpr std::int64_t kOlderAge = 3600;
// An empty temporary file younger than this may be a save's between its
// creation and its lock, and is left alone.
constexpr std::int64_t kEmptyAge = 60;

// The byte whose lock marks a temporary file as held by a live save: far
// past the end of any file, so that on Windows, where locks are mandatory,
// it never stands in the way of reading, and the same in both builds, so
// that a save under Wine and a native one see each other's.
constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;

}  // namespace pngc::os

#endif
