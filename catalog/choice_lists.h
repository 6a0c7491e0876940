// The six choice lists of a profile: their items, default selection, enabled state, how a
// selected text becomes a working parameter, and the choice code that records the six
// selections in a job row.
//
// Window operations and what they call here:
//   Button18Click (根据combox添加预设选项) -> ChoiceItems, DefaultSelection, ChoiceListEnabled
//                                          (fill each list, select its default, then disable
//                                          the lists an audio-only profile has no use for)
//   Button13Click (确认预置选项数据)       -> ConfirmChoices (or ConfirmChoice per list text)
//   lvFilesSelectItem                      -> ParseChoiceCode, then select each list's item
//   a list's change handler                -> ChangeChoice (job_row.h)
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "profile_catalog.h"
#include "working_parameters.h"

// Selected item numbers of the six lists, indexed by TChoiceList.
using TChoiceSelection = std::array<int, ChoiceListCount>;

inline constexpr int ListIndex(TChoiceList AList) {
  return static_cast<int>(AList);
}

// The label shown above a list, as "视频分辨率：".
std::string_view ChoiceListLabel(TChoiceList AList);

std::span<const std::string_view> ChoiceItems(const TProfile &AProfile, TChoiceList AList);
// The item's text, or nullopt when AIndex is not an item of that list.
std::optional<std::string_view> ChoiceItemText(const TProfile &AProfile, TChoiceList AList,
                                               int AIndex);
// The number of the item with that exact text, or nullopt.
std::optional<int> FindChoiceItem(const TProfile &AProfile, TChoiceList AList,
                                  std::string_view AText);

int DefaultIndex(const TProfile &AProfile, TChoiceList AList);
TChoiceSelection DefaultSelection(const TProfile &AProfile);

// A profile without video: its resolution list offers only "该格式无视频".
bool IsAudioOnly(const TProfile &AProfile);
// False for the resolution, video bit rate, frame rate and aspect lists of an audio-only
// profile; true otherwise.
bool ChoiceListEnabled(const TProfile &AProfile, TChoiceList AList);

// Sets the one working parameter that AList drives from the list's displayed text. Bit rate
// texts must be a number followed by "kbps" (EConvertError otherwise).
void ConfirmChoice(TWorkingParameters &AParams, TChoiceList AList, std::string_view AText);
// Confirms all six selections; an index outside its list raises std::out_of_range.
void ConfirmChoices(TWorkingParameters &AParams, const TProfile &AProfile,
                    const TChoiceSelection &ASelection);

// Bit rate of a list text in bit/s: "816 kbps" -> 816000, "7.4 kbps" -> 7400.
int KbpsTextToBitrate(std::string_view AText);

// Offset in the choice code of a list's two-digit field. The code's order (resolution, video
// bit rate, audio bit rate, aspect, frame rate, sample rate) is not the lists' order.
int ChoiceCodeOffset(TChoiceList AList);
// Twelve digits: each list's item number as two digits, in the code's order.
std::string ChoiceCode(const TChoiceSelection &ASelection);
// The six item numbers of a code; nullopt unless it is twelve digits.
std::optional<TChoiceSelection> ParseChoiceCode(std::string_view ACode);
// ACode with AList's field replaced by AIndex; the other fields stay. A code shorter than twelve
// characters is first padded with "0".
std::string SetChoiceCodeField(std::string ACode, TChoiceList AList, int AIndex);
