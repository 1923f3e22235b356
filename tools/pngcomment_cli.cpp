// pngcomment: shows and edits the text comments of PNG files from the
// command line. A host like any other: it loads the plug-in beside it and
// uses nothing but the five exports for what the plug-in does.
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cli_commands.h"
#include "tools/host_os.h"

namespace {

const char kProgramHelp[] =
    "usage: pngcomment COMMAND [OPTIONS] [ARGS]\n"
    "       pngcomment --help | --version | help COMMAND\n"
    "\n"
    "Shows and edits the text comments (tEXt and zTXt chunks) of PNG files\n"
    "through the pngcomment plug-in installed beside this program.\n"
    "\n"
    "commands:\n"
    "  info FILE...                  the image summary of each FILE\n"
    "  get FILE... [-k KEYWORD]      the comment text, or one keyword's text\n"
    "  set FILE [TEXTFILE|-]         replace the comment text\n"
    "  set FILE -k KEYWORD=TEXT...   set (or --delete) single keywords\n"
    "  edit FILE                     edit the comment text in an editor\n"
    "  clear FILE...                 remove every text chunk\n"
    "\n"
    "The comment text is a series of sections: a line \"[keyword]\" starts a\n"
    "tEXt chunk, a line \"<keyword>\" a compressed zTXt chunk, and the lines up\n"
    "to the next such line are its text. Every line ends in CR LF. Lines before\n"
    "the first section header form a tEXt chunk named \"Comment\". A section left\n"
    "as it was shown keeps its chunk byte for byte.\n"
    "\n"
    "FILE \"-\" is standard input. Text is bytes, as the file holds them, unless\n"
    "--charset NAME converts it between NAME and this terminal's character set.\n"
    "'pngcomment help COMMAND' describes a command. A failed write leaves the\n"
    "file exactly as it was and says why; a file changed by another program\n"
    "since it was read is not written. Exit status: 0 when every file\n"
    "succeeded, 1 when any failed, 2 for a wrong command line.\n";

const char kInfoHelp[] =
    "usage: pngcomment info [--json [--charset NAME]] FILE...\n"
    "\n"
    "Prints the image summary of each FILE (size, colour type, depth,\n"
    "interlace, file size). With several files, a line \"FILE:\" comes before\n"
    "each summary; a file that fails is reported and the next one read.\n"
    "\n"
    "options:\n"
    "  --json          one JSON array, an object per file (\"SourceFile\", the\n"
    "                  summary's fields, \"Texts\", and \"InternationalTexts\" for\n"
    "                  iTXt chunks, read-only), as exiftool -json gives\n"
    "  --charset NAME  the character set the texts are decoded from for JSON\n"
    "                  (default ISO-8859-1, the PNG standard's)\n";

const char kGetHelp[] =
    "usage: pngcomment get [-k KEYWORD]... [--json] [--charset NAME] FILE...\n"
    "\n"
    "Prints the comment text of each FILE exactly as the plug-in renders it,\n"
    "lines ending in CR LF; with several files, a line \"==> FILE <==\" comes\n"
    "before each. A PNG without text prints nothing.\n"
    "\n"
    "options:\n"
    "  -k KEYWORD      only the text of KEYWORD's sections (no header), each\n"
    "                  followed by a line end; a missing one is an error\n"
    "  --json          as for info, with the texts (only KEYWORD's with -k)\n"
    "  --charset NAME  convert the text from NAME (iconv's names; on Windows\n"
    "                  also code page numbers) to this terminal's\n";

const char kSetHelp[] =
    "usage: pngcomment set FILE [TEXTFILE|-] [OPTIONS]\n"
    "       pngcomment set FILE (-k KEYWORD=TEXT | -k KEYWORD - | --delete KEYWORD)... [OPTIONS]\n"
    "\n"
    "The first form replaces every tEXt and zTXt chunk of FILE with the chunks\n"
    "described by the comment text read from TEXTFILE, or from standard input\n"
    "when TEXTFILE is \"-\" or omitted. The second sets single keywords: -k\n"
    "replaces KEYWORD's first section in place (its others go) or adds one at\n"
    "the end; \"-k KEYWORD -\" reads that text from standard input; --delete\n"
    "removes KEYWORD's sections. Every other section stays as it is. Prints\n"
    "\"FILE: written\" (\"OUT: written\" with -o).\n"
    "\n"
    "The text is made safe first: a UTF-8 byte-order mark is dropped, and each\n"
    "LF not after a CR becomes CR LF. An empty text, and a TEXTFILE that is a\n"
    "PNG file, are refused; a value the comment text cannot carry (a line\n"
    "shaped like a header, line feeds at its ends) is refused with the reason.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT     write the result to OUT (\"-\": standard output)\n"
    "                       and leave FILE as it is\n"
    "  --compressed         -k values as zTXt chunks\n"
    "  --charset NAME       convert the text from this terminal's character\n"
    "                       set to NAME before it is written\n"
    "  --allow-empty        an empty text removes every text chunk\n"
    "  -P, --preserve-time  keep FILE's modification time\n"
    "  -h, --help           show this help\n";

const char kEditHelp[] =
    "usage: pngcomment edit [--charset NAME] [-P] FILE\n"
    "\n"
    "Writes the comment text of FILE to a temporary file, opens it in $VISUAL,\n"
    "else $EDITOR, else "
#ifdef _WIN32
    "notepad"
#else
    "vi"
#endif
    " (run through the shell, so \"code --wait\" works), and\n"
    "writes the text back into FILE when the editor has changed it (made safe\n"
    "as for 'set'). Prints \"FILE: written\" or \"FILE: unchanged\". An editor that\n"
    "exits with a non-zero status writes nothing. A FILE that a save would\n"
    "refuse is not opened for editing. An edited text that is not saved\n"
    "(another program changed FILE while the editor was open, or the save\n"
    "failed) is kept in the temporary file, whose name is printed; otherwise it\n"
    "is removed.\n"
    "\n"
    "options:\n"
    "  --charset NAME       edit the text converted from NAME to this\n"
    "                       terminal's character set, and back\n"
    "  -P, --preserve-time  keep FILE's modification time\n";

const char kClearHelp[] =
    "usage: pngcomment clear [-P] FILE... | clear [-P] FILE -o OUT\n"
    "\n"
    "Removes every tEXt and zTXt chunk of each FILE, printing \"FILE: cleared\";\n"
    "a file without any is left alone (\"no text chunks, nothing written\"), and\n"
    "a file that fails is reported and the next one cleared.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT     write the result to OUT (\"-\": standard output)\n"
    "  -P, --preserve-time  keep FILE's modification time\n";

int Usage(const std::string& message, const std::string& command = "") {
  std::fprintf(stderr, "pngcomment: %s\nTry 'pngcomment %s--help'.\n", message.c_str(),
               command.empty() ? "" : (command + " ").c_str());
  return kExitUsage;
}

int Help(const char* text) {
  std::fputs(text, stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// The options each command takes.
enum Option : unsigned {
  kOutput = 1,
  kKeyword = 2,
  kKeywordValue = 4,
  kDelete = 8,
  kJson = 16,
  kCharset = 32,
  kCompressed = 64,
  kAllowEmpty = 128,
  kPreserveTime = 256,
};

struct Command {
  const char* name;
  const char* help;
  std::size_t min_files, max_files;  // positional arguments
  unsigned options;
};

const Command kCommands[] = {
    {"info", kInfoHelp, 1, SIZE_MAX, kJson | kCharset},
    {"get", kGetHelp, 1, SIZE_MAX, kKeyword | kJson | kCharset},
    {"set", kSetHelp, 1, 2,
     kOutput | kKeywordValue | kDelete | kCharset | kCompressed | kAllowEmpty | kPreserveTime},
    {"edit", kEditHelp, 1, 1, kCharset | kPreserveTime},
    {"clear", kClearHelp, 1, SIZE_MAX, kOutput | kPreserveTime},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // Past a file size limit (ulimit -f) a write should fail and the save be
  // reported, not the program killed with a temporary file left behind.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  hostos::InstallCleanup();
  // The terminal's character set, for --charset.
  std::setlocale(LC_CTYPE, "");
  if (argc < 2) return Usage("no command given");
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") return Help(kProgramHelp);
  if (first == "help") {
    if (argc == 2) return Help(kProgramHelp);
    const Command* command = argc == 3 ? FindCommand(argv[2]) : nullptr;
    return command != nullptr ? Help(command->help) : Usage("help takes one command name");
  }
  if (first == "--version") {
    if (argc > 2) return Usage("--version takes no arguments");
    const CliPlugin plugin(argv[0]);
    return plugin.ok() ? RunVersion(plugin) : kExitFailed;
  }
  const Command* command = FindCommand(first);
  if (command == nullptr) {
    return Usage(first[0] == '-' ? "unknown option '" + first + "'"
                                 : "unknown command '" + first + "'");
  }

  // Help is looked for first, so that it wins over any mistake beside it.
  for (int i = 2; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
      return Help(command->help);
  }
  CliOptions options;
  bool more_options = true;
  const std::string name = command->name;
  const std::string prefix = name + ": ";
  const auto takes = [command](unsigned option) { return (command->options & option) != 0; };
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    const bool option = more_options && arg.size() > 1 && arg[0] == '-';
    if (option && arg == "--") {
      more_options = false;
    } else if (option && takes(kOutput) && (arg == "-o" || arg == "--output")) {
      if (!has_value || argv[i + 1][0] == '\0')
        return Usage(prefix + arg + " needs a file name", name);
      if (!options.out.empty()) return Usage(prefix + "only one " + arg + " may be given", name);
      options.out = argv[++i];
    } else if (option && arg == "-k" && takes(kKeyword)) {
      if (!has_value) return Usage(prefix + "-k needs a keyword", name);
      options.keywords.push_back(argv[++i]);
    } else if (option && arg == "-k" && takes(kKeywordValue)) {
      if (!has_value) return Usage(prefix + "-k needs KEYWORD=TEXT or KEYWORD -", name);
      const std::string value = argv[++i];
      const std::size_t equals = value.find('=');
      KeywordValue keyword;
      if (equals != std::string::npos) {
        keyword = {value.substr(0, equals), value.substr(equals + 1), false};
      } else if (i + 1 < argc && std::strcmp(argv[i + 1], "-") == 0) {
        keyword = {value, "", true};
        ++i;
      } else {
        return Usage(prefix + "-k needs KEYWORD=TEXT or KEYWORD -", name);
      }
      options.values.push_back(keyword);
    } else if (option && arg == "--delete" && takes(kDelete)) {
      if (!has_value) return Usage(prefix + "--delete needs a keyword", name);
      options.deletions.push_back(argv[++i]);
    } else if (option && arg == "--charset" && takes(kCharset)) {
      if (!has_value || argv[i + 1][0] == '\0')
        return Usage(prefix + "--charset needs a name", name);
      options.charset = argv[++i];
    } else if (option && arg == "--json" && takes(kJson)) {
      options.json = true;
    } else if (option && arg == "--compressed" && takes(kCompressed)) {
      options.compressed = true;
    } else if (option && arg == "--allow-empty" && takes(kAllowEmpty)) {
      options.allow_empty = true;
    } else if (option && (arg == "-P" || arg == "--preserve-time") && takes(kPreserveTime)) {
      options.preserve_time = true;
    } else if (option) {
      return Usage(prefix + "unknown option '" + arg + "'", name);
    } else {
      options.files.push_back(arg);
    }
  }
  if (options.files.size() < command->min_files) return Usage(prefix + "no FILE given", name);
  if (options.files.size() > command->max_files) return Usage(prefix + "too many arguments", name);
  const bool keyword_edits = !options.values.empty() || !options.deletions.empty();
  if (keyword_edits && options.files.size() > 1) {
    return Usage(prefix + "a TEXTFILE and -k or --delete exclude each other", name);
  }
  int from_stdin = 0;
  for (const KeywordValue& value : options.values) from_stdin += value.from_stdin;
  for (std::size_t k = 0; k < options.files.size(); ++k) from_stdin += options.files[k] == "-";
  if (name == "set" && !keyword_edits && options.files.size() == 1)
    ++from_stdin;  // TEXTFILE left out
  if (from_stdin > 1) return Usage(prefix + "only one thing can be read from standard input", name);
  if (name == "clear" && !options.out.empty() && options.files.size() > 1) {
    return Usage(prefix + "-o takes one FILE", name);
  }
  if (options.compressed && options.values.empty())
    return Usage(prefix + "--compressed goes with -k", name);
  if (!options.charset.empty() && (name == "info" && !options.json)) {
    return Usage(prefix + "--charset goes with --json", name);
  }

  const CliPlugin plugin(argv[0]);
  if (!plugin.ok()) return kExitFailed;
  if (name == "info") return RunInfo(plugin, options);
  if (name == "get") return RunGet(plugin, options);
  if (name == "set") return RunSet(plugin, options);
  if (name == "edit") return RunEdit(plugin, options);
  return RunClear(plugin, options);
}
