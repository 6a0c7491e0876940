// Every profile with its default choices, through lingchuan-cli, on one short input: the file
// that comes out is checked with ffprobe against what the profile asks of this FFmpeg build.
#include "cli/cli_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

// The input: 160x120, 25 fps, 2 s, 48 kHz stereo. Profiles that keep the input's size or rate
// give 160x120 or 25 fps.
constexpr double InputSeconds = 2.0;
constexpr double InputRate = 25.0;

struct TProfileOutput {
  const char *Profile;   // C.P as --list numbers it
  const char *Extension; // of the output name
  const char *Format;    // ffprobe's format name
  const char *Video;     // ffprobe's codec name; "" for a profile without video
  const char *Audio;
  int Width, Height;
  const char *FrameRate; // frames per second as a ratio; mpeg1video/mpeg2video take the nearest
                         // rate of their own list
  int SampleRate;
  int Channels;
};

// Codecs left empty by a profile are the container's defaults in this build: mpeg4 and mp3 for
// AVI, libx264 for MOV, MP4 and Matroska, flv1 and mp3 for FLV and SWF, mpeg1video and mp2 for
// MPEG, rv10 and ac3 for RM, aac for M4A, PCM for WAV and AIFF. The disc targets bring their own
// codecs; their size, rate and sound come from the choices.
const TProfileOutput Outputs[] = {
    {"0.0", ".avi", "avi", "mpeg4", "mp3", 160, 120, "25", 48000, 2},
    {"0.1", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"0.2", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 1280, 720, "2997/100", 48000, 2},
    {"0.3", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"0.4", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 1280, 720, "2997/100", 48000, 2},
    {"0.5", ".avi", "avi", "mpeg4", "mp3", 640, 480, "25", 44100, 2},
    {"0.6", ".avi", "avi", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"0.7", ".mov", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 160, 120, "25", 48000, 2},
    {"0.8", ".wmv", "asf", "wmv2", "wmav2", 160, 120, "25", 44100, 2},
    {"0.9", ".mpg", "mpeg", "mpeg2video", "mp2", 640, 480, "25", 44100, 2},
    {"0.10", ".mkv", "matroska,webm", "mpeg4", "mp3", 160, 120, "2997/100", 44100, 2},
    {"0.11", ".flv", "flv", "flv1", "mp3", 160, 120, "25", 22050, 2},
    {"1.0", ".avi", "avi", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"1.1", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"1.2", ".avi", "avi", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"1.3", ".mov", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 160, 120, "25", 48000, 2},
    {"1.4", ".avi", "avi", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"1.5", ".mkv", "matroska,webm", "mpeg4", "mp3", 160, 120, "2997/100", 44100, 2},
    {"1.6", ".mpg", "mpeg", "mpeg1video", "mp2", 320, 240, "25", 44100, 2},
    {"1.7", ".mpg", "mpeg", "mpeg2video", "mp2", 160, 120, "25", 44100, 2},
    {"1.8", ".asf", "asf", "msmpeg4v3", "wmav2", 160, 120, "25", 48000, 2},
    {"1.9", ".3gp", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 176, 144, "12", 8000, 1},
    {"1.10", ".wmv", "asf", "wmv2", "wmav2", 160, 120, "25", 44100, 2},
    {"1.11", ".mpg", "mpeg", "mpeg2video", "ac3", 704, 480, "30000/1001", 44100, 2},
    {"1.12", ".mpg", "mpeg", "mpeg2video", "mp2", 480, 480, "25", 44100, 2},
    {"1.13", ".mpg", "mpeg", "mpeg1video", "mp2", 320, 240, "25", 44100, 2},
    {"1.14", ".rm", "rm", "rv20", "ac3", 320, 240, "25", 44100, 2},
    {"2.0", ".mp3", "mp3", "", "mp3", 0, 0, "", 44100, 2},
    {"2.1", ".wma", "asf", "", "wmav2", 0, 0, "", 44100, 2},
    {"2.2", ".wav", "wav", "", "pcm_s16le", 0, 0, "", 48000, 2},
    {"2.3", ".aac", "aac", "", "aac", 0, 0, "", 48000, 2},
    {"2.4", ".m4a", "mov,mp4,m4a,3gp,3g2,mj2", "", "aac", 0, 0, "", 44100, 2},
    {"2.5", ".ogg", "ogg", "", "vorbis", 0, 0, "", 44100, 2},
    {"2.6", ".ra", "rm", "", "ac3", 0, 0, "", 44100, 2},
    {"2.7", ".ac3", "ac3", "", "ac3", 0, 0, "", 44100, 2},
    {"2.8", ".aiff", "aiff", "", "pcm_s16be", 0, 0, "", 44100, 2},
    {"2.9", ".mp2", "mp3", "", "mp2", 0, 0, "", 44100, 2},
    {"2.10", ".flac", "flac", "", "flac", 0, 0, "", 48000, 2},
    {"2.11", ".m4a", "mov,mp4,m4a,3gp,3g2,mj2", "", "aac", 0, 0, "", 48000, 2},
    {"2.12", ".amr", "amr", "", "amr_nb", 0, 0, "", 8000, 1},
    {"3.0", ".avi", "avi", "h264", "mp3", 160, 120, "25", 48000, 2},
    {"3.1", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"3.2", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"3.3", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 800, 600, "2997/100", 48000, 2},
    {"3.4", ".avi", "avi", "mpeg4", "mp3", 1024, 768, "30", 44100, 2},
    {"3.5", ".avi", "avi", "mpeg4", "mp3", 160, 120, "2997/100", 48000, 2},
    {"3.6", ".mkv", "matroska,webm", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"3.7", ".mov", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 160, 120, "25", 48000, 2},
    {"3.8", ".flv", "flv", "flv1", "mp3", 160, 120, "25", 22050, 2},
    {"3.9", ".3gp", "mov,mp4,m4a,3gp,3g2,mj2", "h263", "aac", 176, 144, "12", 32000, 2},
    {"3.10", ".wmv", "asf", "wmv2", "wmav2", 160, 120, "25", 44100, 2},
    {"3.11", ".asf", "asf", "msmpeg4v3", "wmav2", 160, 120, "25", 48000, 2},
    {"3.12", ".mpg", "mpeg", "mpeg2video", "mp2", 640, 480, "25", 44100, 2},
    {"3.13", ".mpg", "mpeg", "mpeg2video", "mp2", 800, 600, "25", 44100, 2},
    {"3.14", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"3.15", ".mp3", "mp3", "", "mp3", 0, 0, "", 44100, 2},
    {"4.0", ".avi", "avi", "mpeg4", "mp3", 480, 272, "25", 48000, 2},
    {"4.1", ".avi", "avi", "mpeg4", "mp3", 720, 480, "25", 48000, 2},
    {"4.2", ".avi", "avi", "mpeg4", "mp3", 320, 240, "25", 48000, 2},
    {"4.3", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 320, 240, "25", 48000, 2},
    {"4.4", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 320, 240, "25", 48000, 2},
    {"4.5", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 320, 240, "25", 48000, 2},
    {"4.6", ".wmv", "asf", "wmv2", "wmav2", 320, 240, "25", 48000, 2},
    {"4.7", ".avi", "avi", "mpeg4", "mp3", 640, 480, "25", 48000, 2},
    {"5.0", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 160, 120, "30", 32000, 2},
    {"5.1", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 720, 480, "30", 44100, 2},
    {"5.2", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 160, 120, "30", 32000, 2},
    {"5.3", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 1280, 720, "30", 48000, 2},
    {"5.4", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 160, 120, "30", 24000, 2},
    {"5.5", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 160, 120, "2997/100", 44100, 2},
    {"5.6", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 1920, 1080, "30", 48000, 2},
    {"5.7", ".mov", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 160, 120, "25", 48000, 2},
    {"5.8", ".mov", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 1280, 720, "2997/100", 48000, 2},
    {"5.9", ".avi", "avi", "mpeg4", "mp3", 160, 120, "25", 48000, 2},
    {"5.10", ".avi", "avi", "mpeg4", "aac", 1280, 720, "2997/100", 44100, 2},
    {"6.0", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 480, 320, "25", 48000, 2},
    {"6.1", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"6.2", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 1280, 720, "2997/100", 48000, 2},
    {"6.3", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 1280, 720, "2997/100", 48000, 2},
    {"6.4", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 1920, 1080, "2997/100", 48000, 2},
    {"6.5", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 720, 406, "25", 48000, 2},
    {"6.6", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 720, 406, "2997/100", 48000, 2},
    {"6.7", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 320, 240, "25", 44100, 2},
    {"6.8", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 480, 320, "25", 48000, 2},
    {"6.9", ".mov", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 160, 120, "25", 48000, 2},
    {"6.10", ".mov", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 1280, 720, "2997/100", 48000, 2},
    {"6.11", ".avi", "avi", "mpeg4", "mp3", 160, 120, "25", 48000, 2},
    {"6.12", ".avi", "avi", "mpeg4", "mp3", 1280, 720, "2997/100", 44100, 2},
    {"6.13", ".avi", "avi", "msmpeg4v3", "mp3", 1280, 720, "2997/100", 48000, 2},
    {"6.14", ".wmv", "asf", "wmv2", "wmav2", 1280, 720, "2997/100", 48000, 2},
    {"7.0", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 320, 240, "25", 48000, 2},
    {"7.1", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 320, 240, "25", 48000, 2},
    {"7.2", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 320, 240, "25", 48000, 2},
    {"7.3", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"7.4", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"7.5", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 640, 480, "25", 48000, 2},
    {"7.6", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"7.7", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 480, 320, "25", 48000, 2},
    {"7.8", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"7.9", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 640, 480, "25", 48000, 2},
    {"7.10", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 480, "25", 48000, 2},
    {"7.11", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 640, 272, "25", 48000, 2},
    {"7.12", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 320, 240, "25", 48000, 2},
    {"7.13", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac", 480, 320, "25", 48000, 2},
    {"8.0", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "mp3", 320, 240, "25", 44100, 2},
    {"8.1", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"8.2", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "mp3", 160, 120, "25", 44100, 2},
    {"8.3", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac", 160, 120, "2997/100", 44100, 2},
    {"8.4", ".mp4", "mov,mp4,m4a,3gp,3g2,mj2", "h264", "mp3", 160, 120, "2997/100", 44100, 2},
    {"9.0", ".mkv", "matroska,webm", "mpeg4", "mp3", 160, 120, "25", 44100, 2},
    {"9.1", ".mkv", "matroska,webm", "h264", "mp3", 1280, 720, "2997/100", 48000, 2},
    {"9.2", ".mkv", "matroska,webm", "h264", "mp3", 320, 240, "25", 44100, 2},
    {"9.3", ".mkv", "matroska,webm", "mpeg4", "mp3", 160, 120, "2997/100", 44100, 2},
    {"9.4", ".mkv", "matroska,webm", "mpeg4", "mp3", 320, 240, "25", 44100, 2},
    {"9.5", ".mkv", "matroska,webm", "h264", "mp3", 160, 120, "20", 32000, 2},
    {"9.6", ".mkv", "matroska,webm", "mpeg4", "mp3", 1280, 720, "2997/100", 48000, 2},
    {"10.0", ".swf", "swf", "flv1", "mp3", 160, 120, "25", 22050, 2},
    {"10.1", ".swf", "swf", "flv1", "mp3", 1280, 720, "2997/100", 22050, 2},
    {"10.2", ".swf", "swf", "flv1", "mp3", 320, 240, "25", 22050, 2},
    {"10.3", ".swf", "swf", "flv1", "mp3", 320, 240, "20", 22050, 2},
    {"10.4", ".flv", "flv", "flv1", "mp3", 160, 120, "25", 22050, 2},
    {"10.5", ".swf", "swf", "", "mp3", 0, 0, "", 22050, 2},
    {"10.6", ".flv", "flv", "", "mp3", 0, 0, "", 22050, 2},
};

void PrintTo(const TProfileOutput &AOutput, std::ostream *AOut) {
  *AOut << AOutput.Profile;
}

std::string PrintProfile(const ::testing::TestParamInfo<TProfileOutput> &AInfo) {
  std::string name = std::string("p") + AInfo.param.Profile;
  for (char &c : name)
    if (c == '.')
      c = '_';
  return name;
}

class ProfileTest : public ::testing::TestWithParam<TProfileOutput> {};

TEST_P(ProfileTest, DefaultChoicesGiveTheProfilesFile) {
  const TProfileOutput &p = GetParam();
  const auto folder = TestFolder(std::string("profile-") + p.Profile);
  const TCliResult run =
      RunCli({"-p", p.Profile, "-o", folder.string(), MediaPath("profile_160x120.mp4")});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  ASSERT_EQ(FolderFiles(folder),
            std::vector<std::string>{std::string("profile_160x120") + p.Extension});
  const TProbedFile f =
      ProbeFile((folder / (std::string("profile_160x120") + p.Extension)).string());
  ASSERT_TRUE(f.Read) << "ffprobe cannot read the output";
  EXPECT_EQ(f.Format, p.Format);
  EXPECT_NEAR(f.Duration, InputSeconds, 0.3);

  ASSERT_EQ(f.Count("audio"), 1);
  const TProbedStream &a = *f.First("audio");
  EXPECT_EQ(a.Codec, p.Audio);
  EXPECT_EQ(a.SampleRate, p.SampleRate);
  EXPECT_EQ(a.Channels, p.Channels);

  if (*p.Video == '\0') {
    EXPECT_EQ(f.Count("video"), 0);
    return;
  }
  ASSERT_EQ(f.Count("video"), 1);
  const TProbedStream &v = *f.First("video");
  EXPECT_EQ(v.Codec, p.Video);
  EXPECT_EQ(v.Width, p.Width);
  EXPECT_EQ(v.Height, p.Height);
  const double rate = RatioValue(p.FrameRate);
  EXPECT_NEAR(v.FrameRate, rate, rate * 0.001);
  // The pictures keep the stated rate: frames are repeated or dropped. Formats that allow a
  // variable rate (Matroska, FLV) take the pictures at their own times and repeat none.
  const bool variable = std::string(p.Format) == "matroska,webm" || std::string(p.Format) == "flv";
  const double kept = variable ? std::min(rate, InputRate) : rate;
  EXPECT_NEAR(v.Packets, kept * InputSeconds, 2.0);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProfileTest, ::testing::ValuesIn(Outputs), PrintProfile);

TEST(ProfileTable, HoldsEveryProfileOnce) {
  const TCliResult list = RunCli({"--list"});
  ASSERT_EQ(list.Status, 0);
  std::vector<std::string> listed, tested;
  for (const std::string &line : Lines(list.Out))
    listed.push_back(line.substr(0, line.find('\t')));
  for (const TProfileOutput &p : Outputs)
    tested.push_back(p.Profile);
  EXPECT_EQ(tested, listed);
}

} // namespace
