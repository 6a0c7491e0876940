// The fixed catalog of output profiles: 11 categories, each a list of profiles with a parameter
// set and six choice lists. The tables are compiled in; nothing here touches a widget, so the
// window binds its pickers to these functions and so does the command-line tool.
//
// Positions count from 0 in picker order. Text is UTF-8.
//
// Window operations and what they call here:
//   category picker items  -> Categories(): Caption, IconIndex
//   Button2Click (添加combox) -> Categories()[category].Profiles: Caption, ProfileIconIndex
//   extension from caption (profile change, rename editor) -> ExtFromCaption
//   lvFilesSelectItem      -> ParseCategoryCode
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The six choice lists beside the pickers, in the order they are filled.
enum class TChoiceList {
  clResolution,   // sets Video_FrameSize
  clVideoBitrate, // sets Video_VideoBitrate
  clFrameRate,    // sets Video_FrameRate
  clAudioBitrate, // sets Video_AudioBitrate
  clSampleRate,   // sets Video_AudioSampleRate
  clAspect,       // sets Video_FrameAspectRatio
};
inline constexpr int ChoiceListCount = 6;
inline constexpr std::array<TChoiceList, ChoiceListCount> AllChoiceLists = {
    TChoiceList::clResolution,   TChoiceList::clVideoBitrate, TChoiceList::clFrameRate,
    TChoiceList::clAudioBitrate, TChoiceList::clSampleRate,   TChoiceList::clAspect};

// One content of a choice list: its items in display order. Name is the short label the tables
// use ("R1", "V10", "K3"); it is not shown to the user.
struct TListContents {
  std::string_view Name;
  std::span<const std::string_view> Items;
};

// A profile's choice list: its contents and the text of the item selected after filling.
struct TChoiceAssignment {
  const TListContents *Contents;
  std::string_view Default;
};

// One profile. The parameter fields hold the working parameters after the profile is applied
// (see TWorkingParameters): "" = not set, bit rates in bit/s with -1 = not set and -1000 = no
// value (disc targets).
struct TProfile {
  std::string_view Caption; // ends with "(*.ext)"
  std::string_view FileExt;
  std::string_view VideoCodec;
  std::string_view VideoTag;
  std::string_view FrameSize;
  int VideoBitrate;
  std::string_view FrameRate;
  std::string_view FrameAspectRatio;
  std::string_view AudioCodec;
  std::string_view AudioChannels;
  std::string_view AudioSampleRate;
  int AudioBitrate;
  bool DisableVideo;
  std::string_view TargetType; // "vcd", "svcd", "dvd" or ""
  std::string_view NormType;   // "PAL" or ""
  // The output name's extension where it is not FileExt (disc targets, "RM", "RA" and the two
  // audio-only profiles of the last category); "" otherwise.
  std::string_view OutputExt;
  // Indexed by TChoiceList.
  std::array<TChoiceAssignment, ChoiceListCount> Choices;
};

struct TCategory {
  std::string_view Caption;
  int IconIndex; // index in the category icon list
  std::span<const TProfile> Profiles;
};

// The 11 categories in picker order.
std::span<const TCategory> Categories();
// Every list content the profiles draw from (R1..R16, V1..V18, F1..F6, A1..A5, S1..S6, K1..K3).
std::span<const TListContents> AllListContents();

// The profile at a category and profile position, or nullptr when either is out of range.
const TProfile *FindProfile(int ACategory, int AProfile);
// The number of profiles in all categories.
int ProfileCount();

// Icon of a profile picker item: the two profile icons alternate down the list.
inline constexpr int ProfileIconIndex(int AProfile) {
  return AProfile % 2;
}

// The extension of the output name, with its dot: OutputExt when set, else FileExt.
std::string ProfileOutputExt(const TProfile &AProfile);

// The output extension read from a caption ending "(*.ext)": the four characters before the
// closing parenthesis with a dot in front, or ".flac", ".aiff", ".rm", ".ra" for the
// extensions that are not three letters long. "" for a caption too short to hold one.
std::string ExtFromCaption(std::string_view ACaption);

// Category code of a job row: (category position + 1) * 100 + profile position.
inline constexpr int CategoryCode(int ACategory, int AProfile) {
  return (ACategory + 1) * 100 + AProfile;
}
struct TProfilePosition {
  int Category;
  int Profile;
};
// Reads a category code back; nullopt when the text is not a number or names no profile.
std::optional<TProfilePosition> ParseCategoryCode(std::string_view ACode);
