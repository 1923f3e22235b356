// JSON as exiftool's -json gives it, and back: info --json and get --json
// print one array, an object per file; set --json applies the texts of such
// an array to the files it names.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "tools/cli.h"

namespace {

using Json = nlohmann::ordered_json;

// What texts are decoded from, and encoded into, without --charset: the PNG
// standard's set, which maps every byte.
constexpr const char* kPngCharset = "ISO-8859-1";

// A record's own fields. A text whose tag would be one of them is named
// with "PNG" before it, as exiftool names a "Warning" text "PNGWarning".
const std::set<std::string> kRecordFields = {
    "SourceFile", "ImageWidth", "ImageHeight", "BitDepth", "ColorType", "Compression",
    "Filter",     "Interlace",  "FileSize",    "Texts",    "Warning",   "Error"};

// Keywords exiftool gives names of their own (after its first letter is
// made a capital).
const std::pair<const char*, const char*> kKnownTags[] = {
    {"Warning", "PNGWarning"},
    {"Raw profile type exif", "EXIF_Profile"},
    {"Raw profile type APP1", "APP1_Profile"},
    {"Raw profile type icc", "ICC_Profile"},
    {"Raw profile type icm", "ICC_Profile"},
    {"Raw profile type iptc", "IPTC_Profile"},
    {"Raw profile type xmp", "XMP_Profile"},
    {"Raw profile type 8bim", "Photoshop_Profile"},
    {"XML:com.adobe.xmp", "XMP"},
};

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The tag exiftool shows a text under: a known keyword by its own name;
// any other with each word's first letter a capital, the spaces between
// words dropped, and only letters, digits, "-" and "_" kept; "Tag" before a
// name of one letter, or one that does not start with a letter. An iTXt's
// language follows, after a "-", in small letters.
std::string TagName(std::string keyword, const std::string& language) {
  if (!keyword.empty()) keyword[0] = Upper(keyword[0]);
  std::string name;
  for (const auto& known : kKnownTags) {
    if (keyword == known.first) name = known.second;
  }
  if (name.empty()) {
    bool capital = false;
    for (const char c : keyword) {
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        capital = !name.empty();
      } else if (IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_') {
        name += capital ? Upper(c) : c;
        capital = false;
      }
    }
    if (name.size() < 2 || !IsAsciiLetter(name[0])) name = "Tag" + name;
  }
  if (kRecordFields.count(name) != 0) name = "PNG" + name;
  if (!language.empty()) {
    name += '-';
    for (const char c : language) name += Lower(c);
  }
  return name;
}

// The keyword a tag stands for, for a text the file does not have yet.
std::string KeywordOfTag(const std::string& tag) {
  for (const auto& known : kKnownTags) {
    if (tag == known.second) return known.first;
  }
  if (tag.compare(0, 3, "PNG") == 0 && kRecordFields.count(tag.substr(3)) != 0)
    return tag.substr(3);
  return tag;
}

// exiftool's words for IHDR's values.
std::string HeaderValueName(std::uint8_t value, std::initializer_list<const char*> names) {
  const char* name = value < names.size() ? names.begin()[value] : nullptr;
  return name != nullptr ? name : "Unknown (" + std::to_string(value) + ")";
}

// A text as JSON shows it: keyword and text decoded to UTF-8 (tEXt and
// zTXt from `charset`), type, and an iTXt's own fields. False (with why)
// when a text does not decode.
bool TextEntry(const TextChunk& text, const std::string& charset, Json* entry, std::string* why) {
  std::string keyword, decoded;
  if (InCommentText(text)) {
    if (!Convert(charset, "UTF-8", text.keyword, &keyword, why) ||
        !Convert(charset, "UTF-8", text.text, &decoded, why)) {
      return false;
    }
  } else {
    Convert(kPngCharset, "UTF-8", text.keyword, &keyword, why);  // maps every byte
    decoded = text.text;
  }
  *entry = {{"keyword", keyword}, {"type", pngc::TypeOf(text.kind)}, {"text", decoded}};
  if (!InCommentText(text)) {
    (*entry)["language"] = text.language;
    (*entry)["translatedKeyword"] = text.translated_keyword;
    (*entry)["compressed"] = text.compressed;
    if (!text.readable) (*entry)["damaged"] = true;
  }
  return true;
}

// A planned text's JSON entry, as the file would show it once saved.
bool PlannedEntry(const PlannedText& planned, const std::string& charset, Json* entry) {
  TextChunk text;
  static_cast<TextFields&>(text) = planned;
  std::string ignored;
  return TextEntry(text, charset, entry, &ignored);
}

// The tag of a text's JSON entry.
std::string TagOf(const Json& entry) {
  return TagName(entry.value("keyword", ""), entry.value("language", ""));
}

