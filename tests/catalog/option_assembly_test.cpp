// Output records from the working parameters and from job rows.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "catalog_printers.h"
#include "ff_error.h"
#include "option_assembly.h"

namespace {

// Stand-ins for the engine's output record: the fields these rules touch, with the engine's
// defaults. The rules reach the enumerators through the field types, so both an unscoped and
// a scoped enumeration must work.
enum TOptionTargetType { ttIgnore, ttVCD, ttSVCD, ttDVD };
enum TOptionNormType { ntAuto, ntPAL, ntNTSC };

struct TRecord {
  std::string FileName, FileExt, FileFormat, AudioCodec, AudioPreset;
  int32_t AudioVolume = -1, AudioChannels = -1, AudioSampleRate = -1, AudioBitrate = -1;
  std::string VideoCodec, VideoPreset;
  bool DisableVideo = false;
  std::string FrameRate, FrameSize, FrameAspectRatio;
  int32_t VideoBitrate = -1;
  std::string VideoTag, VideoFilters;
  TOptionTargetType TargetType = ttIgnore;
  TOptionNormType NormType = ntAuto;
  bool operator==(const TRecord &) const = default;
};

enum class TScopedTarget { ttIgnore, ttVCD, ttSVCD, ttDVD };
enum class TScopedNorm { ntAuto, ntPAL, ntNTSC };
struct TScopedRecord : TRecord {
  TScopedTarget TargetType = TScopedTarget::ttIgnore;
  TScopedNorm NormType = TScopedNorm::ntAuto;
};

using C = TJobColumn;

// What adding a file does: apply, confirm, record, row.
struct TAdded {
  TWorkingParameters Params;
  TRecord Record;
  TJobRow Row;
};
TAdded AddFile(int ACategory, int AProfile) {
  TAdded A;
  const TProfile &P = *FindProfile(ACategory, AProfile);
  const TChoiceSelection S = DefaultSelection(P);
  A.Params.Video_AddFileName = "/in/clip.rmvb";
  ApplyProfile(A.Params, P, "/nonexistent-out", false);
  ConfirmChoices(A.Params, P, S);
  OutputRecordFromParameters(A.Record, A.Params);
  A.Record.FileName = A.Params.Video_OutPutFileName;
  WriteNewRowColumns(A.Row, A.Params.Video_AddFileName, A.Record, 4, ACategory, AProfile, S,
                     A.Params);
  return A;
}

TEST(OptionAssembly, X264DropsTheTagAndTakesThePreset) {
  TJobRow Row;
  Row[C::jcVideoCodec] = "libx264";
  Row[C::jcVideoTag] = "XVID";
  TRecord R;
  OutputRecordFromRow(R, Row);
  EXPECT_EQ(R.VideoCodec, "libx264");
  EXPECT_EQ(R.VideoPreset, "libx264-default");
  EXPECT_EQ(R.VideoTag, "");

  Row[C::jcVideoCodec] = "mpeg4";
  TRecord M;
  M.VideoPreset = "stale";
  OutputRecordFromRow(M, Row);
  EXPECT_EQ(M.VideoCodec, "mpeg4");
  EXPECT_EQ(M.VideoPreset, "");
  EXPECT_EQ(M.VideoTag, "XVID");

  TWorkingParameters W;
  W.Video_VideoCodec = "libx264";
  W.Video_VideoTag = "XVID";
  TRecord F;
  OutputRecordFromParameters(F, W);
  EXPECT_EQ(F.VideoPreset, "libx264-default");
  EXPECT_EQ(F.VideoTag, "");
}

TEST(OptionAssembly, RowColumnRules) {
  struct {
    TJobColumn Column;
    const char *Text;
    void (*Check)(const TRecord &);
  } const Cases[] = {
      {C::jcVideoCodec, "", [](const TRecord &R) { EXPECT_EQ(R.VideoCodec, ""); }},
      {C::jcAudioCodec, "wmav2", [](const TRecord &R) { EXPECT_EQ(R.AudioCodec, "wmav2"); }},
      {C::jcAudioChannels, "1", [](const TRecord &R) { EXPECT_EQ(R.AudioChannels, 1); }},
      {C::jcAudioChannels, "-1", [](const TRecord &R) { EXPECT_EQ(R.AudioChannels, -1); }},
      {C::jcFileExt, ".mkv", [](const TRecord &R) { EXPECT_EQ(R.FileExt, ".mkv"); }},
      {C::jcFrameSize, "320*240", [](const TRecord &R) { EXPECT_EQ(R.FrameSize, "320*240"); }},
      {C::jcVideoBitrate, "-1000", [](const TRecord &R) { EXPECT_EQ(R.VideoBitrate, -1000); }},
      {C::jcVideoBitrate, "528000", [](const TRecord &R) { EXPECT_EQ(R.VideoBitrate, 528000); }},
      {C::jcFrameRate, "29.97", [](const TRecord &R) { EXPECT_EQ(R.FrameRate, "29.97"); }},
      {C::jcAudioBitrate, "-1000", [](const TRecord &R) { EXPECT_EQ(R.AudioBitrate, -1); }},
      {C::jcAudioBitrate, "-1", [](const TRecord &R) { EXPECT_EQ(R.AudioBitrate, -1); }},
      {C::jcAudioBitrate, "7400", [](const TRecord &R) { EXPECT_EQ(R.AudioBitrate, 7400); }},
      {C::jcAudioSampleRate, "8000", [](const TRecord &R) { EXPECT_EQ(R.AudioSampleRate, 8000); }},
      {C::jcAspect, "16:9", [](const TRecord &R) { EXPECT_EQ(R.FrameAspectRatio, "16:9"); }},
      {C::jcDisableVideo, "True", [](const TRecord &R) { EXPECT_TRUE(R.DisableVideo); }},
      {C::jcDisableVideo, "true", [](const TRecord &R) { EXPECT_FALSE(R.DisableVideo); }},
      {C::jcTargetType, "vcd", [](const TRecord &R) { EXPECT_EQ(R.TargetType, ttVCD); }},
      {C::jcTargetType, "svcd", [](const TRecord &R) { EXPECT_EQ(R.TargetType, ttSVCD); }},
      {C::jcTargetType, "dvd", [](const TRecord &R) { EXPECT_EQ(R.TargetType, ttDVD); }},
      {C::jcTargetType, "DVD", [](const TRecord &R) { EXPECT_EQ(R.TargetType, ttIgnore); }},
      {C::jcNormType, "PAL", [](const TRecord &R) { EXPECT_EQ(R.NormType, ntPAL); }},
      {C::jcNormType, "NTSC", [](const TRecord &R) { EXPECT_EQ(R.NormType, ntNTSC); }},
      {C::jcNormType, "pal", [](const TRecord &R) { EXPECT_EQ(R.NormType, ntAuto); }},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(Case.Column)) + " = " + Case.Text);
    TJobRow Row;
    Row[C::jcAudioBitrate] = "128000";
    Row[Case.Column] = Case.Text;
    TRecord R;
    OutputRecordFromRow(R, Row);
    EXPECT_EQ(R.AudioVolume, 256);
    Case.Check(R);
  }

  // Empty number columns leave the defaults; a column that is not a number is refused.
  TJobRow Empty;
  TRecord R;
  OutputRecordFromRow(R, Empty);
  TRecord Expected;
  Expected.AudioVolume = 256;
  EXPECT_EQ(R, Expected);
  TJobRow Bad;
  Bad[C::jcAudioSampleRate] = "44.1k";
  EXPECT_THROW(OutputRecordFromRow(R, Bad), EConvertError);
}

