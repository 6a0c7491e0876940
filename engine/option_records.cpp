#include "option_records.h"

#include "ff_error.h"
#include "ffmpeg_transcoder.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace {

bool OneOf(const std::string &AName, std::initializer_list<const char *> ANames) {
  for (const char *n : ANames)
    if (AName == n)
      return true;
  return false;
}

// A 64-bit number, or AV_NOPTS_VALUE when the text is none.
int64_t TimeValue(const std::string &AText) {
  try {
    return StrToInt64(AText);
  } catch (const EConvertError &) {
    return AV_NOPTS_VALUE;
  }
}

void AppendLine(std::string &AText, const TOptionLine &ALine) {
  AText += ALine.Name + "=" + ALine.Value + "\n";
}

} // namespace

void InitInputOptions(TInputOptions &AOptions) {
  AOptions = TInputOptions();
}

void InitOutputOptions(TOutputOptions &AOptions) {
  AOptions = TOutputOptions();
}

TInputOptions InputOptionsFromText(const std::string &AText) {
  TInputOptions r;
  InitInputOptions(r);
  for (const TOptionLine &line : SplitOptionText(AText)) {
    if (SameText(line.Name, "TimeStart"))
      r.TimeStart = TimeValue(line.Value);
    else
      AppendLine(r.ExtOptions, line);
  }
  return r;
}

TOutputOptions OutputOptionsFromText(const std::string &AText) {
  TOutputOptions r;
  InitOutputOptions(r);
  for (const TOptionLine &line : SplitOptionText(AText)) {
    if (SameText(line.Name, "Hook") || SameText(line.Name, "CustomHook"))
      r.CustomHook = true;
    else if (SameText(line.Name, "Join"))
      r.Join = true;
    else if (SameText(line.Name, "TimeStart"))
      r.TimeStart = TimeValue(line.Value);
    else if (SameText(line.Name, "TimeLength"))
      r.TimeLength = TimeValue(line.Value);
    else
      AppendLine(r.ExtOptions, line);
  }
  return r;
}

// ---------------------------------------------------------------------------------------------

std::string TDefaultsList::Value(const std::string &AName) const {
  for (const TOptionLine &l : FLines)
    if (SameText(l.Name, AName))
      return l.Value;
  return std::string();
}

void TDefaultsList::SetValue(const std::string &AName, const std::string &AValue) {
  for (auto it = FLines.begin(); it != FLines.end(); ++it)
    if (SameText(it->Name, AName)) {
      if (AValue.empty())
        FLines.erase(it);
      else
        it->Value = AValue;
      return;
    }
  if (!AValue.empty())
    FLines.push_back({AName, AValue});
}

void TDefaultsList::AddPending(const std::string &AName, const std::string &AValue) {
  FLines.push_back({AName, AValue});
}

bool TDefaultsList::TakeLine(const std::string &AName, std::string &AValue) {
  for (auto it = FLines.begin(); it != FLines.end(); ++it)
    if (it->Name == AName) {
      AValue = it->Value;
      FLines.erase(it);
      return true;
    }
  return false;
}

// ---------------------------------------------------------------------------------------------

void ApplyExtOptions(TCustomFFmpeg &ATask, const std::string &AText, bool AInputSide) {
  for (const TOptionLine &line : SplitOptionText(AText)) {
    const std::string name = LowerCaseText(line.Name);
    if (OneOf(name,
              {"newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"}))
      continue;
    if (!AInputSide && OneOf(name, {"acodec", "vcodec", "scodec", "s"}))
      continue;
    ATask.ParseOption(name, line.Value);
  }
}

void ApplyInputOptions(TCustomFFmpeg &ATask, TInputOptions &AOptions,
                       const std::string &AFileName) {
  if (AOptions.FileName.empty())
    AOptions.FileName = AFileName;
  ApplyExtOptions(ATask, AOptions.ExtOptions, true);
  ATask.SetFileFormat(AOptions.FileFormat);
  ATask.SetStartTime(AOptions.TimeStart);
  ATask.SetProgramID(AOptions.ProgramID);
}

