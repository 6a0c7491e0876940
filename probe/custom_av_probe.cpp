#include "custom_av_probe.h"

#include "ff_error.h"
#include "ff_logger.h"
#include "ff_utils.h"
#include "ffmpeg_loader.h"
#include "probe_text.h"
#include "unicode_protocol.h"

#include <cctype>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

extern "C" {
#include <libavutil/parseutils.h>
}

namespace {

const char *const FileNotLoaded = "file not loaded.";

std::string TagValue(const AVDictionary *AMetadata, const char *AKey) {
  const AVDictionaryEntry *e = av_dict_get(AMetadata, AKey, nullptr, 0);
  return e && e->value ? std::string(e->value) : std::string();
}

// The leading number of a tag such as "2010-05-01" or "3/12"; 0 when there is none.
int LeadingNumber(const std::string &AText) {
  size_t i = 0;
  while (i < AText.size() && std::isspace(static_cast<unsigned char>(AText[i])))
    ++i;
  long v = 0;
  for (; i < AText.size() && std::isdigit(static_cast<unsigned char>(AText[i])) && v < 100000000;
       ++i)
    v = v * 10 + (AText[i] - '0');
  return static_cast<int>(v);
}

int64_t ScaledTime(int64_t ATime, AVRational ATimeBase) {
  return ATime == AV_NOPTS_VALUE ? -1 : av_rescale_q(ATime, ATimeBase, AVRational{1, 1000000});
}

} // namespace

TCustomAVProbe::TCustomAVProbe(void *AOwner) : TFFBaseComponent(AOwner) {}

TCustomAVProbe::~TCustomAVProbe() {
  TCustomAVProbe::CloseFile();
}

bool TCustomAVProbe::AVLibLoaded() const {
  return FFLoader().Loaded(ProbeLibraries);
}

bool TCustomAVProbe::LoadAVLib(const std::string &APath) {
  FFLoader().SetLibraryPath(APath);
  if (FFLoader().Load(ProbeLibraries))
    return true;
  FLastErrMsg = FFLoader().LastErrMsg();
  return false;
}

void TCustomAVProbe::UnloadAVLib() {
  FFLoader().Unload(ProbeLibraries);
}

void TCustomAVProbe::CheckLibraries() const {
  static const struct {
    TLibrary Lib;
    const char *Msg;
  } checks[] = {{avCodec, "LibAVCodec not loaded."},
                {avFormat, "LibAVFormat not loaded."},
                {avUtil, "LibAVUtil not loaded."},
                {swScale, "LibSwScale not loaded."}};
  for (const auto &c : checks)
    if (!FFLoader().Loaded(c.Lib))
      throw EAVProbeError(c.Msg);
}

void TCustomAVProbe::ReportError(int ALibraryLevel, const std::string &AMsg) {
  GetLogger()->Log(this, LogLevelFromLibrary(ALibraryLevel), AMsg);
  FLastErrMsg = AMsg;
}

bool TCustomAVProbe::CheckFileLoaded() {
  if (FFileHandle != nullptr)
    return true;
  ReportError(AV_LOG_WARNING, FileNotLoaded);
  return false;
}

void TCustomAVProbe::StartDeadline() {
  FDeadline = std::chrono::steady_clock::now() + FTimeout;
}

bool TCustomAVProbe::DeadlinePassed() const {
  return std::chrono::steady_clock::now() > FDeadline;
}

int TCustomAVProbe::InterruptCallback(void *AOpaque) {
  return static_cast<TCustomAVProbe *>(AOpaque)->DeadlinePassed() ? 1 : 0;
}

