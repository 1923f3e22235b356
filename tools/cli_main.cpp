// pngcomment: shows and edits the text comments of PNG files from the
// command line. A host like any other: it loads the plug-in beside it and
// uses nothing but the five exports for what the plug-in does.
//
// The commands are one table: each row names a command, its handler, the
// options it takes and its help, from which the help texts are made and
// the command line is parsed (CLI11); the manual page and the bash
// completion are checked against that help (packaging/check-docs).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "tools/cli.h"

namespace {

enum class Option {
  kOutput,
  kKeyword,       // get -k KEYWORD
  kKeywordValue,  // set -k KEYWORD=TEXT, -k KEYWORD -
  kDelete,
  kJson,
  kCharset,
  kCompressed,
  kInternational,
  kRecursive,
  kAllowEmpty,
  kPreserveTime,
};

// Where an option's value goes: a flag's bool, one value, or every use's.
using OptionField = std::variant<bool CliOptions::*, std::string CliOptions::*,
                                 std::vector<std::string> CliOptions::*>;

// How an option is written on the command line and in the help.
struct OptionForm {
  Option option;
  const char* names;  // CLI11's: short and long, comma-separated
  const char* shown;  // the help's first column
  const char* needs;  // what a value-less use lacks; null for a flag
  OptionField field;
};

const OptionForm kOptionForms[] = {
    {Option::kOutput, "-o,--output", "-o, --output OUT", "-o needs a file name", &CliOptions::out},
    {Option::kKeyword, "-k", "-k KEYWORD", "-k needs a keyword", &CliOptions::keywords},
    {Option::kKeywordValue, "-k", "-k KEYWORD=TEXT", "-k needs KEYWORD=TEXT or KEYWORD -",
     &CliOptions::assignments},
    {Option::kDelete, "--delete", "--delete KEYWORD", "--delete needs a keyword",
     &CliOptions::deletions},
    {Option::kJson, "--json", "--json", nullptr, &CliOptions::json},
    {Option::kCharset, "--charset", "--charset NAME", "--charset needs a name",
     &CliOptions::charset},
    {Option::kCompressed, "--compressed", "--compressed", nullptr, &CliOptions::compressed},
    {Option::kInternational, "--international", "--international", nullptr,
     &CliOptions::international},
    {Option::kRecursive, "-r,--recursive", "-r, --recursive", nullptr, &CliOptions::recursive},
    {Option::kAllowEmpty, "--allow-empty", "--allow-empty", nullptr, &CliOptions::allow_empty},
    {Option::kPreserveTime, "-P,--preserve-time", "-P, --preserve-time", nullptr,
     &CliOptions::preserve_time},
};

const OptionForm& FormOf(Option option) {
  for (const OptionForm& form : kOptionForms) {
    if (form.option == option) return form;
  }
  return kOptionForms[0];
}

struct OptionUse {
  Option option;
  const char* help;  // lines after the first indented by the help's layout
};

struct Command {
  const char* name;
  const char* overview;     // its lines in the program's help
  const char* usage;        // after "usage: pngcomment "
  const char* description;  // paragraphs
  std::vector<OptionUse> options;
  std::size_t min_files, max_files;  // positional arguments
  int (*run)(const CliPlugin&, const CliOptions&);
};

const std::string kCharsetNames = "(iconv's names; on Windows also code page numbers)";

const Command kCommands[] = {
    {"info",
     "  info FILE...                  the image summary of each FILE\n",
     "info [--json [--charset NAME]] [-r] FILE...\n",
     "Prints the image summary of each FILE (size, colour type, depth,\n"
     "interlace, file size). With several files, a line \"FILE:\" comes before\n"
     "each summary; a file that fails is reported and the next one read. A file\n"
     "cut short, or without IHDR, is read as far as it goes, with a warning.\n",
     {{Option::kJson,
       "one JSON array, an object per file, as exiftool -json\n"
       "gives: \"SourceFile\", the image's values, each text as a\n"
       "tag named as exiftool names it (\"Title\"), every text in\n"
       "\"Texts\" (tEXt, zTXt, iTXt), and \"Warning\" or \"Error\""},
      {Option::kCharset,
       "the character set tEXt and zTXt texts are decoded from\n"
       "for JSON (default ISO-8859-1, the PNG standard's)"},
      {Option::kRecursive, "a FILE that is a folder: the PNG files in it and below"}},
     1,
     SIZE_MAX,
     RunInfo},
    {"get",
     "  get FILE... [-k KEYWORD]      the comment text, or one keyword's text\n",
     "get [-k KEYWORD]... [--json] [--charset NAME] [-r] FILE...\n",
     "Prints the comment text of each FILE exactly as the plug-in renders it,\n"
     "lines ending in CR LF; with several files, a line \"==> FILE <==\" comes\n"
     "before each. A PNG without text prints nothing. iTXt chunks (UTF-8) are\n"
     "not part of the comment text: -k and --json show them.\n",
     {{Option::kKeyword,
       "only the text of KEYWORD's chunks (no header), each\n"
       "followed by a line end, iTXt chunks' too; a missing one is\n"
       "an error"},
      {Option::kJson, "as for info, with the texts (only KEYWORD's with -k)"},
      {Option::kCharset,
       "convert the text (and KEYWORD) from NAME to this\n"
       "terminal's character set; NAME as iconv names it, on\n"
       "Windows also a code page number"},
      {Option::kRecursive, "a FILE that is a folder: the PNG files in it and below"}},
     1,
     SIZE_MAX,
     RunGet},
    {"set",
     "  set FILE [TEXTFILE|-]         replace the comment text\n"
     "  set FILE... -k KEYWORD=TEXT   set (or --delete) single keywords\n"
     "  set --json JSONFILE           apply the texts of get --json's output\n",
     "set FILE [TEXTFILE|-] [OPTIONS]\n"
     "       pngcomment set FILE... (-k KEYWORD=TEXT | -k KEYWORD - | --delete KEYWORD)... "
     "[OPTIONS]\n"
     "       pngcomment set --json JSONFILE|- [--charset NAME] [-P]\n",
     "The first form replaces every tEXt and zTXt chunk of FILE with the chunks\n"
     "described by the comment text read from TEXTFILE, or from standard input\n"
     "when TEXTFILE is \"-\" or omitted; iTXt chunks stay. The second sets single\n"
     "keywords in each FILE: -k replaces KEYWORD's first chunk in place, as the\n"
     "kind it is (tEXt, zTXt or iTXt; its others go), or adds one at the end;\n"
     "\"-k KEYWORD -\" reads that text from standard input; --delete removes\n"
     "KEYWORD's chunks, and a KEYWORD the file does not hold is an error. Every\n"
     "other chunk stays as it is. Several files are saved at once. The third\n"
     "reads a JSON array as 'get --json' prints it and, for each record's\n"
     "\"SourceFile\", applies the tags and \"Texts\" that differ from the file's\n"
     "(a tag of null removes its texts). Prints \"FILE: written\" (\"OUT:\n"
     "written\" with -o), or \"FILE: unchanged\".\n"
     "\n"
     "The text is made safe first: a UTF-8 byte-order mark is dropped, and each\n"
     "LF not after a CR becomes CR LF. An empty text, and a TEXTFILE that is a\n"
     "PNG file, are refused; a value the comment text cannot carry (a line\n"
     "shaped like a header, line feeds at its ends) is refused with the reason,\n"
     "and so is a FILE without IHDR, which would lose its text.\n",
     {{Option::kOutput,
       "write the result to OUT (\"-\": standard output, not a\n"
       "terminal) and leave FILE as it is"},
      {Option::kKeywordValue, "set KEYWORD's text (\"-k KEYWORD -\": from standard input)"},
      {Option::kDelete, "remove KEYWORD's chunks"},
      {Option::kCompressed, "-k values deflated (a new one as zTXt)"},
      {Option::kInternational,
       "new -k values as iTXt chunks (UTF-8); with --charset\n"
       "latin1 a value ISO-8859-1 cannot hold is one anyway"},
      {Option::kJson, "FILE is a JSON array, as get --json prints it"},
      {Option::kRecursive, "a FILE that is a folder: the PNG files in it and below"},
      {Option::kCharset,
       "convert the text from this terminal's character set to\n"
       "NAME before it is written; a section left as it was\n"
       "shown keeps its chunk's bytes"},
      {Option::kAllowEmpty, "an empty text removes every text chunk"},
      {Option::kPreserveTime, "keep FILE's modification time"}},
     1,
     SIZE_MAX,
     RunSet},
    {"edit",
     "  edit FILE                     edit the comment text in an editor\n",
     "edit [--charset NAME] [-P] FILE\n",
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
     "is removed.\n",
     {{Option::kCharset,
       "edit the text converted from NAME to this terminal's\n"
       "character set, and back"},
      {Option::kPreserveTime, "keep FILE's modification time"}},
     1,
     1,
     RunEdit},
    {"clear",
     "  clear FILE...                 remove every text chunk\n",
     "clear [-P] [-r] FILE... | clear [-P] FILE -o OUT\n",
     "Removes every tEXt, zTXt and iTXt chunk of each FILE, printing \"FILE:\n"
     "cleared\"; a file without any is left alone (\"no text chunks, nothing\n"
     "written\"), and a file that fails is reported and the others cleared.\n"
     "Several files are saved at once.\n",
     {{Option::kOutput, "write the result to OUT (\"-\": standard output, not a\nterminal)"},
      {Option::kRecursive, "a FILE that is a folder: the PNG files in it and below"},
      {Option::kPreserveTime, "keep FILE's modification time"}},
     1,
     SIZE_MAX,
     RunClear},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string ProgramHelp() {
  std::string help =
      "usage: pngcomment COMMAND [OPTIONS] [ARGS]\n"
      "       pngcomment --help | --version | help COMMAND\n"
      "\n"
      "Shows and edits the text comments (tEXt and zTXt chunks) of PNG files\n"
      "through the pngcomment plug-in installed beside this program.\n"
      "\n"
      "commands:\n";
  for (const Command& command : kCommands) help += command.overview;
  return help +
         "\n"
         "The comment text is a series of sections: a line \"[keyword]\" starts a\n"
         "tEXt chunk, a line \"<keyword>\" a compressed zTXt chunk, and the lines up\n"
         "to the next such line are its text. Every line ends in CR LF. Lines before\n"
         "the first section header form a tEXt chunk named \"Comment\". A section left\n"
         "as it was shown keeps its chunk byte for byte.\n"
         "\n"
         "FILE \"-\" is standard input. Text is bytes, as the file holds them, unless\n"
         "--charset NAME converts it between NAME and this terminal's character set\n" +
         kCharsetNames +
         ".\n"
         "'pngcomment help COMMAND' describes a command. A failed write leaves the\n"
         "file exactly as it was and says why; a file changed by another program\n"
         "since it was read is not written. Exit status: 0 when every file\n"
         "succeeded, 1 when any failed, 2 for a wrong command line.\n";
}

// A command's help: its usage, its description, and its options, each
// from the table.
std::string CommandHelp(const Command& command) {
  std::string help = std::string("usage: pngcomment ") + command.usage + "\n" +
                     command.description + "\noptions:\n";
  std::size_t width = std::strlen("-h, --help");
  for (const OptionUse& use : command.options)
    width = std::max(width, std::strlen(FormOf(use.option).shown));
  const auto row = [&](const char* shown, const char* text) {
    std::string first = std::string("  ") + shown;
    first.resize(width + 4, ' ');
    help += first;
    for (const char* at = text; *at != '\0'; ++at) {
      help += *at;
      if (*at == '\n') help += std::string(width + 4, ' ');
    }
    help += "\n";
  };
  for (const OptionUse& use : command.options) row(FormOf(use.option).shown, use.help);
  row("-h, --help", "show this help");
  return help;
}

int Usage(const std::string& message, const std::string& command = "") {
  std::fprintf(stderr, "pngcomment: %s\nTry 'pngcomment %s--help'.\n", message.c_str(),
               command.empty() ? "" : (command + " ").c_str());
  return kExitUsage;
}

int Help(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

// Parses a command's arguments into `options`; a message when they are
// wrong.
std::string Parse(const Command& command, std::vector<std::string> args, CliOptions* options) {
  // "-k KEYWORD -" is one option of two words: the text comes from
  // standard input. CLI11 sees "-k KEYWORD" alone.
  std::vector<std::string> from_stdin;
  const bool assigns =
      std::any_of(command.options.begin(), command.options.end(),
                  [](const OptionUse& use) { return use.option == Option::kKeywordValue; });
  for (std::size_t i = 0; assigns && i + 2 < args.size(); ++i) {
    if (args[i] == "--") break;
    if (args[i] == "-k" && args[i + 1].find('=') == std::string::npos && args[i + 2] == "-") {
      from_stdin.push_back(args[i + 1]);
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    }
  }
  CLI::App app;
  app.set_help_flag();
  app.allow_extras(false);
  // The options that take a value, by the name CLI11 reports them by.
  std::vector<std::pair<CLI::Option*, const OptionForm*>> valued;
  for (const OptionUse& use : command.options) {
    const OptionForm& form = FormOf(use.option);
    CLI::Option* added = nullptr;
    std::visit(
        [&](auto field) {
          if constexpr (std::is_same_v<decltype(field), bool CliOptions::*>) {
            app.add_flag(form.names, options->*field);
          } else {
            added = app.add_option(form.names, options->*field);
          }
        },
        form.field);
    if (added != nullptr) {
      added->allow_extra_args(false);  // one value to each use: FILEs may follow
      valued.emplace_back(added, &form);
    }
  }
  const auto needs = [&valued](const std::string& name) -> std::string {
    for (const auto& [option, form] : valued) {
      if (option->check_name(name)) return form->needs;
    }
    return name + " needs a value";
  };
  app.add_option("FILE", options->files);
  std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
  try {
    app.parse(args);
  } catch (const CLI::ExtrasError& error) {
    const std::string what = error.what();
    return "unknown option '" + what.substr(what.rfind(' ') + 1) + "'";
  } catch (const CLI::ArgumentMismatch& error) {
    // "--output: 1 required TEXT missing", or an option given twice.
    const std::string what = error.what();
    const std::string option = what.substr(0, what.find(':'));
    return what.find("missing") != std::string::npos ? needs(option)
                                                     : "only one " + option + " may be given";
  } catch (const CLI::ParseError& error) {
    return error.what();
  }
  for (const std::string& value : options->assignments) {
    const std::size_t equals = value.find('=');
    bool piped = false;
    for (auto it = from_stdin.begin(); equals == std::string::npos && it != from_stdin.end();
         ++it) {
      if (*it == value) {
        from_stdin.erase(it);
        piped = true;
        break;
      }
    }
    if (equals == std::string::npos && !piped) return "-k needs KEYWORD=TEXT or KEYWORD -";
    options->values.push_back(
        piped ? KeywordValue{value, "", true}
              : KeywordValue{value.substr(0, equals), value.substr(equals + 1), false});
  }
  // A value given empty ("-o ''") is none.
  for (const auto& [option, form] : valued) {
    if (option->count() > 0 && option->as<std::vector<std::string>>().back().empty())
      return form->needs;
  }
  return "";
}

// What the parsed options ask that no command can do; "" when they agree.
std::string Check(const Command& command, const CliOptions& options) {
  const std::string name = command.name;
  if (options.files.size() < command.min_files) return "no FILE given";
  if (options.files.size() > command.max_files) return "too many arguments";
  const bool keyword_edits = !options.values.empty() || !options.deletions.empty();
  const bool many = name == "info" || name == "get" || name == "clear" || keyword_edits;
  if (name == "set" && options.json) {
    if (keyword_edits) return "--json and -k or --delete exclude each other";
    if (options.files.size() > 1) return "--json reads one JSONFILE";
    if (!options.out.empty() || options.recursive || options.compressed || options.allow_empty)
      return "--json takes only --charset and -P";
  } else if (!many && options.files.size() > 2) {
    return "too many arguments (-k or --delete set keywords in several files)";
  }
  if (options.recursive && !many) return "-r goes with several FILEs (set: with -k or --delete)";
  if (!options.out.empty() && (options.files.size() > (many ? 1 : 2) || options.recursive))
    return "-o takes one FILE";
  if (name == "edit" && options.files[0] == "-") return "edit needs a file, not standard input";
  const bool writes_png = name == "clear" || keyword_edits;
  if (writes_png && options.files.size() > 1 &&
      std::find(options.files.begin(), options.files.end(), "-") != options.files.end())
    return "FILE - goes alone (its PNG is written to standard output)";
  int from_stdin = 0;
  for (const KeywordValue& value : options.values) from_stdin += value.from_stdin;
  for (const std::string& file : options.files) from_stdin += file == "-";
  if (name == "set" && !keyword_edits && !options.json && options.files.size() == 1)
    ++from_stdin;  // TEXTFILE left out
  if (from_stdin > 1) return "only one thing can be read from standard input";
  if (options.compressed && options.values.empty()) return "--compressed goes with -k";
  if (options.international && options.values.empty()) return "--international goes with -k";
  if (!options.charset.empty() && name == "info" && !options.json)
    return "--charset goes with --json";
  return "";
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
  if (first == "--help" || first == "-h") return Help(ProgramHelp());
  if (first == "help") {
    if (argc == 2) return Help(ProgramHelp());
    const Command* command = argc == 3 ? FindCommand(argv[2]) : nullptr;
    return command != nullptr ? Help(CommandHelp(*command)) : Usage("help takes one command name");
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
  const std::vector<std::string> args(argv + 2, argv + argc);
  // Help is looked for first, so that it wins over any mistake beside it.
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") return Help(CommandHelp(*command));
  }
  CliOptions options;
  const std::string name = command->name;
  if (std::string why = Parse(*command, args, &options); !why.empty())
    return Usage(name + ": " + why, name);
  if (std::string why = Check(*command, options); !why.empty())
    return Usage(name + ": " + why, name);
  const CliPlugin plugin(argv[0]);
  if (!plugin.ok()) return kExitFailed;
  return command->run(plugin, options);
}
