// The comment text as the plug-in shows it, taken apart into its sections
// for the host's per-keyword edits and its JSON, and put back together. The
// rules are the plug-in's: lines end at CR LF, "[k]" opens a tEXt section and
// "<k>" a zTXt one, lines before the first header belong to "Comment".
#ifndef PNGCOMMENT_TOOLS_COMMENT_SECTIONS_H
#define PNGCOMMENT_TOOLS_COMMENT_SECTIONS_H

#include <string>
#include <vector>

struct CommentSection {
  bool compressed = false;  // zTXt, else tEXt
  std::string keyword;      // as written between the brackets
  std::string text;         // the lines joined with LF
  std::string shown;        // the section's bytes in the comment text, as they were
};

// The sections of a comment text, in order; joining their `shown` bytes
// gives the text back.
std::vector<CommentSection> SplitSections(const std::string& comment);

// The comment text of a new section: its header line and its text, each LF
// turned into CR LF, with a closing CR LF.
std::string ShowSection(bool compressed, const std::string& keyword, const std::string& text);

// Why the comment text cannot carry this keyword and text unchanged (a line
// shaped like a header would start a section, line feeds at either end and
// NULs would be lost), or "" when it can.
std::string WhyNotCarried(const std::string& keyword, const std::string& text);

// The text a host hands the plug-in: a UTF-8 byte-order mark at the start is
// dropped, and a line feed not preceded by a carriage return becomes CR LF,
// except one that a Shift_JIS lead byte carries (the plug-in shows it so).
// The plug-in joins a section's lines with LF again, so nothing is lost.
std::string NormaliseLineEnds(const std::string& text);

#endif
