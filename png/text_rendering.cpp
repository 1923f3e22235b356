#include "png/text_rendering.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>

#include "stream/memory_error.h"
#include "stream/zlib_codec.h"

namespace pngc {
namespace {

// The chunk data at the position, `length` cut to what the content holds.
const std::uint8_t* DataAt(const TBitMemoryStream& input, std::int32_t* length) {
  const std::int32_t start = input.GetPosition();
  const std::int32_t left = start >= 0 ? std::max(input.GetSize() - start, 0) : 0;
  *length = std::clamp(*length, std::int32_t{0}, left);
  return *length > 0 ? input.GetMemory() + start : nullptr;
}

// The plug-in renders text with the Shift_JIS rule.
std::int32_t CharacterLength(const std::uint8_t* data, std::int32_t i, std::int32_t length) {
  return pngc::CharacterLength(data, i, length, kShiftJis);
}

// The bytes the text cannot be copied over as they are: LF (becomes CR LF),
// NUL (dropped) and Shift_JIS lead bytes (their second byte is never
// converted, nor dropped unless a NUL). A table: one look per byte.
constexpr std::array<bool, 256> kNeedsALook = [] {
  std::array<bool, 256> table{};
  for (int byte = 0; byte < 256; ++byte) {
    table[byte] = byte == '\n' || byte == 0 || IsLeadByte(static_cast<std::uint8_t>(byte));
  }
  return table;
}();

// How many of the `count` bytes at `data` are ordinary, from the first.
std::int32_t OrdinaryRun(const std::uint8_t* data, std::int32_t count) {
  std::int32_t n = 0;
  while (n < count && !kNeedsALook[data[n]]) ++n;
  return n;
}

bool Put(TRenderTarget& target, const char* text) {
  return target.Put(reinterpret_cast<const std::uint8_t*>(text),
                    static_cast<std::int32_t>(std::strlen(text)));
}

// Renders the keyword and returns the index of the text: past the keyword's
// NUL, or the length when there is none; -1 when the target stopped.
std::int32_t RenderKeyword(const std::uint8_t* data, std::int32_t length, TRenderTarget& target) {
  std::int32_t i = 0;
  while (i < length && data[i] != 0) i += CharacterLength(data, i, length);
  if (i > 0 && !target.Put(data, i)) return -1;
  return i < length ? i + 1 : i;
}

// A text rendered with LF as CR LF and without NULs, fed in pieces (the
// blocks of an inflating zTXt) that may part a double-byte character. The
// bytes gather in a block that goes to the target whole, so that a text full
// of short lines costs no more calls than one long line.
class BodyRenderer {
 public:
  explicit BodyRenderer(TRenderTarget& target) : target_(target) {}

  bool Feed(const std::uint8_t* data, std::int32_t length) {
    std::int32_t i = 0;
    if (lead_waiting_ && length > 0) {
      // The lead byte left at the end of the last piece, with its second
      // byte unless that is a NUL.
      block_[used_++] = lead_;
      lead_waiting_ = false;
      if (data[0] != 0) block_[used_++] = data[i++];
    }
    while (i < length) {
      // Ordinary bytes, as many as the block takes.
      const std::int32_t room = std::min(length - i, kBlock - used_);
      const std::int32_t run = OrdinaryRun(data + i, room);
      std::memcpy(block_ + used_, data + i, static_cast<std::size_t>(run));
      used_ += run;
      i += run;
      if (run < room) {
        const std::uint8_t byte = data[i];
        if (byte == '\n') {
          block_[used_++] = '\r';
          block_[used_++] = '\n';
          ++i;
        } else if (byte == 0) {
          while (i < length && data[i] == 0) ++i;  // a run at once: a zTXt of zeros is a bomb's way
        } else if (i + 1 == length) {
          lead_ = byte;  // its second byte comes with the next piece, if any
          lead_waiting_ = true;
          ++i;
        } else {
          const std::int32_t n = CharacterLength(data, i, length);
          block_[used_++] = byte;
          if (n == 2) block_[used_++] = data[i + 1];
          i += n;
        }
      }
      if (used_ >= kBlock && !Flush()) return false;
    }
    return true;
  }

