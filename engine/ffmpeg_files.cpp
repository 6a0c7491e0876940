#include "ffmpeg_transcoder.h"

#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "unicode_protocol.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

[[noreturn]] void Raise(const std::string &AMessage) {
  throw FFmpegException(AMessage);
}

// Runs a clean-up on every way out of a scope unless dismissed.
template <class F> class TScopeExit {
public:
  explicit TScopeExit(F AFn) : FFn(std::move(AFn)) {}
  ~TScopeExit() {
    if (FActive)
      FFn();
  }
  void Dismiss() { FActive = false; }
  TScopeExit(const TScopeExit &) = delete;
  TScopeExit &operator=(const TScopeExit &) = delete;

private:
  F FFn;
  bool FActive = true;
};

// The sample aspect ratio that gives the display aspect AAspect at AWidth x AHeight, as the
// nearest fraction with terms up to 255.
AVRational SampleAspectOf(float AAspect, int AWidth, int AHeight) {
  const double sar = static_cast<int64_t>(AWidth) * AHeight != 0
                         ? static_cast<double>(AAspect) * AHeight / AWidth
                         : static_cast<double>(AAspect) * 3.0 / 4.0;
  return av_d2q(sar, 255);
}

// Names of encoders this library build lacks, and what serves them: the native AAC encoder for
// "libfaac", the engine's own AMR-NB encoder for "libopencore_amrnb" (a decoder of that name is
// served by the native one).
constexpr const char *FAACName = "libfaac";
constexpr const char *AMRNBName = "libopencore_amrnb";

const AVCodec *EncoderByName(const std::string &AName) {
  if (AName.find('\0') != std::string::npos)
    return nullptr;
  if (const AVCodec *codec = avcodec_find_encoder_by_name(AName.c_str()))
    return codec;
  return AName == FAACName ? avcodec_find_encoder_by_name("aac") : nullptr;
}

const AVCodec *DecoderByName(const std::string &AName) {
  if (AName.find('\0') != std::string::npos)
    return nullptr;
  if (const AVCodec *codec = avcodec_find_decoder_by_name(AName.c_str()))
    return codec;
  return AName == AMRNBName ? avcodec_find_decoder_by_name("amrnb") : nullptr;
}

// The name asks for the engine's AMR-NB encoder (the library has no encoder of that name).
bool IsOwnAMRNBEncoder(const std::string &AName) {
  return AName == AMRNBName && avcodec_find_encoder_by_name(AMRNBName) == nullptr;
}

// The name asked for when another encoder serves it; empty otherwise.
std::string SubstitutedName(const std::string &AName) {
  if (IsOwnAMRNBEncoder(AName))
    return AName;
  return AName == FAACName && avcodec_find_encoder_by_name(FAACName) == nullptr ? AName
                                                                                : std::string();
}

AVPixelFormat ChoosePixelFormat(const AVCodec *ACodec, AVPixelFormat AFormat, int AStrict) {
  if (ACodec == nullptr || ACodec->pix_fmts == nullptr)
    return AFormat;
  const AVPixelFormat *formats = ACodec->pix_fmts;
  // MJPEG lists limited-range formats too, which it takes only at a strictness below 0.
  static const AVPixelFormat fullRange[] = {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVJ422P,
                                            AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_NONE};
  if (ACodec->id == AV_CODEC_ID_MJPEG && AStrict >= 0)
    formats = fullRange;
  for (const AVPixelFormat *p = formats; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == AFormat)
      return AFormat;
  return formats[0];
}

AVSampleFormat ChooseSampleFormat(const AVCodec *ACodec, AVSampleFormat AFormat) {
  if (ACodec == nullptr || ACodec->sample_fmts == nullptr)
    return AFormat;
  for (const AVSampleFormat *p = ACodec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p)
    if (*p == AFormat)
      return AFormat;
  return ACodec->sample_fmts[0];
}

// The listed rate nearest to ARate (the first of equally near ones); ARate when none is listed.
int ChooseSampleRate(const AVCodec *ACodec, int ARate) {
  if (ACodec == nullptr || ACodec->supported_samplerates == nullptr)
    return ARate;
  int best = 0;
  int64_t bestDiff = INT64_MAX;
  for (const int *p = ACodec->supported_samplerates; *p != 0; ++p) {
    const int64_t diff = std::llabs(static_cast<int64_t>(*p) - ARate);
    if (diff < bestDiff) {
      bestDiff = diff;
      best = *p;
    }
  }
  return best;
}

// A layout with AChannels channels: AMask when it has that many, else the default one; then,
// when the encoder lists layouts, a listed layout with that many channels.
void ChooseChannelLayout(const AVCodec *ACodec, int64_t AMask, int AChannels,
                         AVChannelLayout &ALayout) {
  av_channel_layout_uninit(&ALayout);
  if (AMask != 0 && std::popcount(static_cast<uint64_t>(AMask)) == AChannels)
    av_channel_layout_from_mask(&ALayout, static_cast<uint64_t>(AMask));
  else
    av_channel_layout_default(&ALayout, AChannels);
  if (ACodec == nullptr || ACodec->ch_layouts == nullptr)
    return;
  for (const AVChannelLayout *l = ACodec->ch_layouts; l->nb_channels != 0; ++l)
    if (av_channel_layout_compare(l, &ALayout) == 0)
      return;
  for (const AVChannelLayout *l = ACodec->ch_layouts; l->nb_channels != 0; ++l)
    if (l->nb_channels == AChannels) {
      av_channel_layout_copy(&ALayout, l);
      return;
    }
}

