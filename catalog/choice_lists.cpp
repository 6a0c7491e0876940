// Choice lists: items, defaults, confirmation into the working parameters, the choice code.
#include "choice_lists.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "ff_error.h"

namespace {

constexpr std::string_view KeepSize = "保持原分辨率";
constexpr std::string_view NoVideoSize = "该格式无视频";
constexpr std::string_view KeepRate = "保持原帧速率";
constexpr std::string_view NoVideo = "无视频";
constexpr std::string_view KeepAspect = "保持原视频模式";

struct TAspectText {
  std::string_view Text;
  std::string_view Ratio;
};
constexpr TAspectText AspectTexts[] = {
    {KeepAspect, ""},
    {NoVideo, ""},
    {"普通视频4:3模式", "4:3"},
    {"宽屏视频16:9模式", "16:9"},
    {"宽屏视频37:20模式", "37:20"},
    {"宽屏视频47:20模式", "47:20"},
};

std::string_view Trim(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t'))
    S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t'))
    S.remove_suffix(1);
  return S;
}

} // namespace

std::string_view ChoiceListLabel(TChoiceList AList) {
  switch (AList) {
  case TChoiceList::clResolution:
    return "视频分辨率：";
  case TChoiceList::clVideoBitrate:
    return "视频比特率：";
  case TChoiceList::clFrameRate:
    return "视频帧率：";
  case TChoiceList::clAudioBitrate:
    return "音频比特率：";
  case TChoiceList::clSampleRate:
    return "音频采样率：";
  case TChoiceList::clAspect:
    return "视频缩放：";
  }
  return {};
}

std::span<const std::string_view> ChoiceItems(const TProfile &AProfile, TChoiceList AList) {
  return AProfile.Choices[ListIndex(AList)].Contents->Items;
}

std::optional<std::string_view> ChoiceItemText(const TProfile &AProfile, TChoiceList AList,
                                               int AIndex) {
  const auto Items = ChoiceItems(AProfile, AList);
  if (AIndex < 0 || AIndex >= static_cast<int>(Items.size()))
    return std::nullopt;
  return Items[AIndex];
}

std::optional<int> FindChoiceItem(const TProfile &AProfile, TChoiceList AList,
                                  std::string_view AText) {
  const auto Items = ChoiceItems(AProfile, AList);
  for (size_t I = 0; I < Items.size(); ++I)
    if (Items[I] == AText)
      return static_cast<int>(I);
  return std::nullopt;
}

int DefaultIndex(const TProfile &AProfile, TChoiceList AList) {
  return FindChoiceItem(AProfile, AList, AProfile.Choices[ListIndex(AList)].Default).value_or(0);
}

TChoiceSelection DefaultSelection(const TProfile &AProfile) {
  TChoiceSelection Result{};
  for (TChoiceList L : AllChoiceLists)
    Result[ListIndex(L)] = DefaultIndex(AProfile, L);
  return Result;
}

bool IsAudioOnly(const TProfile &AProfile) {
  const auto Items = ChoiceItems(AProfile, TChoiceList::clResolution);
  return Items.size() == 1 && Items[0] == NoVideoSize;
}

bool ChoiceListEnabled(const TProfile &AProfile, TChoiceList AList) {
  if (AList == TChoiceList::clAudioBitrate || AList == TChoiceList::clSampleRate)
    return true;
  return !IsAudioOnly(AProfile);
}

int KbpsTextToBitrate(std::string_view AText) {
  std::string_view Number = AText;
  const size_t Unit = Number.find("kbps");
  if (Unit != std::string_view::npos)
    Number = Number.substr(0, Unit);
  const std::string N(Trim(Number));
  double Bits = 0;
  if (N.find('.') == std::string::npos)
    Bits = static_cast<double>(StrToInt64(N)) * 1000.0;
  else
    Bits = std::round(StrToFloat(N) * 1000.0); // "2.01" * 1000 lands on 2009.999...
  if (Bits < std::numeric_limits<int>::min() || Bits > std::numeric_limits<int>::max())
    throw EConvertError("'" + std::string(AText) + "' is not a valid bit rate");
  return static_cast<int>(Bits);
}

