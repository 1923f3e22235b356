#include "writer/comment_parser.h"

#include <memory>
#include <string>

#include "writer/old_text_chunks.h"
#include "writer/text_chunk_emission.h"

namespace pngc {
namespace {

const char kDefaultKeyword[] = "Comment";

// The section being built: keyword, chunk type, and in `data` the keyword,
// a zero byte and the body lines joined by LF.
class SectionBuilder {
 public:
  explicit SectionBuilder(TBitMemoryStream& output)
      : output_(output), data_(std::make_unique<TBitMemoryStream>()) {}

  bool open() const { return open_; }

  void Open(const char* chunk_type, std::string keyword) {
    Finish();
    chunk_type_ = chunk_type;
    keyword_ = std::move(keyword);
    data_->WriteBuffer(keyword_.data(), static_cast<std::int32_t>(keyword_.size()));
    data_->WriteBuffer("", 1);
    open_ = true;
    has_text_ = false;
    blank_lines_ = 0;
  }

  // An empty line counts only once a later body line shows it stood inside
  // the text.
  void AddBlankLine() {
    if (has_text_) ++blank_lines_;
  }

  void AddBodyLine(const std::uint8_t* line, std::int32_t length) {
    if (!open_) Open("tEXt", kDefaultKeyword);
    if (has_text_) {
      for (std::int32_t i = 0; i <= blank_lines_; ++i) data_->WriteBuffer("\n", 1);
    }
    data_->WriteBuffer(line, length);
    has_text_ = true;
    blank_lines_ = 0;
  }

  // Emits the open section, if any, as a chunk.
  void Finish() {
    if (open_) WriteTextChunk(output_, *data_, chunk_type_, keyword_);
    open_ = false;
  }

 private:
  TBitMemoryStream& output_;
  std::unique_ptr<TBitMemoryStream> data_;
  const char* chunk_type_ = "tEXt";
  std::string keyword_;
  bool open_ = false;
  bool has_text_ = false;         // a body line has been added
  std::int32_t blank_lines_ = 0;  // empty lines since the last body line
};

}  // namespace

bool IsHeaderLine(const std::uint8_t* line, std::int32_t length) {
  if (length < 2) return false;
  const std::uint8_t first = line[0];
  const std::uint8_t last = line[length - 1];
  return (first == '[' && last == ']') || (first == '<' && last == '>');
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

void ParseCommentText(TBitMemoryStream& output, TBitMemoryStream& comment, OldTextChunks* old) {
  comment.Seek(0, kFromBeginning);
  const std::uint8_t* text = comment.GetMemory();
  const std::int32_t size = comment.GetSize();
  const std::int32_t text_size = size >= 2 ? size - 2 : 0;  // without the end marker
  SectionBuilder section(output);
  bool kept_any = false;
  std::int64_t consumed = 0;  // may step past a text of 2^31 - 1 bytes
  while (consumed < size) {
    std::int32_t length = 0;
    const std::uint8_t* line = text + consumed;
    const std::int32_t terminator =
        TakeLine(line, static_cast<std::int32_t>(size - consumed), &length);
    if (old != nullptr && terminator != 0 && consumed < text_size &&
        (consumed == 0 || (length > 0 && IsHeaderLine(line, length)))) {
      const auto at = static_cast<std::int32_t>(consumed);
      section.Finish();  // the section before comes first, as a header line would make it
      if (const std::int32_t kept = old->TakeAt(text, text_size, at, output); kept > 0) {
        kept_any = true;
        consumed += kept;
        while (consumed + 2 <= text_size && text[consumed] == '\r' && text[consumed + 1] == '\n') {
          consumed += 2;  // empty lines only separate sections
        }
        continue;
      }
    }
    consumed += terminator == 0 ? 1 : std::int64_t{length} + terminator;  // a lone zero byte
                                                                          // is stepped over
    if (terminator == 0) continue;
    if (length == 0) {
      section.AddBlankLine();
    } else if (IsHeaderLine(line, length)) {
      std::string keyword = length > 2 ? std::string(reinterpret_cast<const char*>(line) + 1,
                                                     static_cast<std::size_t>(length - 2))
                                       : kDefaultKeyword;
      section.Open(line[0] == '[' ? "tEXt" : "zTXt", std::move(keyword));
    } else {
      section.AddBodyLine(line, length);
    }
  }
  if (!section.open() && !kept_any) section.Open("tEXt", kDefaultKeyword);
  section.Finish();
}

}  // namespace pngc
