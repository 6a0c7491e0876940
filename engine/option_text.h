// The option text format shared by the transcoder, the preset parser and the option records:
// lines of name=value.
#pragma once

#include <string>
#include <vector>

struct TOptionLine {
  std::string Name; // as written; callers lower-case it where names are matched
  std::string Value;
};

// Removes leading and trailing blanks and control characters (every byte up to ' ').
std::string TrimText(const std::string &S);
// ASCII lower case; other bytes (UTF-8 sequences) are kept.
std::string LowerCaseText(const std::string &S);
// Case-insensitive ASCII comparison.
bool SameText(const std::string &A, const std::string &B);
// Trims the text and turns CR LF, CR and LF into LF, and with ACRLFMarker also the literal
// "<CRLF>".
std::string NormalizeOptionText(const std::string &AText, bool ACRLFMarker = true);
// Normalizes the text and splits each line at its first "="; a line without "=" has an empty
// value. Empty lines are skipped.
std::vector<TOptionLine> SplitOptionText(const std::string &AText);