// One record, as exiftool's -json gives one: the file, the image header's
// values, each text as a tag (the last of a tag's texts), every text in
// "Texts", then a warning or an error. `keywords`: only these texts (get -k).
// False when the file failed.
bool RecordOf(const CliPlugin& plugin, const std::string& path, const CliOptions& options,
              bool whole, PngFile* file, Json* record) {
  (*record)["SourceFile"] = hostos::SystemTextToUtf8(NameOf(path));
  std::string why;
  if (!LoadPng(plugin, path, whole, file, &why)) {
    (*record)["Error"] = why;
    return false;
  }
  if (file->has_header) {
    const pngc::ImageHeader& header = file->header;
    (*record)["ImageWidth"] = header.width;
    (*record)["ImageHeight"] = header.height;
    (*record)["BitDepth"] = header.bit_depth;
    (*record)["ColorType"] =
        HeaderValueName(header.colour_type, {"Grayscale", nullptr, "RGB", "Palette",
                                             "Grayscale with Alpha", nullptr, "RGB with Alpha"});
    (*record)["Compression"] = HeaderValueName(header.compression, {"Deflate/Inflate"});
    (*record)["Filter"] = HeaderValueName(header.filter, {"Adaptive"});
    (*record)["Interlace"] =
        HeaderValueName(header.interlace, {"Noninterlaced", "Adam7 Interlace"});
  }
  (*record)["FileSize"] = file->image.size();
  const std::string charset = options.charset.empty() ? kPngCharset : options.charset;
  const TextEncoding encoding{"", options.charset};
  std::vector<KeywordMatch> matches;
  for (const std::string& keyword : options.keywords) matches.emplace_back(keyword, encoding);
  std::vector<bool> found(matches.size());
  Json texts = Json::array();
  for (const TextChunk& text : file->texts) {
    bool selected = matches.empty();
    for (std::size_t k = 0; k < matches.size(); ++k) {
      if (matches[k](text.kind, text.keyword)) selected = found[k] = true;
    }
    Json entry;
    if (!selected) continue;
    if (!TextEntry(text, charset, &entry, &why)) break;
    texts.push_back(std::move(entry));
  }
  for (const Json& entry : texts) (*record)[TagOf(entry)] = entry["text"];
  (*record)["Texts"] = texts;
  if (const std::string warnings = Warnings(*file); !warnings.empty())
    (*record)["Warning"] = warnings;
  std::string missing;
  for (std::size_t k = 0; k < matches.size(); ++k) {
    if (!found[k]) missing += (missing.empty() ? "" : ", ") + options.keywords[k];
  }
  if (why.empty() && !missing.empty()) why = "no text chunk with the keyword " + missing;
  if (!why.empty()) {
    Report(file->name, why);
    (*record)["Error"] = why;
  }
  return why.empty();
}

// JSON as it reads back: bytes that are no UTF-8 become U+FFFD.
std::string Dump(const Json& json) {
  return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

// The plan of a "Texts" list as given: an entry equal to one of the file's
// (`shown`, as the file's record has them) keeps that chunk; an iTXt entry
// with the keyword and language of one not kept stands in its place; any
// other is made anew. False (reported) for an entry that is not a text or
// cannot be stored.
bool PlanOfTexts(const PngFile& file, const Json& shown, const Json& given,
                 const TextEncoding& encoding, std::vector<PlannedText>* plan) {
  const std::vector<PlannedText> kept = KeepAll(file);
  std::vector<bool> used(kept.size());
  plan->clear();
  std::vector<std::size_t> made;  // entries made anew, by their place in the plan
  for (std::size_t n = 0; n < given.size(); ++n) {
    const Json& entry = given[n];
    std::size_t same = kept.size();
    for (std::size_t k = 0; k < kept.size() && same == kept.size(); ++k) {
      if (!used[k] && shown[k] == entry) same = k;
    }
    if (same < kept.size()) used[same] = true;
    plan->push_back(same < kept.size() ? kept[same] : PlannedText());
    if (same == kept.size()) made.push_back(n);
  }
  for (const std::size_t n : made) {
    const Json& entry = given[n];
    const std::string label = "Texts[" + std::to_string(n) + "]";
    const auto refuse = [&](const std::string& why) {
      Report(file.name, label + ": " + why + "; nothing written");
      return false;
    };
    if (!entry.is_object() || !entry.contains("keyword") || !entry["keyword"].is_string() ||
        !entry.contains("text") || !entry["text"].is_string()) {
      return refuse("not a text (\"keyword\" and \"text\" strings)");
    }
    const std::string type = entry.value("type", "tEXt");
    if (type != "tEXt" && type != "zTXt" && type != "iTXt")
      return refuse("type \"" + type + "\" is none of tEXt, zTXt and iTXt");
    const bool international = type == "iTXt";
    const KeywordChange change{nullptr,          false,         label,
                               entry["keyword"], entry["text"], entry.value("language", "")};
    // An iTXt of the keyword and language that was not kept: its place.
    const PlannedText* like = nullptr;
    for (std::size_t k = 0; international && k < kept.size() && like == nullptr; ++k) {
      if (!used[k] && kept[k].kind == pngc::ChunkKind::kInternationalText &&
          shown[k].value("keyword", "") == change.keyword &&
          shown[k].value("language", "") == change.language) {
        used[k] = true;
        like = &kept[k];
      }
    }
    std::string why;
    PlannedText& text = (*plan)[n];
    if (!MakeText(change, like, encoding, type == "zTXt" || entry.value("compressed", false),
                  international, &text, &why)) {
      return refuse(why);
    }
    if (text.kind == pngc::ChunkKind::kInternationalText) {
      text.translated_keyword = entry.value("translatedKeyword", "");
      text.compressed = entry.value("compressed", text.compressed);
    }
  }
  return true;
}

}  // namespace

