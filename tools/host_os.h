// The command-line host's one seam around the operating system, apart from
// the plug-in's own: files and standard streams, the editor, the program's
// folder. host_os_posix.cpp and host_os_windows.cpp carry it out.
#ifndef PNGCOMMENT_TOOLS_HOST_OS_H
#define PNGCOMMENT_TOOLS_HOST_OS_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"
#include "stream/memory_stream.h"

namespace hostos {

// The plug-in takes sizes as signed 32-bit counts.
constexpr std::uint64_t kMaxBytes = pngc::kMaxStreamSize;

// The plug-in's file name, and this program's folder with its trailing
// separator ("" when it cannot be told), found without /proc where it is
// missing from the name the program was started by (`argv0`).
extern const char* const kLibraryName;
std::string ProgramFolder(const char* argv0);

// What tells one state of a file from another: the file itself, its size,
// its modification and change times. A write, or a replacement by another
// file, changes it.
struct FileIdentity {
  std::uint64_t device = 0, file = 0, size = 0;
  std::int64_t modified = 0, changed = 0;  // in the system's own units
  bool operator==(const FileIdentity& other) const {
    return device == other.device && file == other.file && size == other.size &&
           modified == other.modified && changed == other.changed;
  }
};
// The identity of the file `path` names (through links), or of an open one.
bool IdentityOf(const std::string& path, FileIdentity* identity);
bool IdentityOf(std::FILE* file, FileIdentity* identity);

enum class ReadStatus {
  kOk,
  kCannotRead,  // missing, a folder, no permission, an I/O error
  kTooLarge,    // over kMaxBytes
  kNoMemory,
};

// Reads a stream whole. A regular file's size is checked before any byte is
// read, so that a file the plug-in cannot take is never loaded.
ReadStatus ReadStream(std::FILE* in, std::string* bytes);
ReadStatus ReadFile(const std::string& path, std::string* bytes);

// A PNG file's bytes in memory. Whole, for a rewrite; or, for reading its
// texts, only the signature, every chunk header and the chunks that are read
// (IHDR, tEXt, zTXt, iTXt), in a buffer of the file's size whose other pages
// the system never brings in: a large image costs the pages of its texts.
class FileImage {
 public:
  FileImage() = default;
  FileImage(FileImage&&) = delete;  // data() may point into the object
  // A file ("-": standard input, always read whole).
  ReadStatus Load(const std::string& path, bool whole);
  const std::uint8_t* data() const { return data_; }
  // The file's identity when it was read; false for a stream.
  bool identity(FileIdentity* identity) const {
    *identity = identity_;
    return has_identity_;
  }
  std::size_t size() const { return size_; }

 private:
  bool Allocate(std::size_t size);
  // Reads what the plug-in's walk reads, for a file that is only read.
  bool ReadChunksOnly(std::FILE* in);
  // Gives the system back the pages of a file that was read.
  struct PagesRelease {
    std::size_t size;  // value-initialised by unique_ptr
    void operator()(std::uint8_t* pages) const;
  };
  std::unique_ptr<std::uint8_t, PagesRelease> pages_;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::string read_;  // standard input's bytes
  FileIdentity identity_;
  bool has_identity_ = false;
};

// Standard input and output pass bytes as they are (Windows would turn LF
// into CR LF and stop at Ctrl-Z in text mode).
void SetBinary(std::FILE* stream);
bool IsTerminal(std::FILE* stream);
// The key that ends typed input ("Ctrl-D", "Ctrl-Z"), and the line end of
// this system's text files, for lines written among binary output.
extern const char* const kEndOfInputKey;
extern const char* const kLineEnd;

// A temporary file for the editor, private to the user, removed when this
// object goes unless kept, and when the program is ended by a signal that
// can be caught (InstallCleanup).
class TempTextFile {
 public:
  TempTextFile() = default;
  TempTextFile(const TempTextFile&) = delete;
  TempTextFile& operator=(const TempTextFile&) = delete;
  ~TempTextFile();
  bool Create(const std::string& bytes);
  const std::string& path() const { return path_; }
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

// Makes the ends of this program that can be caught leave no temporary file
// behind: Ctrl-C, a hang-up, a termination request; a reader that goes away
// (`| head`) becomes a write error rather than an end.
void InstallCleanup();

// $VISUAL, $EDITOR, or the system's own editor.
std::string EditorCommand();
// Runs `editor` on `path` through the shell, so that a value with its own
// arguments ("code --wait") works. "" on success, else why it failed.
std::string RunEditor(const std::string& editor, const std::string& path);

// Text between a named character set (iconv names; on Windows also code
// page numbers) and this terminal's (an empty name). False when `in` holds a
// character that cannot be converted; `*bad` then tells the byte where it
// starts. UnknownCharset is true when the name is none the system knows.
bool ConvertText(const std::string& from, const std::string& to, const std::string& in,
                 std::string* out, std::size_t* bad);
bool UnknownCharset(const std::string& name);
// The terminal's character set, as ConvertText names it ("UTF-8", "932").
std::string TerminalCharset();
// Text in the system's own set (file names: the locale's; on Windows the
// ANSI code page) as UTF-8, for JSON, and back; bytes that do not convert
// are kept.
std::string SystemTextToUtf8(const std::string& text);
std::string Utf8ToSystemText(const std::string& utf8);

// True when `path` names a folder (through links).
bool IsFolder(const std::string& path);
// Appends the PNG files (by their first eight bytes) below `folder` to
// `files`, each folder's entries sorted by name. Links are not followed, and
// folders whose name starts with "." are passed over, as are this program's
// own temporary files. False when a folder cannot be read.
bool FindPngFiles(const std::string& folder, std::vector<std::string>* files);

// A file's modification time, to put back after a save (-P).
struct FileTime {
  std::int64_t seconds = 0, nanoseconds = 0;
};
bool GetModifiedTime(const std::string& path, FileTime* time);
bool SetModifiedTime(const std::string& path, const FileTime& time);

// The folder in which a save of `target` creates its new file: that of the
// file a symbolic link names. Split at real separators whatever the code
// page.
std::string FolderOf(const std::string& target);

// The calling thread's last system error (errno, GetLastError), as the
// plug-in leaves it when it refuses a save.
std::uint32_t LastError();
// Why a save failed, in a few words: `error` as a step of a save of `path`
// met it. Where the system's own words would mislead, the host's are used
// ("a symbolic link to a missing file", "owned by another user").
std::string ErrorText(std::uint32_t error, pngc::os::SaveStep step, const std::string& path);

// For host_os.cpp, from each system's file: the size of a regular file,
// and whether the stream is a folder; the temporary files to remove; the
// system's own editor; zero-filled
// memory brought in page by page as it is touched; reading an open file at
// an offset.
bool RegularFileSize(std::FILE* in, std::uint64_t* size, bool* folder);
// A folder's entries, links told apart from what they name; false when it
// cannot be read.
struct FolderEntry {
  std::string name;
  bool folder = false, regular = false;  // neither for a link
};
bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries);
extern const char kSeparator;
// Temporary files to remove when a signal ends the program.
void RememberTemporary(const std::string& path);
void ForgetTemporary(const std::string& path);
std::string DefaultEditor();
void* AllocatePages(std::size_t size);
void FreePages(void* pages, std::size_t size);
bool ReadAt(std::FILE* in, std::uint64_t offset, void* buffer, std::size_t size);

}  // namespace hostos

#endif