  // The text has ended: a lead byte still waiting stands alone.
  bool Finish() {
    if (lead_waiting_) block_[used_++] = lead_;
    lead_waiting_ = false;
    return Flush();
  }

 private:
  static constexpr std::int32_t kBlock = 16384;

  bool Flush() {
    const std::int32_t used = used_;
    used_ = 0;
    return used == 0 || target_.Put(block_, used);
  }

  TRenderTarget& target_;
  std::uint8_t block_[kBlock + 2];  // room for a character or a CR LF past the mark
  std::int32_t used_ = 0;
  std::uint8_t lead_ = 0;
  bool lead_waiting_ = false;
};

// Inflated blocks go to the body as they come, up to a limit.
class InflatedBody : public TByteSink {
 public:
  InflatedBody(BodyRenderer& body, std::int64_t limit) : body_(body), left_(limit) {}
  bool Take(const std::uint8_t* bytes, std::int32_t count) override {
    if (count > left_) {
      stopped_ = true;
      return false;
    }
    left_ -= count;
    stopped_ = !body_.Feed(bytes, count);
    return !stopped_;
  }
  bool stopped() const { return stopped_; }

 private:
  BodyRenderer& body_;
  std::int64_t left_;
  bool stopped_ = false;
};

// GetComment's target: the comment stream, which raises EMemoryError when it
// can take no more.
class StreamTarget : public TRenderTarget {
 public:
  explicit StreamTarget(TBitMemoryStream& stream) : stream_(stream) {}
  bool Put(const std::uint8_t* bytes, std::int32_t count) override {
    if (stream_.Write(bytes, count) != count) throw EMemoryError();
    return true;
  }

 private:
  TBitMemoryStream& stream_;
};

void RenderAt(TBitMemoryStream& input, TBitMemoryStream& comment, std::int32_t length,
              bool compressed) {
  const std::int32_t start = input.GetPosition();
  const std::uint8_t* data = DataAt(input, &length);
  StreamTarget target(comment);
  RenderChunkData(data, length, compressed, target, std::numeric_limits<std::int64_t>::max());
  input.Seek(start + length, kFromBeginning);
}

}  // namespace

bool RenderChunkData(const std::uint8_t* data, std::int32_t length, bool compressed,
                     TRenderTarget& target, std::int64_t inflate_limit) {
  if (!Put(target, compressed ? "<" : "[")) return false;
  const std::int32_t keyword_end = RenderKeyword(data, length, target);
  if (keyword_end < 0 || !Put(target, compressed ? ">\r\n" : "]\r\n")) return false;
  // A zTXt's text starts after the compression method byte.
  const std::int32_t text = compressed ? keyword_end + 1 : keyword_end;
  if (text >= length) return true;
  BodyRenderer body(target);
  if (!compressed) {
    if (!body.Feed(data + text, length - text)) return false;
  } else {
    // The compressed bytes go to a stream of their own, so that inflating
    // stops at the chunk's end even when the zlib stream does not.
    auto codec = std::make_unique<TZlib>();
    auto source = std::make_unique<TBitMemoryStream>();
    source->WriteBuffer(data + text, length - text);
    if (source->GetSize() != length - text) throw EMemoryError();
    source->Seek(0, kFromBeginning);
    InflatedBody inflated(body, inflate_limit);
    codec->Decompress(*source, inflated);
    if (inflated.stopped()) return false;
  }
  return body.Finish() && Put(target, "\r\n");
}

void RenderTextChunk(TBitMemoryStream& input, TBitMemoryStream& comment, std::int32_t length) {
  RenderAt(input, comment, length, false);
}

void RenderCompressedTextChunk(TBitMemoryStream& input, TBitMemoryStream& comment,
                               std::int32_t length) {
  RenderAt(input, comment, length, true);
}

}  // namespace pngc
