#include "writer/comment_parser.h"

#include <memory>
#include <string>

#include "png/chunk.h"
#include "png/comment_text.h"
#include "writer/old_text_chunks.h"
#include "writer/text_chunk_emission.h"

namespace pngc {
namespace {

// A section's chunk data as the reader gives its text: the keyword and its
// NUL first, then the text.
class SectionData : public TByteSink {
 public:
  SectionData(TBitMemoryStream& data, const std::string& keyword)
      : data_(data), keyword_(keyword) {}
  bool Take(const std::uint8_t* bytes, std::int32_t count) override {
    Start();
    data_.WriteBuffer(bytes, count);
    return true;
  }
  void Start() {
    if (started_) return;
    data_.WriteBuffer(keyword_.data(), static_cast<std::int32_t>(keyword_.size()));
    data_.WriteBuffer("", 1);
    started_ = true;
  }

 private:
  TBitMemoryStream& data_;
  const std::string& keyword_;
  bool started_ = false;
};

}  // namespace

void ParseCommentText(TBitMemoryStream& output, TBitMemoryStream& comment, OldTextChunks* old) {
  comment.Seek(0, kFromBeginning);
  const std::uint8_t* text = comment.GetMemory();
  const std::int32_t size = comment.GetSize() >= 2 ? comment.GetSize() - 2 : 0;  // no end marker
  SectionReader reader(text, size, kSingleByte);
  auto data = std::make_unique<TBitMemoryStream>();
  bool made_any = false;
  for (;;) {
    // Where a section starts: the first byte, and each header line.
    if (old != nullptr && reader.position() < size &&
        (reader.position() == 0 || reader.AtHeader())) {
      if (const std::int32_t kept = old->TakeAt(text, size, reader.position(), output); kept > 0) {
        reader.Skip(kept);  // and the empty lines after it, which only separate sections
        made_any = true;
        continue;
      }
    }
    bool compressed = false;
    std::string keyword;
    SectionData section(*data, keyword);
    if (!reader.Next(&compressed, &keyword, section)) break;
    section.Start();
    WriteTextChunk(output, *data,
                   TypeOf(compressed ? ChunkKind::kCompressedText : ChunkKind::kText), keyword);
    made_any = true;
  }
  // Every text yields a chunk: one of nothing but empty lines an empty
  // "Comment".
  if (!made_any) {
    const std::string keyword = kDefaultKeyword;
    SectionData(*data, keyword).Start();
    WriteTextChunk(output, *data, TypeOf(ChunkKind::kText), keyword);
  }
}

}  // namespace pngc
