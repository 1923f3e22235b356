#include "tools/cli_commands.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>

#include "png/comment_text.h"
#include "tools/host_os.h"
#include "png/international_text.h"
#include "tools/json_text.h"
#include "tools/version_info.h"

namespace {

using hostos::kMaxBytes;
using hostos::ReadStatus;

// What --json decodes texts with when no --charset is given: the PNG
// standard's, which maps every byte.
constexpr const char* kPngCharset = "ISO-8859-1";
constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";

void Report(const std::string& name, const std::string& cause) {
  std::fprintf(stderr, "%s: %s\n", name.c_str(), cause.c_str());
}

const char* Cause(ReadStatus status) {
  switch (status) {
    case ReadStatus::kTooLarge:
      return "too large (over 2 GiB)";
    case ReadStatus::kNoMemory:
      return "out of memory";
    default:
      return "cannot read";
  }
}

std::string NameOf(const std::string& path) { return path == "-" ? "standard input" : path; }
std::string OutputName(const std::string& path) { return path == "-" ? "standard output" : path; }

// Reads FILE ("-": standard input), whole for a rewrite, and asks the
// plug-in whether it takes it. Fewer than eight bytes are padded with
// zeros, as IsSupported reads exactly eight.
bool LoadPng(const CliPlugin& plugin, const std::string& path, hostos::FileImage* image,
             bool whole) {
  if (path == "-") hostos::SetBinary(stdin);
  const ReadStatus status = image->Load(path, whole);
  if (status != ReadStatus::kOk) {
    Report(NameOf(path), Cause(status));
    return false;
  }
  char head[8] = {};
  std::copy(image->data(), image->data() + std::min<std::size_t>(image->size(), 8), head);
  if (plugin.is_supported(head, 0) != kPngcOk) {
    Report(NameOf(path), "not a PNG file");
    return false;
  }
  return true;
}

// Frees a handle received from the plug-in whatever happens to its copy.
struct LocalBlock {
  const PluginLibrary& library;
  void* handle = nullptr;
  ~LocalBlock() { library.FreeLocalBlock(handle); }
};

bool ReadComment(const CliPlugin& plugin, const std::string& path, const hostos::FileImage& image,
                 std::string* comment, std::string* summary) {
  LocalBlock comment_block{plugin.library()}, summary_block{plugin.library()};
  const std::int32_t result =
      plugin.get_comment(0, image.data(), static_cast<std::int32_t>(image.size()),
                         &comment_block.handle, &summary_block.handle);
  if (result != kPngcOk) {
    Report(NameOf(path), PngcResultText(result));
    return false;
  }
  try {
    *summary = plugin.library().LocalBlockBytes(summary_block.handle);
    // The text is a C string, as a host reads it; the block may be larger.
    *comment = plugin.library().LocalBlockBytes(comment_block.handle);
    comment->resize(comment->find('\0') == std::string::npos ? comment->size()
                                                             : comment->find('\0'));
  } catch (const std::bad_alloc&) {
    Report(NameOf(path), "out of memory");
    return false;
  }
  return true;
}

// Says, once per file, that its iTXt chunks are there: the plug-in keeps
// them as they are and does not show them.
void NoteInternationalTexts(const std::string& path, const hostos::FileImage& image) {
  const std::size_t count = pngc::ReadInternationalTexts(image.data(), static_cast<std::int32_t>(image.size())).size();
  if (count == 0) return;
  std::fprintf(stderr, "%s: %zu iTXt chunk%s (international text) kept unchanged, not shown\n",
               NameOf(path).c_str(), count, count == 1 ? "" : "s");
}

// True while `path` is still the file `image` was read from, unchanged
// (always for an image read from a stream).
bool Unchanged(const std::string& path, const hostos::FileImage& image) {
  hostos::FileIdentity then, now;
  return !image.identity(&then) || (hostos::IdentityOf(path, &now) && now == then);
}

// A save that the plug-in, or its check, refused, in words.
std::string Refusal(const std::string& target, const pngc::os::SaveResult& result) {
  using pngc::os::SaveStep;
  const std::string cause =
      result.error == 0 ? "" : " (" + hostos::ErrorText(result.error, result.step, target) + ")";
  switch (result.step) {
    case SaveStep::kOpenFolder:
    case SaveStep::kCreateTemporary:
      return "cannot create a file in " + hostos::FolderOf(target) + cause;
    default:
      return "could not be written" + cause;
  }
}

// Why the plug-in could not save `target`: its error, placed in the save's
// steps by going through their checks again, which change nothing.
std::string SaveFailure(const std::string& target, std::uint32_t error) {
  if (error == pngc::os::kChangedError)
    return "changed by another program meanwhile, nothing written";
  pngc::os::SaveResult check = pngc::os::CheckFileReplace(target.c_str());
  if (check.ok()) check = {error, pngc::os::SaveStep::kWrite};
  return Refusal(target, check) + ", file left unchanged";
}

// Writes `image` with `text` to `target` ("-": standard output, through a
// temporary file, as the plug-in writes files only), unless `target` is the
// file `source` the image was read from and another program has changed it
// since. With `time`, the written file gets that modification time.
bool WriteText(const CliPlugin& plugin, const std::string& source, const std::string& target,
               const hostos::FileImage& image, const std::string& text,
               const hostos::FileTime* time = nullptr) {
  if (target == source && target != "-" && !Unchanged(target, image)) {
    Report(target, "changed by another program meanwhile, nothing written");
    return false;
  }
  hostos::TempTextFile temporary;
  if (target == "-" && !temporary.Create("")) {
    Report("standard output", "cannot create a temporary file");
    return false;
  }
  const std::string& file = target == "-" ? temporary.path() : target;
  const std::int32_t result =
      plugin.write_comment(0, file.c_str(), image.data(), static_cast<std::int32_t>(image.size()),
                           text.data(), static_cast<std::int32_t>(text.size()));
  const std::uint32_t error = hostos::LastError();
  if (result != kPngcOk) {
    Report(OutputName(target),
           result == kPngcNotSaved ? SaveFailure(file, error) : PngcResultText(result));
    return false;
  }
  if (time != nullptr && target != "-") hostos::SetModifiedTime(target, *time);
  if (target != "-") return true;
  std::string written;
  if (hostos::ReadFile(file, &written) != ReadStatus::kOk) {
    Report("standard output", "cannot read the written file back");
    return false;
  }
  hostos::SetBinary(stdout);
  return std::fwrite(written.data(), 1, written.size(), stdout) == written.size();
}

// Converts `text` between character sets, or says which line holds the
// character that cannot be converted.
bool Convert(const std::string& what, const std::string& from, const std::string& to,
             const std::string& text, std::string* out) {
  std::size_t bad = 0;
  if (hostos::ConvertText(from, to, text, out, &bad)) return true;
  // The line: the first that does not convert on its own.
  std::size_t line = 1;
  for (std::size_t at = 0; at < text.size(); ++line) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string ignored;
    if (!hostos::ConvertText(from, to, text.substr(at, end - at), &ignored, &bad)) break;
    at = end + 1;
  }
  const std::string source = from.empty() ? "this terminal's character set" : from;
  const std::string target = to.empty() ? "this terminal's character set" : to;
  Report(what, "line " + std::to_string(line) +
                   " holds a character that cannot be converted from " + source + " to " + target +
                   "; nothing written");
  return false;
}

