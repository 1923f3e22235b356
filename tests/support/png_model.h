// A model of what the plug-in must produce, for the fuzz targets, the
// GoogleTest suites and the benchmarks alike: the comment text the reader
// renders and the chunks the writer makes from an edited text. It is
// written from the rules in docs/host-reference.md, not from the plug-in's code, and reads
// chunks and zlib streams with png_builder.h, so that where the two disagree
// one of them is wrong.
#ifndef PNGCOMMENT_TESTS_SUPPORT_PNG_MODEL_H
#define PNGCOMMENT_TESTS_SUPPORT_PNG_MODEL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/png_builder.h"

namespace pngtest {

// Set by a program that must tidy up before a failed check stops it.
inline void (*g_before_failing)() = nullptr;

// A violated expectation: report it and abort, so that libFuzzer (or the
// replay, or the benchmark) stops right here with the input that caused it.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "check failed: %s\n", what);
  std::fflush(stderr);
  if (g_before_failing != nullptr) g_before_failing();
  std::abort();
}

inline void Require(bool condition, const char* what) {
  if (!condition) Fail(what);
}

// A byte-keyed FNV-1a hash, to derive repeatable choices from an input.
inline std::uint32_t Hash(const std::uint8_t* data, std::size_t size) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h;
}

// ---- Reading: the comment text and the summaries GetComment must give.

inline bool IsLeadByte(std::uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// A Shift_JIS lead byte carries the next byte with it, unless that is a NUL.
inline std::size_t CharacterLength(const std::uint8_t* d, std::size_t i, std::size_t n) {
  return IsLeadByte(d[i]) && i + 1 < n && d[i + 1] != 0 ? 2 : 1;
}

// Appends the keyword (up to its NUL) and returns where the rest begins.
inline std::size_t AppendKeyword(std::string& out, const std::uint8_t* d, std::size_t n) {
  std::size_t i = 0;
  while (i < n && d[i] != 0) {
    const std::size_t step = CharacterLength(d, i, n);
    out.append(reinterpret_cast<const char*>(d + i), step);
    i += step;
  }
  return i < n ? i + 1 : n;
}

// LF as CR LF, NULs dropped, a double-byte character copied as it is.
inline void AppendBody(std::string& out, const std::uint8_t* d, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (d[i] == '\n') {
      out += "\r\n";
      ++i;
    } else if (d[i] == 0) {
      ++i;
    } else {
      const std::size_t step = CharacterLength(d, i, n);
      out.append(reinterpret_cast<const char*>(d + i), step);
      i += step;
    }
  }
}

// The section GetComment renders for a text chunk of `n` data bytes. Past
// `limit` bytes of inflated text it stops, setting `*too_large`.
inline std::string RenderText(const std::string& type, const std::uint8_t* d, std::size_t n,
                              std::size_t limit = SIZE_MAX, bool* too_large = nullptr) {
  const bool compressed = type == "zTXt";
  std::string out = compressed ? "<" : "[";
  const std::size_t rest = AppendKeyword(out, d, n);
  out += compressed ? ">\r\n" : "]\r\n";
  if (!compressed && rest < n) {
    AppendBody(out, d + rest, n - rest);
    out += "\r\n";
  } else if (compressed && rest + 1 < n) {
    const Inflated inflated = InflateAll(d + rest + 1, n - rest - 1, limit);
    if (inflated.too_large && too_large != nullptr) *too_large = true;
    AppendBody(out, reinterpret_cast<const std::uint8_t*>(inflated.text.data()),
               inflated.text.size());
    out += "\r\n";
  }
  return out;
}

// The same for a chunk's data held in a string.
inline std::string RenderText(const std::string& type, const std::string& data) {
  return RenderText(type, BytesOf(data), data.size());
}

struct Reading {
  std::string comment;                  // without the block's NUL
  std::vector<std::int32_t> summaries;  // width, height of each summarised IHDR
  bool too_large = false;               // a text passed the limit: `comment` is cut
};