TEST(OptionAssembly, DvdRowGivesTargetAndNorm) {
  TJobRow Row = AddFile(0, 0).Row;
  TWorkingParameters W;
  ReprofileRow(W, Row, 1, 11, DefaultSelection(*FindProfile(1, 11)), "/nonexistent-out", false);
  TRecord R;
  OutputRecordFromRow(R, Row);
  EXPECT_EQ(R.TargetType, ttDVD);
  EXPECT_EQ(R.NormType, ntPAL);
  TScopedRecord S;
  OutputRecordFromRow(S, Row);
  EXPECT_EQ(S.TargetType, TScopedTarget::ttDVD);
  EXPECT_EQ(S.NormType, TScopedNorm::ntPAL);
}

TEST(OptionAssembly, AudioOnlyRow) {
  TJobRow Row = AddFile(0, 0).Row;
  TWorkingParameters W;
  ReprofileRow(W, Row, 2, 0, DefaultSelection(*FindProfile(2, 0)), "/nonexistent-out", false);
  TRecord R;
  OutputRecordFromRow(R, Row);
  EXPECT_TRUE(R.DisableVideo);
  EXPECT_EQ(R.VideoBitrate, -1000); // passes, and means "not set" to the engine
  EXPECT_EQ(R.FrameSize, "");
  EXPECT_EQ(R.FrameRate, "");
  EXPECT_EQ(R.FrameAspectRatio, "");
  EXPECT_EQ(R.AudioCodec, "libmp3lame");
  EXPECT_EQ(R.AudioSampleRate, 44100);
}

