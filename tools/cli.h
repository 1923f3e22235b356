// The `pngcomment` program's parts: the plug-in it loads, what the command
// line asked for, the files it reads, and the commands. Each command goes
// through the plug-in's five exports for what the plug-in does (reading the
// comment text and the summary, writing files), as any host does, and reads
// the chunks themselves with the format library the plug-in is built on.
#ifndef PNGCOMMENT_TOOLS_CLI_H
#define PNGCOMMENT_TOOLS_CLI_H

#include <cstdint>
#include <functional>
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
  bool json = false;                     // --json (set: FILE is a JSON file)
  bool compressed = false;               // --compressed: -k values deflated
  bool international = false;            // --international: new -k values as iTXt
  bool recursive = false;                // -r: folders' PNG files
  bool allow_empty = false;              // --allow-empty
  bool preserve_time = false;            // -P
};

// ---- Reporting (cli_files.cpp)

// "NAME: CAUSE" on standard error.
void Report(const std::string& name, const std::string& cause);
// A line on standard output ("FILE: written").
void Say(const std::string& line);
// What to call FILE in a message: "standard input" for "-".
std::string NameOf(const std::string& path);
// stdout flushed; a write error turns the status into a failure.
int Finish(int status);

// Saves run this many files at once: each waits mostly for its disk flushes.
constexpr std::size_t kSaveJobs = 8;

// Runs `work` on each of `files`, up to `jobs` files at a time (each file by
// one thread, the files in parallel), with no more than 256 MiB of files
// started at once (a larger file alone); each file's lines (Report, Say)
// come out together, in the files' order. Returns kExitOk when every call
// did.
int ForEachFile(const std::vector<std::string>& files, std::size_t jobs,
                const std::function<int(const std::string& path)>& work);

// The FILE arguments as the command takes them: with -r, each folder's PNG
// files (by their signature; links and folders whose name starts with "."
// are passed over), sorted by name. False (reported) for a folder without
// -r, or one that cannot be read.
bool ExpandFiles(const CliOptions& options, std::vector<std::string>* files);

// ---- The files (cli_files.cpp)

// One text chunk: tEXt or zTXt, which the plug-in shows and writes, or
// iTXt, which this host reads and edits itself.
// What a text chunk says, whether read from a file or planned for one.
struct TextFields {
  pngc::ChunkKind kind = pngc::ChunkKind::kText;
  std::string keyword;  // its bytes (iTXt: ISO-8859-1, by the PNG standard)
  std::string text;     // read: as shown, LF line ends; planned: as stored; iTXt: UTF-8
  std::string language, translated_keyword;  // iTXt alone
  bool compressed = false;                   // stored deflated
};

struct TextChunk : TextFields {
  std::string rendering;  // tEXt, zTXt: its section of the comment text
  bool readable = true;   // false: fields cut short, or a broken stream
  pngc::PngChunk chunk;   // where it stands
};

// True for the kinds the plug-in shows in its comment text.
inline bool InCommentText(const TextChunk& text) {
  return text.kind != pngc::ChunkKind::kInternationalText;
}

// A PNG file as the host reads it: the chunks' texts and what the walk
// met. Built from the same format library and rendering as the plug-in's.
struct PngFile {
  std::string name;  // as messages call it
  hostos::FileImage image;
  std::vector<TextChunk> texts;  // tEXt, zTXt and iTXt, in file order
  bool has_header = false;
  pngc::ImageHeader header;  // of the first IHDR
  bool cut_short = false;    // the bytes stop framing chunks before their end
};

// Reads FILE ("-": standard input), whole for a rewrite, checks it is a PNG
// (IsSupported) and takes its chunks apart; false (with the cause in
// `*why`) when it cannot.
bool LoadPng(const CliPlugin& plugin, const std::string& path, bool whole, PngFile* file,
             std::string* why);
// Says, once per file, that its iTXt chunks are there, kept as they are and
// not shown in the comment text.
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
// True for a name of ISO-8859-1, the PNG standard's set for tEXt and zTXt.
bool IsLatin1(const std::string& charset);

// Converts `text` between character sets; false (with the cause in `*why`,
// naming the line counted from `first_line`) for a character that cannot be
// converted.
bool Convert(const std::string& from, const std::string& to, const std::string& text,
             std::string* out, std::string* why, int first_line = 1);
