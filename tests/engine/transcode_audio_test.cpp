// The audio and subtitle output path: volume, conversion to the encoder's rate and layout, sync
// by silence, the encoders that stand in for missing ones, and subtitles without a time.
#include "transcode_test_util.h"

#include "amrnb_encoder.h"

#include <algorithm>
#include <climits>
#include <regex>

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

class TranscodeAudioTest : public TranscodeTest {
protected:
  std::unique_ptr<TCustomFFmpeg> Run(const std::string &AInput, const std::string &AOutput,
                                     const TOptions &AOptions) {
    auto task = NewTask();
    EXPECT_TRUE(task->OpenInputFile(MediaPath(AInput))) << task->FLastErrMsg;
    for (const auto &[name, value] : AOptions)
      task->ParseOption(name, value);
    EXPECT_GE(task->OpenOutputFile(AOutput, false), 1) << task->FLastErrMsg;
    task->StartConvert(false, tpNormal);
    return task;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> lock(FLock);
    FLines.clear();
  }
  std::vector<std::string> LinesContaining(const std::string &APart) {
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<std::string> found;
    for (const auto &l : FLines)
      if (l.Msg.find(APart) != std::string::npos)
        found.push_back(l.Msg);
    return found;
  }
};

TEST_F(TranscodeAudioTest, VolumeDoublesTheAmplitudeInTheDecodersFormat) {
  // A sine of amplitude 0.75: the part below half scale doubles, the rest clips.
  const struct {
    const char *Input;
    int Tolerance; // float samples round once more on their way to 16 bits
  } cases[] = {{"loud_s16.wav", 0}, {"loud_f32.wav", 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Input);
    const std::string out = Out(std::string("vol_") + c.Input);
    auto task =
        Run(c.Input, out, {{"acodec", "pcm_s16le"}, {"ar", "44100"}, {"ac", "1"}, {"vol", "512"}});
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    const std::vector<int16_t> in = DecodedSamples(MediaPath(c.Input));
    const std::vector<int16_t> got = DecodedSamples(out);
    ASSERT_EQ(got.size(), in.size());
    int clipped = 0, worst = 0;
    for (size_t i = 0; i < in.size(); ++i) {
      const int expected = std::clamp(2 * in[i], INT16_MIN, INT16_MAX);
      worst = std::max(worst, std::abs(got[i] - expected));
      clipped += got[i] == INT16_MAX || got[i] == INT16_MIN;
    }
    EXPECT_LE(worst, c.Tolerance);
    EXPECT_GT(clipped, static_cast<int>(in.size()) / 10);
  }
}

TEST_F(TranscodeAudioTest, OneConverterServesTheWholeStream) {
  // AAC at 48 kHz stereo to MP3 at 44.1 kHz.
  auto task = Run("h264_aac_640x360.mp4", Out("resampled.mp3"),
                  {{"vn", ""}, {"acodec", "libmp3lame"}, {"ar", "44100"}});
  ASSERT_TRUE(task->Finished()) << task->FatalMessage();
  EXPECT_EQ(LinesContaining("Converting audio for output stream #0.0").size(), 1u);
  const auto streams = ProbeStreams(Out("resampled.mp3"));
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].SampleRate, 44100);
  EXPECT_EQ(streams[0].Channels, 2);
  EXPECT_NEAR(ProbeDuration(Out("resampled.mp3")), 3.0, 0.1);
}

TEST_F(TranscodeAudioTest, UnusualLayoutsConvertToTheEncodersLayout) {
  const struct {
    const char *Input, *Channels, *Rate;
  } cases[] = {
      {"mono_8k.wav", "2", "8000"},      // mono to stereo at the same rate
      {"surround_51.ac3", "2", "44100"}, // 5.1 down to stereo
      {"audio.wav", "1", "8000"},        // stereo down to mono at 8 kHz
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Input);
    const std::string out = Out(std::string("layout_") + c.Input + ".wav");
    auto task = Run(c.Input, out, {{"acodec", "pcm_s16le"}, {"ac", c.Channels}, {"ar", c.Rate}});
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    const auto streams = ProbeStreams(out);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].Channels, std::atoi(c.Channels));
    EXPECT_EQ(streams[0].SampleRate, std::atoi(c.Rate));
    EXPECT_NEAR(ProbeDuration(out), 3.0, 0.1);
    const std::vector<int16_t> samples = DecodedSamples(out);
    EXPECT_GT(*std::max_element(samples.begin(), samples.end()), 1000);
    if (std::string(c.Input) == "mono_8k.wav") {
      // The one channel feeds both.
      bool same = true;
      for (size_t i = 0; i + 1 < samples.size(); i += 2)
        same = same && samples[i] == samples[i + 1];
      EXPECT_TRUE(same);
    }
  }
}

