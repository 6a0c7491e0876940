// Output option records from the working parameters (adding a file) or from a job row's
// columns (building the tasks at start), and a new row's columns from the record.
//
// TOutputRecord is the engine's output option record, already given its defaults by the
// owner's InitOutputOptions. Only the fields named here are touched; the target and norm
// enumerators are reached through the record's own field types, so these rules stay in the
// catalog without it depending on the engine's record header.
//
// Window operations and what they call here:
//   adding a file, step "output" -> OutputRecordFromParameters, SetOutputFile, then
//                                   WriteNewRowColumns
//   button28Click (新添加)       -> per row: OutputRecordFromRow, output path
//                                   JoinOutputPath(FileOutPutPath, row's 输出文件)
#pragma once

#include <string>

#include "choice_lists.h"
#include "ff_error.h"
#include "job_row.h"
#include "profile_catalog.h"
#include "working_parameters.h"

// The built-in preset every libx264 output gets.
inline constexpr const char *X264DefaultPreset = "libx264-default";

namespace option_assembly_detail {

inline bool IsX264(const std::string &ACodec) {
  return ACodec == "libx264";
}

// libx264 brings its own preset; a tag such as XVID or DX50 names another encoder's stream.
template <class TOutputRecord>
void SetVideoCodec(TOutputRecord &ARecord, const std::string &ACodec, const std::string &ATag) {
  if (!ACodec.empty()) {
    ARecord.VideoCodec = ACodec;
    ARecord.VideoPreset = IsX264(ACodec) ? X264DefaultPreset : "";
  }
  ARecord.VideoTag = !ATag.empty() && !IsX264(ACodec) ? ATag : std::string();
}

template <class TOutputRecord>
void SetTarget(TOutputRecord &ARecord, const std::string &ATarget, const std::string &ANorm) {
  using TTarget = decltype(ARecord.TargetType);
  using TNorm = decltype(ARecord.NormType);
  if (!ATarget.empty())
    ARecord.TargetType = ATarget == "vcd"    ? TTarget::ttVCD
                         : ATarget == "svcd" ? TTarget::ttSVCD
                         : ATarget == "dvd"  ? TTarget::ttDVD
                                             : TTarget::ttIgnore;
  ARecord.NormType = ANorm == "PAL"    ? TNorm::ntPAL
                     : ANorm == "NTSC" ? TNorm::ntNTSC
                                       : TNorm::ntAuto;
}

} // namespace option_assembly_detail

// The record of a file being added, from the working parameters after ApplyProfile and
// ConfirmChoices. Bit rates of -1000 are left at the record's default; FileExt stays as it is.
template <class TOutputRecord>
void OutputRecordFromParameters(TOutputRecord &ARecord, const TWorkingParameters &AParams) {
  namespace d = option_assembly_detail;
  d::SetVideoCodec(ARecord, AParams.Video_VideoCodec, AParams.Video_VideoTag);
  if (!AParams.Video_AudioCodec.empty())
    ARecord.AudioCodec = AParams.Video_AudioCodec;
  if (!AParams.Video_AudioChannels.empty())
    ARecord.AudioChannels = StrToInt(AParams.Video_AudioChannels);
  if (!AParams.Video_AudioSampleRate.empty())
    ARecord.AudioSampleRate = StrToInt(AParams.Video_AudioSampleRate);
  if (!AParams.Video_FrameSize.empty())
    ARecord.FrameSize = AParams.Video_FrameSize;
  if (!AParams.Video_FrameRate.empty())
    ARecord.FrameRate = AParams.Video_FrameRate;
  if (!AParams.Video_FrameAspectRatio.empty())
    ARecord.FrameAspectRatio = AParams.Video_FrameAspectRatio;
  if (!AParams.Video_FileFormat.empty())
    ARecord.FileFormat = AParams.Video_FileFormat;
  if (!AParams.Video_VideoFilters.empty())
    ARecord.VideoFilters = AParams.Video_VideoFilters;
  ARecord.DisableVideo = AParams.Video_DisableVideo;
  d::SetTarget(ARecord, AParams.Video_TargetType, AParams.Video_NormType);
  ARecord.AudioVolume = AParams.Video_AudioVolume.empty() || AParams.Video_AudioVolume == "256"
                            ? 256
                            : StrToInt(AParams.Video_AudioVolume);
  if (AParams.Video_AudioBitrate != BitrateNoValue)
    ARecord.AudioBitrate = AParams.Video_AudioBitrate;
  if (AParams.Video_VideoBitrate != BitrateNoValue)
    ARecord.VideoBitrate = AParams.Video_VideoBitrate;
}

