#include "ff_options.h"

#include <algorithm>
#include <new>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

// The media flags each template takes options with; data and attachment take every option.
const int GTypeFlags[OptionMediaTypes] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                          AV_OPT_FLAG_SUBTITLE_PARAM, 0};

bool ClassHas(const AVClass *const *AClass, const char *AName, int AFlags) {
  return *AClass != nullptr && av_opt_find(const_cast<const AVClass **>(AClass), AName, nullptr,
                                           AFlags, AV_OPT_SEARCH_FAKE_OBJ) != nullptr;
}

// Calls ATry with each codec whose private class has the option, the named one first, then the
// encoders, then the decoders, until ATry accepts one. False when no codec has it.
template <typename TTry>
bool ForEachPrivateCodec(const char *AName, int AFlags, const std::string &APreferred, TTry ATry) {
  bool any = false;
  const AVCodec *preferred[2] = {nullptr, nullptr};
  if (!APreferred.empty()) {
    preferred[0] = avcodec_find_encoder_by_name(APreferred.c_str());
    preferred[1] = avcodec_find_decoder_by_name(APreferred.c_str());
    for (const AVCodec *c : preferred)
      if (c != nullptr && ClassHas(&c->priv_class, AName, AFlags)) {
        any = true;
        if (ATry(c))
          return true;
      }
  }
  for (int encoders = 1; encoders >= 0; --encoders) {
    void *it = nullptr;
    while (const AVCodec *c = av_codec_iterate(&it))
      if ((av_codec_is_encoder(c) != 0) == (encoders != 0) && c != preferred[0] &&
          c != preferred[1] && ClassHas(&c->priv_class, AName, AFlags)) {
        any = true;
        if (ATry(c))
          return true;
      }
  }
  return any;
}

bool AnyCodecHas(const char *AName) {
  void *it = nullptr;
  while (const AVCodec *c = av_codec_iterate(&it))
    if (ClassHas(&c->priv_class, AName, 0))
      return true;
  return false;
}

const AVOutputFormat *FindPrivateMuxer(const char *AName, const std::string &APreferred) {
  if (!APreferred.empty())
    if (const AVOutputFormat *f = av_guess_format(APreferred.c_str(), nullptr, nullptr))
      if (ClassHas(&f->priv_class, AName, 0))
        return f;
  void *it = nullptr;
  while (const AVOutputFormat *f = av_muxer_iterate(&it))
    if (ClassHas(&f->priv_class, AName, 0))
      return f;
  return nullptr;
}

const AVInputFormat *FindPrivateDemuxer(const char *AName, const std::string &APreferred) {
  if (!APreferred.empty())
    if (const AVInputFormat *f = av_find_input_format(APreferred.c_str()))
      if (ClassHas(&f->priv_class, AName, 0))
        return f;
  void *it = nullptr;
  while (const AVInputFormat *f = av_demuxer_iterate(&it))
    if (ClassHas(&f->priv_class, AName, 0))
      return f;
  return nullptr;
}

// Sets AValue on a freshly made private object to check it, on top of the value kept so far:
// dictionary options (x264-params) gather their entries, flag options apply relative to it.
// AStored receives what to keep.
bool CheckPrivateValue(void *APriv, const char *AName, const std::string &AValue,
                       const TDictionary &AKept, std::string &AStored) {
  const AVOption *o = av_opt_find(APriv, AName, nullptr, 0, 0);
  if (o == nullptr)
    return false;
  std::string value = AValue;
  if (const AVDictionaryEntry *e = av_dict_get(AKept.get(), AName, nullptr, AV_DICT_MATCH_CASE)) {
    if (o->type == AV_OPT_TYPE_DICT)
      value = std::string(e->value) + ":" + AValue;
    else if (o->type == AV_OPT_TYPE_FLAGS)
      av_opt_set(APriv, AName, e->value, 0);
  }
  if (av_opt_set(APriv, AName, value.c_str(), 0) < 0)
    return false;
  AStored = value;
  if (o->type == AV_OPT_TYPE_FLAGS) {
    uint8_t *s = nullptr;
    if (av_opt_get(APriv, AName, 0, &s) < 0)
      return false;
    AStored = reinterpret_cast<char *>(s);
    av_free(s);
  }
  return true;
}

