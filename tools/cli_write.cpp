// The commands that write: set, edit, clear. The plug-in writes every file;
// this host builds the comment text it hands over, from the chunks the file
// holds (whose sections the plug-in then keeps byte for byte) and what the
// user gave.
#include <cstdio>
#include <new>

#include "tools/cli.h"

namespace {

using hostos::ReadStatus;

std::string OutputName(const std::string& path) { return path == "-" ? "standard output" : path; }

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

// Writes `file`'s image with `text` to `target` ("-": standard output,
// through a temporary file, as the plug-in writes files only), unless
// `target` is the file the image was read from and another program has
// changed it since. With `time`, the written file gets that modification
// time.
bool WriteText(const CliPlugin& plugin, const std::string& source, const std::string& target,
               const PngFile& file, const std::string& text,
               const hostos::FileTime* time = nullptr) {
  if (target == source && target != "-" && !Unchanged(target, file.image)) {
    Report(target, "changed by another program meanwhile, nothing written");
    return false;
  }
  if (text.size() > pngc::kMaxStreamSize) {
    Report(OutputName(target), "too large (over 2 GiB)");
    return false;
  }
  hostos::TempTextFile temporary;
  if (target == "-" && !temporary.Create("")) {
    Report("standard output", "cannot create a temporary file");
    return false;
  }
  const std::string& path = target == "-" ? temporary.path() : target;
  const std::int32_t result = plugin.write_comment(
      0, path.c_str(), file.image.data(), static_cast<std::int32_t>(file.image.size()), text.data(),
      static_cast<std::int32_t>(text.size()));
  const std::uint32_t error = hostos::LastError();
  if (result != kPngcOk) {
    Report(OutputName(target),
           result == kPngcNotSaved ? SaveFailure(path, error) : PngcResultText(result));
    return false;
  }
  if (time != nullptr && target != "-") hostos::SetModifiedTime(target, *time);
  if (target != "-") return true;
  std::string written;
  if (hostos::ReadFile(path, &written) != ReadStatus::kOk) {
    Report("standard output", "cannot read the written file back");
    return false;
  }
  hostos::SetBinary(stdout);
  return std::fwrite(written.data(), 1, written.size(), stdout) == written.size();
}

// A save that would drop a file's text and add none: the plug-in puts new
// text chunks after IHDR, and a file without one gets none.
bool RefuseWithoutHeader(const PngFile& file, const std::string& text) {
  if (file.has_header || (file.texts.empty() && text.empty())) return false;
  Report(file.name,
         "no IHDR chunk: a save would drop its text chunks and add none; nothing written");
  return true;
}

// The comment text of `file` with the keyword edits of `options`: each -k
// value replaces its keyword's first text chunk in place (the others of
// that keyword go), or is added at the end; --delete removes a keyword's
// chunks. Every other chunk's section is its rendering, which the plug-in
// keeps byte for byte. False (reported) for a value the comment text cannot
// carry and a keyword to delete that the file does not hold.
bool EditKeywords(const PngFile& file, const CliOptions& options, const std::string& stdin_text,
                  std::string* edited) {
  const pngc::TextRules rules = RulesOf(options.charset);
  std::vector<KeywordValue> values;
  std::string why;
  for (const KeywordValue& value : options.values) {
    KeywordValue bytes{value.keyword, value.from_stdin ? stdin_text : value.text, false};
    if (!options.charset.empty() &&
        (!Convert("", options.charset, value.keyword, &bytes.keyword, &why) ||
         !Convert("", options.charset, std::string(bytes.text), &bytes.text, &why))) {
      Report(file.name, "-k " + value.keyword + ": " + why + "; nothing written");
      return false;
    }
    if (const std::string not_carried = pngc::WhyNotCarried(bytes.keyword, bytes.text, rules);
        !not_carried.empty()) {
      Report(file.name, "-k " + value.keyword + ": " + not_carried + "; nothing written");
      return false;
    }
    values.push_back(bytes);
  }
  std::vector<std::string> deletions;
  for (const std::string& keyword : options.deletions) {
    std::string bytes = keyword;
    if (!options.charset.empty() && !Convert("", options.charset, keyword, &bytes, &why)) {
      Report(file.name, "--delete " + keyword + ": " + why + "; nothing written");
      return false;
    }
    bool held = false;
    for (const TextChunk& text : file.texts) held = held || text.keyword == bytes;
    if (!held) {
      Report(file.name,
             "--delete " + keyword + ": no text chunk with that keyword; nothing written");
      return false;
    }
    deletions.push_back(bytes);
  }
  std::vector<bool> placed(values.size());
  edited->clear();
  for (const TextChunk& text : file.texts) {
    bool dropped = false;
    for (const std::string& keyword : deletions) dropped = dropped || text.keyword == keyword;
    for (std::size_t k = 0; !dropped && k < values.size(); ++k) {
      if (values[k].keyword != text.keyword) continue;
      if (!placed[k]) {
        *edited +=
            pngc::ShowSection(options.compressed || text.kind == pngc::ChunkKind::kCompressedText,
                              text.keyword, values[k].text);
        placed[k] = true;
      }
      dropped = true;  // the first in place of the old text, the others gone
    }
    if (!dropped) *edited += text.rendering;
  }
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (!placed[k])
      *edited += pngc::ShowSection(options.compressed, values[k].keyword, values[k].text);
  }
  return true;
}

