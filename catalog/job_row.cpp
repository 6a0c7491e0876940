// Job row columns from the working parameters and the choices.
#include "job_row.h"

#include <stdexcept>

namespace {

constexpr TJobColumnInfo ColumnTable[JobColumnCount] = {
    {"输入文件", 80},  {"视频时间", 70},  {"文件大小", 70},  {"输出文件", 80},  {"转换进度", 70},
    {"", 0},           {"当前时间", 80},  {"转换大小", 80},  {"视频序号", 0},   {"视频类别", 0},
    {"视频选项", 0},   {"视频编码", 0},   {"音频编码", 0},   {"声音频道", 0},   {"VideoTag", 0},
    {"FileExt", 0},    {"视频分辨率", 0}, {"视频比特率", 0}, {"视频帧率", 0},   {"音频比特率", 0},
    {"音频采样率", 0}, {"视频缩放", 0},   {"视频能否", 0},   {"TargetType", 0}, {"NormType", 0},
};

} // namespace

std::span<const TJobColumnInfo, JobColumnCount> JobColumns() {
  return ColumnTable;
}

TJobColumn ChoiceColumn(TChoiceList AList) {
  switch (AList) {
  case TChoiceList::clResolution:
    return TJobColumn::jcFrameSize;
  case TChoiceList::clVideoBitrate:
    return TJobColumn::jcVideoBitrate;
  case TChoiceList::clFrameRate:
    return TJobColumn::jcFrameRate;
  case TChoiceList::clAudioBitrate:
    return TJobColumn::jcAudioBitrate;
  case TChoiceList::clSampleRate:
    return TJobColumn::jcAudioSampleRate;
  case TChoiceList::clAspect:
    return TJobColumn::jcAspect;
  }
  return TJobColumn::jcFrameSize;
}

void WriteProfileColumns(TJobRow &ARow, const TWorkingParameters &AParams) {
  ARow[TJobColumn::jcVideoCodec] = AParams.Video_VideoCodec;
  ARow[TJobColumn::jcAudioCodec] = AParams.Video_AudioCodec;
  ARow[TJobColumn::jcAudioChannels] = AParams.Video_AudioChannels;
  ARow[TJobColumn::jcVideoTag] = AParams.Video_VideoTag;
  ARow[TJobColumn::jcFileExt] = AParams.Video_FileExt;
  ARow[TJobColumn::jcFrameSize] = AParams.Video_FrameSize;
  ARow[TJobColumn::jcVideoBitrate] = std::to_string(AParams.Video_VideoBitrate);
  ARow[TJobColumn::jcFrameRate] = AParams.Video_FrameRate;
  ARow[TJobColumn::jcAudioBitrate] = std::to_string(AParams.Video_AudioBitrate);
  ARow[TJobColumn::jcAudioSampleRate] = AParams.Video_AudioSampleRate;
  ARow[TJobColumn::jcAspect] = AParams.Video_FrameAspectRatio;
  ARow[TJobColumn::jcDisableVideo] = AParams.Video_DisableVideo ? "True" : "False";
  ARow[TJobColumn::jcTargetType] = AParams.Video_TargetType;
  ARow[TJobColumn::jcNormType] = AParams.Video_NormType;
}

void WriteChoiceColumn(TJobRow &ARow, TChoiceList AList, const TWorkingParameters &AParams) {
  std::string &Cell = ARow[ChoiceColumn(AList)];
  switch (AList) {
  case TChoiceList::clResolution:
    Cell = AParams.Video_FrameSize;
    break;
  case TChoiceList::clVideoBitrate:
    Cell = std::to_string(AParams.Video_VideoBitrate);
    break;
  case TChoiceList::clFrameRate:
    Cell = AParams.Video_FrameRate;
    break;
  case TChoiceList::clAudioBitrate:
    Cell = std::to_string(AParams.Video_AudioBitrate);
    break;
  case TChoiceList::clSampleRate:
    Cell = AParams.Video_AudioSampleRate;
    break;
  case TChoiceList::clAspect:
    Cell = AParams.Video_FrameAspectRatio;
    break;
  }
}

void WriteChoiceColumns(TJobRow &ARow, const TWorkingParameters &AParams) {
  for (TChoiceList L : AllChoiceLists)
    WriteChoiceColumn(ARow, L, AParams);
}

void ChangeChoice(TWorkingParameters &AParams, TJobRow &ARow, TChoiceList AList, int AIndex,
                  std::string_view AText) {
  // Both steps that can refuse run before the row changes.
  std::string Code = SetChoiceCodeField(ARow[TJobColumn::jcChoiceCode], AList, AIndex);
  ConfirmChoice(AParams, AList, AText);
  ARow[TJobColumn::jcChoiceCode] = std::move(Code);
  WriteChoiceColumn(ARow, AList, AParams);
}

void ReplaceOutputExt(TJobRow &ARow, const std::string &AExt) {
  ARow[TJobColumn::jcOutputFile] = ReplaceFileExt(ARow[TJobColumn::jcOutputFile], AExt);
}

void ReprofileRow(TWorkingParameters &AParams, TJobRow &ARow, int ACategory, int AProfile,
                  const TChoiceSelection &ASelection, const std::string &AOutputFolder,
                  bool AOverwrite) {
  const TProfile *Profile = FindProfile(ACategory, AProfile);
  if (Profile == nullptr)
    throw std::out_of_range("no profile " + std::to_string(ACategory) + "." +
                            std::to_string(AProfile));
  // Built on copies so that a refused selection leaves row and parameters as they were.
  TWorkingParameters Params = AParams;
  TJobRow Row = ARow;
  ApplyProfile(Params, *Profile, AOutputFolder, AOverwrite);
  WriteProfileColumns(Row, Params);
  ConfirmChoices(Params, *Profile, ASelection);
  WriteChoiceColumns(Row, Params);
  Row[TJobColumn::jcChoiceCode] = ChoiceCode(ASelection);
  ReplaceOutputExt(Row, ExtFromCaption(Profile->Caption));
  Row[TJobColumn::jcCategoryCode] = std::to_string(CategoryCode(ACategory, AProfile));
  AParams = std::move(Params);
  ARow = std::move(Row);
}