TEST_F(TranscodeAudioTest, AudioSyncPutsSilenceBeforeLateSound) {
  // late_audio.mkv: sound from 0.5 s to 2 s.
  auto task = Run("late_audio.mkv", Out("synced.wav"),
                  {{"vn", ""},
                   {"acodec", "pcm_s16le"},
                   {"ar", "44100"},
                   {"ac", "1"},
                   {"async", "1"},
                   {"v", "3"}});
  ASSERT_TRUE(task->Finished()) << task->FatalMessage();
  const auto added = LinesContaining("audio samples of silence");
  ASSERT_EQ(added.size(), 1u); // later small drifts are left alone
  int count = 0;
  ASSERT_EQ(std::sscanf(added[0].c_str(), "adding %d audio samples of silence", &count), 1);
  EXPECT_NEAR(count, 22050, 60);
  const std::vector<int16_t> samples = DecodedSamples(Out("synced.wav"));
  EXPECT_NEAR(static_cast<double>(samples.size()), 2.0 * 44100, 200);
  const auto loudest = [&](size_t AFrom, size_t ATo) {
    int m = 0;
    for (size_t i = AFrom; i < ATo && i < samples.size(); ++i)
      m = std::max(m, std::abs(static_cast<int>(samples[i])));
    return m;
  };
  EXPECT_EQ(loudest(0, 44100 * 45 / 100), 0);
  EXPECT_GT(loudest(44100 * 55 / 100, 44100), 1000);
}

TEST_F(TranscodeAudioTest, SmallDriftIsStretchedOnlyWhenAskedTo) {
  // Sound whose timestamps run 0.2 % fast: 88 samples a second more than it holds. The first
  // correction at the start fills the gap with silence; what follows is below the threshold.
  const struct {
    const char *Async;
    bool Stretched;
  } cases[] = {{"1", false}, {"1000", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Async);
    ClearLog();
    auto task = NewTask();
    task->ParseOption("itsscale", "0:1.002");
    ASSERT_TRUE(task->OpenInputFile(MediaPath("audio.wav"))) << task->FLastErrMsg;
    for (const auto &[name, value] : TOptions{
             {"acodec", "pcm_s16le"}, {"ar", "44100"}, {"ac", "2"}, {"async", c.Async}, {"v", "3"}})
      task->ParseOption(name, value);
    const std::string out = Out(std::string("drift_") + c.Async + ".wav");
    ASSERT_GE(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    task->StartConvert(false, tpNormal);
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    EXPECT_EQ(LinesContaining("audio samples of silence").size(), 1u);
    const auto compensated = LinesContaining("compensating audio timestamp drift");
    EXPECT_EQ(!compensated.empty(), c.Stretched);
    for (const std::string &line : compensated) {
      int comp = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "compensating audio timestamp drift:%*f compensation:%d",
                            &comp),
                1)
          << line;
      EXPECT_LE(std::abs(comp), 1000);
    }
    const double frames = static_cast<double>(DecodedSamples(out).size()) / 2;
    if (c.Stretched) {
      EXPECT_GT(frames, 3 * 44100 + 150);
    } else {
      EXPECT_GT(frames, 3 * 44100);
      EXPECT_LT(frames, 3 * 44100 + 100);
    }
  }
}

TEST_F(TranscodeAudioTest, MissingEncodersAreServedAndDecodeBack) {
  const struct {
    const char *Name, *Output, *Codec, *Rate, *Channels, *BitRate;
  } cases[] = {
      {"libfaac", "faac.m4a", "aac", "48000", "2", "128000"},
      {"libopencore_amrnb", "amr.amr", "amr_nb", "8000", "1", "7400"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    auto task = Run(
        "h264_aac_640x360.mp4", Out(c.Output),
        {{"vn", ""}, {"acodec", c.Name}, {"ar", c.Rate}, {"ac", c.Channels}, {"ab", c.BitRate}});
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    EXPECT_EQ(LinesContaining(std::string("Encoder ") + c.Name + " is not in this build").size(),
              1u);
    const auto streams = ProbeStreams(Out(c.Output));
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].Codec, c.Codec);
    EXPECT_EQ(streams[0].SampleRate, std::atoi(c.Rate));
    EXPECT_EQ(streams[0].Channels, std::atoi(c.Channels));
    EXPECT_NEAR(ProbeDuration(Out(c.Output)), 3.0, 0.1);
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(Out(c.Output), &errors)) << errors;
  }
  // 7.4 kbit/s frames are 20 bytes each (header byte included), 50 a second, after the magic.
  const auto size = std::filesystem::file_size(Out("amr.amr"));
  EXPECT_EQ((size - 6) % 20, 0u);
  EXPECT_NEAR(static_cast<double>(size - 6) / 20, 150, 2);
}