void CollectStreamDefaults(const TOutputOptions &AOptions, TDefaultsList &ADefaults) {
  ADefaults.SetValue("def_acodec", AOptions.AudioCodec);
  ADefaults.SetValue("def_vcodec", AOptions.VideoCodec);
  ADefaults.SetValue("def_scodec", AOptions.SubtitleCodec);
  ADefaults.SetValue("def_apre", AOptions.AudioPreset);
  ADefaults.SetValue("def_vpre", AOptions.VideoPreset);
  ADefaults.SetValue("def_spre", AOptions.SubtitlePreset);
  ADefaults.SetValue("def_s", AOptions.FrameSize);
  ADefaults.SetValue("def_vf", AOptions.VideoFilters);
  for (const TOptionLine &line : SplitOptionText(AOptions.ExtOptions)) {
    std::string name = LowerCaseText(line.Name);
    if (line.Value.empty() ||
        !OneOf(name, {"acodec", "vcodec", "scodec", "apre", "vpre", "spre", "s", "vfilters", "vf"}))
      continue;
    if (name == "vfilters")
      name = "vf";
    if (ADefaults.Value("def_" + name).empty())
      ADefaults.SetValue("def_" + name, line.Value);
    ADefaults.AddPending(name, line.Value);
  }
}

bool RecordingTimestampOf(double ADateTime, int64_t &ASeconds) {
  if (ADateTime == 0) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const double seconds = std::chrono::duration<double>(now).count();
    ASeconds = static_cast<int64_t>(std::nearbyint(seconds));
    return true;
  }
  // Days 1 to 2958465 are the years up to 9999.
  if (!(ADateTime > 0 && ADateTime < 2958466))
    return false;
  const double local = (ADateTime - 25569.0) * 86400.0; // wall-clock seconds, read as UTC
  const double whole = std::floor(local);
  const time_t wall = static_cast<time_t>(whole);
  struct tm tm {};
  if (gmtime_r(&wall, &tm) == nullptr)
    return false;
  // The zone's offset on that date, daylight saving included: a summer date converted with the
  // standard offset alone would be an hour off.
  tm.tm_isdst = -1;
  tzset();
  time_t utc = mktime(&tm);
  if (utc == static_cast<time_t>(-1))
    utc = wall + timezone;
  ASeconds = static_cast<int64_t>(std::nearbyint(static_cast<double>(utc) + (local - whole)));
  return true;
}

void ApplyOutputRecord(TCustomFFmpeg &ATask, const TOutputOptions &AOptions) {
  const TOutputOptions &o = AOptions;
  if (!o.FileFormat.empty())
    ATask.SetFileFormat(o.FileFormat);
  if (o.PacketSize > 0)
    ATask.SetCodecOptionInt("packetsize", o.PacketSize);
  if (o.MuxRate > 0)
    ATask.SetCodecOptionInt("muxrate", o.MuxRate);
  if (o.MuxDelay > 0)
    ATask.SetMuxMaxDelay(o.MuxDelay);
  if (o.MuxPreload > 0)
    ATask.SetMuxPreload(o.MuxPreload);
  if (o.DisableAudio)
    ATask.Faudio_disable = true;
  if (o.AudioVolume >= 0)
    ATask.SetAudioVolume(o.AudioVolume);
  if (o.AudioChannels > 0)
    ATask.SetAudioChannels(o.AudioChannels);
  if (o.AudioSampleRate > 0)
    ATask.SetAudioSampleRate(o.AudioSampleRate);
  if (o.AudioBitrate > 0)
    ATask.SetCodecOptionInt("ab", o.AudioBitrate);
  if (o.AudioBitRateTolerance > 0)
    ATask.SetCodecOptionInt("abt", o.AudioBitRateTolerance);
  ATask.Faudio_language = o.AudioLanguage;
  ATask.SetAudioSyncMethod(o.AudioSyncMethod);
  if (!o.AudioTag.empty())
    ATask.SetAudioTag(o.AudioTag);
  if (o.DisableVideo)
    ATask.Fvideo_disable = true;
  if (!o.FrameRate.empty())
    ATask.SetFrameRate(o.FrameRate);
  if (!o.FrameAspectRatio.empty())
    ATask.SetFrameAspectRatio(o.FrameAspectRatio);
  if (o.CropTop > 0)
    ATask.SetCropTop(o.CropTop);
  if (o.CropBottom > 0)
    ATask.SetCropBottom(o.CropBottom);
  if (o.CropLeft > 0)
    ATask.SetCropLeft(o.CropLeft);
  if (o.CropRight > 0)
    ATask.SetCropRight(o.CropRight);
  if (o.GroupPictureSize > 0)
    ATask.SetCodecOptionInt("g", o.GroupPictureSize);
  if (o.VideoBitrate > 0)
    ATask.SetCodecOptionInt("vb", o.VideoBitrate);
  if (o.VideoMaxRate > 0)
    ATask.SetCodecOptionInt("maxrate", o.VideoMaxRate);
  if (o.VideoMinRate > 0)
    ATask.SetCodecOptionInt("minrate", o.VideoMinRate);
  if (o.VideoBitRateTolerance > 0)
    ATask.SetCodecOptionInt("bt", o.VideoBitRateTolerance);
  if (o.VideoBufSize > 0)
    ATask.SetCodecOptionInt("bufsize", o.VideoBufSize);
  ATask.SetVideoSyncMethod(o.VideoSyncMethod);
  if (!o.VideoTag.empty())
    ATask.SetVideoTag(o.VideoTag);
  ATask.Fvideo_language = o.VideoLanguage;
  if (o.DisableSubtitle)
    ATask.Fsubtitle_disable = true;
  ATask.Fsubtitle_language = o.SubtitleLanguage;
  ATask.Finput_sync = o.InputSync;
  if (o.CopyTimestamp)
    ATask.Fcopy_ts = true;
  ATask.SetStartTime(o.TimeStart);
  ATask.SetRecordingTime(o.TimeLength);
  int64_t stamp = 0;
  if (o.Info.TimeStamp >= 0 && RecordingTimestampOf(o.Info.TimeStamp, stamp))
    ATask.Frecording_timestamp = stamp;
  if (o.Info.Year > 0)
    ATask.AddMetadata("year", std::to_string(o.Info.Year));
  if (o.Info.Track > 0)
    ATask.AddMetadata("track", std::to_string(o.Info.Track));
  const std::pair<const char *, const std::string *> texts[] = {
      {"title", &o.Info.Title},     {"author", &o.Info.Author}, {"copyright", &o.Info.Copyright},
      {"comment", &o.Info.Comment}, {"album", &o.Info.Album},   {"genre", &o.Info.Genre}};
  for (const auto &[key, value] : texts)
    if (!value->empty())
      ATask.AddMetadata(key, *value);
}