// Empty lines (CR LF) at the start and the end of a section's bytes, which
// only separate sections.
std::size_t LeadingEmptyLines(const std::string& shown) {
  std::size_t at = 0;
  while (shown.compare(at, 2, "\r\n") == 0) at += 2;
  return at;
}
std::size_t TrailingEmptyLines(const std::string& shown, std::size_t start) {
  std::size_t end = shown.size();
  while (end >= start + 4 && shown.compare(end - 4, 4, "\r\n\r\n") == 0) end -= 2;
  return shown.size() - end;
}

// The comment text, in the file's bytes, of a text the user gave in this
// terminal's character set (--charset): each section converted to NAME,
// except one that is exactly an old chunk's section as the terminal showed
// it, which is handed back as the chunk's own bytes (a set of characters
// that maps two codes to one, as code page 932 does, would otherwise change
// them). False (reported) for a character NAME lacks.
bool FromTerminal(const PngFile& file, const CliOptions& options, const std::string& name,
                  const std::string& text, std::string* out) {
  std::string why;
  std::vector<std::string> shown(file.texts.size());  // each chunk's section, as shown
  std::vector<bool> used(file.texts.size());
  for (std::size_t k = 0; k < file.texts.size(); ++k) {
    if (!Convert(options.charset, "", file.texts[k].rendering, &shown[k], &why)) used[k] = true;
  }
  out->clear();
  int line = 1;
  std::size_t cursor = 0;
  for (const pngc::CommentSection& section : pngc::SplitSections(text, RulesOf(""))) {
    const std::size_t lead = LeadingEmptyLines(section.shown);
    const std::size_t trail = TrailingEmptyLines(section.shown, lead);
    const std::string core = section.shown.substr(lead, section.shown.size() - lead - trail);
    std::size_t match = file.texts.size();
    for (std::size_t n = 0; n < file.texts.size() && match == file.texts.size(); ++n) {
      const std::size_t k = (cursor + n) % file.texts.size();
      if (!used[k] && shown[k] == core) match = k;
    }
    if (match < file.texts.size()) {
      used[match] = true;
      cursor = match + 1;
      *out += section.shown.substr(0, lead) + file.texts[match].rendering +
              section.shown.substr(section.shown.size() - trail);
    } else {
      std::string converted;
      if (!Convert("", options.charset, section.shown, &converted, &why, line)) {
        Report(name, why + "; nothing written");
        return false;
      }
      *out += converted;
    }
    for (std::size_t at = section.shown.find("\r\n"); at != std::string::npos;
         at = section.shown.find("\r\n", at + 2)) {
      ++line;
    }
  }
  return true;
}

// The text of set's TEXTFILE (or standard input), made ready for the
// plug-in; false (reported) when it is refused.
bool ReadCommentText(const PngFile& file, const CliOptions& options, const std::string& text_file,
                     std::string* text) {
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
    Report(name, status == ReadStatus::kTooLarge   ? "too large (over 2 GiB)"
                 : status == ReadStatus::kNoMemory ? "out of memory"
                                                   : "cannot read");
    return false;
  }
  if (text->compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0) {
    Report(name, "is a PNG file, not a comment text; nothing written");
    return false;
  }
  if (text->empty() && !options.allow_empty) {
    Report(name,
           "empty text; to remove every text chunk use 'pngcomment clear' (or --allow-empty)");
    return false;
  }
  *text = pngc::NormaliseLineEnds(*text, RulesOf(""));
  if (options.charset.empty()) return true;
  return FromTerminal(file, options, name, std::string(*text), text);
}

// Reads the text of "-k KEYWORD -" from standard input, without the line's
// end a typed or piped text ends with.
bool ReadKeywordText(std::string* text) {
  if (hostos::IsTerminal(stdin)) {
    std::fprintf(stderr, "pngcomment: reading the text until end of file (%s)\n",
                 hostos::kEndOfInputKey);
  }
  if (hostos::ReadStream(stdin, text) != ReadStatus::kOk) {
    Report("standard input", "cannot read");
    return false;
  }
  if (!text->empty() && text->back() == '\n') text->pop_back();
  if (!text->empty() && text->back() == '\r') text->pop_back();
  return true;
}

}  // namespace

