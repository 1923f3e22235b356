// The commands of the `pngcomment` program. Each goes through the plug-in's
// five exports for everything the plug-in does, as any host does, and
// reports one line per file.
#ifndef PNGCOMMENT_TOOLS_CLI_COMMANDS_H
#define PNGCOMMENT_TOOLS_CLI_COMMANDS_H

#include <memory>
#include <string>
#include <vector>

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
  std::vector<std::string> files;      // FILE... ("-": standard input), then TEXTFILE for set
  std::string out;                     // -o OUT ("-": standard output)
  std::vector<std::string> keywords;   // get -k KEYWORD
  std::vector<KeywordValue> values;    // set -k KEYWORD=TEXT
  std::vector<std::string> deletions;  // set --delete KEYWORD
  std::string charset;                 // --charset NAME; empty: the bytes as they are
  bool json = false;                   // --json
  bool compressed = false;             // --compressed: -k values as zTXt
  bool allow_empty = false;            // --allow-empty
  bool preserve_time = false;          // -P
};

int RunInfo(const CliPlugin& plugin, const CliOptions& options);
int RunGet(const CliPlugin& plugin, const CliOptions& options);
int RunSet(const CliPlugin& plugin, const CliOptions& options);
int RunEdit(const CliPlugin& plugin, const CliOptions& options);
int RunClear(const CliPlugin& plugin, const CliOptions& options);
int RunVersion(const CliPlugin& plugin);

#endif