bool TCustomAVProbe::LoadFile(const std::string &AFileName, const std::string &AFormatName) {
  CheckLibraries();
  CloseFile();
  const AVInputFormat *format = nullptr;
  if (!AFormatName.empty()) {
    format = av_find_input_format(AFormatName.c_str());
    if (format == nullptr) {
      FLastErrMsg = "Unknown input format: " + AFormatName;
      return false;
    }
  }
  AVFormatContext *ctx = avformat_alloc_context();
  if (ctx == nullptr) {
    ReportError(AV_LOG_ERROR, FormatLibraryError(AFileName, AVERROR(ENOMEM)));
    return false;
  }
  // A damaged or endless input must not hold the caller (the window adds files on its thread).
  ctx->interrupt_callback = AVIOInterruptCB{InterruptCallback, this};
  StartDeadline();
  const int ret = FFOpenInput(&ctx, FileNameToURL(AFileName), format, nullptr);
  if (ret < 0) {
    ReportError(AV_LOG_ERROR, FormatLibraryError(AFileName, ret));
    CloseFile();
    return false;
  }
  FOwnedContext.reset(ctx);
  FFileHandle = ctx;
  FOwnHandle = true;
  int probed;
  {
    // Probing opens and closes decoders inside the libraries.
    TLibraryLockGuard lock;
    probed = avformat_find_stream_info(ctx, nullptr);
  }
  if (probed < 0) {
    FLastErrMsg = AFileName + ": could not find codec parameters";
    CloseFile();
    return false;
  }
  RefreshInfo();
  FForceFormat = AFormatName;
  return true;
}

void TCustomAVProbe::BindFileHandle(AVFormatContext *AContext) {
  CheckLibraries();
  CloseFile();
  FFileHandle = AContext;
  FOwnHandle = false;
  RefreshInfo();
}

void TCustomAVProbe::CloseFile() {
  FForceFormat.clear();
  FOwnedContext.reset();
  FFileHandle = nullptr;
  FOwnHandle = false;
  RefreshInfo();
}

void TCustomAVProbe::RefreshInfo() {
  FFileSize = -1;
  FStreamCount = FProgramCount = -1;
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
  FFirstAudioStreamIndex = FFirstVideoStreamIndex = FFirstSubtitleStreamIndex = -1;
  if (FFileHandle == nullptr)
    return;
  AVFormatContext *ctx = FFileHandle;
  const int64_t ioSize = ctx->pb ? avio_size(ctx->pb) : -1;
  if (ioSize > 0) {
    FFileSize = ioSize;
  } else {
    struct stat st;
    const std::string name = ctx->url ? URLToFileName(ctx->url) : std::string();
    if (!name.empty() && stat(name.c_str(), &st) == 0)
      FFileSize = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
    else
      FFileSize = ioSize < 0 ? -1 : ioSize;
  }
  FStreamCount = static_cast<int>(ctx->nb_streams);
  FProgramCount = static_cast<int>(ctx->nb_programs);
  FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
  for (int i = 0; i < FStreamCount; ++i) {
    switch (ctx->streams[i]->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
      if (FAudioStreamCount++ == 0)
        FFirstAudioStreamIndex = i;
      break;
    case AVMEDIA_TYPE_VIDEO:
      if (FVideoStreamCount++ == 0)
        FFirstVideoStreamIndex = i;
      break;
    case AVMEDIA_TYPE_SUBTITLE:
      if (FSubtitleStreamCount++ == 0)
        FFirstSubtitleStreamIndex = i;
      break;
    default:
      break;
    }
  }
}

std::string TCustomAVProbe::FileName() {
  if (!CheckFileLoaded())
    return "";
  return FFileHandle->url ? URLToFileName(FFileHandle->url) : std::string();
}

std::string TCustomAVProbe::FormatName() {
  if (!CheckFileLoaded())
    return "";
  const AVInputFormat *f = FFileHandle->iformat;
  return f && f->name ? f->name : "";
}

std::string TCustomAVProbe::FormatLongName() {
  if (!CheckFileLoaded())
    return "";
  const AVInputFormat *f = FFileHandle->iformat;
  return f && f->long_name ? f->long_name : "";
}