// "start,end,q" entries separated by "/"; a negative q is a quality factor in percent.
bool ParseRcOverride(const std::string &AText, AVCodecContext *ACtx) {
  if (AText.empty())
    return true;
  std::vector<RcOverride> entries;
  size_t pos = 0;
  while (pos <= AText.size()) {
    const size_t slash = AText.find('/', pos);
    const std::string item =
        AText.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    int start = 0, end = 0, q = 0;
    char tail = 0;
    if (std::sscanf(item.c_str(), "%d,%d,%d%c", &start, &end, &q, &tail) != 3)
      return false;
    RcOverride o{};
    o.start_frame = start;
    o.end_frame = end;
    if (q > 0) {
      o.qscale = q;
      o.quality_factor = 1.0f;
    } else {
      o.qscale = 0;
      o.quality_factor = -q / 100.0f;
    }
    entries.push_back(o);
    if (slash == std::string::npos)
      break;
    pos = slash + 1;
  }
  auto *array = static_cast<RcOverride *>(av_malloc_array(entries.size(), sizeof(RcOverride)));
  if (array == nullptr)
    throw std::bad_alloc();
  std::copy(entries.begin(), entries.end(), array);
  av_freep(&ACtx->rc_override);
  ACtx->rc_override = array;
  ACtx->rc_override_count = static_cast<int>(entries.size());
  return true;
}

uint16_t *MatrixCopy(const TQuantMatrix &AMatrix) {
  auto *m = static_cast<uint16_t *>(av_malloc(sizeof(uint16_t) * 64));
  if (m == nullptr)
    throw std::bad_alloc();
  std::copy(AMatrix.begin(), AMatrix.end(), m);
  return m;
}

// The local file behind an output URL, or "" when it is not a local file.
std::string LocalFileOf(const AVFormatContext *AOutput) {
  if (AOutput == nullptr || AOutput->url == nullptr || AOutput->oformat == nullptr ||
      (AOutput->oformat->flags & AVFMT_NOFILE))
    return std::string();
  const std::string url = AOutput->url;
  if (IsUnicodeURL(url))
    return URLToFileName(url);
  const char *protocol = avio_find_protocol_name(url.c_str());
  if (protocol == nullptr || std::strcmp(protocol, "file") != 0)
    return std::string();
  return url.compare(0, 5, "file:") == 0 ? url.substr(5) : url;
}

} // namespace

// ---------------------------------------------------------------------------------------------

bool TCustomFFmpeg::NeedsNumber(const AVOutputFormat *AFormat) const {
  if (AFormat->flags & AVFMT_NEEDNUMBER)
    return true;
  // The picture-sequence muxer no longer says so, but numbers its files unless told to keep
  // rewriting one.
  if (std::strcmp(AFormat->name, "image2") != 0)
    return false;
  const AVDictionaryEntry *update =
      FOptions ? av_dict_get(FOptions->format_private_opts.get(), "update", nullptr, 0) : nullptr;
  return update == nullptr || std::strcmp(update->value, "0") == 0;
}

AVFormatContext *TCustomFFmpeg::OutputFile(int AEntry) const {
  if (Foutput_files.empty() || AEntry < 0 || AEntry >= Fnb_output_files)
    return nullptr;
  return Foutput_files[FJoinMode ? 0 : static_cast<size_t>(AEntry)].get();
}

TOutputStreamSetup *TCustomFFmpeg::OutputStreamSetup(int AEntry, int AStream) const {
  if (OutputFile(AEntry) == nullptr)
    return nullptr;
  const auto &streams = Foutput_streams[FJoinMode ? 0 : static_cast<size_t>(AEntry)];
  return AStream >= 0 && AStream < static_cast<int>(streams.size()) ? streams[AStream].get()
                                                                    : nullptr;
}

AVCodecContext *TCustomFFmpeg::StreamTemplate(AVMediaType AType) const {
  const int t = OptionMediaIndex(AType);
  return FOptions && t >= 0 ? FOptions->avcodec_opts[t].get() : nullptr;
}

bool TCustomFFmpeg::FindCodecByName(const std::string &AName, AVMediaType AType,
                                    AVCodecID &ACodecID, int AStrict, bool AEncoder) {
  ACodecID = AV_CODEC_ID_NONE;
  if (AName.empty())
    return true;
  const char *word = AEncoder ? "encoder" : "decoder";
  const AVCodec *codec = AEncoder ? EncoderByName(AName) : DecoderByName(AName);
  if (codec == nullptr && AEncoder && IsOwnAMRNBEncoder(AName)) {
    if (AType != AVMEDIA_TYPE_AUDIO) {
      FLastErrMsg = Format("Invalid %s type '%s'", word, AName.c_str());
      return false;
    }
    ACodecID = AV_CODEC_ID_AMR_NB;
    return true;
  }
  if (codec == nullptr) {
    FLastErrMsg = Format("Unknown %s '%s'", word, AName.c_str());
    return false;
  }
  if (codec->type != AType) {
    FLastErrMsg = Format("Invalid %s type '%s'", word, AName.c_str());
    return false;
  }
  if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && AStrict > FF_COMPLIANCE_EXPERIMENTAL) {
    FLastErrMsg = Format("%s '%s' is experimental and might produce bad results.\r\nAdd '-strict "
                         "experimental' if you want to use it.",
                         word, codec->name);
    const AVCodec *other =
        AEncoder ? avcodec_find_encoder(codec->id) : avcodec_find_decoder(codec->id);
    if (other != nullptr && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      FLastErrMsg += Format("\r\nOr use the non experimental %s '%s'.", word, other->name);
    return false;
  }
  ACodecID = codec->id;
  return true;
}

int TCustomFFmpeg::InterruptCallback(void *AOpaque) {
  return static_cast<TCustomFFmpeg *>(AOpaque)->FBroken.load() ? 1 : 0;
}

