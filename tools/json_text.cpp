#include "tools/json_text.h"

#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at `s[i]`, or 0.
std::size_t SequenceLength(const std::string& s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = b < 0x80           ? 1
                  : (b >> 5) == 0x6  ? 2
                  : (b >> 4) == 0xE  ? 3
                  : (b >> 3) == 0x1E ? 4
                                     : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  const auto b1 = static_cast<unsigned char>(n > 1 ? s[i + 1] : 0);
  if ((n == 2 && b < 0xC2) || (n == 3 && b == 0xE0 && b1 < 0xA0) ||
      (n == 3 && b == 0xED && b1 >= 0xA0) || (n == 4 && b == 0xF0 && b1 < 0x90) ||
      (n == 4 && (b > 0xF4 || (b == 0xF4 && b1 >= 0x90)))) {
    return 0;
  }
  return n;
}

}  // namespace

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const std::size_t n = SequenceLength(utf8, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20) {
      static const char kShort[] = "btn\0fr";  // \b \t \n \f \r; others as \u00XX
      if (c >= 8 && c <= 13 && c != 11) {
        out += '\\';
        out += kShort[c - 8];
      } else {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        out += escaped;
      }
      ++i;
    } else {
      out.append(utf8, i, n);
      i += n;
    }
  }
  return out + "\"";
}