void ConfirmChoice(TWorkingParameters &AParams, TChoiceList AList, std::string_view AText) {
  switch (AList) {
  case TChoiceList::clResolution:
    AParams.Video_FrameSize = AText == KeepSize || AText == NoVideoSize ? "" : std::string(AText);
    break;
  case TChoiceList::clFrameRate:
    AParams.Video_FrameRate = AText == KeepRate || AText == NoVideo ? "" : std::string(AText);
    break;
  case TChoiceList::clVideoBitrate:
    AParams.Video_VideoBitrate = AText == NoVideo ? BitrateNoValue : KbpsTextToBitrate(AText);
    break;
  case TChoiceList::clSampleRate:
    AParams.Video_AudioSampleRate = AText;
    break;
  case TChoiceList::clAudioBitrate:
    AParams.Video_AudioBitrate = KbpsTextToBitrate(AText);
    break;
  case TChoiceList::clAspect:
    for (const TAspectText &A : AspectTexts)
      if (A.Text == AText) {
        AParams.Video_FrameAspectRatio = A.Ratio;
        return;
      }
    throw EConvertError("'" + std::string(AText) + "' is not a valid aspect mode");
  }
}

void ConfirmChoices(TWorkingParameters &AParams, const TProfile &AProfile,
                    const TChoiceSelection &ASelection) {
  for (TChoiceList L : AllChoiceLists) {
    const auto Text = ChoiceItemText(AProfile, L, ASelection[ListIndex(L)]);
    if (!Text)
      throw std::out_of_range("choice item " + std::to_string(ASelection[ListIndex(L)]) +
                              " is not in its list");
    ConfirmChoice(AParams, L, *Text);
  }
}

int ChoiceCodeOffset(TChoiceList AList) {
  switch (AList) {
  case TChoiceList::clResolution:
    return 0;
  case TChoiceList::clVideoBitrate:
    return 2;
  case TChoiceList::clAudioBitrate:
    return 4;
  case TChoiceList::clAspect:
    return 6;
  case TChoiceList::clFrameRate:
    return 8;
  case TChoiceList::clSampleRate:
    return 10;
  }
  return 0;
}

std::string ChoiceCode(const TChoiceSelection &ASelection) {
  std::string Code(2 * ChoiceListCount, '0');
  for (TChoiceList L : AllChoiceLists)
    Code = SetChoiceCodeField(std::move(Code), L, ASelection[ListIndex(L)]);
  return Code;
}

std::optional<TChoiceSelection> ParseChoiceCode(std::string_view ACode) {
  if (ACode.size() != 2 * ChoiceListCount)
    return std::nullopt;
  for (char C : ACode)
    if (C < '0' || C > '9')
      return std::nullopt;
  TChoiceSelection Result{};
  for (TChoiceList L : AllChoiceLists) {
    const int Offset = ChoiceCodeOffset(L);
    Result[ListIndex(L)] = (ACode[Offset] - '0') * 10 + (ACode[Offset + 1] - '0');
  }
  return Result;
}

std::string SetChoiceCodeField(std::string ACode, TChoiceList AList, int AIndex) {
  if (AIndex < 0 || AIndex > 99)
    throw std::out_of_range("choice item " + std::to_string(AIndex) + " does not fit the code");
  if (ACode.size() < 2 * ChoiceListCount)
    ACode.resize(2 * ChoiceListCount, '0');
  const int Offset = ChoiceCodeOffset(AList);
  ACode[Offset] = static_cast<char>('0' + AIndex / 10);
  ACode[Offset + 1] = static_cast<char>('0' + AIndex % 10);
  return ACode;
}
