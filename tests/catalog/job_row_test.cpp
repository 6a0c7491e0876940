// Job row columns following profile and choice changes of the selected row.
#include <gtest/gtest.h>

#include "catalog_printers.h"
#include "job_row.h"

namespace {

using C = TJobColumn;
using L = TChoiceList;

// A row as the add path leaves it for "Android手机AVI视频(*.avi)" with its defaults.
TJobRow AviRow() {
  TJobRow Row;
  Row[C::jcInputFile] = "/in/clip.rmvb";
  Row[C::jcOutputFile] = "clip.avi";
  Row[C::jcTaskNumber] = "1";
  Row[C::jcCategoryCode] = "100";
  Row[C::jcChoiceCode] = ChoiceCode(DefaultSelection(*FindProfile(0, 0)));
  return Row;
}

TEST(JobRow, ColumnTable) {
  const auto Cols = JobColumns();
  EXPECT_EQ(Cols[0].Caption, "输入文件");
  EXPECT_EQ(Cols[3].Caption, "输出文件");
  EXPECT_EQ(Cols[9].Caption, "视频类别");
  EXPECT_EQ(Cols[22].Caption, "视频能否");
  EXPECT_EQ(Cols[24].Caption, "NormType");
  for (int I = 0; I < JobColumnCount; ++I) {
    const bool Visible = I <= 4 || I == 6 || I == 7;
    EXPECT_EQ(Cols[I].Width > 0, Visible) << I;
  }
}

TEST(JobRow, ReprofileToDvd) {
  TJobRow Row = AviRow();
  TWorkingParameters W;
  W.Video_AddFileName = "/in/clip.rmvb";
  const TProfile &Dvd = *FindProfile(1, 11);
  ReprofileRow(W, Row, 1, 11, DefaultSelection(Dvd), "/nonexistent-out", false);

  EXPECT_EQ(Row[C::jcCategoryCode], "211");
  EXPECT_EQ(Row[C::jcTargetType], "dvd");
  EXPECT_EQ(Row[C::jcNormType], "PAL");
  EXPECT_EQ(Row[C::jcOutputFile], "clip.mpg");
  EXPECT_EQ(Row[C::jcDisableVideo], "False");
  EXPECT_EQ(Row[C::jcFileExt], "");
  EXPECT_EQ(Row[C::jcVideoCodec], "");
  // The lists' defaults over the table's "no value": 704*480, 1200 kbps, 29.97, 128 kbps, 44100.
  EXPECT_EQ(Row[C::jcFrameSize], "704*480");
  EXPECT_EQ(Row[C::jcVideoBitrate], "1200000");
  EXPECT_EQ(Row[C::jcFrameRate], "29.97");
  EXPECT_EQ(Row[C::jcAudioBitrate], "128000");
  EXPECT_EQ(Row[C::jcAudioSampleRate], "44100");
  EXPECT_EQ(Row[C::jcAspect], "");
  EXPECT_EQ(Row[C::jcChoiceCode], ChoiceCode(DefaultSelection(Dvd)));
  // Columns the profile change does not own.
  EXPECT_EQ(Row[C::jcInputFile], "/in/clip.rmvb");
  EXPECT_EQ(Row[C::jcTaskNumber], "1");
}

TEST(JobRow, ReprofileToAudioOnly) {
  TJobRow Row = AviRow();
  TWorkingParameters W;
  ReprofileRow(W, Row, 2, 0, DefaultSelection(*FindProfile(2, 0)), "/nonexistent-out", false);
  EXPECT_EQ(Row[C::jcVideoBitrate], "-1000");
  EXPECT_EQ(Row[C::jcFrameSize], "");
  EXPECT_EQ(Row[C::jcFrameRate], "");
  EXPECT_EQ(Row[C::jcAspect], "");
  EXPECT_EQ(Row[C::jcDisableVideo], "True");
  EXPECT_EQ(Row[C::jcFileExt], ".mp3");
  EXPECT_EQ(Row[C::jcAudioCodec], "libmp3lame");
  EXPECT_EQ(Row[C::jcAudioChannels], "2");
  EXPECT_EQ(Row[C::jcOutputFile], "clip.mp3");
  EXPECT_EQ(Row[C::jcCategoryCode], "300");
}

TEST(JobRow, ReprofileTakesTheCaptionsExtension) {
  // "智能手机" 0 writes .avi for an added file, but a re-profiled row takes its caption's .mp4.
  TJobRow Row = AviRow();
  TWorkingParameters W;
  ReprofileRow(W, Row, 3, 0, DefaultSelection(*FindProfile(3, 0)), "/nonexistent-out", false);
  EXPECT_EQ(Row[C::jcOutputFile], "clip.mp4");
  EXPECT_EQ(Row[C::jcFileExt], ".avi");
  const TJobRow Before = Row;
  const TWorkingParameters ParamsBefore = W;
  EXPECT_THROW(ReprofileRow(W, Row, 3, 16, {}, "/nonexistent-out", false), std::out_of_range);
  TChoiceSelection TooFar = DefaultSelection(*FindProfile(3, 1));
  TooFar[ListIndex(L::clSampleRate)] = 6; // S1 has 6 items
  EXPECT_THROW(ReprofileRow(W, Row, 3, 1, TooFar, "/nonexistent-out", false), std::out_of_range);
  EXPECT_EQ(Row, Before);
  EXPECT_EQ(W, ParamsBefore);
}

TEST(JobRow, ReprofileWithRestoredChoices) {
  // Selecting a row restores its choices after its profile: the code and columns follow them.
  TJobRow Row = AviRow();
  TWorkingParameters W;
  const TProfile &P = *FindProfile(6, 2);
  TChoiceSelection S = DefaultSelection(P);
  S[ListIndex(L::clAspect)] = *FindChoiceItem(P, L::clAspect, "宽屏视频47:20模式");
  S[ListIndex(L::clResolution)] = *FindChoiceItem(P, L::clResolution, "保持原分辨率");
  ReprofileRow(W, Row, 6, 2, S, "/nonexistent-out", false);
  EXPECT_EQ(Row[C::jcAspect], "47:20");
  EXPECT_EQ(Row[C::jcFrameSize], "");
  EXPECT_EQ(ParseChoiceCode(Row[C::jcChoiceCode]), S);
  EXPECT_EQ(Row[C::jcCategoryCode], "702");
}

TEST(JobRow, ChoiceChangeRewritesOneFieldAndOneColumn) {
  TJobRow Row = AviRow();
  TWorkingParameters W;
  ReprofileRow(W, Row, 0, 0, DefaultSelection(*FindProfile(0, 0)), "/nonexistent-out", false);
  Row[C::jcChoiceCode] = "120310000705";

  struct {
    TChoiceList List;
    int Index;
    const char *Text;
    const char *Code;
    const char *Column;
  } const Cases[] = {
      {L::clFrameRate, 9, "29.97", "120310000905", "29.97"},
      {L::clFrameRate, 0, "保持原帧速率", "120310000005", ""},
      {L::clResolution, 4, "320*240", "040310000005", "320*240"},
      {L::clVideoBitrate, 7, "4000 kbps", "040710000005", "4000000"},
      {L::clAudioBitrate, 0, "16 kbps", "040700000005", "16000"},
      {L::clAspect, 2, "宽屏视频16:9模式", "040700020005", "16:9"},
      {L::clSampleRate, 1, "16000", "040700020001", "16000"},
  };
  for (const auto &Case : Cases) {
    TJobRow Before = Row;
    TWorkingParameters ParamsBefore = W;
    ChangeChoice(W, Row, Case.List, Case.Index, Case.Text);
    EXPECT_EQ(Row[C::jcChoiceCode], Case.Code) << Case.Text;
    EXPECT_EQ(Row[ChoiceColumn(Case.List)], Case.Column) << Case.Text;
    Before[C::jcChoiceCode] = Row[C::jcChoiceCode];
    Before[ChoiceColumn(Case.List)] = Row[ChoiceColumn(Case.List)];
    EXPECT_EQ(Row, Before) << Case.Text;
    // The working parameters move only in the list's own field.
    ConfirmChoice(ParamsBefore, Case.List, Case.Text);
    EXPECT_EQ(W, ParamsBefore);
  }

  // A refused text changes nothing.
  const TJobRow Before = Row;
  EXPECT_ANY_THROW(ChangeChoice(W, Row, L::clVideoBitrate, 3, "many kbps"));
  EXPECT_EQ(Row, Before);
}

TEST(JobRow, ProfileColumnsFromWorkingParameters) {
  TWorkingParameters W;
  ApplyProfileParameters(W, *FindProfile(3, 6)); // mpeg4 with the XVID tag in .mkv
  TJobRow Row;
  WriteProfileColumns(Row, W);
  EXPECT_EQ(Row[C::jcVideoCodec], "mpeg4");
  EXPECT_EQ(Row[C::jcVideoTag], "XVID");
  EXPECT_EQ(Row[C::jcFileExt], ".mkv");
  EXPECT_EQ(Row[C::jcVideoBitrate], "816000");
  EXPECT_EQ(Row[C::jcAudioBitrate], "128000");
  EXPECT_EQ(Row[C::jcAudioChannels], "2");
  EXPECT_EQ(Row[C::jcDisableVideo], "False");
  // Output name and codes are not the profile's to write.
  EXPECT_EQ(Row[C::jcOutputFile], "");
  EXPECT_EQ(Row[C::jcCategoryCode], "");
  EXPECT_EQ(Row[C::jcChoiceCode], "");
}

} // namespace