TEST(OptionAssembly, ParametersToRecord) {
  TWorkingParameters W;
  W.Video_VideoBitrate = -1000;
  W.Video_AudioBitrate = -1000;
  W.Video_FileFormat = "matroska";
  W.Video_VideoFilters = "hflip";
  W.Video_FileExt = ".mkv";
  W.Video_TargetType = "svcd";
  W.Video_NormType = "NTSC";
  TRecord R;
  OutputRecordFromParameters(R, W);
  EXPECT_EQ(R.VideoBitrate, -1);
  EXPECT_EQ(R.AudioBitrate, -1);
  EXPECT_EQ(R.FileFormat, "matroska");
  EXPECT_EQ(R.VideoFilters, "hflip");
  EXPECT_EQ(R.FileExt, ""); // the added row's FileExt column stays empty
  EXPECT_EQ(R.AudioVolume, 256);
  EXPECT_EQ(R.TargetType, ttSVCD);
  EXPECT_EQ(R.NormType, ntNTSC);
  W.Video_AudioVolume = "512";
  OutputRecordFromParameters(R, W);
  EXPECT_EQ(R.AudioVolume, 512);
}

TEST(OptionAssembly, NewRowColumns) {
  const TAdded Dvd = AddFile(1, 11);
  EXPECT_EQ(Dvd.Row[C::jcInputFile], "/in/clip.rmvb");
  EXPECT_EQ(Dvd.Row[C::jcOutputFile], "clip.mpg");
  EXPECT_EQ(Dvd.Row[C::jcTaskNumber], "5");
  EXPECT_EQ(Dvd.Row[C::jcCategoryCode], "211");
  EXPECT_EQ(Dvd.Row[C::jcChoiceCode], ChoiceCode(DefaultSelection(*FindProfile(1, 11))));
  EXPECT_EQ(Dvd.Row[C::jcTargetType], "dvd");
  EXPECT_EQ(Dvd.Row[C::jcNormType], "PAL");
  EXPECT_EQ(Dvd.Row[C::jcDisableVideo], "False");
  EXPECT_EQ(Dvd.Row[C::jcAudioChannels], "-1");
  EXPECT_EQ(Dvd.Row[C::jcFileExt], "");
  EXPECT_EQ(Dvd.Row[C::jcDuration], ""); // the caller's

  const TAdded Mp3 = AddFile(2, 0);
  EXPECT_EQ(Mp3.Row[C::jcDisableVideo], "True");
  EXPECT_EQ(Mp3.Row[C::jcVideoBitrate], "-1"); // -1000 stayed out of the record
  EXPECT_EQ(Mp3.Row[C::jcAudioSampleRate], "44100");
}

TEST(OptionAssembly, EveryProfileRebuildsItsRecordFromItsRow) {
  // A start must give each job the record its add gave it, for every profile; twice alike.
  for (int Cat = 0; Cat < static_cast<int>(Categories().size()); ++Cat)
    for (int Prof = 0; Prof < static_cast<int>(Categories()[Cat].Profiles.size()); ++Prof) {
      const TAdded A = AddFile(Cat, Prof);
      TRecord First, Second;
      OutputRecordFromRow(First, A.Row);
      OutputRecordFromRow(Second, A.Row);
      First.FileName = Second.FileName = A.Record.FileName;
      EXPECT_EQ(First, A.Record) << Categories()[Cat].Profiles[Prof].Caption;
      EXPECT_EQ(First, Second);
    }
}

} // namespace