TFileStreamInfo TCustomAVProbe::FileStreamInfo() {
  TFileStreamInfo info;
  if (!CheckFileLoaded())
    return info;
  const AVFormatContext *ctx = FFileHandle;
  const AVDictionary *m = ctx->metadata;
  info.StartTime = ctx->start_time == AV_NOPTS_VALUE ? -1 : ctx->start_time;
  info.Duration = ctx->duration == AV_NOPTS_VALUE ? -1 : ctx->duration;
  info.BitRate = ctx->bit_rate;
  info.TimeStamp = 0;
  const std::string created = TagValue(m, "creation_time");
  int64_t created_us = 0;
  if (!created.empty() && av_parse_time(&created_us, created.c_str(), 0) == 0 && created_us > 0)
    info.TimeStamp = created_us / 1000000;
  std::string year = TagValue(m, "year");
  if (year.empty())
    year = TagValue(m, "date");
  info.Year = LeadingNumber(year);
  info.Track = LeadingNumber(TagValue(m, "track"));
  info.Title = TagValue(m, "title");
  info.Author = TagValue(m, "author");
  info.Copyright = TagValue(m, "copyright");
  info.Comment = TagValue(m, "comment");
  info.Album = TagValue(m, "album");
  info.Genre = TagValue(m, "genre");
  return info;
}

AVStream *TCustomAVProbe::StreamAt(int AStreamIndex) {
  AVStream *st = FFileHandle->streams[AStreamIndex];
  if (st->time_base.den == 0)
    st->time_base.den = st->time_base.num != 0 ? st->time_base.num : 1;
  return st;
}

int TCustomAVProbe::StreamIndexOfKind(int AStreamIndex, AVMediaType AType, const char *AKindName,
                                      int AFirstIndex) {
  if (!CheckFileLoaded())
    return -1;
  int index = AStreamIndex;
  if (index < 0) {
    index = AFirstIndex;
    if (index < 0) {
      ReportError(AV_LOG_ERROR, Format("no %s stream.", AKindName));
      return -1;
    }
  }
  if (index >= FStreamCount || index >= static_cast<int>(FFileHandle->nb_streams)) {
    ReportError(AV_LOG_ERROR, Format("stream index #%d is invalid.", index));
    return -1;
  }
  if (FFileHandle->streams[index]->codecpar->codec_type != AType) {
    ReportError(AV_LOG_ERROR, Format("stream #%d is not %s stream.", index, AKindName));
    return -1;
  }
  return index;
}

TAudioStreamInfo TCustomAVProbe::AudioStreamInfo(int AStreamIndex) {
  TAudioStreamInfo info;
  const int index =
      StreamIndexOfKind(AStreamIndex, AVMEDIA_TYPE_AUDIO, "audio", FFirstAudioStreamIndex);
  if (index < 0)
    return info;
  AVStream *st = StreamAt(index);
  const AVCodecParameters *par = st->codecpar;
  info.Language = TagValue(st->metadata, "language");
  info.CodecName = CodecDisplayName(par);
  info.StartTime = st->start_time;
  info.StartTimeScaled = ScaledTime(st->start_time, st->time_base);
  info.Duration = st->duration;
  info.DurationScaled = ScaledTime(st->duration, st->time_base);
  info.BitRate = par->bit_rate;
  info.Channels = par->ch_layout.nb_channels;
  info.SampleRate = par->sample_rate;
  info.SampleFormat = par->format;
  return info;
}

