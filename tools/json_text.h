// JSON strings for the host's --json output.
#ifndef PNGCOMMENT_TOOLS_JSON_TEXT_H
#define PNGCOMMENT_TOOLS_JSON_TEXT_H

#include <string>

// `utf8` as a JSON string literal, quotes included: quote, backslash and
// control characters escaped; a byte that is not part of a valid UTF-8
// sequence becomes U+FFFD, so that the output is always valid JSON.
std::string JsonString(const std::string& utf8);

#endif