TEST_F(TranscodeAudioTest, EncoderNamesThatAreServedByOthers) {
  const struct {
    const char *Name;
    AVMediaType Type;
    bool Encoder, Found;
    AVCodecID Id;
  } cases[] = {
      {"libfaac", AVMEDIA_TYPE_AUDIO, true, true, AV_CODEC_ID_AAC},
      {"libopencore_amrnb", AVMEDIA_TYPE_AUDIO, true, true, AV_CODEC_ID_AMR_NB},
      {"libopencore_amrnb", AVMEDIA_TYPE_AUDIO, false, true, AV_CODEC_ID_AMR_NB},
      {"libopencore_amrnb", AVMEDIA_TYPE_VIDEO, true, false, AV_CODEC_ID_NONE},
      {"libfaac", AVMEDIA_TYPE_AUDIO, false, false, AV_CODEC_ID_NONE},
  };
  auto task = NewTask();
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.Name) + (c.Encoder ? " encoder" : " decoder"));
    AVCodecID id = AV_CODEC_ID_PROBE;
    EXPECT_EQ(task->FindCodecByName(c.Name, c.Type, id, 0, c.Encoder), c.Found)
        << task->FLastErrMsg;
    if (c.Found) {
      EXPECT_EQ(id, c.Id);
    }
  }
}

TEST_F(TranscodeAudioTest, AMRModeIsTheNearestToTheBitRate) {
  const struct {
    int64_t BitRate;
    int Mode;
  } cases[] = {{7400, 4}, {12200, 7}, {0, 0}, {128000, 7}, {7000, 3}, {10000, 6}};
  for (const auto &c : cases) {
    EXPECT_EQ(TAMRNBEncoder::ModeOf(c.BitRate), c.Mode) << c.BitRate;
    EXPECT_GT(TAMRNBEncoder::BitRateOf(c.Mode), 0);
  }
}

TEST_F(TranscodeAudioTest, APacketTheDecoderRefusesIsSkippedOrEndsTheRun) {
  // The sample with its 40th sound packet overwritten.
  const std::string input = Out("damaged.mp4");
  std::filesystem::copy_file(MediaPath("h264_aac_640x360.mp4"), input);
  const std::string where =
      CommandOutput("ffprobe -v error -select_streams a -show_entries packet=pos,size -of "
                    "csv=p=0 " +
                    ShellQuote(input) + " | sed -n 40p");
  long size = 0, pos = 0;
  ASSERT_EQ(std::sscanf(where.c_str(), "%ld,%ld", &size, &pos), 2) << where;
  {
    std::FILE *f = std::fopen(input.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, pos, SEEK_SET);
    const std::vector<char> junk(static_cast<size_t>(size), '\xff');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  }
  const char *message = "Error while decoding stream #0.1 (Audio)";
  for (const bool exitOnError : {false, true}) {
    SCOPED_TRACE(exitOnError ? "xerror" : "skip");
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(input)) << task->FLastErrMsg;
    for (const auto &[name, value] :
         TOptions{{"vn", ""}, {"acodec", "pcm_s16le"}, {"ar", "48000"}, {"ac", "2"}})
      task->ParseOption(name, value);
    if (exitOnError)
      task->ParseOption("xerror", "");
    const std::string out = Out(exitOnError ? "xerror.wav" : "skipped.wav");
    ASSERT_GE(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    task->StartConvert(false, tpNormal);
    if (exitOnError) {
      EXPECT_FALSE(task->Finished());
      EXPECT_EQ(task->FatalMessage(), message);
    } else {
      ASSERT_TRUE(task->Finished()) << task->FatalMessage();
      EXPECT_TRUE(Logged(llVerbose, message));
      EXPECT_NEAR(ProbeDuration(out), 3.0, 0.1);
    }
  }
}

TEST_F(TranscodeAudioTest, SubtitleWithoutATimeIsSkippedOrEndsTheRun) {
  auto task = NewTask();
  AVSubtitle sub{};
  // Refused before anything of the stream is looked at.
  task->EncodeSubtitle(nullptr, nullptr, &sub, AV_NOPTS_VALUE);
  EXPECT_TRUE(Logged(llError, "Subtitle packets must have a pts"));
  task->ParseOption("xerror", "");
  EXPECT_THROW(task->EncodeSubtitle(nullptr, nullptr, &sub, AV_NOPTS_VALUE), FFmpegException);
}

} // namespace