int TCustomFFmpeg::OutputInterruptCallback(void *AOpaque) {
  auto *self = static_cast<TCustomFFmpeg *>(AOpaque);
  return self->FBroken.load() && !self->FOutputWriting.load() ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Inputs

bool TCustomFFmpeg::OpenInputFile(const std::string &AFileName) {
  if (!FOptions)
    FOptions = std::make_unique<TFFOptions>(Fsws_flags);
  if (Fnb_input_files >= FMaxFiles) {
    FLastErrMsg = Format("max input files %d reached", FMaxFiles);
    return false;
  }
  const AVInputFormat *format = nullptr;
  if (!Flast_asked_format.empty()) {
    const std::string name = Flast_asked_format;
    Flast_asked_format.clear();
    format = name.find('\0') == std::string::npos ? av_find_input_format(name.c_str()) : nullptr;
    if (format == nullptr)
      Raise(Format("Unknown input format: \"%s\"", name.c_str()));
  }

  AVFormatContext *ic = avformat_alloc_context();
  if (ic == nullptr)
    Raise("avformat_alloc_context failed");
  // The pending per-input settings are used up whatever happens from here on.
  TScopeExit clearPending([this] {
    Fvideo_codec_name.clear();
    Faudio_codec_name.clear();
    Fsubtitle_codec_name.clear();
    Fvideo_channel = 0;
  });
  InputFormatContextPtr owner(ic);
  ic->interrupt_callback = AVIOInterruptCB{InterruptCallback, this};
  FOptions->ApplyFormatOptions(ic, AV_OPT_FLAG_DECODING_PARAM);

  // What the raw and capture demuxers take as open parameters.
  TDictionary params = FOptions->FormatPrivateOptions();
  av_dict_set_int(params.Ref(), "sample_rate", Faudio_sample_rate, 0);
  av_dict_set_int(params.Ref(), "channels", Faudio_channels, 0);
  if (Fframe_rate.num > 0 && Fframe_rate.den > 0)
    av_dict_set(params.Ref(), "framerate",
                Format("%d/%d", Fframe_rate.num, Fframe_rate.den).c_str(), 0);
  if (Fframe_width > 0 && Fframe_height > 0)
    av_dict_set(params.Ref(), "video_size", Format("%dx%d", Fframe_width, Fframe_height).c_str(),
                0);
  if (Fframe_pix_fmt != AV_PIX_FMT_NONE)
    av_dict_set(params.Ref(), "pixel_format", av_get_pix_fmt_name(Fframe_pix_fmt), 0);
  if (Fvideo_channel != 0)
    av_dict_set_int(params.Ref(), "channel", Fvideo_channel, 0);
  if (!Fvideo_standard.empty())
    av_dict_set(params.Ref(), "standard", Fvideo_standard.c_str(), 0);
  if (Floop_input)
    av_dict_set(params.Ref(), "loop", "1", 0);

  // Forced decoders.
  const struct {
    const std::string &Name;
    AVMediaType Type;
  } forced[] = {{Fvideo_codec_name, AVMEDIA_TYPE_VIDEO},
                {Faudio_codec_name, AVMEDIA_TYPE_AUDIO},
                {Fsubtitle_codec_name, AVMEDIA_TYPE_SUBTITLE}};
  const AVCodec *decoders[3] = {nullptr, nullptr, nullptr};
  for (int k = 0; k < 3; ++k) {
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!FindCodecByName(forced[k].Name, forced[k].Type, id,
                         StreamTemplate(forced[k].Type)->strict_std_compliance, false))
      return false;
    if (id != AV_CODEC_ID_NONE)
      decoders[k] = DecoderByName(forced[k].Name);
  }
  ic->video_codec_id = decoders[0] ? decoders[0]->id : AV_CODEC_ID_NONE;
  ic->audio_codec_id = decoders[1] ? decoders[1]->id : AV_CODEC_ID_NONE;
  ic->subtitle_codec_id = decoders[2] ? decoders[2]->id : AV_CODEC_ID_NONE;
  ic->video_codec = decoders[0];
  ic->audio_codec = decoders[1];
  ic->subtitle_codec = decoders[2];
  ic->flags |= AVFMT_FLAG_NONBLOCK;
  if (Fpgmyuv_compatibility_hack)
    ic->video_codec_id = AV_CODEC_ID_PGMYUV;

  // FFOpenInput frees the context on failure.
  owner.release();
  int ret = FFOpenInput(&ic, FileNameToURL(AFileName), format, params.Ref());
  if (ret < 0) {
    FLastErrMsg = FormatLibraryError(AFileName, ret);
    return false;
  }
  owner.reset(ic);

  if (Fopt_programid != 0) {
    bool found = false;
    for (unsigned s = 0; s < ic->nb_streams; ++s)
      ic->streams[s]->discard = AVDISCARD_ALL;
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
      AVProgram *program = ic->programs[p];
      if (program->id != Fopt_programid) {
        program->discard = AVDISCARD_ALL;
        continue;
      }
      found = true;
      for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
        ic->streams[program->stream_index[k]]->discard = AVDISCARD_NONE;
    }
    if (!found) {
      FLastErrMsg = "Specified program id not found";
      return false;
    }
    Fopt_programid = 0;
  }

  {
    // Probing opens and closes decoders inside the libraries.
    TLibraryLockGuard lock;
    ret = avformat_find_stream_info(ic, nullptr);
  }
  if (ret < 0 && Fverbose >= 0) {
    FLastErrMsg = AFileName + ": could not find codec parameters";
    Log(llVerbose, FLastErrMsg);
    return false;
  }

  int64_t timestamp = Fstart_time;
  if (ic->start_time != AV_NOPTS_VALUE)
    timestamp += ic->start_time;
  if (Fstart_time != 0 && av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD) < 0 &&
      Fverbose > 0)
    GetLogger()->LogFmt(this, llVerbose, "%s: could not seek to position %0.3f", AFileName.c_str(),
                        static_cast<double>(timestamp) / AV_TIME_BASE);
  Fstart_time = 0;

  // Per stream: the decoder context and the forced decoder, kept only when the input is added.
  std::vector<CodecContextPtr> contexts;
  std::vector<const AVCodec *> codecs;
  for (unsigned s = 0; s < ic->nb_streams; ++s) {
    AVStream *st = ic->streams[s];
    const AVMediaType type = st->codecpar->codec_type;
    if (type < AVMEDIA_TYPE_UNKNOWN || type > AVMEDIA_TYPE_ATTACHMENT)
      Raise("invalid codec_type");
    const int kind = type == AVMEDIA_TYPE_VIDEO      ? 0
                     : type == AVMEDIA_TYPE_AUDIO    ? 1
                     : type == AVMEDIA_TYPE_SUBTITLE ? 2
                                                     : -1;
    const AVCodec *named = kind >= 0 ? decoders[kind] : nullptr;
    const AVCodec *decoder = named ? named : avcodec_find_decoder(st->codecpar->codec_id);
    CodecContextPtr dec(avcodec_alloc_context3(decoder));
    if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0)
      throw std::bad_alloc();
    dec->pkt_timebase = st->time_base;
    dec->thread_count = Fthread_count;

    switch (type) {
    case AVMEDIA_TYPE_VIDEO: {
      FOptions->ApplyCodecOptions(dec.get(), type,
                                  AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
      Fframe_height = dec->height;
      Fframe_width = dec->width;
      const AVRational sar =
          st->sample_aspect_ratio.num != 0 ? st->sample_aspect_ratio : dec->sample_aspect_ratio;
      float ratio = sar.den != 0 ? static_cast<float>(av_q2d(sar)) : 0.0f;
      if (static_cast<int64_t>(dec->width) * dec->height != 0) {
        const float shape = static_cast<float>(dec->width) / static_cast<float>(dec->height);
        ratio = ratio != 0 ? ratio * shape : shape;
      } else if (ratio == 0) {
        ratio = 4.0f / 3.0f;
      }
      Fframe_aspect_ratio = ratio;
      if (dec->pix_fmt == AV_PIX_FMT_NONE)
        dec->pix_fmt = AV_PIX_FMT_YUV420P;
      Fframe_pix_fmt = dec->pix_fmt;
      if (dec->lowres > 0) {
        Fframe_width >>= dec->lowres;
        Fframe_height >>= dec->lowres;
      }
      Fframe_rate = st->r_frame_rate;
      if (Fvideo_disable)
        st->discard = AVDISCARD_ALL;
      else if (Fvideo_discard != 0)
        st->discard = static_cast<AVDiscard>(Fvideo_discard);
      break;
    }
    case AVMEDIA_TYPE_AUDIO:
      FOptions->ApplyCodecOptions(dec.get(), type,
                                  AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
      Fchannel_layout = dec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                            ? static_cast<int64_t>(dec->ch_layout.u.mask)
                            : 0;
      Faudio_channels = dec->ch_layout.nb_channels;
      Faudio_sample_rate = dec->sample_rate;
      Faudio_sample_fmt = dec->sample_fmt;
      if (Faudio_disable)
        st->discard = AVDISCARD_ALL;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      if (Fsubtitle_disable)
        st->discard = AVDISCARD_ALL;
      break;
    default:
      break;
    }
    // Every stream has its entry, so that the entries stay in step with the stream indices.
    codecs.push_back(named);
    contexts.push_back(std::move(dec));
  }

  if (ic->duration != AV_NOPTS_VALUE && ic->duration > FTotalOutputDuration)
    FTotalOutputDuration = ic->duration;

  Finput_files_ts_offset.push_back(Finput_ts_offset - (Fcopy_ts ? 0 : timestamp));
  if (Fverbose >= 0)
    av_dump_format(ic, Fnb_input_files, AFileName.c_str(), 0);
  Finput_files.push_back(std::move(owner));
  for (size_t i = 0; i < contexts.size(); ++i) {
    Finput_codecs.push_back(codecs[i]);
    Finput_codec_contexts.push_back(std::move(contexts[i]));
  }
  Fnb_icodecs = static_cast<int>(Finput_codecs.size());
  ++Fnb_input_files;
  return true;
}

