// The commands that write: set, edit, clear. The plug-in writes every file;
// this host builds the comment text it hands over, from the chunks the file
// holds (whose sections the plug-in then keeps byte for byte) and what the
// user gave.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
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
// The PNG bytes a save writes from.
struct Image {
  const std::uint8_t* data;
  std::size_t size;
};

bool WriteText(const CliPlugin& plugin, const std::string& source, const std::string& target,
               const PngFile& file, const Image& image, const std::string& text,
               const hostos::FileTime* time = nullptr) {
  if (target == "-" && hostos::IsTerminal(stdout)) {
    Report("standard output", "is a terminal; a PNG is not written there (use -o FILE or a pipe)");
    return false;
  }
  if (target == source && target != "-" && !Unchanged(target, file.image)) {
    Report(target, "changed by another program meanwhile, nothing written");
    return false;
  }
  if (text.size() > pngc::kMaxStreamSize || image.size > pngc::kMaxStreamSize) {
    Report(OutputName(target), "too large (over 2 GiB)");
    return false;
  }
  hostos::TempTextFile temporary;
  if (target == "-" && !temporary.Create("")) {
    Report("standard output", "cannot create a temporary file");
    return false;
  }
  const std::string& path = target == "-" ? temporary.path() : target;
  const std::int32_t result =
      plugin.write_comment(0, path.c_str(), image.data, static_cast<std::int32_t>(image.size),
                           text.data(), static_cast<std::int32_t>(text.size()));
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

// A save that would drop a file's text: the plug-in puts new text chunks
// after IHDR, and a file without one gets none.
bool RefuseWithoutHeader(const PngFile& file, bool drops_text) {
  if (file.has_header || !drops_text) return false;
  Report(file.name,
         "no IHDR chunk: a save would drop its text chunks and add none; nothing written");
  return true;
}

// The comment text the plug-in gets for `plan`: each kept tEXt and zTXt
// chunk's rendering (which it keeps byte for byte), each new one's section.
std::string CommentTextOf(const std::vector<PlannedText>& plan) {
  std::string text;
  for (const PlannedText& planned : plan) {
    if (planned.old != nullptr) {
      if (InCommentText(*planned.old)) text += planned.old->rendering;
    } else if (planned.kind != pngc::ChunkKind::kInternationalText) {
      text += pngc::ShowSection(planned.kind == pngc::ChunkKind::kCompressedText, planned.keyword,
                                planned.text);
    }
  }
  return text;
}

// A new iTXt chunk's bytes.
std::string InternationalChunk(const PlannedText& planned) {
  pngc::InternationalText text;
  text.keyword = planned.keyword;
  text.language = planned.language;
  text.translated_keyword = planned.translated_keyword;
  text.text = planned.text;
  text.compressed = planned.compressed;
  auto chunk = std::make_unique<pngc::TBitMemoryStream>();
  pngc::AppendInternationalText(*chunk, text);
  return std::string(reinterpret_cast<const char*>(chunk->GetMemory()),
                     static_cast<std::size_t>(chunk->GetSize()));
}

// The image with its iTXt chunks as `plan` has them, into `*image`: each
// kept, replaced where it stands, or dropped; new ones right after the first
// IHDR (where the plug-in puts its own). Every other byte is copied. False,
// with nothing made, when the iTXt chunks stay as they are.
bool ImageOf(const PngFile& file, const std::vector<PlannedText>& plan, std::string* image) {
  std::vector<const PlannedText*> placed(file.texts.size()), added;
  bool changed = false;
  for (const PlannedText& planned : plan) {
    if (planned.kind != pngc::ChunkKind::kInternationalText) continue;
    const TextChunk* where = planned.old != nullptr ? planned.old : planned.replaces;
    if (where != nullptr) {
      placed[static_cast<std::size_t>(where - file.texts.data())] = &planned;
    } else {
      added.push_back(&planned);
    }
    changed = changed || planned.old == nullptr;
  }
  for (std::size_t k = 0; k < file.texts.size(); ++k)
    changed = changed || (!InCommentText(file.texts[k]) && placed[k] == nullptr);
  if (!changed) return false;
  const auto* bytes = reinterpret_cast<const char*>(file.image.data());
  const auto size = static_cast<std::int32_t>(file.image.size());
  pngc::ChunkWalk walk(file.image.data(), size);
  image->assign(bytes, static_cast<std::size_t>(walk.position()));
  std::size_t k = 0;  // the next of the file's texts
  bool header_seen = false;
  pngc::PngChunk chunk;
  while (walk.Next(&chunk)) {
    if (!chunk.complete) break;  // in the tail, copied below
    while (k < file.texts.size() && file.texts[k].chunk.start < chunk.start) ++k;
    const bool international = k < file.texts.size() && file.texts[k].chunk.start == chunk.start &&
                               !InCommentText(file.texts[k]);
    if (!international) {
      image->append(bytes + chunk.start, static_cast<std::size_t>(chunk.next - chunk.start));
    } else if (const PlannedText* planned = placed[k]; planned != nullptr) {
      if (planned->old != nullptr) {
        image->append(bytes + chunk.start, static_cast<std::size_t>(chunk.next - chunk.start));
      } else {
        *image += InternationalChunk(*planned);
      }
    }
    if (!header_seen && pngc::KindOf(chunk) == pngc::ChunkKind::kHeader) {
      header_seen = true;
      for (const PlannedText* planned : added) *image += InternationalChunk(*planned);
    }
  }
  image->append(bytes + walk.tail(), static_cast<std::size_t>(size - walk.tail()));
  return true;
}

// A text value for an iTXt chunk: its line ends LF, as PNG stores them; no
// NUL, which the chunk cannot carry.
bool InternationalValue(const TextEncoding& encoding, const std::string& typed, std::string* text,
                        std::string* why) {
  if (!encoding.International(typed, text, why)) return false;
  if (text->find('\0') != std::string::npos) {
    *why = "holds a NUL byte, which a text chunk cannot carry";
    return false;
  }
  std::string lines;
  for (std::size_t at = 0; at < text->size(); ++at) {
    if (!(text->compare(at, 2, "\r\n") == 0)) lines += (*text)[at];
  }
  *text = std::move(lines);
  return true;
}

}  // namespace