// Checks a --charset name once, before any file is touched.
bool CharsetKnown(const CliOptions& options) {
  if (options.charset.empty() || !hostos::UnknownCharset(options.charset)) return true;
  std::fprintf(stderr, "pngcomment: unknown character set '%s'\n", options.charset.c_str());
  return false;
}

bool TooLargeText(const std::string& name, const std::string& text) {
  if (text.size() <= kMaxBytes) return false;
  Report(name, "too large (over 2 GiB)");
  return true;
}

int Finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "pngcomment: cannot write standard output\n");
    return kExitFailed;
  }
  return status;
}

// The value after "LABEL: " on the summary line that starts with it.
std::string SummaryField(const std::string& summary, const std::string& label) {
  const std::size_t at = summary.find(label);
  if (at == std::string::npos) return "";
  const std::size_t start = summary.find(": ", at) + 2;
  return summary.substr(start, summary.find("\r\n", start) - start);
}

// One --json record: the file, its summary's fields (of the first IHDR) and
// its texts, decoded from `charset`, with the iTXt chunks read-only.
bool JsonRecord(const std::string& path, const hostos::FileImage& image, const std::string& summary,
                const std::string& comment, const CliOptions& options, std::string* record) {
  std::string out = "  {\n    \"SourceFile\": " + JsonString(path);
  if (!summary.empty()) {
    const std::string size = SummaryField(summary, "Pixel Size");
    const std::size_t x = size.find(" x ");
    out += ",\n    \"ImageWidth\": " + size.substr(0, x) +
           ",\n    \"ImageHeight\": " + size.substr(x + 3);
    out += ",\n    \"ColorType\": " + JsonString(SummaryField(summary, "Color Type"));
    const std::string depth = SummaryField(summary, "Color Depth");
    out += ",\n    \"BitDepth\": " + depth.substr(0, depth.find(' '));
    out += ",\n    \"Interlace\": " + JsonString(SummaryField(summary, "Interlace"));
    const std::string file_size = SummaryField(summary, "File Size");
    out += ",\n    \"FileSize\": " + file_size.substr(0, file_size.find(' '));
  }
  const std::string charset = options.charset.empty() ? kPngCharset : options.charset;
  std::string texts;
  for (const pngc::CommentSection& section : pngc::SplitSections(comment, pngc::kSingleByte)) {
    bool wanted = options.keywords.empty();
    for (const std::string& keyword : options.keywords)
      wanted = wanted || keyword == section.keyword;
    if (!wanted) continue;
    std::string keyword, text;
    if (!Convert(path, charset, "UTF-8", section.keyword, &keyword) ||
        !Convert(path, charset, "UTF-8", section.text, &text)) {
      return false;
    }
    texts += std::string(texts.empty() ? "" : ",") +
             "\n      {\"keyword\": " + JsonString(keyword) + ", \"type\": \"" +
             (section.compressed ? "zTXt" : "tEXt") + "\", \"text\": " + JsonString(text) + "}";
  }
  out += ",\n    \"Texts\": [" + texts + (texts.empty() ? "]" : "\n    ]");
  std::string international;
  for (const pngc::InternationalText& text : pngc::ReadInternationalTexts(image.data(), static_cast<std::int32_t>(image.size()))) {
    international += std::string(international.empty() ? "" : ",") +
                     "\n      {\"keyword\": " + JsonString(text.keyword) +
                     ", \"language\": " + JsonString(text.language) +
                     ", \"translatedKeyword\": " + JsonString(text.translated_keyword) +
                     ", \"text\": " + JsonString(text.text) + ", \"readOnly\": true" +
                     (text.readable ? "" : ", \"damaged\": true") + "}";
  }
  if (!international.empty()) out += ",\n    \"InternationalTexts\": [" + international + "\n    ]";
  *record = out + "\n  }";
  return true;
}

