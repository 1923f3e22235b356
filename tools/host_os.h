// The command-line host's one seam around the operating system, apart from
// the plug-in's own: files and standard streams, the editor, the program's
// folder. host_os_posix.cpp and host_os_windows.cpp carry it out.
#ifndef PNGCOMMENT_TOOLS_HOST_OS_H
#define PNGCOMMENT_TOOLS_HOST_OS_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace hostos {

// The plug-in takes sizes as signed 32-bit counts.
constexpr std::uint64_t kMaxBytes = 0x7FFFFFFF;

// The plug-in's file name, and this program's folder with its trailing
// separator ("" when it cannot be told).
extern const char* const kLibraryName;
std::string ProgramFolder();

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
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;
  ~FileImage();
  // A file ("-": standard input, always read whole).
  ReadStatus Load(const std::string& path, bool whole);
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::string bytes() const { return std::string(reinterpret_cast<const char*>(data_), size_); }

 private:
  bool Allocate(std::size_t size);
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0, allocated_ = 0;
  std::string read_;  // standard input's bytes
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
// object goes unless kept.
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

// A file's modification time, to put back after a save (-P).
struct FileTime {
  std::int64_t seconds = 0, nanoseconds = 0;
};
bool GetModifiedTime(const std::string& path, FileTime* time);
bool SetModifiedTime(const std::string& path, const FileTime& time);

// The folder in which a save of `target` creates its new file: that of the
// file a symbolic link names.
std::string FolderOf(const std::string& target);
// Whether a new file can be made in `folder`, found out by making one (and
// removing it at once): only that answers for every system, user and file
// system alike.
bool CanCreateIn(const std::string& folder);
// Whether this process may write the file itself, asked as the plug-in asks:
// by opening it for writing, which changes nothing. A read-only file is not
// writable, even to an administrator.
bool CanWrite(const std::string& path);

// For host_os.cpp, from each system's file: the size of a regular file,
// and whether the stream is a folder; the system's own editor; zero-filled
// memory brought in page by page as it is touched; reading an open file at
// an offset.
bool RegularFileSize(std::FILE* in, std::uint64_t* size, bool* folder);
std::string DefaultEditor();
void* AllocatePages(std::size_t size);
void FreePages(void* pages, std::size_t size);
bool ReadAt(std::FILE* in, std::uint64_t offset, void* buffer, std::size_t size);

}  // namespace hostos

#endif