bool MakeText(const KeywordChange& change, const PlannedText* like, const TextEncoding& encoding,
              bool compressed, bool international, PlannedText* made, std::string* why) {
  using pngc::ChunkKind;
  *made = PlannedText();
  const bool was_international = like != nullptr && like->kind == ChunkKind::kInternationalText;
  if (!was_international && !(like == nullptr && international)) {
    // tEXt or zTXt, in the file's set; a value ISO-8859-1 cannot hold, where
    // that is the set, goes to an iTXt instead, as exiftool writes one.
    std::string keyword;
    const bool plain = (like != nullptr ? (keyword = like->keyword, true)
                                        : encoding.Plain(change.keyword, &keyword, why)) &&
                       encoding.Plain(change.value, &made->text, why);
    if (plain) {
      const bool zipped =
          compressed || (like != nullptr && like->kind == ChunkKind::kCompressedText);
      made->kind = zipped ? ChunkKind::kCompressedText : ChunkKind::kText;
      made->keyword = keyword;
      *why = pngc::WhyNotCarried(made->keyword, made->text, RulesOf(encoding.charset));
      return why->empty();
    }
    if (!IsLatin1(encoding.charset)) return false;
  }
  made->kind = ChunkKind::kInternationalText;
  made->compressed = compressed || (was_international && like->compressed);
  if (was_international) {
    made->keyword = like->keyword;
    made->language = like->language;
    made->translated_keyword = like->translated_keyword;
    made->replaces = like->old != nullptr ? like->old : like->replaces;
  } else if (like != nullptr) {
    made->keyword = like->keyword;  // ISO-8859-1 already
  } else {
    if (!encoding.InternationalKeyword(change.keyword, &made->keyword, why)) return false;
    made->language = change.language;
  }
  if (made->keyword.empty()) made->keyword = pngc::kDefaultKeyword;
  return InternationalValue(encoding, change.value, &made->text, why);
}

std::vector<PlannedText> KeepAll(const PngFile& file) {
  std::vector<PlannedText> plan;
  for (const TextChunk& text : file.texts) {
    PlannedText kept;
    static_cast<TextFields&>(kept) = text;
    kept.old = &text;
    plan.push_back(std::move(kept));
  }
  return plan;
}

bool TextEncoding::Plain(const std::string& typed, std::string* bytes, std::string* why) const {
  if (charset.empty() && from.empty()) {
    *bytes = typed;
    return true;
  }
  return Convert(from, charset.empty() ? std::string() : charset, typed, bytes, why);
}

bool TextEncoding::InternationalKeyword(const std::string& typed, std::string* bytes,
                                        std::string* why) const {
  return Convert(from, "ISO-8859-1", typed, bytes, why);
}

bool TextEncoding::International(const std::string& typed, std::string* bytes,
                                 std::string* why) const {
  return Convert(from, "UTF-8", typed, bytes, why);
}

