// The commands of the `pngcomment` program. Each goes through the plug-in's
// five exports only, as any host does, and reports one line per file.
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
  CliPlugin();
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

// A text that contains no CR LF has each LF turned into CR LF; any other
// text is returned as it is.
std::string WithCrLfLines(const std::string& text);

int RunInfo(const CliPlugin& plugin, const std::vector<std::string>& files);
int RunGet(const CliPlugin& plugin, const std::string& file);
// `text_file` "-" reads standard input; an empty `out` rewrites `file`.
int RunSet(const CliPlugin& plugin, const std::string& file, const std::string& text_file,
           const std::string& out);
int RunEdit(const CliPlugin& plugin, const std::string& file);
int RunClear(const CliPlugin& plugin, const std::vector<std::string>& files);
int RunVersion(const CliPlugin& plugin);

#endif
