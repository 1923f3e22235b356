// The commands that read: info, get, --version.
#include <cstdio>

#include "plugin/version.h"
#include "tools/cli.h"
#include "tools/version_info.h"

namespace {

void ReportWarnings(const PngFile& file) {
  if (const std::string warnings = Warnings(file); !warnings.empty())
    Report(file.name, "warning: " + warnings);
}

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

}  // namespace

int RunInfo(const CliPlugin& plugin, const CliOptions& options) {
  if (options.json) return CharsetKnown(options) ? RunJson(plugin, options) : kExitFailed;
  std::vector<std::string> files;
  int status = ExpandFiles(options, &files) ? kExitOk : kExitFailed;
  bool first = true;
  for (const std::string& path : files) {
    PngFile file;
    std::string comment, summary;
    if (!Open(plugin, path, &file, &comment, &summary, &status)) continue;
    if (files.size() > 1) std::printf("%s%s:\n", first ? "" : "\n", file.name.c_str());
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
  std::vector<std::string> files;
  int status = ExpandFiles(options, &files) ? kExitOk : kExitFailed;
  bool first = true;
  const TextEncoding encoding{"", options.charset};
  std::vector<KeywordMatch> matches;
  for (const std::string& keyword : options.keywords) matches.emplace_back(keyword, encoding);
  for (const std::string& path : files) {
    PngFile file;
    std::string comment, summary, why;
    if (!Open(plugin, path, &file, options.keywords.empty() ? &comment : nullptr, &summary,
              &status)) {
      continue;
    }
    // The comment text byte for byte, lines ending in CR LF, as the plug-in
    // gives it; or the texts of the keywords asked for, each with a line end,
    // in file order: iTXt chunks' too, from UTF-8.
    std::string out, missing;
    if (options.keywords.empty()) {
      NoteInternationalTexts(file);
      out = comment;
      if (!options.charset.empty() && !Convert(options.charset, "", comment, &out, &why))
        out.clear();
    }
    for (std::size_t k = 0; k < matches.size() && why.empty(); ++k) {
      bool found = false;
      for (const TextChunk& text : file.texts) {
        if (!matches[k](text.kind, text.keyword)) continue;
        found = true;
        std::string shown = text.text;
        const std::string from = InCommentText(text) ? options.charset : "UTF-8";
        if (!from.empty() && !Convert(from, "", text.text, &shown, &why)) break;
        out += shown + "\n";
      }
      if (!found) missing += (missing.empty() ? "" : ", ") + options.keywords[k];
    }
    if (!why.empty() || !missing.empty()) {
      Report(file.name, why.empty() ? "no text chunk with the keyword " + missing : why);
      status = kExitFailed;
      if (!why.empty()) continue;
    }
    // The comment text goes out as it is, CR LF and all; one keyword's texts
    // as text, with this system's line ends.
    const char* line_end = options.keywords.empty() ? hostos::kLineEnd : "\n";
    if (options.keywords.empty()) hostos::SetBinary(stdout);
    if (files.size() > 1) {
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