int RunJson(const CliPlugin& plugin, const CliOptions& options) {
  std::vector<std::string> files;
  int status = ExpandFiles(options, &files) ? kExitOk : kExitFailed;
  Json records = Json::array();
  for (const std::string& path : files) {
    Json record;
    PngFile file;
    if (!RecordOf(plugin, path, options, false, &file, &record)) status = kExitFailed;
    records.push_back(std::move(record));
  }
  std::printf("%s\n", Dump(records).c_str());
  return Finish(status);
}

int RunSetJson(const CliPlugin& plugin, const CliOptions& options) {
  const std::string& source = options.files[0];
  std::string bytes;
  if (source == "-") hostos::SetBinary(stdin);
  const hostos::ReadStatus read =
      source == "-" ? hostos::ReadStream(stdin, &bytes) : hostos::ReadFile(source, &bytes);
  if (read != hostos::ReadStatus::kOk) {
    Report(NameOf(source), "cannot read");
    return kExitFailed;
  }
  Json given;
  try {
    given = Json::parse(bytes);
  } catch (const Json::exception& error) {
    Report(NameOf(source), std::string("not JSON (") + error.what() + ")");
    return kExitFailed;
  }
  if (given.is_object()) given = Json::array({given});
  if (!given.is_array()) {
    Report(NameOf(source), "not a JSON array of records, as get --json prints");
    return kExitFailed;
  }
  // The records by file, each file once.
  int status = kExitOk;
  std::vector<std::string> files;
  std::vector<const Json*> records;
  for (std::size_t n = 0; n < given.size(); ++n) {
    const Json& record = given[n];
    if (!record.is_object() || !record.contains("SourceFile") ||
        !record["SourceFile"].is_string()) {
      Report(NameOf(source), "record " + std::to_string(n + 1) + " has no \"SourceFile\"");
      status = kExitFailed;
      continue;
    }
    const std::string path = hostos::Utf8ToSystemText(record["SourceFile"]);
    if (path == "-" || std::find(files.begin(), files.end(), path) != files.end()) {
      Report(path, path == "-" ? "standard input holds the JSON"
                               : "given twice; its first record is applied");
      status = kExitFailed;
      continue;
    }
    files.push_back(path);
    records.push_back(&record);
  }
  CliOptions reading = options;
  reading.keywords.clear();
  const TextEncoding encoding{"UTF-8", options.charset.empty() ? kPngCharset : options.charset};
  const int saved = ForEachFile(files, kSaveJobs, [&](const std::string& path) {
    const Json& record = *records[static_cast<std::size_t>(
        std::find(files.begin(), files.end(), path) - files.begin())];
    PngFile file;
    Json current;
    if (!RecordOf(plugin, path, reading, true, &file, &current)) {
      if (current.contains("Error") && !current.contains("Texts"))
        Report(NameOf(path), current["Error"]);
      return kExitFailed;
    }
    current = Json::parse(Dump(current));
    std::vector<PlannedText> plan = KeepAll(file);
    if (record.contains("Texts") && record["Texts"] != current["Texts"]) {
      if (!record["Texts"].is_array()) {
        Report(file.name, "\"Texts\" is not an array; nothing written");
        return kExitFailed;
      }
      if (!PlanOfTexts(file, current["Texts"], record["Texts"], encoding, &plan))
        return kExitFailed;
    }
    // Tags whose value is not the file's: a text set, or (null) removed.
    // Where a tag and "Texts" both changed one text, the tag wins.
    std::vector<KeywordChange> changes;
    for (const auto& [tag, value] : record.items()) {
      if (kRecordFields.count(tag) != 0) continue;
      const bool held = current.contains(tag);
      if ((held && current[tag] == value) || (!held && value.is_null())) continue;
      if (!value.is_null() && !value.is_string() && !value.is_number() && !value.is_boolean()) {
        Report(file.name, tag + ": not a text; nothing written");
        return kExitFailed;
      }
      const std::string charset = encoding.charset;
      const auto matches = [name = tag, charset](const PlannedText& text) {
        Json entry;
        return PlannedEntry(text, charset, &entry) && TagOf(entry) == name;
      };
      changes.push_back({matches, value.is_null(), tag, KeywordOfTag(tag),
                         value.is_string() ? value.get<std::string>() : value.dump(), ""});
    }
    if (!ApplyChanges(changes, encoding, false, false, file.name, &plan)) return kExitFailed;
    if (Settle(file, &plan)) {
      Say(path + ": unchanged");
      return kExitOk;
    }
    if (!SavePlan(plugin, path, path, file, plan, options.preserve_time)) return kExitFailed;
    Say(path + ": written");
    return kExitOk;
  });
  return Finish(std::max(status, saved));
}