int RunSet(const CliPlugin& plugin, const CliOptions& options) {
  if (!CharsetKnown(options)) return kExitFailed;
  const std::string& path = options.files[0];
  PngFile file;
  std::string text, why;
  if (!LoadPng(plugin, path, true, &file, &why)) {
    Report(NameOf(path), why);
    return kExitFailed;
  }
  hostos::FileTime time;
  const bool keep_time =
      options.preserve_time && path != "-" && hostos::GetModifiedTime(path, &time);
  if (options.values.empty() && options.deletions.empty()) {
    if (!ReadCommentText(file, options, options.files.size() > 1 ? options.files[1] : "-", &text))
      return kExitFailed;
  } else {
    std::string stdin_text;
    for (const KeywordValue& value : options.values) {
      if (value.from_stdin && !ReadKeywordText(&stdin_text)) return kExitFailed;
    }
    if (!EditKeywords(file, options, stdin_text, &text)) return kExitFailed;
  }
  if (RefuseWithoutHeader(file, text)) return kExitFailed;
  NoteInternationalTexts(file);
  const std::string& target = options.out.empty() ? path : options.out;
  if (target == "-" && path == "-" && hostos::IsTerminal(stdout)) {
    Report("standard output", "is a terminal; a PNG is not written there");
    return kExitFailed;
  }
  if (!WriteText(plugin, path, target, file, text, keep_time ? &time : nullptr)) return kExitFailed;
  if (target != "-") std::printf("%s: written\n", target.c_str());
  return Finish(kExitOk);
}

int RunEdit(const CliPlugin& plugin, const CliOptions& options) {
  if (!CharsetKnown(options)) return kExitFailed;
  const std::string& path = options.files[0];
  PngFile file;
  std::string comment, summary, why;
  if (!LoadPng(plugin, path, true, &file, &why) ||
      !ReadComment(plugin, file, &comment, &summary, &why)) {
    Report(NameOf(path), why);
    return kExitFailed;
  }
  // Edits that could never be saved are not asked for: the save's own
  // checks, which change nothing.
  if (const pngc::os::SaveResult check = pngc::os::CheckFileReplace(path.c_str()); !check.ok()) {
    Report(path, Refusal(path, check) + ", not opened for editing");
    return kExitFailed;
  }
  if (RefuseWithoutHeader(file, "")) return kExitFailed;
  NoteInternationalTexts(file);
  hostos::FileTime time;
  const bool keep_time = options.preserve_time && hostos::GetModifiedTime(path, &time);
  std::string shown = comment;
  if (!options.charset.empty() && !Convert(options.charset, "", comment, &shown, &why)) {
    Report(path, why);
    return kExitFailed;
  }
  hostos::TempTextFile temp;
  if (!temp.Create(shown)) {
    Report(path, "cannot create a temporary file for the text");
    return kExitFailed;
  }
  const std::string failure = hostos::RunEditor(hostos::EditorCommand(), temp.path());
  if (!failure.empty()) {
    Report(path, failure + ", nothing written");
    return kExitFailed;
  }
  std::string edited;
  const ReadStatus status = hostos::ReadFile(temp.path(), &edited);
  if (status != ReadStatus::kOk) {
    Report(temp.path(), "cannot read");
    return kExitFailed;
  }
  // From here on, an edited text that is not saved is kept for the user.
  const auto keep = [&temp, &path](const std::string& why_not) {
    temp.Keep();
    Report(path, why_not + "the edited text is kept in " + temp.path());
    return kExitFailed;
  };
  // An editor that only changed the line ends has not changed the comment;
  // rewriting would still rebuild the chunks of any section it touched.
  edited = pngc::NormaliseLineEnds(edited, RulesOf(""));
  if (edited == pngc::NormaliseLineEnds(shown, RulesOf(""))) {
    std::printf("%s: unchanged\n", path.c_str());
    return Finish(kExitOk);
  }
  if (!options.charset.empty() && !FromTerminal(file, options, path, std::string(edited), &edited))
    return keep("");
  // The new file is built from the image read before the editor opened: if
  // another program changed the file meanwhile, writing would undo that
  // change.
  if (!Unchanged(path, file.image))
    return keep("changed by another program during the edit, nothing written; ");
  if (!WriteText(plugin, path, path, file, edited, keep_time ? &time : nullptr)) return keep("");
  std::printf("%s: written\n", path.c_str());
  return Finish(kExitOk);
}

int RunClear(const CliPlugin& plugin, const CliOptions& options) {
  int status = kExitOk;
  for (const std::string& path : options.files) {
    PngFile file;
    std::string why;
    if (!LoadPng(plugin, path, true, &file, &why)) {
      Report(NameOf(path), why);
      status = kExitFailed;
      continue;
    }
    NoteInternationalTexts(file);
    const std::string& target = options.out.empty() ? path : options.out;
    if (file.texts.empty() && target == path) {
      std::printf("%s: no text chunks, nothing written\n", NameOf(path).c_str());
      std::fflush(stdout);
      continue;
    }
    hostos::FileTime time;
    const bool keep_time =
        options.preserve_time && path != "-" && hostos::GetModifiedTime(path, &time);
    if (!WriteText(plugin, path, target, file, "", keep_time ? &time : nullptr)) {
      status = kExitFailed;
      continue;
    }
    if (target != "-") std::printf("%s: cleared\n", target.c_str());
    std::fflush(stdout);
  }
  return Finish(status);
}
