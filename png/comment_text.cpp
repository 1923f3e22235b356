#include "png/comment_text.h"

#include <utility>

namespace pngc {

const char kDefaultKeyword[] = "Comment";

namespace {

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

}  // namespace

std::int32_t CharacterLength(const std::uint8_t* data, std::int64_t i, std::int64_t length,
                             TextRules rules) {
  return rules.double_byte && IsLeadByte(data[i]) && i + 1 < length && data[i + 1] != 0 ? 2 : 1;
}

std::int32_t TakeLine(const std::uint8_t* text, std::int32_t count, std::int32_t* line_length) {
  *line_length = 0;
  if (count <= 0 || text[0] == 0) return 0;
  std::int32_t i = 0;
  while (i < count && text[i] != 0 && !(text[i] == '\r' && i + 1 < count && text[i + 1] == '\n')) {
    ++i;
  }
  *line_length = i;
  return 2;
}

bool IsHeaderLine(const std::uint8_t* line, std::int32_t length, TextRules rules) {
  if (length < 2) return false;
  const std::uint8_t first = line[0];
  const std::uint8_t last = line[length - 1];
  if (!((first == '[' && last == ']') || (first == '<' && last == '>'))) return false;
  if (!rules.double_byte) return true;
  // The last byte must be a character of its own, not a second byte.
  std::int32_t at = 0;
  while (at < length - 1) at += CharacterLength(line, at, length, rules);
  return at == length - 1;
}

bool IsCompressedHeader(const std::uint8_t* line) { return line[0] == '<'; }

std::string HeaderKeyword(const std::uint8_t* line, std::int32_t length) {
  return length > 2 ? std::string(reinterpret_cast<const char*>(line) + 1,
                                  static_cast<std::size_t>(length - 2))
                    : kDefaultKeyword;
}

std::vector<CommentSection> SplitSections(const std::string& comment, TextRules rules) {
  std::vector<CommentSection> sections;
  std::string leading;  // bytes before any section: they go with the first
  TextJoiner joiner;
  const auto size = static_cast<std::int32_t>(comment.size());
  for (std::int32_t at = 0; at < size;) {
    std::int32_t length = 0;
    const std::int32_t end = TakeLine(Bytes(comment) + at, size - at, &length);
    // A zero byte where a line would start is stepped over alone.
    const std::int32_t next = end == 0 ? at + 1 : std::min(at + length + end, size);
    const std::string bytes = comment.substr(at, next - at);
    const std::uint8_t* line = Bytes(comment) + at;
    at = next;
    const bool header = end != 0 && IsHeaderLine(line, length, rules);
    if (sections.empty() && !header && (end == 0 || length == 0)) {
      leading += bytes;
      continue;
    }
    if (header || sections.empty()) {
      CommentSection section;
      section.compressed = header && IsCompressedHeader(line);
      section.keyword = header ? HeaderKeyword(line, length) : kDefaultKeyword;
      section.shown = std::move(leading);
      leading.clear();
      sections.push_back(std::move(section));
      joiner = TextJoiner();
      if (header) {
        sections.back().shown += bytes;
        continue;
      }
    }
    CommentSection& section = sections.back();
    section.shown += bytes;
    if (end == 0) continue;
    if (length == 0) {
      joiner.AddEmptyLine();
    } else {
      section.text.append(static_cast<std::size_t>(joiner.LineFeedsBefore()), '\n');
      section.text.append(reinterpret_cast<const char*>(line), static_cast<std::size_t>(length));
    }
  }
  if (!leading.empty()) {
    if (sections.empty()) sections.push_back({false, kDefaultKeyword, "", ""});
    sections.back().shown += leading;
  }
  return sections;
}

std::string ShowSection(bool compressed, const std::string& keyword, const std::string& text) {
  std::string shown = (compressed ? "<" : "[") + keyword + (compressed ? ">" : "]") + "\r\n";
  for (const char c : text) {
    if (c == '\n') shown += '\r';
    shown += c;
  }
  return shown + "\r\n";
}

std::string WhyNotCarried(const std::string& keyword, const std::string& text, TextRules rules) {
  if (keyword.empty()) return "an empty keyword would come back as \"Comment\"";
  if (keyword.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    return "a keyword cannot hold a line break or a NUL";
  }
  if (text.find('\0') != std::string::npos) return "a NUL in the text would be dropped";
  if (!text.empty() && (text.front() == '\n' || text.back() == '\n')) {
    return "a line feed at the start or end of the text would be lost";
  }
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a CR before the LF ends no line
    if (IsHeaderLine(Bytes(line), static_cast<std::int32_t>(line.size()), rules))
      return "the line \"" + line + "\" would start a section of its own";
    at = end + 1;
  }
  return "";
}

std::string NormaliseLineEnds(const std::string& text, TextRules rules) {
  std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  while (at < text.size()) {
    const std::int32_t n =
        CharacterLength(Bytes(text), static_cast<std::int64_t>(at), text.size(), rules);
    if (n == 1 && text[at] == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
    out.append(text, at, static_cast<std::size_t>(n));
    at += static_cast<std::size_t>(n);
  }
  return out;
}

}  // namespace pngc