// Copies one option; flag options copy only the bits that differ from the option's default.
int CopyOption(void *ASource, void *ATarget, const AVOption *AOption) {
  if (AOption->type == AV_OPT_TYPE_FLAGS) {
    int64_t source = 0, target = 0;
    int ret = av_opt_get_int(ASource, AOption->name, 0, &source);
    if (ret >= 0)
      ret = av_opt_get_int(ATarget, AOption->name, 0, &target);
    if (ret < 0)
      return ret;
    const int64_t changed = source ^ AOption->default_val.i64;
    return av_opt_set_int(ATarget, AOption->name, (target & ~changed) | (source & changed), 0);
  }
  uint8_t *text = nullptr;
  int ret = av_opt_get(ASource, AOption->name, 0, &text);
  if (ret < 0)
    return ret;
  ret = av_opt_set(ATarget, AOption->name, reinterpret_cast<char *>(text), 0);
  av_free(text);
  return ret;
}

// Copies each option named in ANames (once) that ASource has with all of AFlags.
int CopyOptions(void *ASource, void *ATarget, const std::vector<std::string> &ANames, int AFlags) {
  std::vector<std::string> done;
  for (const std::string &name : ANames) {
    if (std::find(done.begin(), done.end(), name) != done.end())
      continue;
    done.push_back(name);
    const AVOption *o = av_opt_find(ASource, name.c_str(), nullptr, 0, 0);
    if (o == nullptr || (LegacyOptionFlags(o->name, o->flags) & AFlags) != AFlags)
      continue;
    if (int ret = CopyOption(ASource, ATarget, o); ret < 0)
      return ret;
  }
  return 0;
}

} // namespace

int OptionMediaIndex(AVMediaType AType) {
  switch (AType) {
  case AVMEDIA_TYPE_VIDEO:
    return 0;
  case AVMEDIA_TYPE_AUDIO:
    return 1;
  case AVMEDIA_TYPE_DATA:
    return 2;
  case AVMEDIA_TYPE_SUBTITLE:
    return 3;
  case AVMEDIA_TYPE_ATTACHMENT:
    return 4;
  default:
    return -1;
  }
}

TFFOptions::TFFOptions(unsigned ASwsFlags) {
  static const AVMediaType types[OptionMediaTypes] = {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO,
                                                      AVMEDIA_TYPE_DATA, AVMEDIA_TYPE_SUBTITLE,
                                                      AVMEDIA_TYPE_ATTACHMENT};
  for (int t = 0; t < OptionMediaTypes; ++t) {
    avcodec_opts[t].reset(avcodec_alloc_context3(nullptr));
    if (!avcodec_opts[t])
      throw std::bad_alloc();
    avcodec_opts[t]->codec_type = types[t];
  }
  avformat_opts.reset(avformat_alloc_context());
  sws_opts.reset(sws_alloc_context());
  if (!avformat_opts || !sws_opts)
    throw std::bad_alloc();
  SwsContext *s = sws_opts.get();
  av_opt_set_int(s, "srcw", 16, 0);
  av_opt_set_int(s, "srch", 16, 0);
  av_opt_set_int(s, "dstw", 16, 0);
  av_opt_set_int(s, "dsth", 16, 0);
  av_opt_set_int(s, "src_format", 0, 0);
  av_opt_set_int(s, "dst_format", 0, 0);
  av_opt_set_int(s, "sws_flags", ASwsFlags, 0);
}

TOptionResult TFFOptions::Set(const std::string &AName, const std::string &AValue,
                              const TOptionOwners &AOwners, std::string &ASetName) {
  const char *name = AName.c_str();
  const char *value = AValue.c_str();
  TOptionResult result = TOptionResult::orNotFound;
  const AVOption *o = nullptr;

  if ((o = av_opt_find(avcodec_opts[0].get(), name, nullptr, 0, 0)) != nullptr) {
    const int flags = LegacyOptionFlags(o->name, o->flags);
    for (int t = 0; t < OptionMediaTypes; ++t)
      if ((flags & GTypeFlags[t]) == GTypeFlags[t] &&
          av_opt_set(avcodec_opts[t].get(), name, value, 0) < 0)
        return TOptionResult::orInvalid;
    ASetName = o->name;
    result = TOptionResult::orSet;
  }
  if (result == TOptionResult::orNotFound)
    result = SetCodecPrivate(AName, AValue, AOwners, ASetName);
  if (result == TOptionResult::orNotFound &&
      (o = av_opt_find(avformat_opts.get(), name, nullptr, 0, 0)) != nullptr) {
    if (av_opt_set(avformat_opts.get(), name, value, 0) < 0)
      return TOptionResult::orInvalid;
    ASetName = o->name;
    result = TOptionResult::orSet;
  }
  if (result == TOptionResult::orNotFound)
    result = SetFormatPrivate(AName, AValue, AOwners, ASetName);
  if (result == TOptionResult::orNotFound &&
      (o = av_opt_find(sws_opts.get(), name, nullptr, 0, 0)) != nullptr) {
    if (av_opt_set(sws_opts.get(), name, value, 0) < 0)
      return TOptionResult::orInvalid;
    ASetName = o->name;
    result = TOptionResult::orSet;
  }
  if (result == TOptionResult::orNotFound && AName.size() > 1) {
    // "ab", "vb": the rest of the name on that media type's template.
    const int t = AName[0] == 'a' ? 1 : AName[0] == 'v' ? 0 : AName[0] == 's' ? 3 : -1;
    if (t >= 0 && (o = av_opt_find(avcodec_opts[t].get(), name + 1, nullptr, 0, 0)) != nullptr) {
      if (av_opt_set(avcodec_opts[t].get(), name + 1, value, 0) < 0)
        return TOptionResult::orInvalid;
      ASetName = o->name;
      result = TOptionResult::orSet;
    }
  }
  if (result == TOptionResult::orSet)
    opt_names.push_back(ASetName);
  return result;
}

