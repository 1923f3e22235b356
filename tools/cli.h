// The `pngcomment` program's parts: the plug-in it loads, what the command
// line asked for, the files it reads, and the commands. Each command goes
// through the plug-in's five exports for what the plug-in does (reading the
// comment text and the summary, writing files), as any host does, and reads
// the chunks themselves with the format library the plug-in is built on.
#ifndef PNGCOMMENT_TOOLS_CLI_H
#define PNGCOMMENT_TOOLS_CLI_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "png/chunk.h"
#include "png/comment_text.h"
#include "png/image_header.h"
#include "png/international_text.h"
#include "tools/host_os.h"
#include "tools/plugin_loader.h"

// Exit statuses: every file done, some file failed, the command line is wrong.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The plug-in beside this program, with its exports looked up.
class CliPlugin {
 public:
  // `argv0`: the name this program was started by, where /proc is missing.
  explicit CliPlugin(const char* argv0);
  // False (and a message on standard error) when the library or one of its
  // exports is missing.
  bool ok() const { return ok_; }
  const PluginLibrary& library() const { return *library_; }

  GetPluginInfoFn get_info = nullptr;
  IsSupportedFn is_supported = nullptr;
  GetCommentFn get_comment = nullptr;
  WriteCommentFn write_comment = nullptr;

 private:
  std::unique_ptr<PluginLibrary> library_;
  bool ok_ = false;
};

// One keyword's new text, from -k KEYWORD=TEXT (or -k KEYWORD -: standard
// input).
struct KeywordValue {
  std::string keyword, text;
  bool from_stdin = false;
};

// What the command line asked for, beside the command.
struct CliOptions {
  std::vector<std::string> files;        // FILE... ("-": standard input), then TEXTFILE for set
  std::string out;                       // -o OUT ("-": standard output)
  std::vector<std::string> keywords;     // get -k KEYWORD
  std::vector<std::string> assignments;  // set -k as given: KEYWORD=TEXT, or KEYWORD for "-"
  std::vector<KeywordValue> values;      // set -k KEYWORD=TEXT, split
  std::vector<std::string> deletions;    // set --delete KEYWORD
  std::string charset;                   // --charset NAME; empty: the bytes as they are
  bool json = false;                     // --json
  bool compressed = false;               // --compressed: -k values as zTXt
  bool allow_empty = false;              // --allow-empty
  bool preserve_time = false;            // -P
};

// ---- Reporting (cli_files.cpp)

// "NAME: CAUSE" on standard error.
void Report(const std::string& name, const std::string& cause);
// What to call FILE in a message: "standard input" for "-".
std::string NameOf(const std::string& path);
// stdout flushed; a write error turns the status into a failure.
int Finish(int status);

// ---- The files (cli_files.cpp)

// One tEXt or zTXt chunk, as the plug-in shows it.
struct TextChunk {
  pngc::ChunkKind kind = pngc::ChunkKind::kText;
  std::string keyword;    // its bytes
  std::string rendering;  // its section of the comment text
  std::string text;       // the text as shown, with LF line ends
};

// A PNG file as the host reads it: the chunks' texts and what the walk
// met. Built from the same format library and rendering as the plug-in's.
struct PngFile {
  std::string name;  // as messages call it
  hostos::FileImage image;
  std::vector<TextChunk> texts;  // tEXt and zTXt, in file order
  std::vector<pngc::InternationalText> international;
  bool has_header = false;
  pngc::ImageHeader header;  // of the first IHDR
  bool cut_short = false;    // the bytes stop framing chunks before their end
};

// Reads FILE ("-": standard input), whole for a rewrite, checks it is a PNG
// (IsSupported) and takes its chunks apart; false (with the cause in
// `*why`) when it cannot.
bool LoadPng(const CliPlugin& plugin, const std::string& path, bool whole, PngFile* file,
             std::string* why);
// Says, once per file, that its iTXt chunks are there: the plug-in keeps
// them as they are and does not show them.
void NoteInternationalTexts(const PngFile& file);
// What the walk met that a reader should know, or "" ("cut short by the end
// of the file", "no IHDR chunk").
std::string Warnings(const PngFile& file);

// The plug-in's comment text and image summary of the file.
bool ReadComment(const CliPlugin& plugin, const PngFile& file, std::string* comment,
                 std::string* summary, std::string* why);

// The rules of a text in the character set `charset` ("": the terminal's,
// which without --charset is the file's own bytes): double-byte in
// Shift_JIS and code page 932.
pngc::TextRules RulesOf(const std::string& charset);

// Converts `text` between character sets; false (with the cause in `*why`,
// naming the line counted from `first_line`) for a character that cannot be
// converted.
bool Convert(const std::string& from, const std::string& to, const std::string& text,
             std::string* out, std::string* why, int first_line = 1);
// Checks a --charset name once, before any file is touched.
bool CharsetKnown(const CliOptions& options);

// ---- The commands (cli_read.cpp, cli_write.cpp)

int RunInfo(const CliPlugin& plugin, const CliOptions& options);
int RunGet(const CliPlugin& plugin, const CliOptions& options);
int RunSet(const CliPlugin& plugin, const CliOptions& options);
int RunEdit(const CliPlugin& plugin, const CliOptions& options);
int RunClear(const CliPlugin& plugin, const CliOptions& options);
int RunVersion(const CliPlugin& plugin);

#endif