// The record of a row at start. The number columns must hold decimal integers (EConvertError
// otherwise); -1 and -1000 pass through and mean "not set" to the engine.
template <class TOutputRecord>
void OutputRecordFromRow(TOutputRecord &ARecord, const TJobRow &ARow) {
  namespace d = option_assembly_detail;
  using C = TJobColumn;
  ARecord.AudioVolume = 256;
  d::SetVideoCodec(ARecord, ARow[C::jcVideoCodec], ARow[C::jcVideoTag]);
  if (!ARow[C::jcAudioCodec].empty())
    ARecord.AudioCodec = ARow[C::jcAudioCodec];
  if (!ARow[C::jcAudioChannels].empty())
    ARecord.AudioChannels = StrToInt(ARow[C::jcAudioChannels]);
  if (!ARow[C::jcFileExt].empty())
    ARecord.FileExt = ARow[C::jcFileExt];
  if (!ARow[C::jcFrameSize].empty())
    ARecord.FrameSize = ARow[C::jcFrameSize];
  if (!ARow[C::jcVideoBitrate].empty())
    ARecord.VideoBitrate = StrToInt(ARow[C::jcVideoBitrate]);
  if (!ARow[C::jcFrameRate].empty())
    ARecord.FrameRate = ARow[C::jcFrameRate];
  if (!ARow[C::jcAudioBitrate].empty() && ARow[C::jcAudioBitrate] != "-1000")
    ARecord.AudioBitrate = StrToInt(ARow[C::jcAudioBitrate]);
  if (!ARow[C::jcAudioSampleRate].empty())
    ARecord.AudioSampleRate = StrToInt(ARow[C::jcAudioSampleRate]);
  if (!ARow[C::jcAspect].empty())
    ARecord.FrameAspectRatio = ARow[C::jcAspect];
  ARecord.DisableVideo = ARow[C::jcDisableVideo] == "True";
  d::SetTarget(ARecord, ARow[C::jcTargetType], ARow[C::jcNormType]);
}

// The columns of a row for a file just added: input path, output name (from the record's
// FileName), task number, category and choice codes, the record's parameter columns, and the
// no-video flag, target and norm from the working parameters. Duration and size (columns 1
// and 2) are the caller's; the progress columns stay empty.
template <class TOutputRecord>
void WriteNewRowColumns(TJobRow &ARow, const std::string &AInputFile, const TOutputRecord &ARecord,
                        int ATaskIndex, int ACategory, int AProfile,
                        const TChoiceSelection &ASelection, const TWorkingParameters &AParams) {
  using C = TJobColumn;
  const std::string OutputPath = ARecord.FileName;
  const size_t Slash = OutputPath.rfind('/');
  ARow[C::jcInputFile] = AInputFile;
  ARow[C::jcOutputFile] = Slash == std::string::npos ? OutputPath : OutputPath.substr(Slash + 1);
  for (C Progress : {C::jcProgress, C::jcFPS, C::jcPosition, C::jcConvertedSize})
    ARow[Progress].clear();
  ARow[C::jcTaskNumber] = std::to_string(ATaskIndex + 1);
  ARow[C::jcCategoryCode] = std::to_string(CategoryCode(ACategory, AProfile));
  ARow[C::jcChoiceCode] = ChoiceCode(ASelection);
  ARow[C::jcVideoCodec] = ARecord.VideoCodec;
  ARow[C::jcAudioCodec] = ARecord.AudioCodec;
  ARow[C::jcAudioChannels] = std::to_string(ARecord.AudioChannels);
  ARow[C::jcVideoTag] = ARecord.VideoTag;
  ARow[C::jcFileExt] = ARecord.FileExt;
  ARow[C::jcFrameSize] = ARecord.FrameSize;
  ARow[C::jcVideoBitrate] = std::to_string(ARecord.VideoBitrate);
  ARow[C::jcFrameRate] = ARecord.FrameRate;
  ARow[C::jcAudioBitrate] = std::to_string(ARecord.AudioBitrate);
  ARow[C::jcAudioSampleRate] = std::to_string(ARecord.AudioSampleRate);
  ARow[C::jcAspect] = ARecord.FrameAspectRatio;
  ARow[C::jcDisableVideo] = AParams.Video_DisableVideo ? "True" : "False";
  ARow[C::jcTargetType] = AParams.Video_TargetType;
  ARow[C::jcNormType] = AParams.Video_NormType;
}