// The walk from byte 8: it stops at a header cut short, at a length of 2^31
// or more, and after a chunk that runs past the end, whose available bytes
// are still rendered.
inline Reading ExpectedReading(const std::uint8_t* bytes, std::size_t size,
                               std::size_t limit = SIZE_MAX) {
  Reading r;
  FramedChunk c;
  for (std::size_t offset = 8; offset < size; offset = c.next) {
    const Framing f = FrameChunk(bytes, size, offset, &c);
    if (f != Framing::kComplete && f != Framing::kCutShort) break;
    const std::uint8_t* d = bytes + c.data;
    const std::size_t n = c.available;
    if (c.type == "IHDR") {
      if (n >= 13) {
        r.summaries.push_back(static_cast<std::int32_t>(Be32(d)));
        r.summaries.push_back(static_cast<std::int32_t>(Be32(d + 4)));
      }
    } else if (c.type == "tEXt" || c.type == "zTXt") {
      r.comment += RenderText(c.type, d, n, limit, &r.too_large);
      if (r.too_large) break;
    }
    if (f != Framing::kComplete) break;
  }
  return r;
}

// ---- Writing: the sections an edited comment text becomes.

struct Section {
  bool compressed = false;  // zTXt, else tEXt
  std::string keyword;
  std::string text;
  std::string kept;      // not empty: an old chunk written as it was, length to CRC
  bool in_tail = false;  // the chunk cut short by the end of the image: nothing written
};

// One of the image's text chunks, and how GetComment shows it.
struct OldChunk {
  std::string bytes;
  std::string rendering;
  bool too_large = false;  // its text passed the limit: `rendering` is cut
  bool in_tail = false;    // cut short by the end of the image
  // Inflating it would pass 64 times its data plus 1 MiB: never recognised.
  bool costly = false;
};

// The text chunks in file order: the complete ones, and one cut short by
// the end of the image (what follows that point is copied as it is).
inline std::vector<OldChunk> OldChunks(const std::uint8_t* image, std::size_t size,
                                       std::size_t limit = SIZE_MAX) {
  std::vector<OldChunk> olds;
  FramedChunk c;
  for (std::size_t offset = 8; size >= 8 && offset < size; offset = c.next) {
    const Framing framing = FrameChunk(image, size, offset, &c);
    if (framing != Framing::kComplete && framing != Framing::kCutShort) break;
    if (c.type == "tEXt" || c.type == "zTXt") {
      OldChunk old;
      old.in_tail = framing == Framing::kCutShort;
      old.bytes.assign(reinterpret_cast<const char*>(image + offset), c.next - offset);
      old.rendering = RenderText(c.type, image + c.data, c.available, limit, &old.too_large);
      bool costly = false;
      RenderText(c.type, image + c.data, c.available, 64 * c.available + (std::size_t{1} << 20),
                 &costly);
      old.costly = costly;
      olds.push_back(std::move(old));
    }
    if (framing != Framing::kComplete) break;
  }
  return olds;
}

