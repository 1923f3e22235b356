// The comment text, the one format in which the plug-in shows and takes a
// PNG's text chunks, and its grammar for every reader and writer of it: the
// plug-in's reader (rendering), its writer (parsing) and the command-line
// host (taking a text apart and building one).
//
// One section per tEXt or zTXt chunk, in file order:
//   tEXt: "[" keyword "]" CR LF, then the text and CR LF when any byte
//         follows the keyword's NUL (even if all of them are NULs);
//   zTXt: "<" keyword ">" CR LF, then the inflated text and CR LF when any
//         byte follows the method byte (even if nothing inflates).
// Rendering copies keyword bytes up to the NUL that ends the keyword; in the
// text, LF becomes CR LF and NUL is dropped.
//
// Reading the text back, lines end at CR LF (a lone CR or LF is a byte of
// its line) and at a zero byte, which ends its line together with the byte
// after it. A line whose first and last bytes are "[" and "]" opens a tEXt
// section, "<" and ">" a zTXt one, named by the bytes between ("Comment"
// for an empty pair); any other non-empty line is a body line. Body lines
// before the first header form a "Comment" tEXt section. A section's lines
// are joined with LF; an empty line between two body lines adds one LF
// more, empty lines before the first or after the last are dropped.
//
// Characters: in a double-byte character set (Shift_JIS, code page 932) a
// lead byte takes the byte after it along unexamined, unless that is a NUL.
// The plug-in's reader renders with that rule (an LF that is a second byte
// stays bare), its writer cuts lines and tests headers byte by byte; the
// command-line host applies the rule to text in a double-byte set only.
#ifndef PNGCOMMENT_PNG_COMMENT_TEXT_H
#define PNGCOMMENT_PNG_COMMENT_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

#include "stream/byte_sink.h"

namespace pngc {

// How a text's bytes group into characters.
struct TextRules {
  bool double_byte = false;  // Shift_JIS lead bytes take the next byte along
};
constexpr TextRules kSingleByte{false};
constexpr TextRules kShiftJis{true};

// True for the Shift_JIS lead bytes 0x81-0x9F and 0xE0-0xFC.
constexpr bool IsLeadByte(std::uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The length of the character at data[i] of `length` bytes: 2 for a lead
// byte (double-byte rules) followed by a byte other than NUL, else 1.
std::int32_t CharacterLength(const std::uint8_t* data, std::int64_t i, std::int64_t length,
                             TextRules rules);

// Cuts the line that starts at `text`, `count` bytes before the end of the
// text. Returns 2, the length of the line's end ("\r\n", or a zero byte and
// the byte after it), with the line's length in `*line_length`; returns 0
// when no line starts here (a zero byte stands here, or nothing remains).
// Never looks past the `count` bytes.
std::int32_t TakeLine(const std::uint8_t* text, std::int32_t count, std::int32_t* line_length);

// True when the line's first and last characters are "[" and "]", or "<"
// and ">": under double-byte rules a last byte that is a second byte is no
// bracket.
bool IsHeaderLine(const std::uint8_t* line, std::int32_t length, TextRules rules);

// What a header line opens: a zTXt section ("<...>") or a tEXt one, and the
// keyword it names ("Comment" for an empty pair).
bool IsCompressedHeader(const std::uint8_t* line);
std::string HeaderKeyword(const std::uint8_t* line, std::int32_t length);
extern const char kDefaultKeyword[];  // "Comment"

// False when the text surely has no zTXt header line: no "<" where a line
// may start (the first byte, after a line feed, two bytes after a zero
// byte). Loose, and quick: a true answer only costs a closer look.
bool MayHoldCompressedHeader(const std::uint8_t* text, std::int32_t size);

// A section's text as body lines join: appends each line after the LFs that
// the empty lines since the last one stand for.
class TextJoiner {
 public:
  // An empty line counts only once a later body line shows it stood inside
  // the text.
  void AddEmptyLine() {
    if (has_text_) ++empty_lines_;
  }
  // The line feeds to append before the next body line.
  std::int32_t LineFeedsBefore() {
    const std::int32_t feeds = has_text_ ? empty_lines_ + 1 : 0;
    has_text_ = true;
    empty_lines_ = 0;
    return feeds;
  }

 private:
  bool has_text_ = false;
  std::int32_t empty_lines_ = 0;
};

// A comment text read section by section, as the writer reads it.
class SectionReader {
 public:
  SectionReader(const std::uint8_t* text, std::int32_t size, TextRules rules)
      : text_(text), size_(size), rules_(rules) {
    PassEmptyLines();
  }
  // Where the next section's first line stands (its header, or for the
  // first section a body line), past the empty lines before it; the size
  // at the end.
  std::int32_t position() const { return at_; }
  // True when a header line stands at the position.
  bool AtHeader() const;
  // Passes over `count` bytes from the position (what a caller took whole)
  // and the empty lines after them.
  void Skip(std::int32_t count);
  // The section at the position: its kind and keyword (a "Comment" tEXt for
  // body lines before any header), its text passed to `text` (until it
  // returns false). False at the end of the text (empty lines and zero bytes
  // alone make no section).
  bool Next(bool* compressed, std::string* keyword, TByteSink& text);

 private:
  // Passes over empty lines, and zero bytes where a line would start.
  void PassEmptyLines();

  const std::uint8_t* text_;
  std::int32_t size_;
  TextRules rules_;
  std::int32_t at_ = 0;
};

// One section of a comment text as the writer reads it.
struct CommentSection {
  bool compressed = false;  // zTXt, else tEXt
  std::string keyword;      // between the brackets ("Comment" for none)
  std::string text;         // the body lines joined with LF
  std::string shown;        // its bytes in the comment text, empty lines around it included
};

// The sections of a comment text, in order; joining their `shown` bytes
// gives the text back. Empty lines before the first section go with it.
std::vector<CommentSection> SplitSections(const std::string& comment, TextRules rules);

// The section the writer reads as one chunk with this keyword and text:
// its header line, its text with every LF as CR LF, a closing CR LF.
std::string ShowSection(bool compressed, const std::string& keyword, const std::string& text);

// Why a section cannot carry this keyword and text unchanged (a line shaped
// like a header would start a section of its own, line feeds at either end
// and NULs would be lost), or "" when it can.
std::string WhyNotCarried(const std::string& keyword, const std::string& text, TextRules rules);

// The text a host hands the writer: a UTF-8 byte-order mark at the start is
// dropped, and an LF not preceded by a CR becomes CR LF, except one that a
// lead byte carries (double-byte rules), as the reader shows it. The writer
// joins a section's lines with LF again, so nothing is lost.
std::string NormaliseLineEnds(const std::string& text, TextRules rules);

}  // namespace pngc

#endif