KeywordMatch::KeywordMatch(const std::string& typed, const TextEncoding& encoding) {
  std::string ignored;
  has_plain_ = encoding.Plain(typed, &plain_, &ignored);
  has_international_ = encoding.InternationalKeyword(typed, &international_, &ignored);
}

bool KeywordMatch::operator()(pngc::ChunkKind kind, const std::string& keyword) const {
  return kind == pngc::ChunkKind::kInternationalText
             ? has_international_ && keyword == international_
             : has_plain_ && keyword == plain_;
}

bool ApplyChanges(const std::vector<KeywordChange>& changes, const TextEncoding& encoding,
                  bool compressed, bool international, const std::string& name,
                  std::vector<PlannedText>* plan) {
  for (const KeywordChange& change : changes) {
    std::vector<PlannedText> next;
    bool placed = change.remove;
    std::string why;
    for (PlannedText& text : *plan) {
      if (!change.matches(text)) {
        next.push_back(std::move(text));
        continue;
      }
      if (placed) continue;  // removed, or a later text of the keyword
      placed = true;
      PlannedText made;
      if (!MakeText(change, &text, encoding, compressed, international, &made, &why)) {
        Report(name, change.label + ": " + why + "; nothing written");
        return false;
      }
      next.push_back(std::move(made));
    }
    if (!placed) {
      PlannedText made;
      if (!MakeText(change, nullptr, encoding, compressed, international, &made, &why)) {
        Report(name, change.label + ": " + why + "; nothing written");
        return false;
      }
      next.push_back(std::move(made));
    }
    *plan = std::move(next);
  }
  return true;
}

bool Settle(const PngFile& file, std::vector<PlannedText>* plan) {
  const std::vector<PlannedText> kept = KeepAll(file);
  std::vector<bool> used(kept.size());
  for (const PlannedText& planned : *plan) {
    if (planned.old != nullptr)
      used[static_cast<std::size_t>(planned.old - file.texts.data())] = true;
  }
  for (PlannedText& planned : *plan) {
    for (std::size_t k = 0; planned.old == nullptr && k < kept.size(); ++k) {
      const PlannedText& old = kept[k];
      const bool same = !used[k] && planned.kind == old.kind && planned.keyword == old.keyword &&
                        planned.text == old.text && planned.language == old.language &&
                        planned.translated_keyword == old.translated_keyword &&
                        planned.compressed == old.compressed && file.texts[k].readable;
      if (!same) continue;
      used[k] = true;
      planned = old;
    }
  }
  if (plan->size() != kept.size()) return false;
  for (std::size_t k = 0; k < kept.size(); ++k) {
    if ((*plan)[k].old != kept[k].old) return false;
  }
  return true;
}

bool SavePlan(const CliPlugin& plugin, const std::string& source, const std::string& target,
              const PngFile& file, const std::vector<PlannedText>& plan, bool keep_time) {
  const std::string comment = CommentTextOf(plan);
  bool adds_international = false;
  for (const PlannedText& planned : plan) {
    adds_international =
        adds_international || (planned.kind == pngc::ChunkKind::kInternationalText &&
                               planned.old == nullptr && planned.replaces == nullptr);
  }
  if (RefuseWithoutHeader(file, !comment.empty() || adds_international)) return false;
  hostos::FileTime time;
  const bool timed = keep_time && source != "-" && hostos::GetModifiedTime(source, &time);
  std::string edited;
  const bool image_changed = ImageOf(file, plan, &edited);
  const Image image =
      image_changed ? Image{reinterpret_cast<const std::uint8_t*>(edited.data()), edited.size()}
                    : Image{file.image.data(), file.image.size()};
  return WriteText(plugin, source, target, file, image, comment, timed ? &time : nullptr);
}

namespace {

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
    if (!InCommentText(file.texts[k]) ||
        !Convert(options.charset, "", file.texts[k].rendering, &shown[k], &why))
      used[k] = true;
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

// set FILE [TEXTFILE|-]: the comment text replaced whole.
int SetCommentText(const CliPlugin& plugin, const CliOptions& options) {
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
  if (!ReadCommentText(file, options, options.files.size() > 1 ? options.files[1] : "-", &text) ||
      RefuseWithoutHeader(file, !text.empty())) {
    return kExitFailed;
  }
  NoteInternationalTexts(file);
  const std::string& target = options.out.empty() ? path : options.out;
  const Image image{file.image.data(), file.image.size()};
  if (!WriteText(plugin, path, target, file, image, text, keep_time ? &time : nullptr))
    return kExitFailed;
  if (target != "-") Say(target + ": written");
  return Finish(kExitOk);
}

// Loads each file the command line names (folders walked with -r) and
// hands it to `save`, several files at once; a file that does not load is
// reported and counts as failed. The exit status of the whole command.
int SaveEach(const CliPlugin& plugin, const CliOptions& options,
             const std::function<int(const std::string& path, const PngFile& file)>& save) {
  std::vector<std::string> files;
  const bool listed = ExpandFiles(options, &files);
  const int status = ForEachFile(files, kSaveJobs, [&](const std::string& path) {
    PngFile file;
    std::string why;
    if (!LoadPng(plugin, path, true, &file, &why)) {
      Report(NameOf(path), why);
      return kExitFailed;
    }
    return save(path, file);
  });
  return Finish(listed ? status : kExitFailed);
}

}  // namespace