// The --json output of info and get: an array, one object per file, as
// exiftool's -json gives; a file that fails has an "Error" instead.
int RunJson(const CliPlugin& plugin, const CliOptions& options) {
  int status = kExitOk;
  std::string records;
  for (const std::string& file : options.files) {
    hostos::FileImage image;
    std::string comment, summary, record;
    if (!LoadPng(plugin, file, &image, false) ||
        !ReadComment(plugin, file, image, &comment, &summary) ||
        !JsonRecord(NameOf(file), image, summary, comment, options, &record)) {
      record = "  {\n    \"SourceFile\": " + JsonString(NameOf(file)) +
               ",\n    \"Error\": \"cannot read\"\n  }";
      status = kExitFailed;
    }
    records += (records.empty() ? "" : ",\n") + record;
  }
  std::printf("[\n%s\n]\n", records.c_str());
  return Finish(status);
}

}  // namespace

CliPlugin::CliPlugin(const char* argv0) {
  // The library beside this program: a host keeps its plug-ins in its own
  // folder, and the current directory must not decide which code runs.
  const std::string folder = hostos::ProgramFolder(argv0);
  const std::string path = folder.empty() ? "" : folder + hostos::kLibraryName;
  if (!path.empty()) library_.reset(new PluginLibrary(path.c_str()));
  if (library_ == nullptr || !library_->loaded()) {
    // Installed apart from the program: the system's search decides.
    library_.reset(new PluginLibrary(hostos::kLibraryName));
  }
  if (!library_->loaded()) {
    std::fprintf(stderr, "pngcomment: cannot load the plug-in %s\n",
                 path.empty() ? hostos::kLibraryName : path.c_str());
    return;
  }
  get_info = library_->Get<GetPluginInfoFn>("GetPluginInfo");
  is_supported = library_->Get<IsSupportedFn>("IsSupported");
  get_comment = library_->Get<GetCommentFn>("GetComment");
  write_comment = library_->Get<WriteCommentFn>("WriteComment");
  ok_ = get_info != nullptr && is_supported != nullptr && get_comment != nullptr &&
        write_comment != nullptr;
  if (!ok_)
    std::fprintf(stderr, "pngcomment: %s is not a pngcomment plug-in\n", library_->Path().c_str());
}