TOptionResult TFFOptions::SetCodecPrivate(const std::string &AName, const std::string &AValue,
                                          const TOptionOwners &AOwners, std::string &ASetName) {
  const char *name = AName.c_str();
  if (!AnyCodecHas(name))
    return TOptionResult::orNotFound;
  // Only the media types that have an encoder of their own take private options.
  const struct {
    int Type;
    const std::string &Codec;
  } kinds[] = {{0, AOwners.VideoCodec}, {1, AOwners.AudioCodec}, {3, AOwners.SubtitleCodec}};
  bool found = false;
  for (const auto &k : kinds) {
    bool accepted = false;
    const bool exists =
        ForEachPrivateCodec(name, GTypeFlags[k.Type], k.Codec, [&](const AVCodec *c) {
          CodecContextPtr ctx(avcodec_alloc_context3(c));
          std::string stored;
          if (!ctx || ctx->priv_data == nullptr ||
              !CheckPrivateValue(ctx->priv_data, name, AValue, codec_private_opts[k.Type], stored))
            return false;
          av_dict_set(codec_private_opts[k.Type].Ref(), name, stored.c_str(), 0);
          accepted = true;
          return true;
        });
    if (exists && !accepted)
      return TOptionResult::orInvalid;
    found = found || exists;
  }
  if (!found)
    return TOptionResult::orNotFound;
  ASetName = AName;
  return TOptionResult::orSet;
}

TOptionResult TFFOptions::SetFormatPrivate(const std::string &AName, const std::string &AValue,
                                           const TOptionOwners &AOwners, std::string &ASetName) {
  const char *name = AName.c_str();
  std::string stored = AValue;
  if (const AVOutputFormat *muxer = FindPrivateMuxer(name, AOwners.Format)) {
    AVFormatContext *oc = nullptr;
    if (avformat_alloc_output_context2(&oc, muxer, nullptr, nullptr) < 0 || oc == nullptr)
      return TOptionResult::orInvalid;
    OutputFormatContextPtr owner(oc);
    if (oc->priv_data == nullptr ||
        !CheckPrivateValue(oc->priv_data, name, AValue, format_private_opts, stored))
      return TOptionResult::orInvalid;
  } else if (FindPrivateDemuxer(name, AOwners.Format) == nullptr) {
    return TOptionResult::orNotFound;
  }
  // A demuxer's private data can only be made by opening an input, so its values are checked
  // when the input is opened.
  av_dict_set(format_private_opts.Ref(), name, stored.c_str(), 0);
  ASetName = AName;
  return TOptionResult::orSet;
}

int TFFOptions::ApplyCodecOptions(AVCodecContext *ACtx, AVMediaType AType, int AFlags) const {
  const int t = OptionMediaIndex(AType);
  if (t < 0 || ACtx == nullptr)
    return AVERROR(EINVAL);
  return CopyOptions(avcodec_opts[t].get(), ACtx, opt_names, AFlags);
}

TDictionary TFFOptions::CodecPrivateOptions(AVMediaType AType) const {
  const int t = OptionMediaIndex(AType);
  return t < 0 ? TDictionary() : codec_private_opts[t].Copy();
}

int TFFOptions::ApplyFormatOptions(AVFormatContext *ACtx, int AFlags) const {
  if (ACtx == nullptr)
    return AVERROR(EINVAL);
  return CopyOptions(avformat_opts.get(), ACtx, opt_names, AFlags);
}

unsigned TFFOptions::SwsFlags() const {
  int64_t flags = 0;
  av_opt_get_int(sws_opts.get(), "sws_flags", 0, &flags);
  return static_cast<unsigned>(flags);
}
