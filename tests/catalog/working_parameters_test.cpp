// Reset, applying a profile, and output names with collision avoidance.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <unistd.h>

#include "catalog_printers.h"
#include "working_parameters.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder under the temporary folder, removed afterwards.
class TempFolder {
public:
  TempFolder() {
    FPath = fs::temp_directory_path() /
            ("lc_catalog_" + std::to_string(::getpid()) + "_" + std::to_string(Counter()++));
    fs::remove_all(FPath);
    fs::create_directories(FPath);
  }
  ~TempFolder() {
    std::error_code Ec;
    fs::remove_all(FPath, Ec);
  }
  std::string Path() const { return FPath.string(); }
  std::string Touch(const std::string &AName) const {
    std::ofstream(FPath / AName) << "x";
    return (FPath / AName).string();
  }

private:
  static int &Counter() {
    static int N = 0;
    return N;
  }
  fs::path FPath;
};

TEST(WorkingParameters, ResetKeepsOnlyTheInputName) {
  TWorkingParameters P;
  P.Video_AddFileName = "/in/a.avi";
  P.Video_OutPutFileName = "/out/a.mp4";
  P.Video_VideoCodec = "mpeg4";
  P.Video_VideoBitrate = 816000;
  P.Video_AudioBitrate = -1000;
  P.Video_AudioVolume = "512";
  P.Video_DisableVideo = true;
  P.Video_TargetType = "dvd";
  P.Video_TimeStart = 5;
  P.Video_TimeLength = 7;
  P.Reset();
  TWorkingParameters Expected;
  Expected.Video_AddFileName = "/in/a.avi";
  EXPECT_EQ(P, Expected);
  EXPECT_EQ(P.Video_AudioVolume, "256");
  EXPECT_EQ(P.Video_VideoBitrate, -1);
  EXPECT_EQ(P.Video_AudioBitrate, -1);
  EXPECT_EQ(P.Video_TimeStart, -1);
  EXPECT_EQ(P.Video_TimeLength, -1);
  EXPECT_FALSE(P.Video_DisableVideo);
}

TEST(WorkingParameters, ApplyMp3AndDvd) {
  TempFolder Out;
  TWorkingParameters P;
  P.Video_AddFileName = "/in/clip.rmvb";
  P.Video_FrameSize = "left over";

  ApplyProfile(P, *FindProfile(2, 0), Out.Path(), false);
  EXPECT_TRUE(P.Video_DisableVideo);
  EXPECT_EQ(P.Video_FileExt, ".mp3");
  EXPECT_EQ(P.Video_AudioCodec, "libmp3lame");
  EXPECT_EQ(P.Video_AudioChannels, "2");
  EXPECT_EQ(P.Video_AudioSampleRate, "48000");
  EXPECT_EQ(P.Video_AudioBitrate, 128000);
  EXPECT_EQ(P.Video_VideoBitrate, -1);
  EXPECT_EQ(P.Video_FrameSize, "");
  EXPECT_EQ(P.Video_VideoCodec, "");
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip.mp3");

  ApplyProfile(P, *FindProfile(1, 11), Out.Path(), false);
  EXPECT_EQ(P.Video_TargetType, "dvd");
  EXPECT_EQ(P.Video_NormType, "PAL");
  EXPECT_EQ(P.Video_VideoBitrate, -1000);
  EXPECT_EQ(P.Video_AudioBitrate, -1000);
  EXPECT_EQ(P.Video_FileExt, "");
  EXPECT_FALSE(P.Video_DisableVideo);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip.mpg");

  // The names whose ending differs from the extension column.
  const struct {
    int Category, Profile;
    const char *Name;
  } Endings[] = {{1, 14, "clip.rm"},
                 {2, 6, "clip.ra"},
                 {3, 0, "clip.avi"},
                 {10, 5, "clip.swf"},
                 {10, 6, "clip.flv"}};
  for (const auto &E : Endings) {
    ApplyProfile(P, *FindProfile(E.Category, E.Profile), Out.Path(), false);
    EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/" + E.Name);
  }
}