void PrepareOutput(TCustomFFmpeg &ATask, TOutputOptions &AOptions, TDefaultsList &ADefaults,
                   const std::string &AFileName) {
  if (AOptions.FileName.empty())
    AOptions.FileName = AFileName;
  CollectStreamDefaults(AOptions, ADefaults);
  if (AOptions.TargetType >= ttVCD && AOptions.TargetType <= ttDVD) {
    static const char *const targets[] = {"", "vcd", "svcd", "dvd"};
    const char *norm = AOptions.NormType == ntPAL    ? "pal"
                       : AOptions.NormType == ntNTSC ? "ntsc"
                                                     : "auto";
    ATask.SetTarget(targets[AOptions.TargetType], norm,
                    AOptions.NormDefault == ntPAL ? "pal" : "ntsc");
  }
  ATask.SetAudioCodec(ADefaults.Value("def_acodec"));
  ATask.SetVideoCodec(ADefaults.Value("def_vcodec"));
  ATask.SetSubtitleCodec(ADefaults.Value("def_scodec"));
  ATask.ApplyPreset("apre", ADefaults.Value("def_apre"));
  ATask.ApplyPreset("vpre", ADefaults.Value("def_vpre"));
  ATask.ApplyPreset("spre", ADefaults.Value("def_spre"));
  ApplyExtOptions(ATask, AOptions.ExtOptions, false);
  ApplyOutputRecord(ATask, AOptions);
  ATask.SetFrameSize(ADefaults.Value("def_s"));
  ATask.SetVideoFilters(ADefaults.Value("def_vf"));
}

void TakePending(TCustomFFmpeg &ATask, TDefaultsList &ADefaults, const std::string &AName) {
  std::string value;
  if (!ADefaults.TakeLine(AName, value))
    value = ADefaults.Value("def_" + AName);
  ATask.ParseOption(AName, value);
}

void ApplyNewStreams(TCustomFFmpeg &ATask, const std::string &AExtOptions,
                     TDefaultsList &ADefaults) {
  for (const TOptionLine &line : SplitOptionText(AExtOptions)) {
    const std::string name = LowerCaseText(line.Name);
    if (name == "newaudio") {
      TakePending(ATask, ADefaults, "acodec");
      TakePending(ATask, ADefaults, "apre");
    } else if (name == "newvideo") {
      TakePending(ATask, ADefaults, "vcodec");
      TakePending(ATask, ADefaults, "vpre");
      TakePending(ATask, ADefaults, "s");
      TakePending(ATask, ADefaults, "vf");
    } else if (name == "newsubtitle") {
      TakePending(ATask, ADefaults, "scodec");
      TakePending(ATask, ADefaults, "spre");
    } else {
      continue;
    }
    ATask.ParseOption(name, line.Value);
  }
}
