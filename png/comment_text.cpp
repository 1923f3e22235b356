#include "png/comment_text.h"

#include <algorithm>
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

bool MayHoldCompressedHeader(const std::uint8_t* text, std::int32_t size) {
  for (std::int32_t at = 0; at < size; ++at) {
    if (text[at] == '<' && (at == 0 || text[at - 1] == '\n' || (at >= 2 && text[at - 2] == 0)))
      return true;
  }
  return false;
}

std::string HeaderKeyword(const std::uint8_t* line, std::int32_t length) {
  return length > 2 ? std::string(reinterpret_cast<const char*>(line) + 1,
                                  static_cast<std::size_t>(length - 2))
                    : kDefaultKeyword;
}

void SectionReader::PassEmptyLines() {
  std::int32_t length = 0;
  while (at_ < size_) {
    const std::int32_t end = TakeLine(text_ + at_, size_ - at_, &length);
    if (end != 0 && length > 0) return;
    at_ = end == 0 ? at_ + 1 : std::min(at_ + end, size_);  // a lone zero byte steps alone
  }
}

bool SectionReader::AtHeader() const {
  std::int32_t length = 0;
  return at_ < size_ && TakeLine(text_ + at_, size_ - at_, &length) != 0 &&
         IsHeaderLine(text_ + at_, length, rules_);
}

void SectionReader::Skip(std::int32_t count) {
  at_ = std::min(at_ + count, size_);
  PassEmptyLines();
}

bool SectionReader::Next(bool* compressed, std::string* keyword, TByteSink& text) {
  if (at_ >= size_) return false;
  // The section's first line: its header, or a body line.
  std::int32_t length = 0;
  TakeLine(text_ + at_, size_ - at_, &length);
  const std::uint8_t* line = text_ + at_;
  *compressed = false;
  *keyword = kDefaultKeyword;
  if (IsHeaderLine(line, length, rules_)) {
    *compressed = IsCompressedHeader(line);
    *keyword = HeaderKeyword(line, length);
    at_ = std::min(at_ + length + 2, size_);
  }
  // Its body lines, up to the next header line or the end.
  TextJoiner joiner;
  bool taking = true;
  while (at_ < size_) {
    const std::int32_t end = TakeLine(text_ + at_, size_ - at_, &length);
    line = text_ + at_;
    if (end == 0) {
      ++at_;
    } else if (length == 0) {
      joiner.AddEmptyLine();
      at_ = std::min(at_ + end, size_);
    } else if (IsHeaderLine(line, length, rules_)) {
      break;
    } else {
      for (std::int32_t feeds = joiner.LineFeedsBefore(); feeds > 0 && taking; --feeds) {
        taking = text.Take(reinterpret_cast<const std::uint8_t*>("\n"), 1);
      }
      taking = taking && text.Take(line, length);
      at_ = std::min(at_ + length + end, size_);
    }
  }
  return true;
}

std::vector<CommentSection> SplitSections(const std::string& comment, TextRules rules) {
  struct StringSink : TByteSink {
    std::string* text = nullptr;
    bool Take(const std::uint8_t* bytes, std::int32_t count) override {
      text->append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
      return true;
    }
  } sink;
  std::vector<CommentSection> sections;
  SectionReader reader(Bytes(comment), static_cast<std::int32_t>(comment.size()), rules);
  std::int32_t start = 0;
  CommentSection section;
  sink.text = &section.text;
  while (reader.Next(&section.compressed, &section.keyword, sink)) {
    // A section's bytes run to the next one's header line; the first's
    // start at the text's first byte.
    section.shown = comment.substr(static_cast<std::size_t>(start),
                                   static_cast<std::size_t>(reader.position() - start));
    start = reader.position();
    sections.push_back(std::move(section));
    section = CommentSection();
    sink.text = &section.text;
  }
  // What follows the last section's text (empty lines), or a text of no
  // section at all, which the writer makes one empty "Comment" chunk.
  if (sections.empty()) sections.push_back({false, kDefaultKeyword, "", ""});
  sections.back().shown += comment.substr(static_cast<std::size_t>(start));
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
