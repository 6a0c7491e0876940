#include "option_text.h"

namespace {

bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

char LowerChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string TrimText(const std::string &S) {
  size_t b = 0, e = S.size();
  while (b < e && IsTrimmed(S[b]))
    ++b;
  while (e > b && IsTrimmed(S[e - 1]))
    --e;
  return S.substr(b, e - b);
}

std::string LowerCaseText(const std::string &S) {
  std::string r = S;
  for (char &c : r)
    c = LowerChar(c);
  return r;
}

bool SameText(const std::string &A, const std::string &B) {
  if (A.size() != B.size())
    return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (LowerChar(A[i]) != LowerChar(B[i]))
      return false;
  return true;
}

std::string NormalizeOptionText(const std::string &AText, bool ACRLFMarker) {
  static const std::string marker = "<CRLF>";
  const std::string t = TrimText(AText);
  std::string r;
  r.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '\r') {
      if (i + 1 < t.size() && t[i + 1] == '\n')
        ++i;
      r += '\n';
    } else if (ACRLFMarker && c == '<' && t.compare(i, marker.size(), marker) == 0) {
      i += marker.size() - 1;
      r += '\n';
    } else {
      r += c;
    }
  }
  return r;
}

std::vector<TOptionLine> SplitOptionText(const std::string &AText) {
  const std::string t = NormalizeOptionText(AText);
  std::vector<TOptionLine> lines;
  size_t start = 0;
  while (start <= t.size()) {
    size_t end = t.find('\n', start);
    if (end == std::string::npos)
      end = t.size();
    if (end > start) {
      const size_t eq = t.find('=', start);
      if (eq != std::string::npos && eq < end)
        lines.push_back({t.substr(start, eq - start), t.substr(eq + 1, end - eq - 1)});
      else
        lines.push_back({t.substr(start, end - start), std::string()});
    }
    start = end + 1;
  }
  return lines;
}