// Checks a --charset name once, before any file is touched.
bool CharsetKnown(const CliOptions& options);

// ---- Editing texts (cli_write.cpp)

// A text as a save writes it: an old chunk kept byte for byte, or a new one.
struct PlannedText : TextFields {
  const TextChunk* old = nullptr;       // kept as it is; null: made from the fields
  const TextChunk* replaces = nullptr;  // an iTXt a new iTXt stands in for, in its place
};
// Every text of the file, kept.
std::vector<PlannedText> KeepAll(const PngFile& file);

// How text typed by the user (or read from JSON) becomes a text's bytes.
struct TextEncoding {
  std::string from;     // the set it is typed in ("": the terminal's)
  std::string charset;  // tEXt, zTXt: the file's set ("": the bytes as typed)
  // A tEXt or zTXt text or keyword; false (with why) when it does not convert.
  bool Plain(const std::string& typed, std::string* bytes, std::string* why) const;
  // An iTXt keyword (ISO-8859-1), or text (UTF-8).
  bool InternationalKeyword(const std::string& typed, std::string* bytes, std::string* why) const;
  bool International(const std::string& typed, std::string* bytes, std::string* why) const;
};

// One keyword's change: its texts matched by `matches`; removed, or the
// first given `value` in place (the others removed), or, when none
// matches, a new text added at the end (tEXt; zTXt with `compressed`; iTXt
// with `international`, or when the value does not fit ISO-8859-1 and that
// is the file's set).
struct KeywordChange {
  std::function<bool(const PlannedText&)> matches;
  bool remove = false;
  std::string label;           // for messages: "-k Title"
  std::string keyword, value;  // typed
  std::string language;        // of a new iTXt
};

// Whether a text's keyword is the one typed: compared as the file holds it
// (tEXt, zTXt: in the file's set; iTXt: ISO-8859-1).
class KeywordMatch {
 public:
  KeywordMatch(const std::string& typed, const TextEncoding& encoding);
  bool operator()(pngc::ChunkKind kind, const std::string& keyword) const;

 private:
  std::string plain_, international_;
  bool has_plain_ = false, has_international_ = false;
};
// The text `change` makes where `like` stood (its kind, keyword and iTXt
// fields kept), or, with `like` null, the new text it adds: tEXt, zTXt with
// `compressed`, iTXt with `international` (in the change's language) or
// for a value ISO-8859-1 cannot hold where that is the file's set. False
// (with why) when the value cannot be stored.
bool MakeText(const KeywordChange& change, const PlannedText* like, const TextEncoding& encoding,
              bool compressed, bool international, PlannedText* made, std::string* why);
// Applies `changes` to `plan` in order; false (reported against `name`)
// when a value cannot be stored.
bool ApplyChanges(const std::vector<KeywordChange>& changes, const TextEncoding& encoding,
                  bool compressed, bool international, const std::string& name,
                  std::vector<PlannedText>* plan);

// Makes each new text that equals one of the file's texts not kept (kind,
// keyword, text, an iTXt's fields) that text, kept byte for byte. True when
// the plan then keeps every text of the file as it is, in its order.
bool Settle(const PngFile& file, std::vector<PlannedText>* plan);

// Saves `plan` into `target` ("-": standard output) from `file` read from
// `source`: the comment text of its tEXt and zTXt, the image with its iTXt
// chunks changed where they changed. False (reported) when it fails.
bool SavePlan(const CliPlugin& plugin, const std::string& source, const std::string& target,
              const PngFile& file, const std::vector<PlannedText>& plan, bool keep_time);

// ---- The commands (cli_read.cpp, cli_write.cpp)

int RunInfo(const CliPlugin& plugin, const CliOptions& options);
int RunGet(const CliPlugin& plugin, const CliOptions& options);
int RunSet(const CliPlugin& plugin, const CliOptions& options);
int RunEdit(const CliPlugin& plugin, const CliOptions& options);
int RunClear(const CliPlugin& plugin, const CliOptions& options);
int RunJson(const CliPlugin& plugin, const CliOptions& options);
int RunSetJson(const CliPlugin& plugin, const CliOptions& options);
int RunVersion(const CliPlugin& plugin);

#endif
