#include "probe_text.h"

#include "ff_error.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

extern "C" {
#include <libavcodec/avcodec.h>
}

std::string FixedText(double AValue, int ADigits) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof(buf), AValue, std::chars_format::fixed, ADigits);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("nan");
}

std::string SizeText(int64_t ASize) {
  if (ASize > 1073741824LL)
    return FixedText(static_cast<double>(ASize) / 1073741824.0, 2) + " GB";
  if (ASize > 1048576LL)
    return FixedText(static_cast<double>(ASize) / 1048576.0, 2) + " MB";
  if (ASize > 1024LL)
    return FixedText(static_cast<double>(ASize) / 1024.0, 2) + " KB";
  return std::to_string(ASize) + " Byte";
}

std::string RateText(double AValue, const std::string &AUnit) {
  // nearbyint rounds halves to even in the default rounding mode.
  const double v = std::nearbyint(AValue * 100);
  if (std::fmod(v, 100) != 0)
    return ", " + FixedText(AValue, 2) + " " + AUnit;
  if (std::fmod(v, 100000) != 0)
    return ", " + FixedText(AValue, 0) + " " + AUnit;
  return ", " + FixedText(AValue / 1000, 0) + "k " + AUnit;
}

std::string TagDisplayName(const std::string &AKey) {
  static const struct {
    const char *Key;
    const char *Name;
  } table[] = {
      {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
      {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
      {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
      {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
      {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
      {"TSOT", "titlesort"}, {"TYER", "year"}};
  for (const auto &t : table)
    if (AKey == t.Key)
      return t.Name;
  return AKey;
}

void MetadataListing(const AVDictionary *AMetadata, const std::string &AIndent,
                     std::vector<std::string> &ALines) {
  if (AMetadata == nullptr)
    return;
  const int count = av_dict_count(AMetadata);
  const AVDictionaryEntry *first = av_dict_get(AMetadata, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  if (count == 0 || (count == 1 && first && std::strcmp(first->key, "language") == 0))
    return;
  ALines.push_back(AIndent + "Metadata:");
  for (const AVDictionaryEntry *e = first; e;
       e = av_dict_get(AMetadata, "", e, AV_DICT_IGNORE_SUFFIX)) {
    if (std::strcmp(e->key, "language") == 0)
      continue;
    ALines.push_back(Format("%s  %-16s: %s", AIndent.c_str(), TagDisplayName(e->key).c_str(),
                            e->value ? e->value : ""));
  }
}

std::string StartTimeText(int64_t ATime_us) {
  // Negative times keep their sign in front instead of inside the fraction.
  const uint64_t mag =
      ATime_us < 0 ? 0 - static_cast<uint64_t>(ATime_us) : static_cast<uint64_t>(ATime_us);
  return Format("%s%llu.%.6llu", ATime_us < 0 ? "-" : "",
                static_cast<unsigned long long>(mag / 1000000),
                static_cast<unsigned long long>(mag % 1000000));
}

std::string TimeStampText(int64_t ASeconds) {
  tzset();
  // timezone: seconds west of UTC for standard time.
  const time_t local = static_cast<time_t>(ASeconds - static_cast<int64_t>(timezone));
  struct tm tm {};
  if (gmtime_r(&local, &tm) == nullptr)
    return "";
  char buf[64];
  std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

namespace {

std::string Trimmed(const char *S, size_t AMax) {
  std::string t(S, strnlen(S, AMax));
  const char *blanks = " \t\r\n";
  const size_t b = t.find_first_not_of(blanks);
  if (b == std::string::npos)
    return "";
  return t.substr(b, t.find_last_not_of(blanks) - b + 1);
}

} // namespace

std::string CodecDisplayName(const AVCodecParameters *APar) {
  if (APar == nullptr)
    return "";
  if (const AVCodec *dec = avcodec_find_decoder(APar->codec_id)) {
    const std::string longName = dec->long_name ? Trimmed(dec->long_name, 1024) : std::string();
    return longName.empty() ? std::string(dec->name)
                            : Format("%s(%s)", dec->name, longName.c_str());
  }
  if (APar->codec_id == AV_CODEC_ID_MPEG2TS)
    return "mpeg2ts";
  // Codecs known to the libraries but without a decoder here still have a name.
  if (avcodec_descriptor_get(APar->codec_id) != nullptr) {
    const std::string name = Trimmed(avcodec_get_name(APar->codec_id), 32);
    if (!name.empty())
      return name;
  }
  const uint32_t tag = APar->codec_tag;
  char c[4];
  bool printable = true;
  for (int i = 0; i < 4; ++i) {
    c[i] = static_cast<char>((tag >> (8 * i)) & 0xFF);
    printable = printable && (tag >> (8 * i) & 0xFF) >= 32 && (tag >> (8 * i) & 0xFF) <= 126;
  }
  if (printable)
    return Format("%c%c%c%c / 0x%04X", c[0], c[1], c[2], c[3], tag);
  return Format("0x%04x", tag);
}