int RunInfo(const CliPlugin& plugin, const CliOptions& options) {
  if (options.json) return CharsetKnown(options) ? RunJson(plugin, options) : kExitFailed;
  int status = kExitOk;
  bool first = true;
  for (const std::string& file : options.files) {
    hostos::FileImage image;
    std::string comment, summary;
    if (!LoadPng(plugin, file, &image, false) ||
        !ReadComment(plugin, file, image, &comment, &summary)) {
      status = kExitFailed;
      continue;
    }
    if (options.files.size() > 1) std::printf("%s%s:\n", first ? "" : "\n", NameOf(file).c_str());
    first = false;
    // The summary's CR LF as this system's line end: text-mode output on
    // Windows turns LF back into CR LF.
    std::string lines;
    for (std::size_t i = 0; i < summary.size(); ++i) {
      if (summary.compare(i, 2, "\r\n") != 0) lines += summary[i];
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);  // keeps the order with error lines on a terminal
  }
  return Finish(status);
}

int RunGet(const CliPlugin& plugin, const CliOptions& options) {
  if (!CharsetKnown(options)) return kExitFailed;
  if (options.json) return RunJson(plugin, options);
  int status = kExitOk;
  bool first = true;
  for (const std::string& file : options.files) {
    hostos::FileImage image;
    std::string comment, summary;
    if (!LoadPng(plugin, file, &image, false) ||
        !ReadComment(plugin, file, image, &comment, &summary)) {
      status = kExitFailed;
      continue;
    }
    NoteInternationalTexts(file, image);
    // One keyword's texts alone, each with a line end; else the comment
    // text byte for byte, lines ending in CR LF, as the plug-in gives it.
    std::string out = comment;
    if (!options.keywords.empty()) {
      out.clear();
      for (const std::string& keyword : options.keywords) {
        bool found = false;
        for (const pngc::CommentSection& section : pngc::SplitSections(comment, pngc::kSingleByte)) {
          if (section.keyword != keyword) continue;
          out += section.text + "\n";
          found = true;
        }
        if (!found) {
          Report(NameOf(file), "no section " + keyword);
          status = kExitFailed;
        }
      }
    }
    if (!options.charset.empty() &&
        !Convert(NameOf(file), options.charset, "", std::string(out), &out)) {
      status = kExitFailed;
      continue;
    }
    // The comment text goes out as it is, CR LF and all; one keyword's texts
    // as text, with this system's line ends.
    const char* line_end = options.keywords.empty() ? hostos::kLineEnd : "\n";
    if (options.keywords.empty()) hostos::SetBinary(stdout);
    if (options.files.size() > 1) {
      std::printf("%s==> %s <==%s", first ? "" : line_end, NameOf(file).c_str(), line_end);
    }
    first = false;
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
  }
  return Finish(status);
}