TVideoStreamInfo TCustomAVProbe::VideoStreamInfo(int AStreamIndex) {
  TVideoStreamInfo info;
  const int index =
      StreamIndexOfKind(AStreamIndex, AVMEDIA_TYPE_VIDEO, "video", FFirstVideoStreamIndex);
  if (index < 0)
    return info;
  AVStream *st = StreamAt(index);
  const AVCodecParameters *par = st->codecpar;
  info.Language = TagValue(st->metadata, "language");
  info.CodecName = CodecDisplayName(par);
  info.StartTime = st->start_time;
  info.StartTimeScaled = ScaledTime(st->start_time, st->time_base);
  info.Duration = st->duration;
  info.DurationScaled = ScaledTime(st->duration, st->time_base);
  info.BitRate = par->bit_rate;
  info.Height = par->height;
  info.Width = par->width;
  const AVRational sar = par->sample_aspect_ratio;
  // An unknown ratio (0, or a zero denominator) or an empty picture gives 0.
  info.AspectRatio =
      sar.num == 0 || sar.den == 0 || par->height == 0
          ? 0.0f
          : static_cast<float>(par->width * (static_cast<double>(sar.num) / sar.den) / par->height);
  info.PixFmt = par->format;
  info.FrameRate = st->r_frame_rate;
  return info;
}

TSubtitleStreamInfo TCustomAVProbe::SubtitleStreamInfo(int AStreamIndex) {
  TSubtitleStreamInfo info;
  const int index =
      StreamIndexOfKind(AStreamIndex, AVMEDIA_TYPE_SUBTITLE, "subtitle", FFirstSubtitleStreamIndex);
  if (index < 0)
    return info;
  const AVStream *st = FFileHandle->streams[index];
  info.Language = TagValue(st->metadata, "language");
  info.CodecName = CodecDisplayName(st->codecpar);
  return info;
}

bool TCustomAVProbe::IsStreamOfKind(int AStreamIndex, AVMediaType AType) {
  if (!CheckFileLoaded())
    return false;
  if (AStreamIndex < 0 || AStreamIndex >= FStreamCount ||
      AStreamIndex >= static_cast<int>(FFileHandle->nb_streams)) {
    ReportError(AV_LOG_ERROR, Format("stream index #%d is invalid.", AStreamIndex));
    return false;
  }
  return FFileHandle->streams[AStreamIndex]->codecpar->codec_type == AType;
}

bool TCustomAVProbe::IsAudioStream(int AStreamIndex) {
  return IsStreamOfKind(AStreamIndex, AVMEDIA_TYPE_AUDIO);
}

bool TCustomAVProbe::IsVideoStream(int AStreamIndex) {
  return IsStreamOfKind(AStreamIndex, AVMEDIA_TYPE_VIDEO);
}

bool TCustomAVProbe::IsSubtitleStream(int AStreamIndex) {
  return IsStreamOfKind(AStreamIndex, AVMEDIA_TYPE_SUBTITLE);
}

std::string TCustomAVProbe::StreamLine(int AStreamIndex) {
  AVStream *st = StreamAt(AStreamIndex);
  const AVCodecParameters *par = st->codecpar;
  std::string line = Format("Stream #%d", AStreamIndex);
  if (FFileHandle->iformat && (FFileHandle->iformat->flags & AVFMT_SHOW_IDS))
    line += Format("[0x%x]", static_cast<unsigned>(st->id));
  const std::string language = TagValue(st->metadata, "language");
  if (!language.empty())
    line += "(" + language + ")";
  const AVRational tb = st->time_base;
  int g = static_cast<int>(av_gcd(tb.num, tb.den));
  if (g == 0)
    g = 1;
  line += Format(", %d/%d", tb.num / g, tb.den / g);

  char desc[256] = "";
  CodecContextPtr cc(avcodec_alloc_context3(nullptr));
  if (cc && avcodec_parameters_to_context(cc.get(), par) >= 0)
    avcodec_string(desc, sizeof(desc), cc.get(), 0);
  line += ": ";
  line += desc;

  const AVRational par_sar = st->sample_aspect_ratio;
  if (par_sar.num != 0 && av_cmp_q(par_sar, par->sample_aspect_ratio) != 0) {
    AVRational dar;
    av_reduce(&dar.num, &dar.den, static_cast<int64_t>(par->width) * par_sar.num,
              static_cast<int64_t>(par->height) * par_sar.den, 1024 * 1024);
    line += Format(", PAR %d:%d DAR %d:%d", par_sar.num, par_sar.den, dar.num, dar.den);
  }
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    const auto rate = [&line](AVRational r, const char *unit) {
      if (r.num != 0 && r.den != 0)
        line += RateText(av_q2d(r), unit);
    };
    rate(st->avg_frame_rate, "fps");
    rate(st->r_frame_rate, "tbr");
    rate(AVRational{tb.den, tb.num}, "tbn");
    // Today's streams carry no codec time base; a codec context filled from the stream's
    // parameters has none either, so "tbc" is left out.
  }
  if (st->start_time != AV_NOPTS_VALUE)
    line += ", StartTime: " + StartTimeText(ScaledTime(st->start_time, tb));
  line +=
      ", Duration: " + (st->duration != AV_NOPTS_VALUE ? DurationText(ScaledTime(st->duration, tb))
                                                       : std::string("N/A"));
  return line;
}

