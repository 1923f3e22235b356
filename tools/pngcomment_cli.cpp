// pngcomment: shows and edits the text comments of PNG files from the
// command line. A host like any other: it loads the plug-in beside it and
// uses nothing but the five exports.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cli_commands.h"

namespace {

const char kProgramHelp[] =
    "usage: pngcomment COMMAND [ARGS]\n"
    "       pngcomment --help | --version\n"
    "\n"
    "Shows and edits the text comments (tEXt and zTXt chunks) of PNG files\n"
    "through the pngcomment plug-in installed beside this program.\n"
    "\n"
    "commands:\n"
    "  info FILE...                    print the image summary of each FILE\n"
    "  get FILE                        print the comment text of FILE\n"
    "  set FILE [TEXTFILE|-] [-o OUT]  replace the comment text of FILE\n"
    "  edit FILE                       edit the comment text of FILE in an editor\n"
    "  clear FILE...                   remove every text chunk of each FILE\n"
    "\n"
    "The comment text is a series of sections: a line \"[keyword]\" starts a\n"
    "tEXt chunk, a line \"<keyword>\" a compressed zTXt chunk, and the lines up\n"
    "to the next such line are its text. Every line ends in CR LF. Lines before\n"
    "the first section header form a tEXt chunk named \"Comment\".\n"
    "\n"
    "'pngcomment COMMAND --help' describes a command. A failed write leaves the\n"
    "file exactly as it was. Exit status: 0 when every file succeeded, 1 when\n"
    "any failed, 2 for a wrong command line.\n";

const char kInfoHelp[] =
    "usage: pngcomment info FILE...\n"
    "\n"
    "Prints the image summary of each FILE (size, colour type, depth,\n"
    "interlace, file size). With several files, a line \"FILE:\" comes before\n"
    "each summary; a file that fails is reported and the next one read.\n";

const char kGetHelp[] =
    "usage: pngcomment get FILE\n"
    "\n"
    "Prints the comment text of FILE exactly as the plug-in renders it, lines\n"
    "ending in CR LF. A PNG without text prints nothing.\n";

const char kSetHelp[] =
    "usage: pngcomment set FILE [TEXTFILE|-] [-o OUT]\n"
    "\n"
    "Replaces every tEXt and zTXt chunk of FILE with the chunks described by\n"
    "the comment text read from TEXTFILE, or from standard input when TEXTFILE\n"
    "is \"-\" or omitted, and prints \"FILE: written\" (\"OUT: written\" with -o).\n"
    "An empty text removes every text chunk.\n"
    "\n"
    "The text is passed on as it is, with one convenience: a text that contains\n"
    "no CR LF at all (typed, or saved by a Unix editor) has each LF turned into\n"
    "CR LF first, so that its lines are lines. In a text that has CR LF, a lone\n"
    "LF stays a byte of its line.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT  write the result to OUT and leave FILE as it is\n"
    "  -h, --help        show this help\n";

const char kEditHelp[] =
    "usage: pngcomment edit FILE\n"
    "\n"
    "Writes the comment text of FILE to a temporary file, opens it in $VISUAL,\n"
    "else $EDITOR, else "
#ifdef _WIN32
    "notepad"
#else
    "vi"
#endif
    " (run through the shell, so \"code --wait\" works), and\n"
    "writes the text back into FILE when the editor has changed it. A text that\n"
    "contains no CR LF at all has each LF turned into CR LF first, as for 'set';\n"
    "a text that differs only by that is unchanged. Prints \"FILE: written\" or\n"
    "\"FILE: unchanged\". An editor that exits with a non-zero status writes\n"
    "nothing. A FILE that could not be written is not opened for editing. If\n"
    "another program changes FILE while the editor is open, nothing is written\n"
    "and the edited text is kept in the temporary file, whose name is printed;\n"
    "otherwise the temporary file is removed.\n";

const char kClearHelp[] =
    "usage: pngcomment clear FILE...\n"
    "\n"
    "Removes every tEXt and zTXt chunk of each FILE, printing \"FILE: cleared\";\n"
    "a file that fails is reported and the next one cleared.\n";

int Usage(const std::string& message, const std::string& command = "") {
  std::fprintf(stderr, "pngcomment: %s\nTry 'pngcomment %s--help'.\n", message.c_str(),
               command.empty() ? "" : (command + " ").c_str());
  return kExitUsage;
}

int Help(const char* text) {
  std::fputs(text, stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

struct Command {
  const char* name;
  const char* help;
  std::size_t min_files, max_files;  // positional arguments
  bool takes_output;
};

const Command kCommands[] = {
    {"info", kInfoHelp, 1, SIZE_MAX, false},  {"get", kGetHelp, 1, 1, false},
    {"set", kSetHelp, 1, 2, true},            {"edit", kEditHelp, 1, 1, false},
    {"clear", kClearHelp, 1, SIZE_MAX, false},
};

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // Past a file size limit (ulimit -f) a write should fail and the save be
  // reported, not the program killed with a temporary file left behind.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  if (argc < 2) return Usage("no command given");
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") return Help(kProgramHelp);
  if (first == "--version") {
    if (argc > 2) return Usage("--version takes no arguments");
    const CliPlugin plugin;
    return plugin.ok() ? RunVersion(plugin) : kExitFailed;
  }
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (first == candidate.name) command = &candidate;
  }
  if (command == nullptr) {
    return Usage(first[0] == '-' ? "unknown option '" + first + "'"
                                 : "unknown command '" + first + "'");
  }

  // Help is looked for first, so that it wins over any mistake beside it.
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      return Help(command->help);
    }
  }
  std::vector<std::string> files;
  std::string out;
  bool options = true;
  const std::string name = command->name;
  const std::string prefix = name + ": ";
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
    } else if (options && command->takes_output && (arg == "-o" || arg == "--output")) {
      if (i + 1 >= argc) return Usage(prefix + arg + " needs a file name", name);
      if (!out.empty()) return Usage(prefix + "only one " + arg + " may be given", name);
      out = argv[++i];
      if (out.empty()) return Usage(prefix + arg + " needs a file name", name);
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      return Usage(prefix + "unknown option '" + arg + "'", name);
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() < command->min_files) return Usage(prefix + "no FILE given", name);
  if (files.size() > command->max_files) return Usage(prefix + "too many arguments", name);

  const CliPlugin plugin;
  if (!plugin.ok()) return kExitFailed;
  if (name == "info") return RunInfo(plugin, files);
  if (name == "get") return RunGet(plugin, files[0]);
  if (name == "set") return RunSet(plugin, files[0], files.size() > 1 ? files[1] : "-", out);
  if (name == "edit") return RunEdit(plugin, files[0]);
  return RunClear(plugin, files);
}