namespace {

// The comment text of `comment` with the keyword edits of `options`: each
// -k value replaces its keyword's first section in place (the others of
// that keyword go), or is added at the end; --delete removes a keyword's
// sections. Every other section keeps its bytes, so the plug-in keeps its
// chunk as it was. False (with the reason reported) for a value the
// comment text cannot carry.
bool EditSections(const std::string& name, const std::string& comment, const CliOptions& options,
                  const std::string& stdin_text, std::string* edited) {
  std::vector<pngc::CommentSection> sections = pngc::SplitSections(comment, pngc::kSingleByte);
  for (const KeywordValue& value : options.values) {
    std::string keyword = value.keyword, text = value.from_stdin ? stdin_text : value.text;
    if (!options.charset.empty() &&
        (!Convert("-k " + value.keyword, "", options.charset, value.keyword, &keyword) ||
         !Convert("-k " + value.keyword, "", options.charset, std::string(text), &text))) {
      return false;
    }
    if (const std::string why = pngc::WhyNotCarried(keyword, text, pngc::kSingleByte); !why.empty()) {
      Report(name, "-k " + value.keyword + ": " + why + "; nothing written");
      return false;
    }
    bool placed = false;
    for (auto it = sections.begin(); it != sections.end();) {
      if (it->keyword != keyword) {
        ++it;
      } else if (!placed) {
        it->shown = pngc::ShowSection(options.compressed || it->compressed, keyword, text);
        placed = true;
        ++it;
      } else {
        it = sections.erase(it);
      }
    }
    if (!placed)
      sections.push_back(
          {options.compressed, keyword, text, pngc::ShowSection(options.compressed, keyword, text)});
  }
  for (const std::string& keyword : options.deletions) {
    sections.erase(
        std::remove_if(sections.begin(), sections.end(),
                       [&](const pngc::CommentSection& section) { return section.keyword == keyword; }),
        sections.end());
  }
  edited->clear();
  for (const pngc::CommentSection& section : sections) *edited += section.shown;
  return true;
}

// The text of set's TEXTFILE (or standard input), made ready for the
// plug-in; false (reported) when it is refused.
bool ReadCommentText(const CliOptions& options, const std::string& text_file, std::string* text) {
  const std::string name = NameOf(text_file);
  ReadStatus status;
  if (text_file == "-") {
    hostos::SetBinary(stdin);  // CR LF and any 0x1A pass as they are
    if (hostos::IsTerminal(stdin)) {
      std::fprintf(stderr, "pngcomment: reading the comment text until end of file (%s)\n",
                   hostos::kEndOfInputKey);
    }
    status = hostos::ReadStream(stdin, text);
  } else {
    status = hostos::ReadFile(text_file, text);
  }
  if (status != ReadStatus::kOk) {
    Report(name, Cause(status));
    return false;
  }
  if (text->compare(0, 8, kSignature, 8) == 0) {
    Report(name, "is a PNG file, not a comment text; nothing written");
    return false;
  }
  if (text->empty() && !options.allow_empty) {
    Report(name,
           "empty text; to remove every text chunk use 'pngcomment clear' (or --allow-empty)");
    return false;
  }
  if (!options.charset.empty() && !Convert(name, "", options.charset, std::string(*text), text))
    return false;
  *text = pngc::NormaliseLineEnds(*text, pngc::kShiftJis);
  return !TooLargeText(name, *text);
}

}  // namespace

int RunSet(const CliPlugin& plugin, const CliOptions& options) {
  if (!CharsetKnown(options)) return kExitFailed;
  const std::string& file = options.files[0];
  hostos::FileImage image;
  std::string text;
  if (!LoadPng(plugin, file, &image, true)) return kExitFailed;
  hostos::FileTime time;
  const bool keep_time =
      options.preserve_time && file != "-" && hostos::GetModifiedTime(file, &time);
  if (options.values.empty() && options.deletions.empty()) {
    if (!ReadCommentText(options, options.files.size() > 1 ? options.files[1] : "-", &text))
      return kExitFailed;
  } else {
    std::string comment, summary, stdin_text;
    for (const KeywordValue& value : options.values) {
      if (!value.from_stdin) continue;
      if (hostos::IsTerminal(stdin)) {
        std::fprintf(stderr, "pngcomment: reading the text until end of file (%s)\n",
                     hostos::kEndOfInputKey);
      }
      if (hostos::ReadStream(stdin, &stdin_text) != ReadStatus::kOk) {
        Report("standard input", "cannot read");
        return kExitFailed;
      }
      // A text typed or piped in ends with the line's end, which is no part of it.
      if (!stdin_text.empty() && stdin_text.back() == '\n') stdin_text.pop_back();
      if (!stdin_text.empty() && stdin_text.back() == '\r') stdin_text.pop_back();
    }
    if (!ReadComment(plugin, file, image, &comment, &summary) ||
        !EditSections(NameOf(file), comment, options, stdin_text, &text)) {
      return kExitFailed;
    }
  }
  NoteInternationalTexts(file, image);
  const std::string& target = options.out.empty() ? file : options.out;
  if (target == "-" && file == "-") {
    Report("standard output", "cannot write the file it reads from");
    return kExitFailed;
  }
  if (!WriteText(plugin, file, target, image, text, keep_time ? &time : nullptr))
    return kExitFailed;
  if (target != "-") std::printf("%s: written\n", target.c_str());
  return Finish(kExitOk);
}

