#include "ff_error.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <vector>

extern "C" {
#include <libavutil/error.h>
}

std::string LibraryErrorText(int ACode) {
  switch (ACode) {
  case AVERROR(ENOENT):
    return "No such file or directory";
  case AVERROR(EIO):
    return "I/O error";
  case AVERROR(ENOMEM):
    return "Not enough memory";
  case AVERROR(EINVAL):
  case AVERROR_INVALIDDATA:
    return "Invalid data found when processing input";
  case AVERROR_EOF:
  case AVERROR(EPIPE):
    return "End of file";
  case AVERROR(EDOM):
    return "Number syntax expected in filename";
  case AVERROR(EILSEQ):
  case AVERROR_DEMUXER_NOT_FOUND:
  case AVERROR_MUXER_NOT_FOUND:
    return "Unknown format";
  case AVERROR_PROTOCOL_NOT_FOUND:
    return "Unsupported network protocol";
  case AVERROR_PATCHWELCOME:
  case AVERROR(ENOSYS):
    return "Not yet implemented in FFmpeg";
  default:
    return Format("Error number %d occurred", ACode);
  }
}

std::string FormatLibraryError(const std::string &AName, int ACode) {
  return AName + ": " + LibraryErrorText(ACode);
}

std::string StreamTypeName(int AType) {
  switch (AType) {
  case 0:
    return "Video";
  case 1:
    return "Audio";
  case 2:
    return "Data";
  case 3:
    return "Subtitle";
  case 4:
    return "Attachment";
  default:
    return "Unknown";
  }
}

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trimmed(const std::string &S) {
  size_t b = 0, e = S.size();
  while (b < e && IsBlank(S[b]))
    ++b;
  while (e > b && IsBlank(S[e - 1]))
    --e;
  return S.substr(b, e - b);
}

[[noreturn]] void RaiseConvert(const std::string &S, const char *AKind) {
  throw EConvertError("'" + S + "' is not a valid " + AKind + " value");
}

int64_t ParseInteger(const std::string &S, int64_t AMin, int64_t AMax, const char *AKind) {
  std::string t = Trimmed(S);
  if (t.empty() || t.find('\0') != std::string::npos)
    RaiseConvert(S, AKind);
  const char *p = t.c_str();
  char *end = nullptr;
  errno = 0;
  long long v;
  if (t.size() > 1 && t[0] == '$') // hexadecimal, as the program's number texts allow
    v = std::strtoll(p + 1, &end, 16);
  else
    v = std::strtoll(p, &end, 10);
  if (errno == ERANGE || *end != '\0' || end == p || v < AMin || v > AMax)
    RaiseConvert(S, AKind);
  return v;
}

} // namespace

int StrToInt(const std::string &S) {
  return static_cast<int>(ParseInteger(S, INT32_MIN, INT32_MAX, "integer"));
}

int64_t StrToInt64(const std::string &S) {
  return ParseInteger(S, INT64_MIN, INT64_MAX, "integer");
}

int StrToIntDef(const std::string &S, int ADefault) {
  try {
    return StrToInt(S);
  } catch (const EConvertError &) {
    return ADefault;
  }
}

double StrToFloat(const std::string &S) {
  std::string t = Trimmed(S);
  if (t.empty() || t.find('\0') != std::string::npos)
    RaiseConvert(S, "floating point");
  // from_chars ignores the process locale, which Qt sets from the environment.
  const char *b = t.data(), *e = t.data() + t.size();
  if (*b == '+')
    ++b;
  double v = 0;
  auto [ptr, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || ptr != e || std::isnan(v) || std::isinf(v))
    RaiseConvert(S, "floating point");
  return v;
}

std::string Format(const char *AFormat, ...) {
  va_list ap;
  va_start(ap, AFormat);
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, AFormat, ap);
  va_end(ap);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), AFormat, ap2);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(ap2);
  return out;
}
