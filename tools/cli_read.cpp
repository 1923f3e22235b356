// The commands that read: info, get and their JSON, --version.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "plugin/version.h"
#include "tools/cli.h"
#include "tools/version_info.h"

namespace {

using Json = nlohmann::ordered_json;

// What --json decodes texts with when no --charset is given: the PNG
// standard's, which maps every byte.
constexpr const char* kPngCharset = "ISO-8859-1";

void ReportWarnings(const PngFile& file) {
  if (const std::string warnings = Warnings(file); !warnings.empty())
    Report(file.name, "warning: " + warnings);
}

// The texts of the keywords asked for (all without -k), each once in file
// order; the keywords met in none go to `*missing`. A keyword is compared
// as the file holds it: converted from the terminal's set with --charset.
std::vector<const TextChunk*> Selected(const PngFile& file, const CliOptions& options,
                                       std::vector<std::string>* missing, std::string* why) {
  std::vector<const TextChunk*> selected;
  if (options.keywords.empty()) {
    for (const TextChunk& text : file.texts) selected.push_back(&text);
    return selected;
  }
  for (const std::string& keyword : options.keywords) {
    std::string bytes = keyword;
    if (!options.charset.empty() && !Convert("", options.charset, keyword, &bytes, why)) return {};
    bool found = false;
    for (const TextChunk& text : file.texts) {
      if (text.keyword != bytes) continue;
      selected.push_back(&text);
      found = true;
    }
    if (!found) missing->push_back(keyword);
  }
  return selected;
}

std::string Missing(const std::vector<std::string>& keywords) {
  std::string list;
  for (const std::string& keyword : keywords) list += (list.empty() ? "" : ", ") + keyword;
  return "no text chunk with the keyword " + list;
}

// One --json record, as exiftool's -json gives one: the file, the image
// header's values, the texts decoded to UTF-8, the iTXt chunks read-only,
// then a warning or an error. False when the file failed.
bool JsonRecord(const CliPlugin& plugin, const std::string& path, const CliOptions& options,
                Json* record) {
  (*record)["SourceFile"] = hostos::SystemTextToUtf8(NameOf(path));
  PngFile file;
  std::string why;
  if (!LoadPng(plugin, path, false, &file, &why)) {
    (*record)["Error"] = why;
    return false;
  }
  if (file.has_header) {
    (*record)["ImageWidth"] = file.header.width;
    (*record)["ImageHeight"] = file.header.height;
    (*record)["ColorType"] = pngc::ColourTypeName(file.header.colour_type);
    (*record)["BitDepth"] = file.header.bit_depth;
    (*record)["Interlace"] = pngc::InterlaceName(file.header.interlace);
  }
  (*record)["FileSize"] = file.image.size();
  const std::string charset = options.charset.empty() ? kPngCharset : options.charset;
  std::vector<std::string> missing;
  Json texts = Json::array();
  for (const TextChunk* text : Selected(file, options, &missing, &why)) {
    std::string keyword, utf8;
    if (!Convert(charset, "UTF-8", text->keyword, &keyword, &why) ||
        !Convert(charset, "UTF-8", text->text, &utf8, &why)) {
      break;
    }
    texts.push_back({{"keyword", keyword}, {"type", pngc::TypeOf(text->kind)}, {"text", utf8}});
  }
  (*record)["Texts"] = texts;
  Json international = Json::array();
  for (const pngc::InternationalText& text : file.international) {
    Json entry = {{"keyword", text.keyword},
                  {"language", text.language},
                  {"translatedKeyword", text.translated_keyword},
                  {"text", text.text},
                  {"readOnly", true}};
    if (!text.readable) entry["damaged"] = true;
    international.push_back(entry);
  }
  if (!international.empty()) (*record)["InternationalTexts"] = international;
  if (const std::string warnings = Warnings(file); !warnings.empty())
    (*record)["Warning"] = warnings;
  if (!missing.empty() && why.empty()) why = Missing(missing);
  if (!why.empty()) {
    Report(file.name, why);
    (*record)["Error"] = why;
  }
  return why.empty();
}

// The --json output of info and get: an array, one object per file.
int RunJson(const CliPlugin& plugin, const CliOptions& options) {
  int status = kExitOk;
  Json records = Json::array();
  for (const std::string& path : options.files) {
    Json record;
    if (!JsonRecord(plugin, path, options, &record)) status = kExitFailed;
    records.push_back(std::move(record));
  }
  // Bytes that are no UTF-8 (a name in a legacy set) come out as U+FFFD.
  const std::string out = records.dump(2, ' ', false, Json::error_handler_t::replace);
  std::printf("%s\n", out.c_str());
  return Finish(status);
}

}  // namespace

