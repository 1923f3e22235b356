#include "writer/comment_parser.h"

#include <memory>
#include <string>

#include "png/chunk.h"
#include "png/comment_text.h"
#include "writer/old_text_chunks.h"
#include "writer/text_chunk_emission.h"

namespace pngc {
namespace {

// The section being built: keyword, chunk type, and in `data` the keyword,
// a zero byte and the body lines joined by LF.
class SectionBuilder {
 public:
  explicit SectionBuilder(TBitMemoryStream& output)
      : output_(output), data_(std::make_unique<TBitMemoryStream>()) {}

  bool open() const { return open_; }

  void Open(ChunkKind kind, std::string keyword) {
    Finish();
    kind_ = kind;
    keyword_ = std::move(keyword);
    data_->WriteBuffer(keyword_.data(), static_cast<std::int32_t>(keyword_.size()));
    data_->WriteBuffer("", 1);
    open_ = true;
    joiner_ = TextJoiner();
  }

  void AddBlankLine() { joiner_.AddEmptyLine(); }

  void AddBodyLine(const std::uint8_t* line, std::int32_t length) {
    if (!open_) Open(ChunkKind::kText, kDefaultKeyword);
    for (std::int32_t i = joiner_.LineFeedsBefore(); i > 0; --i) data_->WriteBuffer("\n", 1);
    data_->WriteBuffer(line, length);
  }

  // Emits the open section, if any, as a chunk.
  void Finish() {
    if (open_) WriteTextChunk(output_, *data_, TypeOf(kind_), keyword_);
    open_ = false;
  }

 private:
  TBitMemoryStream& output_;
  std::unique_ptr<TBitMemoryStream> data_;
  ChunkKind kind_ = ChunkKind::kText;
  std::string keyword_;
  bool open_ = false;
  TextJoiner joiner_;
};

}  // namespace

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
        (consumed == 0 || (length > 0 && IsHeaderLine(line, length, kSingleByte)))) {
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
    } else if (IsHeaderLine(line, length, kSingleByte)) {
      section.Open(IsCompressedHeader(line) ? ChunkKind::kCompressedText : ChunkKind::kText,
                   HeaderKeyword(line, length));
    } else {
      section.AddBodyLine(line, length);
    }
  }
  if (!section.open() && !kept_any) section.Open(ChunkKind::kText, kDefaultKeyword);
  section.Finish();
}

}  // namespace pngc