// Where a line starts at `i`: its end (a CR LF or a zero byte), or npos for
// a zero byte at `i` itself.
inline std::size_t LineEnd(const std::string& text, std::size_t i) {
  if (i < text.size() && text[i] == '\0') return std::string::npos;
  std::size_t j = i;
  while (j < text.size() && text[j] != '\0' &&
         !(text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n'))
    ++j;
  return j;
}

inline bool IsHeader(const std::string& line) {
  return line.size() >= 2 && ((line.front() == '[' && line.back() == ']') ||
                              (line.front() == '<' && line.back() == '>'));
}

// Lines end at CR LF, or at a zero byte, which takes the byte after it along;
// a zero byte where a line would start is stepped over alone. "[k]" opens a
// tEXt section, "<k>" a zTXt one ("Comment" when k is empty); body lines
// before any header form a "Comment" tEXt section. Body lines are joined
// with LF, and each empty line between two of them adds one LF more.
//
// With `olds`, where a section starts (the first byte, a header line) a
// stretch that is exactly an old chunk's rendering, not taken yet (nor too
// costly to inflate), followed by empty lines and then a header line or the
// end, becomes that chunk as it was (nothing, for the chunk in the tail);
// the empty lines go. The chunk at the cursor (the first not taken after
// the last one taken) is preferred, then the longest rendering, then the
// first at or after the cursor, then the first in file order. A section
// not recognised whose first line is that of the chunk at the cursor moves
// the cursor past it.
inline std::vector<Section> ExpectedSections(const std::uint8_t* text, std::size_t length,
                                             const std::vector<OldChunk>* olds = nullptr) {
  const std::string proper(reinterpret_cast<const char*>(text), length);
  std::string all = proper;
  all.append(2, '\0');
  std::vector<Section> sections;
  std::vector<bool> taken(olds != nullptr ? olds->size() : 0);
  std::size_t cursor = 0;
  const auto boundary = [&](std::size_t q) {
    for (; q < length; q += 2) {
      const std::size_t end = LineEnd(proper, q);
      if (end == std::string::npos) return false;
      if (end > q) return IsHeader(proper.substr(q, end - q));
    }
    return true;
  };
  const auto fits = [&](std::size_t k, std::size_t p) {
    const std::string& r = (*olds)[k].rendering;
    return !taken[k] && !(*olds)[k].costly && r.size() <= length - p &&
           proper.compare(p, r.size(), r) == 0 && boundary(p + r.size());
  };
  const auto first_line = [&](std::size_t k) {
    const std::string& r = (*olds)[k].rendering;
    return r.substr(0, std::min(r.find("\r\n"), r.size()));
  };
  bool has_text = false;
  std::size_t blank = 0;
  std::size_t i = 0;
  while (i < all.size()) {
    if (all[i] == '\0') {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (all[j] != '\0' && !(all[j] == '\r' && j + 1 < all.size() && all[j + 1] == '\n')) ++j;
    const std::string line = all.substr(i, j - i);
    if (olds != nullptr && i < length && (i == 0 || IsHeader(line))) {
      std::size_t at_cursor = cursor;
      while (at_cursor < taken.size() && taken[at_cursor]) ++at_cursor;
      std::size_t pick = taken.size();
      if (at_cursor < taken.size() && fits(at_cursor, i)) {
        pick = at_cursor;
      } else {
        for (std::size_t k = 0; k < taken.size(); ++k) {
          if (!fits(k, i)) continue;
          const std::size_t size = (*olds)[k].rendering.size();
          const std::size_t best = pick < taken.size() ? (*olds)[pick].rendering.size() : 0;
          if (pick == taken.size() || size > best ||
              (size == best && pick < cursor && k >= cursor)) {
            pick = k;
          }
        }
      }
      if (pick < taken.size()) {
        taken[pick] = true;
        cursor = pick + 1;
        Section kept;
        kept.kept = (*olds)[pick].bytes;
        kept.in_tail = (*olds)[pick].in_tail;
        sections.push_back(kept);
        i += (*olds)[pick].rendering.size();
        while (i + 2 <= length && all[i] == '\r' && all[i + 1] == '\n') i += 2;
        has_text = false;
        blank = 0;
        continue;
      }
      if (at_cursor < taken.size() && first_line(at_cursor) == line) cursor = at_cursor + 1;
    }
    i = j + 2;
    if (line.empty()) {
      if (has_text) ++blank;
      continue;
    }
    const char first = line.front();
    const char last = line.back();
    if (line.size() >= 2 && ((first == '[' && last == ']') || (first == '<' && last == '>'))) {
      Section s;
      s.compressed = first == '<';
      s.keyword = line.size() > 2 ? line.substr(1, line.size() - 2) : "Comment";
      sections.push_back(s);
      has_text = false;
      blank = 0;
      continue;
    }
    if (sections.empty() || !sections.back().kept.empty())
      sections.push_back(Section{false, "Comment", "", "", false});
    if (has_text) sections.back().text.append(blank + 1, '\n');
    sections.back().text += line;
    has_text = true;
    blank = 0;
  }
  if (sections.empty()) sections.push_back(Section{false, "Comment", "", "", false});
  return sections;
}

// Checks that the bytes at `offset` are the chunk `section` must become:
// framed whole, the right type and CRC, and for zTXt a method byte of 0 and
// one zlib stream that inflates to the text. Returns the offset after it.
inline std::size_t CheckTextChunk(const std::uint8_t* bytes, std::size_t size, std::size_t offset,
                                  const Section& section) {
  if (section.in_tail) return offset;  // its bytes stay in the image's tail
  if (!section.kept.empty()) {
    Require(offset <= size && size - offset >= section.kept.size() &&
                section.kept.compare(0, std::string::npos,
                                     reinterpret_cast<const char*>(bytes + offset),
                                     section.kept.size()) == 0,
            "an old chunk that the text left as it was is not written as it was");
    return offset + section.kept.size();
  }
  FramedChunk c;
  Require(FrameChunk(bytes, size, offset, &c) == Framing::kComplete,
          "a made text chunk is not framed whole");
  Require(c.type == (section.compressed ? "zTXt" : "tEXt"), "a made chunk has the wrong type");
  Require(CrcMatches(bytes, c), "a made chunk's CRC is wrong");
  const std::string data(reinterpret_cast<const char*>(bytes + c.data), c.length);
  const std::string head = section.keyword + '\0';
  Require(data.compare(0, head.size(), head) == 0, "a made chunk's keyword is wrong");
  if (!section.compressed) {
    Require(data.size() == head.size() + section.text.size() &&
                data.compare(head.size(), std::string::npos, section.text) == 0,
            "a tEXt chunk's text is wrong");
  } else {
    Require(data.size() > head.size() && data[head.size()] == '\0',
            "a zTXt chunk's compression method is not 0");
    const std::size_t stream = head.size() + 1;
    const Inflated inflated = InflateAll(bytes + c.data + stream, data.size() - stream);
    Require(inflated.all_used, "a zTXt chunk's data is not exactly one zlib stream");
    Require(inflated.text == section.text, "a zTXt chunk's text is wrong");
  }
  return c.next;
}

// Checks the file the writer made from an image of `size` bytes against the
// image and the sections of the text (null: no comment text): the image's
// first eight bytes, its chunks other than tEXt and zTXt byte for byte and
// in order, after each IHDR exactly the chunks the sections make, and from
// the first bytes that frame no complete chunk the image's tail as it was;
// nothing else.
inline void CheckRewrite(const std::uint8_t* out, std::size_t out_size, const std::uint8_t* image,
                         std::size_t size, const std::vector<Section>* sections) {
  const auto same_bytes = [&](std::size_t at, std::size_t from, std::size_t count) {
    return at <= out_size && out_size - at >= count &&
           std::equal(image + from, image + from + count, out + at);
  };
  Require(same_bytes(0, 0, 8), "the first eight bytes were not copied");
  std::size_t at = 8;
  FramedChunk c;
  for (std::size_t offset = 8; offset < size; offset = c.next) {
    if (FrameChunk(image, size, offset, &c) != Framing::kComplete) {
      Require(out_size - at == size - offset && same_bytes(at, offset, size - offset),
              "the tail after the last complete chunk is not the image's tail");
      return;
    }
    if (c.type == "tEXt" || c.type == "zTXt") continue;  // old text is dropped
    Require(same_bytes(at, offset, c.next - offset), "a chunk was not copied byte for byte");
    at += c.next - offset;
    if (c.type == "IHDR" && sections != nullptr) {
      for (const Section& s : *sections) at = CheckTextChunk(out, out_size, at, s);
    }
  }
  Require(at == out_size, "bytes follow the last chunk of the image");
}

}  // namespace pngtest

#endif
