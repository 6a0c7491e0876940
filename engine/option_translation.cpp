#include "option_translation.h"

#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

// A word of the old flags or flags2 field that lives elsewhere today.
struct TMovedWord {
  const char *Field;   // "flags" or "flags2"
  const char *Word;    // the old constant
  const char *Option;  // today's option
  const char *On;      // value for "+word"
  const char *Off;     // value for "-word"
  uint32_t Bit;        // bit in TLegacyOptionState::Flags2; 0 = not tracked
  bool Completed;      // an x264 switch that takes its old default when a flags2 text names
                       // other x264 words but not this one
  const char *Encoder; // an encoder whose private class holds Option
};

enum : uint32_t {
  bWpred = 1u << 0,
  bMixedRefs = 1u << 1,
  bDct8x8 = 1u << 2,
  bBpyramid = 1u << 3,
  bFastPSkip = 1u << 4,
  bMbtree = 1u << 5,
  bPsy = 1u << 6,
  bAud = 1u << 7,
  bSsim = 1u << 8,
  bIntraRefresh = 1u << 9,
  bX264Words = (1u << 10) - 1,
};

constexpr uint32_t OldFlags2Default = bFastPSkip | bMbtree | bPsy;

const TMovedWord GMovedWords[] = {
    {"flags2", "wpred", "weightb", "1", "0", bWpred, true, "libx264"},
    {"flags2", "mixed_refs", "mixed-refs", "1", "0", bMixedRefs, true, "libx264"},
    {"flags2", "dct8x8", "8x8dct", "1", "0", bDct8x8, true, "libx264"},
    {"flags2", "bpyramid", "b-pyramid", "normal", "none", bBpyramid, true, "libx264"},
    {"flags2", "fastpskip", "fast-pskip", "1", "0", bFastPSkip, true, "libx264"},
    {"flags2", "mbtree", "mbtree", "1", "0", bMbtree, true, "libx264"},
    {"flags2", "psy", "psy", "1", "0", bPsy, false, "libx264"},
    {"flags2", "aud", "aud", "1", "0", bAud, false, "libx264"},
    {"flags2", "ssim", "ssim", "1", "0", bSsim, false, "libx264"},
    {"flags2", "intra_refresh", "intra-refresh", "1", "0", bIntraRefresh, false, "libx264"},
    {"flags2", "ivlc", "intra_vlc", "1", "0", 0, false, "mpeg2video"},
    {"flags2", "non_linear_q", "non_linear_quant", "1", "0", 0, false, "mpeg2video"},
    {"flags2", "drop_frame_timecode", "drop_frame_timecode", "1", "0", 0, false, "mpeg2video"},
    {"flags2", "reservoir", "reservoir", "1", "0", 0, false, "libmp3lame"},
    {"flags", "scan_offset", "scan_offset", "1", "0", 0, false, "mpeg2video"},
};

// Old names that are gone, with the option that took over the same values.
const struct {
  const char *Old;
  const char *Now;
  const char *Encoder;
} GRenamed[] = {{"directpred", "direct-pred", "libx264"}, {"cqp", "qp", "libx264"}};

// Old partition words and today's list entries.
const struct {
  const char *Old;
  const char *Now;
} GPartitions[] = {{"parti8x8", "i8x8"},
                   {"parti4x4", "i4x4"},
                   {"partp8x8", "p8x8"},
                   {"partp4x4", "p4x4"},
                   {"partb8x8", "b8x8"}};

struct TFlagToken {
  char Sign; // '+', '-' or 0 for a leading word without sign (sets the field outright)
  std::string Word;
};

// "+a-b+c" or "a+b": the syntax of flag values. False for anything else.
bool SplitFlagTokens(const std::string &AValue, std::vector<TFlagToken> &ATokens) {
  ATokens.clear();
  size_t i = 0;
  while (i < AValue.size()) {
    char sign = 0;
    if (AValue[i] == '+' || AValue[i] == '-')
      sign = AValue[i++];
    else if (i > 0)
      return false;
    size_t j = i;
    while (j < AValue.size() && AValue[j] != '+' && AValue[j] != '-')
      ++j;
    if (j == i)
      return false;
    ATokens.push_back({sign, AValue.substr(i, j - i)});
    i = j;
  }
  return !ATokens.empty();
}

const TMovedWord *FindMovedWord(const char *AField, const std::string &AWord) {
  for (const TMovedWord &w : GMovedWords)
    if (std::strcmp(w.Field, AField) == 0 && AWord == w.Word)
      return &w;
  return nullptr;
}

bool IsX264(const std::string &ACodec) {
  return ACodec == "libx264" || ACodec == "libx264rgb";
}