int RunEdit(const CliPlugin& plugin, const CliOptions& options) {
  if (!CharsetKnown(options)) return kExitFailed;
  const std::string& file = options.files[0];
  hostos::FileImage image;
  std::string comment, summary;
  if (!LoadPng(plugin, file, &image, true) ||
      !ReadComment(plugin, file, image, &comment, &summary)) {
    return kExitFailed;
  }
  // Edits that could never be saved are not asked for: the save's own
  // checks, which change nothing.
  if (const pngc::os::SaveResult check = pngc::os::CheckFileReplace(file.c_str()); !check.ok()) {
    Report(file, Refusal(file, check) + ", not opened for editing");
    return kExitFailed;
  }
  NoteInternationalTexts(file, image);
  hostos::FileTime time;
  const bool keep_time = options.preserve_time && hostos::GetModifiedTime(file, &time);
  std::string shown = comment;
  if (!options.charset.empty() && !Convert(file, options.charset, "", comment, &shown))
    return kExitFailed;
  hostos::TempTextFile temp;
  if (!temp.Create(shown)) {
    Report(file, "cannot create a temporary file for the text");
    return kExitFailed;
  }
  const std::string failure = hostos::RunEditor(hostos::EditorCommand(), temp.path());
  if (!failure.empty()) {
    Report(file, failure + ", nothing written");
    return kExitFailed;
  }
  std::string edited;
  const ReadStatus status = hostos::ReadFile(temp.path(), &edited);
  if (status != ReadStatus::kOk) {
    Report(temp.path(), Cause(status));
    return kExitFailed;
  }
  // From here on, an edited text that is not saved is kept for the user.
  const auto keep = [&temp, &file](const std::string& why) {
    temp.Keep();
    Report(file, why + "the edited text is kept in " + temp.path());
    return kExitFailed;
  };
  if (!options.charset.empty() &&
      !Convert(temp.path(), "", options.charset, std::string(edited), &edited)) {
    return keep("");
  }
  // An editor that only changed the line ends has not changed the comment;
  // rewriting would still rebuild the chunks of any section it touched.
  edited = pngc::NormaliseLineEnds(edited, pngc::kShiftJis);
  if (edited == comment) {
    std::printf("%s: unchanged\n", file.c_str());
    return Finish(kExitOk);
  }
  // The new file is built from the image read before the editor opened: if
  // another program changed the file meanwhile, writing would undo that
  // change.
  if (!Unchanged(file, image))
    return keep("changed by another program during the edit, nothing written; ");
  if (TooLargeText(file, edited) ||
      !WriteText(plugin, file, file, image, edited, keep_time ? &time : nullptr)) {
    return keep("");
  }
  std::printf("%s: written\n", file.c_str());
  return Finish(kExitOk);
}

int RunClear(const CliPlugin& plugin, const CliOptions& options) {
  int status = kExitOk;
  for (const std::string& file : options.files) {
    hostos::FileImage image;
    std::string comment, summary;
    if (!LoadPng(plugin, file, &image, true) ||
        !ReadComment(plugin, file, image, &comment, &summary)) {
      status = kExitFailed;
      continue;
    }
    NoteInternationalTexts(file, image);
    const std::string& target = options.out.empty() ? file : options.out;
    if (comment.empty() && target == file) {
      std::printf("%s: no text chunks, nothing written\n", NameOf(file).c_str());
      std::fflush(stdout);
      continue;
    }
    hostos::FileTime time;
    const bool keep_time =
        options.preserve_time && file != "-" && hostos::GetModifiedTime(file, &time);
    if (!WriteText(plugin, file, target, image, "", keep_time ? &time : nullptr)) {
      status = kExitFailed;
      continue;
    }
    if (target != "-") std::printf("%s: cleared\n", target.c_str());
    std::fflush(stdout);
  }
  return Finish(status);
}

int RunVersion(const CliPlugin& plugin) {
  // The copy is not limited by the length argument: the buffer must be
  // large enough for any description.
  char description[4096] = {};
  plugin.get_info(1, description, sizeof description);
  std::printf("%s\nplug-in: %s\n", description, plugin.library().Path().c_str());
  const VersionInfo version = ReadVersionInfo(plugin.library().Path());
  if (version.found) {
    const auto quad = [](std::uint32_t ms, std::uint32_t ls) {
      return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
             std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
    };
    std::printf("file version %s (\"%s\"), product version %s (\"%s\")\n",
                quad(version.file_version_ms, version.file_version_ls).c_str(),
                version.file_version.c_str(),
                quad(version.product_version_ms, version.product_version_ls).c_str(),
                version.product_version.c_str());
    std::printf("language 0x%04X, code page %u\n", version.language, version.code_page);
  }
  return Finish(kExitOk);
}