int RunSet(const CliPlugin& plugin, const CliOptions& options) {
  if (!CharsetKnown(options)) return kExitFailed;
  if (options.json) return RunSetJson(plugin, options);
  if (options.values.empty() && options.deletions.empty()) return SetCommentText(plugin, options);
  // set FILE... -k KEYWORD=TEXT --delete KEYWORD: the same changes in each.
  std::string stdin_text;
  for (const KeywordValue& value : options.values) {
    if (value.from_stdin && !ReadKeywordText(&stdin_text)) return kExitFailed;
  }
  const TextEncoding encoding{"", options.charset};
  std::vector<KeywordChange> changes;
  std::vector<KeywordMatch> deleted;
  for (const std::string& keyword : options.deletions) {
    deleted.emplace_back(keyword, encoding);
    const KeywordMatch& match = deleted.back();
    changes.push_back({[match](const PlannedText& text) { return match(text.kind, text.keyword); },
                       true, "--delete " + keyword, keyword, "", ""});
  }
  for (const KeywordValue& value : options.values) {
    const KeywordMatch match(value.keyword, encoding);
    changes.push_back({[match](const PlannedText& text) { return match(text.kind, text.keyword); },
                       false, "-k " + value.keyword, value.keyword,
                       value.from_stdin ? stdin_text : value.text, ""});
  }
  return SaveEach(plugin, options, [&](const std::string& path, const PngFile& file) {
    for (std::size_t d = 0; d < deleted.size(); ++d) {
      const auto held = std::any_of(file.texts.begin(), file.texts.end(), [&](const TextChunk& t) {
        return deleted[d](t.kind, t.keyword);
      });
      if (!held) {
        Report(file.name, "--delete " + options.deletions[d] +
                              ": no text chunk with that keyword; nothing written");
        return kExitFailed;
      }
    }
    std::vector<PlannedText> plan = KeepAll(file);
    if (!ApplyChanges(changes, encoding, options.compressed, options.international, file.name,
                      &plan)) {
      return kExitFailed;
    }
    const std::string& target = options.out.empty() ? path : options.out;
    if (Settle(file, &plan) && target == path && path != "-") {
      Say(path + ": unchanged");
      return kExitOk;
    }
    if (!SavePlan(plugin, path, target, file, plan, options.preserve_time)) return kExitFailed;
    if (target != "-") Say(target + ": written");
    return kExitOk;
  });
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
  if (RefuseWithoutHeader(file, std::any_of(file.texts.begin(), file.texts.end(), InCommentText)))
    return kExitFailed;
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
    Say(path + ": unchanged");
    return Finish(kExitOk);
  }
  if (!options.charset.empty() && !FromTerminal(file, options, path, std::string(edited), &edited))
    return keep("");
  // The new file is built from the image read before the editor opened: if
  // another program changed the file meanwhile, writing would undo that
  // change.
  if (!Unchanged(path, file.image))
    return keep("changed by another program during the edit, nothing written; ");
  const Image image{file.image.data(), file.image.size()};
  if (!WriteText(plugin, path, path, file, image, edited, keep_time ? &time : nullptr))
    return keep("");
  Say(path + ": written");
  return Finish(kExitOk);
}

int RunClear(const CliPlugin& plugin, const CliOptions& options) {
  return SaveEach(plugin, options, [&](const std::string& path, const PngFile& file) {
    const std::string& target = options.out.empty() ? path : options.out;
    if (file.texts.empty() && target == path && path != "-") {
      Say(NameOf(path) + ": no text chunks, nothing written");
      return kExitOk;
    }
    if (!SavePlan(plugin, path, target, file, {}, options.preserve_time)) return kExitFailed;
    if (target != "-") Say(target + ": cleared");
    return kExitOk;
  });
}
