#include "tools/comment_sections.h"

#include <utility>

namespace {

bool IsHeader(const std::string& line) {
  return line.size() >= 2 && ((line.front() == '[' && line.back() == ']') ||
                              (line.front() == '<' && line.back() == '>'));
}

bool IsLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

}  // namespace

std::vector<CommentSection> SplitSections(const std::string& comment) {
  std::vector<CommentSection> sections;
  std::string leading;    // empty lines before any section: they belong to none
  std::size_t blank = 0;  // empty lines since the last line of text
  for (std::size_t at = 0; at < comment.size();) {
    std::size_t end = comment.find("\r\n", at);
    const std::size_t next = end == std::string::npos ? comment.size() : end + 2;
    if (end == std::string::npos) end = comment.size();
    const std::string line = comment.substr(at, end - at);
    if (sections.empty() && line.empty()) {
      leading += comment.substr(at, next - at);
      at = next;
      continue;
    }
    if (IsHeader(line) || sections.empty()) {
      CommentSection section;
      section.compressed = IsHeader(line) && line[0] == '<';
      section.keyword = IsHeader(line) ? line.substr(1, line.size() - 2) : "Comment";
      section.shown = std::move(leading);
      leading.clear();
      sections.push_back(section);
      blank = 0;
      if (IsHeader(line)) {
        sections.back().shown += comment.substr(at, next - at);
        at = next;
        continue;
      }
    }
    CommentSection& section = sections.back();
    section.shown += comment.substr(at, next - at);
    if (line.empty()) {
      if (!section.text.empty()) ++blank;  // counts only once a later line shows it inside
    } else {
      if (!section.text.empty()) section.text.append(blank + 1, '\n');
      section.text += line;
      blank = 0;
    }
    at = next;
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

std::string WhyNotCarried(const std::string& keyword, const std::string& text) {
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
    if (IsHeader(line)) return "the line \"" + line + "\" would start a section of its own";
    at = end + 1;
  }
  return "";
}

std::string NormaliseLineEnds(const std::string& text) {
  std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (IsLeadByte(byte) && at + 1 < text.size() && text[at + 1] != '\0') {
      out += text[at];
      out += text[++at];
      continue;
    }
    if (byte == '\n' && (out.empty() || out.back() != '\r')) out += '\r';
    out += text[at];
  }
  return out;
}