TEST(WorkingParameters, CollisionNamesCountUp) {
  TempFolder Out;
  TWorkingParameters P;
  P.Video_AddFileName = "/in/clip.rmvb";
  const TProfile &Avi = *FindProfile(0, 0);

  ApplyProfile(P, Avi, Out.Path(), false);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip.avi");
  Out.Touch("clip.avi");
  ApplyProfile(P, Avi, Out.Path(), false);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip_1.avi");
  Out.Touch("clip_1.avi");
  ApplyProfile(P, Avi, Out.Path(), false);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip_2.avi");
  ApplyProfile(P, Avi, Out.Path(), true);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip.avi");
  // A folder given with its slash joins the same way.
  ApplyProfile(P, Avi, Out.Path() + "/", true);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip.avi");

  // A dangling link counts as taken: writing through it would create its target elsewhere.
  fs::create_symlink(Out.Path() + "/nowhere", Out.Path() + "/song.mp3");
  P.Video_AddFileName = "/in/song.wav";
  ApplyProfile(P, *FindProfile(2, 0), Out.Path(), false);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/song_1.mp3");
}

TEST(WorkingParameters, InputIsNeverItsOwnOutput) {
  TempFolder Out;
  TWorkingParameters P;
  P.Video_AddFileName = Out.Touch("clip.mp4");
  const TProfile &Mp4 = *FindProfile(8, 0);
  ApplyProfile(P, Mp4, Out.Path(), false);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip_1.mp4");
  ApplyProfile(P, Mp4, Out.Path(), true);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip_1.mp4");
  // Reached through another spelling of the folder too.
  ApplyProfile(P, Mp4, Out.Path() + "/.", true);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/./clip_1.mp4");
}

TEST(WorkingParameters, ReservedNamesAreSkipped) {
  TempFolder Out;
  const std::set<std::string> Reserved = {Out.Path() + "/clip.avi", Out.Path() + "/clip_1.avi"};
  const auto IsReserved = [&](const std::string &N) { return Reserved.count(N) > 0; };
  TWorkingParameters P;
  P.Video_AddFileName = "/other/clip.avi";
  ApplyProfile(P, *FindProfile(0, 0), Out.Path(), true, IsReserved);
  EXPECT_EQ(P.Video_OutPutFileName, Out.Path() + "/clip_2.avi");
}

TEST(WorkingParameters, FileNameParts) {
  const std::pair<const char *, const char *> Replaced[] = {
      {"/in/clip.rmvb", "clip.mp4"},  {"/in/clip", "clip.mp4"},
      {"/in/a.b/clip", "clip.mp4"},   {"/in/clip.tar.gz", "clip.tar.mp4"},
      {"/in/.hidden", ".hidden.mp4"}, {"/in/中文 名称 测试.avi", "中文 名称 测试.mp4"},
      {"clip.avi", "clip.mp4"},       {"/in/clip.", "clip.mp4"},
  };
  for (auto [In, Out] : Replaced)
    EXPECT_EQ(ReplaceFileExt(In, ".mp4"), Out) << In;

  EXPECT_EQ(JoinOutputPath("/out", "a.mp4"), "/out/a.mp4");
  EXPECT_EQ(JoinOutputPath("/out/", "a.mp4"), "/out/a.mp4");
  EXPECT_EQ(JoinOutputPath("", "a.mp4"), "a.mp4");

  TempFolder Out;
  Out.Touch("noext");
  EXPECT_EQ(AvoidCollision(Out.Path() + "/noext", false), Out.Path() + "/noext_1");
  Out.Touch(".hidden");
  EXPECT_EQ(AvoidCollision(Out.Path() + "/.hidden", false), Out.Path() + "/.hidden_1");
}

} // namespace