void TCustomFFmpeg::check_audio_video_sub_inputs(bool &AHasVideo, bool &AHasAudio, bool AFirstOnly,
                                                 bool &AHasSubtitle) {
  bool video = false, audio = false, subtitle = false;
  const int files = AFirstOnly ? std::min(1, Fnb_input_files) : Fnb_input_files;
  for (int f = 0; f < files; ++f) {
    const AVFormatContext *ic = Finput_files[f].get();
    for (unsigned s = 0; s < ic->nb_streams; ++s) {
      switch (ic->streams[s]->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        video = true;
        break;
      case AVMEDIA_TYPE_AUDIO:
        audio = true;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        subtitle = true;
        break;
      case AVMEDIA_TYPE_UNKNOWN:
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT:
        break;
      default:
        Raise("invalid codec_type of input file");
      }
    }
  }
  AHasVideo = AHasVideo && video;
  AHasAudio = AHasAudio && audio;
  AHasSubtitle = AHasSubtitle && subtitle;
}

// ---------------------------------------------------------------------------------------------
// Outputs

int TCustomFFmpeg::OpenOutputFile(const std::string &AFileName, bool AJoinMode) {
  if (FJoinMode || (AJoinMode && Fnb_input_files > 1 && !Foutput_files.empty())) {
    FLastErrMsg = "Cannot join more than one output file.";
    return -1;
  }
  if (static_cast<int>(Foutput_files.size()) >= FMaxFiles) {
    FLastErrMsg = Format("max output files %d reached", FMaxFiles);
    return -1;
  }
  if (!FOptions)
    FOptions = std::make_unique<TFFOptions>(Fsws_flags);
  FEnableFilter = !Fvfilters.empty();
  AVFormatContext *oc = avformat_alloc_context();
  if (oc == nullptr)
    Raise("avformat_alloc_context failed");
  OutputFormatContextPtr owner(oc);
  oc->interrupt_callback = AVIOInterruptCB{OutputInterruptCallback, this};

  const AVOutputFormat *format = nullptr;
  if (!Flast_asked_format.empty()) {
    if (Flast_asked_format.find('\0') == std::string::npos)
      format = av_guess_format(Flast_asked_format.c_str(), nullptr, nullptr);
    if (format == nullptr) {
      FLastErrMsg = Format("Requested output format '%s' is not a suitable output format",
                           Flast_asked_format.c_str());
      return -1;
    }
    Flast_asked_format.clear();
  } else {
    if (AFileName.find('\0') == std::string::npos)
      format = av_guess_format(nullptr, AFileName.c_str(), nullptr);
    if (format == nullptr) {
      FLastErrMsg = Format("Unable to find a suitable output format for '%s'", AFileName.c_str());
      return -1;
    }
  }
  oc->oformat = format;
  oc->url = av_strdup(FileNameToURL(AFileName).c_str());
  if (oc->url == nullptr)
    throw std::bad_alloc();

  // The output joins the list now, so that new_*_stream find its stream list; a failure takes
  // it out again and removes a file it created.
  Foutput_files.push_back(std::move(owner));
  Foutput_identity.emplace_back(0, 0);
  Foutput_streams.emplace_back();
  const int savedOcodecs = Fnb_ocodecs;
  bool fileCreated = false;
  const auto fail = [&](const std::string &AMessage) {
    FLastErrMsg = AMessage;
    const std::string local = fileCreated ? LocalFileOf(oc) : std::string();
    Foutput_streams.pop_back();
    Foutput_files.pop_back();
    Foutput_identity.pop_back();
    Fnb_ocodecs = savedOcodecs;
    if (!local.empty())
      ::unlink(local.c_str());
    return -1;
  };

  try {
    if (std::strcmp(format->name, "ffm") == 0 && AFileName.compare(0, 5, "http:") == 0) {
      const int ret = ReadFeedStreams(oc, AFileName);
      if (ret < 0)
        return fail(FormatLibraryError(AFileName, ret));
    } else {
      bool video = Fvideo_stream_copy || !Fvideo_codec_name.empty() ||
                   format->video_codec != AV_CODEC_ID_NONE;
      bool audio = Faudio_stream_copy || !Faudio_codec_name.empty() ||
                   format->audio_codec != AV_CODEC_ID_NONE;
      bool subtitle = Fsubtitle_stream_copy || !Fsubtitle_codec_name.empty() ||
                      format->subtitle_codec != AV_CODEC_ID_NONE;
      if (Fnb_input_files > 0) {
        try {
          check_audio_video_sub_inputs(video, audio, AJoinMode, subtitle);
        } catch (const std::exception &e) {
          return fail(std::string("check_audio_video_sub_inputs fail: ") + e.what());
        }
      }
      video = video && !Fvideo_disable;
      audio = audio && !Faudio_disable;
      subtitle = subtitle && !Fsubtitle_disable;
      const struct {
        bool Wanted;
        void (TCustomFFmpeg::*Add)(AVFormatContext *);
        const char *Name;
      } kinds[] = {{video, &TCustomFFmpeg::new_video_stream, "new_video_stream"},
                   {audio, &TCustomFFmpeg::new_audio_stream, "new_audio_stream"},
                   {subtitle, &TCustomFFmpeg::new_subtitle_stream, "new_subtitle_stream"}};
      for (const auto &k : kinds) {
        if (!k.Wanted)
          continue;
        try {
          (this->*k.Add)(oc);
        } catch (const std::exception &e) {
          return fail(std::string(k.Name) + " fail: " + e.what());
        }
      }
      if (Frecording_timestamp != 0) {
        const time_t t = static_cast<time_t>(Frecording_timestamp);
        struct tm utc {};
        char text[64];
        if (gmtime_r(&t, &utc) != nullptr &&
            std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S.000000Z", &utc) > 0)
          av_dict_set(&oc->metadata, "creation_time", text, 0);
      }
      // Last pair first, each replacing an earlier value of its key.
      for (auto it = Fmetadata.rbegin(); it != Fmetadata.rend(); ++it)
        av_dict_set(&oc->metadata, it->first.c_str(), it->second.c_str(), 0);
      Fmetadata.clear();
    }

    if (NeedsNumber(format) && av_filename_number_test(AFileName.c_str()) == 0)
      return fail(FormatLibraryError(AFileName, AVERROR(EDOM)));

    if (!(format->flags & AVFMT_NOFILE)) {
      const int ret = FFOpenOutputIO(oc, oc->url, nullptr);
      if (ret < 0)
        return fail(FormatLibraryError(AFileName, ret));
      fileCreated = true;
      struct stat st {};
      if (::stat(LocalFileOf(oc).c_str(), &st) == 0)
        Foutput_identity.back() = {static_cast<uint64_t>(st.st_dev),
                                   static_cast<uint64_t>(st.st_ino)};
    }
  } catch (...) {
    fail(std::string());
    throw;
  }

  oc->max_delay = static_cast<int>(std::min<int64_t>(MuxMaxDelay_us(), INT_MAX));
  oc->flags |= AVFMT_FLAG_NONBLOCK;
  FOptions->ApplyFormatOptions(oc, AV_OPT_FLAG_ENCODING_PARAM);
  Fstreamid_map.fill(0);

  if (AJoinMode && Fnb_input_files > 1) {
    FJoinMode = true;
    int64_t total = 0;
    for (const InputFormatContextPtr &input : Finput_files)
      if (input->duration != AV_NOPTS_VALUE && input->duration > 0)
        total += input->duration;
    FTotalOutputDuration = total != 0 ? total : -1;
    Fnb_output_files = Fnb_input_files;
  } else {
    ++Fnb_output_files;
  }
  return Fnb_output_files;
}

void TCustomFFmpeg::SetupNewStream(AVFormatContext *AOutput, AVMediaType AType,
                                   TOutputStreamSetup *&ASetup, AVStream *&AStream) {
  size_t file = 0;
  while (file < Foutput_files.size() && Foutput_files[file].get() != AOutput)
    ++file;
  if (file == Foutput_files.size())
    Raise("Could not alloc stream");
  auto setup = std::make_unique<TOutputStreamSetup>();
  setup->codec.reset(avcodec_alloc_context3(nullptr));
  AVStream *st = setup->codec ? avformat_new_stream(AOutput, nullptr) : nullptr;
  if (st == nullptr)
    Raise("Could not alloc stream");
  if (st->index < MAX_STREAMS)
    st->id = Fstreamid_map[st->index];
  setup->codec->codec_type = AType;
  auto &chain = AType == AVMEDIA_TYPE_VIDEO   ? Fvideo_bitstream_filters
                : AType == AVMEDIA_TYPE_AUDIO ? Faudio_bitstream_filters
                                              : Fsubtitle_bitstream_filters;
  setup->bitstream_filters = std::move(chain);
  chain.clear();
  ASetup = setup.get();
  AStream = st;
  Foutput_streams[file].push_back(std::move(setup));
}

void TCustomFFmpeg::new_video_stream(AVFormatContext *AOutput) {
  TOutputStreamSetup *setup = nullptr;
  AVStream *st = nullptr;
  try {
    SetupNewStream(AOutput, AVMEDIA_TYPE_VIDEO, setup, st);
  } catch (...) {
    Fvideo_codec_name.clear();
    throw;
  }
  const AVOutputFormat *format = AOutput->oformat;
  AVCodecContext *tmpl = StreamTemplate(AVMEDIA_TYPE_VIDEO);
  const AVCodec *codec = nullptr;
  if (!Fvideo_stream_copy) {
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!Fvideo_codec_name.empty()) {
      if (!FindCodecByName(Fvideo_codec_name, AVMEDIA_TYPE_VIDEO, id, tmpl->strict_std_compliance,
                           true))
        Raise(FLastErrMsg);
      codec = EncoderByName(Fvideo_codec_name);
      setup->encoder = codec;
    } else {
      id = av_guess_codec(format, nullptr, AOutput->url, nullptr, AVMEDIA_TYPE_VIDEO);
      codec = avcodec_find_encoder(id);
    }
    setup->codec.reset(avcodec_alloc_context3(codec));
    if (!setup->codec)
      throw std::bad_alloc();
    setup->codec->codec_type = AVMEDIA_TYPE_VIDEO;
    setup->codec->codec_id = id;
  }
  AVCodecContext *c = setup->codec.get();
  c->thread_count = Fthread_count;
  if (Fvideo_codec_tag != 0)
    c->codec_tag = Fvideo_codec_tag;
  if ((Fvideo_global_header & 1) ||
      (Fvideo_global_header == 0 && (format->flags & AVFMT_GLOBALHEADER))) {
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    tmpl->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (Fvideo_global_header & 2) {
    c->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    tmpl->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  }

  if (Fvideo_stream_copy) {
    setup->stream_copy = true;
    st->sample_aspect_ratio = c->sample_aspect_ratio =
        SampleAspectOf(Fframe_aspect_ratio, Fframe_width, Fframe_height);
  } else {
    AVRational rate =
        Fframe_rate.num != 0 && Fframe_rate.den != 0 ? Fframe_rate : AVRational{25, 1};
    FOptions->ApplyCodecOptions(c, AVMEDIA_TYPE_VIDEO,
                                AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    if (codec != nullptr && codec->supported_framerates != nullptr && !Fforce_fps) {
      const AVRational chosen =
          codec->supported_framerates[av_find_nearest_q_idx(rate, codec->supported_framerates)];
      if (av_cmp_q(chosen, rate) != 0)
        GetLogger()->LogFmt(this, llWarning,
                            "Frame rate %d/%d unsupported by %s, using closest supported (%d/%d)",
                            rate.num, rate.den, codec->name, chosen.num, chosen.den);
      rate = chosen;
    }
    if (!Ftarget_rate_range.empty() && c->rc_min_rate > 0 && c->rc_max_rate >= c->rc_min_rate &&
        (c->bit_rate < c->rc_min_rate || c->bit_rate > c->rc_max_rate)) {
      const int64_t wanted = c->bit_rate;
      c->bit_rate = std::clamp(c->bit_rate, c->rc_min_rate, c->rc_max_rate);
      GetLogger()->LogFmt(this, llInfo,
                          "Video bit rate %" PRId64 " is outside the %s target's range %" PRId64
                          "-%" PRId64 ", using %" PRId64,
                          wanted, Ftarget_rate_range.c_str(), c->rc_min_rate, c->rc_max_rate,
                          c->bit_rate);
    }
    c->time_base = av_inv_q(rate);
    c->framerate = rate;
    st->avg_frame_rate = rate;
    c->width = Fframe_width;
    c->height = Fframe_height;
    st->sample_aspect_ratio = c->sample_aspect_ratio =
        SampleAspectOf(Fframe_aspect_ratio, Fframe_width, Fframe_height);
    c->pix_fmt = ChoosePixelFormat(codec, Fframe_pix_fmt, c->strict_std_compliance);
    if (Fintra_only)
      c->gop_size = 0;
    if (Fvideo_qscale != 0 || Fsame_quality) {
      c->flags |= AV_CODEC_FLAG_QSCALE;
      setup->quality = FF_QP2LAMBDA * Fvideo_qscale;
      c->global_quality = static_cast<int>(setup->quality);
    }
    if (Fintra_matrix)
      c->intra_matrix = MatrixCopy(*Fintra_matrix);
    if (Finter_matrix)
      c->inter_matrix = MatrixCopy(*Finter_matrix);
    if (!ParseRcOverride(Fvideo_rc_override_string, c))
      Raise("error parsing rc_override");
    if (c->rc_initial_buffer_occupancy == 0)
      c->rc_initial_buffer_occupancy = c->rc_buffer_size * 3 / 4;
    c->intra_dc_precision = Fintra_dc_precision - 8;
    if (Fdo_psnr)
      c->flags |= AV_CODEC_FLAG_PSNR;
    if (Fdo_pass == 1)
      c->flags |= AV_CODEC_FLAG_PASS1;
    else if (Fdo_pass == 2)
      c->flags |= AV_CODEC_FLAG_PASS2;
  }

  ++Fnb_ocodecs;
  if (!Fvideo_language.empty()) {
    av_dict_set(&st->metadata, "language", Fvideo_language.c_str(), 0);
    Fvideo_language.clear();
  }
  Fvideo_disable = false;
  Fvideo_codec_name.clear();
  Fvideo_stream_copy = 0;
  Fframe_pix_fmt = AV_PIX_FMT_NONE;
}

void TCustomFFmpeg::new_audio_stream(AVFormatContext *AOutput) {
  TOutputStreamSetup *setup = nullptr;
  AVStream *st = nullptr;
  try {
    SetupNewStream(AOutput, AVMEDIA_TYPE_AUDIO, setup, st);
  } catch (...) {
    Faudio_codec_name.clear();
    throw;
  }
  const AVOutputFormat *format = AOutput->oformat;
  AVCodecContext *tmpl = StreamTemplate(AVMEDIA_TYPE_AUDIO);
  const AVCodec *codec = nullptr;
  if (!Faudio_stream_copy) {
    AVCodecID id = AV_CODEC_ID_NONE;
    if (!Faudio_codec_name.empty()) {
      if (!FindCodecByName(Faudio_codec_name, AVMEDIA_TYPE_AUDIO, id, tmpl->strict_std_compliance,
                           true))
        Raise(FLastErrMsg);
      codec = EncoderByName(Faudio_codec_name);
      setup->encoder = codec;
      setup->substituted_name = SubstitutedName(Faudio_codec_name);
      setup->use_amrnb = IsOwnAMRNBEncoder(Faudio_codec_name);
    } else {
      id = av_guess_codec(format, nullptr, AOutput->url, nullptr, AVMEDIA_TYPE_AUDIO);
      codec = avcodec_find_encoder(id);
      // The format's own AMR-NB has no library encoder here either.
      if (codec == nullptr && id == AV_CODEC_ID_AMR_NB && IsOwnAMRNBEncoder(AMRNBName)) {
        setup->use_amrnb = true;
        setup->substituted_name = AMRNBName;
      }
    }
    setup->codec.reset(avcodec_alloc_context3(codec));
    if (!setup->codec)
      throw std::bad_alloc();
    setup->codec->codec_type = AVMEDIA_TYPE_AUDIO;
    setup->codec->codec_id = id;
  }
  AVCodecContext *c = setup->codec.get();
  c->thread_count = Fthread_count;
  if (Faudio_codec_tag != 0)
    c->codec_tag = Faudio_codec_tag;
  if (format->flags & AVFMT_GLOBALHEADER) {
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    tmpl->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }

  int rate = Faudio_sample_rate > 0 ? Faudio_sample_rate : 44100;
  if (Faudio_stream_copy) {
    setup->stream_copy = true;
    av_channel_layout_default(&c->ch_layout, Faudio_channels);
    c->sample_rate = rate;
  } else {
    FOptions->ApplyCodecOptions(c, AVMEDIA_TYPE_AUDIO,
                                AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    if (Faudio_qscale > -99999) {
      c->flags |= AV_CODEC_FLAG_QSCALE;
      setup->quality = FF_QP2LAMBDA * Faudio_qscale;
      c->global_quality = static_cast<int>(setup->quality);
    }
    int chosen;
    if (setup->use_amrnb) {
      // The only sound the AMR-NB encoder takes.
      av_channel_layout_uninit(&c->ch_layout);
      c->ch_layout = AV_CHANNEL_LAYOUT_MONO;
      c->sample_fmt = TAMRNBEncoder::SampleFormat;
      chosen = TAMRNBEncoder::SampleRate;
    } else {
      ChooseChannelLayout(codec, Fchannel_layout, Faudio_channels, c->ch_layout);
      c->sample_fmt = ChooseSampleFormat(codec, Faudio_sample_fmt);
      chosen = ChooseSampleRate(codec, rate);
    }
    if (chosen != rate)
      GetLogger()->LogFmt(this, llWarning,
                          "Requested sampling rate unsupported using closest supported (%d)",
                          chosen);
    // The time base follows the rate actually encoded: sample counts are its ticks.
    rate = chosen;
    c->sample_rate = rate;
  }
  c->time_base = AVRational{1, rate};

  ++Fnb_ocodecs;
  if (!Faudio_language.empty()) {
    av_dict_set(&st->metadata, "language", Faudio_language.c_str(), 0);
    Faudio_language.clear();
  }
  Faudio_disable = false;
  Faudio_codec_name.clear();
  Faudio_stream_copy = 0;
}

void TCustomFFmpeg::new_subtitle_stream(AVFormatContext *AOutput) {
  TOutputStreamSetup *setup = nullptr;
  AVStream *st = nullptr;
  try {
    SetupNewStream(AOutput, AVMEDIA_TYPE_SUBTITLE, setup, st);
  } catch (...) {
    Fsubtitle_codec_name.clear();
    throw;
  }
  if (Fsubtitle_stream_copy) {
    setup->stream_copy = true;
  } else {
    AVCodecID id = AV_CODEC_ID_NONE;
    const AVCodec *codec = nullptr;
    if (!Fsubtitle_codec_name.empty()) {
      if (!FindCodecByName(Fsubtitle_codec_name, AVMEDIA_TYPE_SUBTITLE, id,
                           StreamTemplate(AVMEDIA_TYPE_SUBTITLE)->strict_std_compliance, true))
        Raise(FLastErrMsg);
      codec = EncoderByName(Fsubtitle_codec_name);
      setup->encoder = codec;
    } else {
      // Without a name the format's own subtitle codec, as for video and audio: today's muxers
      // name one, and a stream with no codec at all could never be encoded.
      id = av_guess_codec(AOutput->oformat, nullptr, AOutput->url, nullptr, AVMEDIA_TYPE_SUBTITLE);
      codec = avcodec_find_encoder(id);
    }
    setup->codec.reset(avcodec_alloc_context3(codec));
    if (!setup->codec)
      throw std::bad_alloc();
    setup->codec->codec_type = AVMEDIA_TYPE_SUBTITLE;
    setup->codec->codec_id = id;
    // Subtitle times travel in microseconds.
    setup->codec->time_base = AV_TIME_BASE_Q;
    FOptions->ApplyCodecOptions(setup->codec.get(), AVMEDIA_TYPE_SUBTITLE,
                                AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
  }
  if (Fsubtitle_codec_tag != 0)
    setup->codec->codec_tag = Fsubtitle_codec_tag;

  ++Fnb_ocodecs;
  if (!Fsubtitle_language.empty()) {
    av_dict_set(&st->metadata, "language", Fsubtitle_language.c_str(), 0);
    Fsubtitle_language.clear();
  }
  Fsubtitle_disable = false;
  Fsubtitle_codec_name.clear();
  Fsubtitle_stream_copy = 0;
}

int TCustomFFmpeg::ReadFeedStreams(AVFormatContext *AOutput, const std::string &AFileName) {
  AVFormatContext *ic = avformat_alloc_context();
  if (ic == nullptr)
    return AVERROR(ENOMEM);
  ic->interrupt_callback = AVIOInterruptCB{InterruptCallback, this};
  TDictionary options;
  av_dict_set(options.Ref(), "probesize", "4096", 0);
  const int ret = FFOpenInput(&ic, FileNameToURL(AFileName), nullptr, options.Ref());
  if (ret < 0)
    return ret;
  InputFormatContextPtr feed(ic);
  bool bitexact = false;
  for (unsigned s = 0; s < ic->nb_streams; ++s) {
    const AVStream *in = ic->streams[s];
    TOutputStreamSetup *setup = nullptr;
    AVStream *st = nullptr;
    SetupNewStream(AOutput, in->codecpar->codec_type, setup, st);
    AVCodecContext *c = setup->codec.get();
    if (avcodec_parameters_to_context(c, in->codecpar) < 0 ||
        avcodec_parameters_copy(st->codecpar, in->codecpar) < 0)
      Raise("avcodec_alloc_context failed");
    st->time_base = in->time_base;
    if (c->codec_type == AVMEDIA_TYPE_AUDIO) {
      if (Faudio_stream_copy)
        setup->stream_copy = true;
      else
        c->sample_fmt = ChooseSampleFormat(avcodec_find_encoder(c->codec_id), c->sample_fmt);
    } else if (c->codec_type == AVMEDIA_TYPE_VIDEO) {
      if (Fvideo_stream_copy)
        setup->stream_copy = true;
      else
        c->pix_fmt = ChoosePixelFormat(avcodec_find_encoder(c->codec_id), c->pix_fmt,
                                       c->strict_std_compliance);
    }
    c->thread_count = std::max(1, c->thread_count);
    bitexact = bitexact || (c->flags & AV_CODEC_FLAG_BITEXACT);
    ++Fnb_ocodecs;
  }
  if (!bitexact)
    av_dict_set(&AOutput->metadata, "creation_time", "now", 0);
  return 0;
}

// ---------------------------------------------------------------------------------------------

std::string TCustomFFmpeg::MissingOutputFile(size_t AIndex) const {
  if (AIndex >= Foutput_identity.size() ||
      Foutput_identity[AIndex] == std::pair<uint64_t, uint64_t>{0, 0})
    return std::string();
  const std::string local = LocalFileOf(Foutput_files[AIndex].get());
  struct stat st {};
  if (local.empty())
    return std::string();
  if (::stat(local.c_str(), &st) == 0 &&
      Foutput_identity[AIndex] == std::pair<uint64_t, uint64_t>{st.st_dev, st.st_ino})
    return std::string();
  return local;
}

void TCustomFFmpeg::CloseFiles() {
  if (!FFLoader().Loaded(TaskListLibraries))
    return;
  CloseFilesNow();
}

void TCustomFFmpeg::CloseFilesNow() {
  FOptions.reset();
  // The run's records borrow from the files.
  FreeRunTables();
  Foutput_streams.clear();
  for (size_t i = 0; i < Foutput_files.size(); ++i) {
    const std::string local = LocalFileOf(Foutput_files[i].get());
    const bool partial =
        (FDeletePartialOutputs && !(i < Foutput_finished.size() && Foutput_finished[i])) ||
        (FBroken && i < Foutput_written.size() && !Foutput_written[i]);
    // Only the file this task made: another one may have taken its name meanwhile.
    const bool ours = MissingOutputFile(i).empty();
    // Closed first, so that the size on disk is final.
    Foutput_files[i].reset();
    struct stat st {};
    if (!local.empty() && ours && ::stat(local.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        (partial || st.st_size == 0))
      ::unlink(local.c_str());
  }
  Foutput_files.clear();
  Foutput_identity.clear();
  Foutput_started.clear();
  Foutput_finished.clear();
  Foutput_written.clear();
  Fnb_output_files = 0;
  Fnb_ocodecs = 0;
  FJoinMode = false;
  FDeletePartialOutputs = false;
  Finput_codec_contexts.clear();
  Finput_codecs.clear();
  Fnb_icodecs = 0;
  Finput_files.clear();
  Finput_files_ts_offset.clear();
  Fnb_input_files = 0;
  Fintra_matrix.reset();
  Finter_matrix.reset();
  Fvstats_filename.clear();
  Fvideo_codec_name.clear();
  Faudio_codec_name.clear();
  Fsubtitle_codec_name.clear();
  Fvideo_standard.clear();
  Fvideo_rc_override_string.clear();
  Fvideo_language.clear();
  Faudio_language.clear();
  Fsubtitle_language.clear();
  Fsubtitle_codec_tag = 0;
  ReleaseFrameHooks(&FFirstHook);
  FHookContext.Context.ResetRGBContext();
  FHookBuf.reset();
  ResetPostHooks();
}