// flags or flags2: moved words become their own options, the rest stays in the field.
std::vector<TCodecSetting> TranslateFlags(const std::string &AField, const std::string &AValue,
                                          const std::string &AVideoCodec,
                                          TLegacyOptionState &AState) {
  std::vector<TFlagToken> tokens;
  if (!SplitFlagTokens(AValue, tokens))
    return {{AField, AValue}};
  const bool flags2 = AField == "flags2";
  bool moved = false;
  for (const TFlagToken &t : tokens)
    if (FindMovedWord(AField.c_str(), t.Word) ||
        (!flags2 && t.Word == "loop" && IsX264(AVideoCodec)))
      moved = true;
  if (!moved)
    return {{AField, AValue}};

  std::vector<TCodecSetting> result;
  std::string rest;
  uint32_t bits = AState.Flags2;
  uint32_t named = 0;
  std::vector<TCodecSetting> switches;
  for (const TFlagToken &t : tokens) {
    const TMovedWord *w = FindMovedWord(AField.c_str(), t.Word);
    const bool loop = !flags2 && t.Word == "loop" && IsX264(AVideoCodec);
    if (t.Sign == 0) {
      // A leading word without sign replaces the whole field.
      if (flags2)
        bits = 0;
      if (w || loop)
        rest.assign(1, '0');
    }
    if (loop) {
      // x264 filters by default; only switching it off needs saying.
      if (t.Sign == '-')
        switches.push_back({"x264-params", "no-deblock=1"});
    } else if (w && w->Bit != 0) {
      named |= w->Bit;
      bits = t.Sign == '-' ? bits & ~w->Bit : bits | w->Bit;
    } else if (w) {
      switches.push_back({w->Option, t.Sign == '-' ? w->Off : w->On});
    } else {
      if (t.Sign != 0)
        rest += t.Sign;
      rest += t.Word;
    }
  }
  if (!rest.empty())
    result.push_back({AField, rest});
  if (flags2) {
    AState.Flags2 = bits;
    for (const TMovedWord &w : GMovedWords)
      if (w.Bit != 0 && ((named & w.Bit) || (w.Completed && (named & bX264Words))))
        result.push_back({w.Option, (bits & w.Bit) ? w.On : w.Off});
  }
  result.insert(result.end(), switches.begin(), switches.end());
  return result;
}

// "+parti8x8-partp4x4..." to "i8x8,..."; a value already in today's form is kept.
std::vector<TCodecSetting> TranslatePartitions(const std::string &AValue) {
  std::vector<TFlagToken> tokens;
  if (!SplitFlagTokens(AValue, tokens))
    return {{"partitions", AValue}};
  std::vector<std::string> on;
  for (const TFlagToken &t : tokens) {
    const char *now = nullptr;
    for (const auto &p : GPartitions)
      if (t.Word == p.Old)
        now = p.Now;
    if (now == nullptr)
      return {{"partitions", AValue}};
    if (t.Sign == 0)
      on.clear();
    std::erase(on, std::string(now));
    if (t.Sign != '-')
      on.emplace_back(now);
  }
  std::string list;
  for (const std::string &w : on)
    list += (list.empty() ? "" : ",") + w;
  return {{"partitions", list.empty() ? "none" : list}};
}

} // namespace

TLegacyOptionState::TLegacyOptionState() : Flags2(OldFlags2Default) {}

std::vector<TCodecSetting> TranslateCodecOption(const std::string &AName, const std::string &AValue,
                                                const std::string &AVideoCodec,
                                                TLegacyOptionState &AState) {
  if (AName == "flags" || AName == "flags2")
    return TranslateFlags(AName, AValue, AVideoCodec, AState);
  if (AName == "partitions")
    return TranslatePartitions(AValue);
  for (const auto &r : GRenamed)
    if (AName == r.Old)
      return {{r.Now, AValue}};
  return {{AName, AValue}};
}

int LegacyOptionFlags(const char *AName, int AFlags) {
  static const char *const videoOnly[] = {"b", "maxrate", "minrate"};
  for (const char *n : videoOnly)
    if (std::strcmp(AName, n) == 0)
      return AFlags & ~(AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_SUBTITLE_PARAM);
  return AFlags;
}

const std::vector<TTranslationTarget> &TranslationTargets() {
  static const std::vector<TTranslationTarget> targets = [] {
    std::vector<TTranslationTarget> t;
    for (const TMovedWord &w : GMovedWords)
      t.push_back({w.Option, w.Encoder});
    for (const auto &r : GRenamed)
      t.push_back({r.Now, r.Encoder});
    t.push_back({"partitions", "libx264"});
    t.push_back({"x264-params", "libx264"});
    return t;
  }();
  return targets;
}
