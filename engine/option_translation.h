// The one place where option names and values of the older codec option system (used by the
// built-in presets, the disc targets and stored option texts) are carried over to what today's
// generic, encoder-private and muxer-private options accept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TCodecSetting {
  std::string Name;
  std::string Value;
  bool operator==(const TCodecSetting &) const = default;
};

// What old values are relative to. The old flags2 field held several x264 switches in one set
// of bits whose starting value had fastpskip, psy and mbtree on and the rest off; a word that
// an option text did not name kept its bit, so it was off unless it was one of those three.
struct TLegacyOptionState {
  uint32_t Flags2;
  TLegacyOptionState();
};

// The settings that stand for one codec option today. A name that needs no translation comes
// back unchanged as the only setting; an empty result means the option has no effect today.
// AVideoCodec is the video encoder chosen so far: the loop filter switch translates only for
// the x264 encoders, since other encoders still read the generic flag.
std::vector<TCodecSetting> TranslateCodecOption(const std::string &AName, const std::string &AValue,
                                                const std::string &AVideoCodec,
                                                TLegacyOptionState &AState);

// The media flags an option is applied with: where today's generic option also carries the
// audio flag but the old one was video-only (the bit rate family), the old flags.
int LegacyOptionFlags(const char *AName, int AFlags);

// Every option the translations produce, with an encoder whose private class holds it.
struct TTranslationTarget {
  const char *Name;
  const char *Encoder;
};
const std::vector<TTranslationTarget> &TranslationTargets();