std::string TCustomAVProbe::FileInfoText() {
  if (!CheckFileLoaded())
    return "";
  const AVFormatContext *ctx = FFileHandle;
  std::vector<std::string> lines;
  lines.push_back("File Name: " + FileName());
  lines.push_back("Format Name: " + FormatName());
  lines.push_back("Format Long Name: " + FormatLongName());
  lines.push_back("File Size: " + SizeText(FFileSize));
  lines.push_back("Duration: " + (ctx->duration == AV_NOPTS_VALUE || ctx->duration < 0
                                      ? std::string("N/A")
                                      : DurationText(ctx->duration)));
  if (ctx->start_time != AV_NOPTS_VALUE && ctx->start_time >= 0)
    lines.push_back("StartTime: " + StartTimeText(ctx->start_time));
  lines.push_back(ctx->bit_rate < 1 ? std::string("Bit Rate: N/A")
                                    : Format("Bit Rate: %lld kb/s",
                                             static_cast<long long>(ctx->bit_rate / 1000)));
  const int64_t timeStamp = FileStreamInfo().TimeStamp;
  if (timeStamp > 0)
    lines.push_back("Time Stamp: " + TimeStampText(timeStamp));
  MetadataListing(ctx->metadata, "", lines);

  const int streams = static_cast<int>(ctx->nb_streams);
  std::vector<bool> listed(static_cast<size_t>(streams), false);
  for (unsigned p = 0; p < ctx->nb_programs; ++p) {
    const AVProgram *prog = ctx->programs[p];
    // Today's readers name these tags "service_provider" and "service_name".
    std::string provider = TagValue(prog->metadata, "provider_name");
    if (provider.empty())
      provider = TagValue(prog->metadata, "service_provider");
    std::string name = TagValue(prog->metadata, "name");
    if (name.empty())
      name = TagValue(prog->metadata, "service_name");
    lines.push_back(Format("Program %d %s@%s", prog->id,
                           provider.empty() ? "N/A" : provider.c_str(),
                           name.empty() ? "N/A" : name.c_str()));
    MetadataListing(prog->metadata, "  ", lines);
    for (unsigned k = 0; k < prog->nb_stream_indexes; ++k) {
      const int index = static_cast<int>(prog->stream_index[k]);
      if (index < 0 || index >= streams)
        continue;
      lines.push_back(StreamLine(index));
      MetadataListing(ctx->streams[index]->metadata, "  ", lines);
      listed[static_cast<size_t>(index)] = true;
    }
  }
  for (int i = 0; i < streams; ++i) {
    if (listed[static_cast<size_t>(i)])
      continue;
    lines.push_back(StreamLine(i));
    MetadataListing(ctx->streams[i]->metadata, "  ", lines);
  }

  std::string text;
  for (const std::string &l : lines)
    text += l + "\r\n";
  return text;
}