// Loads `path` and, when `comment` is given, reads the plug-in's comment
// text and summary; warns of what the walk met. False (reported, and the
// status made a failure) when the file cannot be read.
bool Open(const CliPlugin& plugin, const std::string& path, PngFile* file, std::string* comment,
          std::string* summary, int* status) {
  std::string why;
  if (LoadPng(plugin, path, false, file, &why) &&
      (comment == nullptr || ReadComment(plugin, *file, comment, summary, &why))) {
    ReportWarnings(*file);
    return true;
  }
  Report(NameOf(path), why);
  *status = kExitFailed;
  return false;
}

int RunInfo(const CliPlugin& plugin, const CliOptions& options) {
  if (options.json) return CharsetKnown(options) ? RunJson(plugin, options) : kExitFailed;
  int status = kExitOk;
  bool first = true;
  for (const std::string& path : options.files) {
    PngFile file;
    std::string comment, summary;
    if (!Open(plugin, path, &file, &comment, &summary, &status)) continue;
    if (options.files.size() > 1) std::printf("%s%s:\n", first ? "" : "\n", file.name.c_str());
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
  for (const std::string& path : options.files) {
    PngFile file;
    std::string comment, summary, why;
    if (!Open(plugin, path, &file, options.keywords.empty() ? &comment : nullptr, &summary,
              &status)) {
      continue;
    }
    NoteInternationalTexts(file);
    // The comment text byte for byte, lines ending in CR LF, as the plug-in
    // gives it; or the texts of the keywords asked for, each with a line end.
    std::string out = comment, missing_texts;
    if (!options.keywords.empty()) {
      std::vector<std::string> missing;
      out.clear();
      for (const TextChunk* text : Selected(file, options, &missing, &why))
        out += text->text + "\n";
      if (!missing.empty()) missing_texts = Missing(missing);
    }
    if (why.empty() && !options.charset.empty()) {
      std::string converted;
      if (Convert(options.charset, "", out, &converted, &why)) out = converted;
    }
    if (!why.empty() || !missing_texts.empty()) {
      Report(file.name, why.empty() ? missing_texts : why);
      status = kExitFailed;
      if (!why.empty()) continue;
    }
    // The comment text goes out as it is, CR LF and all; one keyword's texts
    // as text, with this system's line ends.
    const char* line_end = options.keywords.empty() ? hostos::kLineEnd : "\n";
    if (options.keywords.empty()) hostos::SetBinary(stdout);
    if (options.files.size() > 1) {
      std::printf("%s==> %s <==%s", first ? "" : line_end, file.name.c_str(), line_end);
    }
    first = false;
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
  }
  return Finish(status);
}

int RunVersion(const CliPlugin& plugin) {
  // The copy is not limited by the length argument: the buffer must be
  // large enough for any description.
  char description[4096] = {};
  plugin.get_info(1, description, sizeof description);
  // The program's version, then the plug-in's own, which may be another.
  std::printf("pngcomment %s\n%s\nplug-in: %s\n", PNGC_VERSION, description,
              plugin.library().Path().c_str());
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
