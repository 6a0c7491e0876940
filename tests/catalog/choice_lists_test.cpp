// Confirming list selections into the working parameters, and the choice code.
#include <gtest/gtest.h>

#include <stdexcept>

#include "catalog_printers.h"
#include "choice_lists.h"
#include "ff_error.h"

namespace {

using L = TChoiceList;

TEST(ChoiceLists, ConfirmTextRules) {
  struct {
    TChoiceList List;
    const char *Text;
    std::string TWorkingParameters::*Field;
    const char *Expected;
  } const TextCases[] = {
      {L::clResolution, "保持原分辨率", &TWorkingParameters::Video_FrameSize, ""},
      {L::clResolution, "该格式无视频", &TWorkingParameters::Video_FrameSize, ""},
      {L::clResolution, "640*480", &TWorkingParameters::Video_FrameSize, "640*480"},
      {L::clFrameRate, "保持原帧速率", &TWorkingParameters::Video_FrameRate, ""},
      {L::clFrameRate, "无视频", &TWorkingParameters::Video_FrameRate, ""},
      {L::clFrameRate, "29.97", &TWorkingParameters::Video_FrameRate, "29.97"},
      {L::clFrameRate, "12", &TWorkingParameters::Video_FrameRate, "12"},
      {L::clSampleRate, "44100", &TWorkingParameters::Video_AudioSampleRate, "44100"},
      {L::clAspect, "保持原视频模式", &TWorkingParameters::Video_FrameAspectRatio, ""},
      {L::clAspect, "无视频", &TWorkingParameters::Video_FrameAspectRatio, ""},
      {L::clAspect, "普通视频4:3模式", &TWorkingParameters::Video_FrameAspectRatio, "4:3"},
      {L::clAspect, "宽屏视频16:9模式", &TWorkingParameters::Video_FrameAspectRatio, "16:9"},
      {L::clAspect, "宽屏视频37:20模式", &TWorkingParameters::Video_FrameAspectRatio, "37:20"},
      {L::clAspect, "宽屏视频47:20模式", &TWorkingParameters::Video_FrameAspectRatio, "47:20"},
  };
  for (const auto &C : TextCases) {
    TWorkingParameters P;
    P.Video_FrameSize = P.Video_FrameRate = P.Video_AudioSampleRate = P.Video_FrameAspectRatio =
        "old";
    TWorkingParameters Expected = P;
    Expected.*C.Field = C.Expected;
    ConfirmChoice(P, C.List, C.Text);
    EXPECT_EQ(P, Expected) << C.Text; // only the list's own parameter changes
  }

  struct {
    TChoiceList List;
    const char *Text;
    int Expected;
  } const BitrateCases[] = {
      {L::clVideoBitrate, "816 kbps", 816000}, {L::clVideoBitrate, "4000 kbps", 4000000},
      {L::clVideoBitrate, "无视频", -1000},    {L::clAudioBitrate, "128 kbps", 128000},
      {L::clAudioBitrate, "7.4 kbps", 7400},   {L::clAudioBitrate, "4.75 kbps", 4750},
      {L::clAudioBitrate, "5.15 kbps", 5150},  {L::clAudioBitrate, "5.9 kbps", 5900},
      {L::clAudioBitrate, "6.7 kbps", 6700},   {L::clAudioBitrate, "7.95 kbps", 7950},
      {L::clAudioBitrate, "10.2 kbps", 10200}, {L::clAudioBitrate, "12.2 kbps", 12200},
      {L::clAudioBitrate, " 12 kbps ", 12000}, {L::clAudioBitrate, "2.01 kbps", 2010},
  };
  for (const auto &C : BitrateCases) {
    TWorkingParameters P;
    ConfirmChoice(P, C.List, C.Text);
    const int Got = C.List == L::clVideoBitrate ? P.Video_VideoBitrate : P.Video_AudioBitrate;
    EXPECT_EQ(Got, C.Expected) << C.Text;
    EXPECT_EQ(C.List == L::clVideoBitrate ? P.Video_AudioBitrate : P.Video_VideoBitrate, -1);
  }
}

TEST(ChoiceLists, EveryListItemConfirms) {
  // Every item the lists can show is a text the rules take.
  for (const TListContents &C : AllListContents())
    for (std::string_view Item : C.Items) {
      const char Kind = C.Name[0];
      const TChoiceList List = Kind == 'R'   ? L::clResolution
                               : Kind == 'V' ? L::clVideoBitrate
                               : Kind == 'F' ? L::clFrameRate
                               : Kind == 'A' ? L::clAudioBitrate
                               : Kind == 'S' ? L::clSampleRate
                                             : L::clAspect;
      TWorkingParameters P;
      EXPECT_NO_THROW(ConfirmChoice(P, List, Item)) << C.Name << " " << Item;
      if (List == L::clAudioBitrate) {
        EXPECT_EQ(P.Video_AudioBitrate % 10, 0) << Item; // no slip such as 10199 for "10.2"
      }
    }
}

TEST(ChoiceLists, MalformedTextsAreRefused) {
  TWorkingParameters P;
  EXPECT_THROW(ConfirmChoice(P, L::clVideoBitrate, "fast kbps"), EConvertError);
  EXPECT_THROW(ConfirmChoice(P, L::clAudioBitrate, ""), EConvertError);
  EXPECT_THROW(ConfirmChoice(P, L::clAudioBitrate, "99999999 kbps"), EConvertError);
  EXPECT_THROW(ConfirmChoice(P, L::clAspect, "宽屏"), EConvertError);
  EXPECT_EQ(P, TWorkingParameters());
}

TEST(ChoiceLists, DefaultsOfAndroidMpeg4) {
  const TProfile &P = *FindProfile(0, 1);
  EXPECT_EQ(P.Caption, "Android手机MPEG-4视频(*.mp4)");
  const TChoiceSelection S = DefaultSelection(P);
  const char *Texts[] = {"640*480", "768 kbps", "25.00", "128 kbps", "48000", "宽屏视频16:9模式"};
  for (TChoiceList List : AllChoiceLists)
    EXPECT_EQ(ChoiceItemText(P, List, S[ListIndex(List)]), Texts[ListIndex(List)]);

  TWorkingParameters W;
  ApplyProfileParameters(W, P);
  ConfirmChoices(W, P, S);
  EXPECT_EQ(W.Video_FrameSize, "640*480");
  EXPECT_EQ(W.Video_VideoBitrate, 768000);
  EXPECT_EQ(W.Video_FrameRate, "25.00");
  EXPECT_EQ(W.Video_AudioBitrate, 128000);
  EXPECT_EQ(W.Video_AudioSampleRate, "48000");
  EXPECT_EQ(W.Video_FrameAspectRatio, "16:9");
  // The confirmation leaves what only the profile sets.
  EXPECT_EQ(W.Video_VideoCodec, "mpeg4");
  EXPECT_EQ(W.Video_AudioCodec, "libfaac");
  EXPECT_EQ(W.Video_FileExt, ".mp4");
}

TEST(ChoiceLists, AudioOnlyProfileLists) {
  const TProfile &Mp3 = *FindProfile(2, 0);
  EXPECT_TRUE(IsAudioOnly(Mp3));
  EXPECT_EQ(std::vector<std::string_view>(ChoiceItems(Mp3, L::clResolution).begin(),
                                          ChoiceItems(Mp3, L::clResolution).end()),
            std::vector<std::string_view>{"该格式无视频"});
  for (TChoiceList List : {L::clVideoBitrate, L::clFrameRate, L::clAspect}) {
    ASSERT_EQ(ChoiceItems(Mp3, List).size(), 1u);
    EXPECT_EQ(ChoiceItems(Mp3, List)[0], "无视频");
  }
  EXPECT_FALSE(ChoiceListEnabled(Mp3, L::clResolution));
  EXPECT_TRUE(ChoiceListEnabled(Mp3, L::clAudioBitrate));
  EXPECT_TRUE(ChoiceListEnabled(Mp3, L::clSampleRate));

  TWorkingParameters W;
  ApplyProfileParameters(W, Mp3);
  ConfirmChoices(W, Mp3, DefaultSelection(Mp3));
  EXPECT_EQ(W.Video_FrameSize, "");
  EXPECT_EQ(W.Video_FrameRate, "");
  EXPECT_EQ(W.Video_FrameAspectRatio, "");
  EXPECT_EQ(W.Video_VideoBitrate, -1000);
  EXPECT_EQ(W.Video_AudioSampleRate, "44100"); // the list's default over the table's 48000
  EXPECT_TRUE(W.Video_DisableVideo);

  const TProfile &Amr = *FindProfile(2, 12);
  ConfirmChoices(W, Amr, DefaultSelection(Amr));
  EXPECT_EQ(W.Video_AudioBitrate, 7400);

  const TProfile &ThreeGP = *FindProfile(1, 9);
  const auto Twelve = FindChoiceItem(ThreeGP, L::clFrameRate, "12");
  ASSERT_TRUE(Twelve);
  ConfirmChoice(W, L::clFrameRate, *ChoiceItemText(ThreeGP, L::clFrameRate, *Twelve));
  EXPECT_EQ(W.Video_FrameRate, "12");
}

TEST(ChoiceLists, ConfirmRefusesAnIndexOutsideItsList) {
  const TProfile &P = *FindProfile(0, 0);
  TChoiceSelection S = DefaultSelection(P);
  S[ListIndex(L::clAspect)] = 5; // K1 has 5 items
  TWorkingParameters W;
  EXPECT_THROW(ConfirmChoices(W, P, S), std::out_of_range);
  EXPECT_FALSE(ChoiceItemText(P, L::clAspect, -1));
  EXPECT_FALSE(FindChoiceItem(P, L::clResolution, "641*480"));
}

TEST(ChoiceCode, FieldsInCodeOrder) {
  TChoiceSelection S{};
  S[ListIndex(L::clResolution)] = 12;
  S[ListIndex(L::clVideoBitrate)] = 3;
  S[ListIndex(L::clAudioBitrate)] = 10;
  S[ListIndex(L::clAspect)] = 0;
  S[ListIndex(L::clFrameRate)] = 7;
  S[ListIndex(L::clSampleRate)] = 5;
  EXPECT_EQ(ChoiceCode(S), "120310000705");
  EXPECT_EQ(ParseChoiceCode("120310000705"), S);

  // Frame rate to item 9: characters 9-10 only.
  EXPECT_EQ(SetChoiceCodeField("120310000705", L::clFrameRate, 9), "120310000905");
  EXPECT_EQ(SetChoiceCodeField("120310000705", L::clSampleRate, 27), "120310000727");
  EXPECT_EQ(SetChoiceCodeField("", L::clVideoBitrate, 4), "000400000000");
  EXPECT_THROW(SetChoiceCodeField("120310000705", L::clAspect, 100), std::out_of_range);
  EXPECT_THROW(SetChoiceCodeField("120310000705", L::clAspect, -1), std::out_of_range);

  for (const char *Bad : {"", "12031000070", "1203100007055", "12031000070x", "-20310000705"})
    EXPECT_FALSE(ParseChoiceCode(Bad)) << Bad;
}

TEST(ChoiceCode, DefaultsRoundTripForEveryProfile) {
  for (const TCategory &C : Categories())
    for (const TProfile &P : C.Profiles) {
      const TChoiceSelection S = DefaultSelection(P);
      const std::string Code = ChoiceCode(S);
      EXPECT_EQ(Code.size(), 12u);
      EXPECT_EQ(ParseChoiceCode(Code), S) << P.Caption;
    }
}

} // namespace
