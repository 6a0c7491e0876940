#include "av_probe.h"
#include "ff_error.h"
#include "probe_test_util.h"
#include "probe_text.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/samplefmt.h>
}

namespace fs = std::filesystem;

namespace {

using CustomProbeTest = ProbeTest;

// Counts and indexes, as a row of one table.
struct TCounts {
  int Streams, Programs, Audio, Video, Subtitle, FirstAudio, FirstVideo, FirstSubtitle;
  bool operator==(const TCounts &) const = default;
};

TCounts CountsOf(const TCustomAVProbe &P) {
  return {P.StreamCount(),           P.ProgramCount(),
          P.AudioStreamCount(),      P.VideoStreamCount(),
          P.SubtitleStreamCount(),   P.FirstAudioStreamIndex(),
          P.FirstVideoStreamIndex(), P.FirstSubtitleStreamIndex()};
}

std::ostream &operator<<(std::ostream &os, const TCounts &C) {
  return os << C.Streams << "/" << C.Programs << " a" << C.Audio << " v" << C.Video << " s"
            << C.Subtitle << " first " << C.FirstAudio << "," << C.FirstVideo << ","
            << C.FirstSubtitle;
}

const TCounts Empty{-1, -1, -1, -1, -1, -1, -1, -1};

TEST_F(CustomProbeTest, WithoutFileEverythingIsEmptyAndReported) {
  TCustomAVProbe probe;
  EXPECT_EQ(CountsOf(probe), Empty);
  EXPECT_EQ(probe.FileSize(), -1);
  EXPECT_EQ(probe.FileInfoText(), "");
  EXPECT_EQ(probe.LastErrMsg(), "file not loaded.");
  EXPECT_TRUE(Logged(&probe, llWarning, "file not loaded."));
  const TFileStreamInfo fi = probe.FileStreamInfo();
  EXPECT_EQ(fi.StartTime, -1);
  EXPECT_EQ(fi.Duration, -1);
  EXPECT_EQ(fi.BitRate, -1);
  EXPECT_EQ(fi.Year, -1);
  EXPECT_EQ(fi.Title, "");
  EXPECT_EQ(probe.FileName(), "");
  EXPECT_EQ(probe.FormatName(), "");
  EXPECT_FALSE(probe.IsVideoStream(0));
  EXPECT_EQ(probe.VideoStreamInfo(0).Width, -1);
}

TEST_F(CustomProbeTest, CountsAndFirstIndexesOfSamples) {
  const struct {
    const char *Name;
    TCounts Counts;
  } cases[] = {
      {"h264_aac_640x360.mp4", {2, 0, 1, 1, 0, 1, 0, -1}},
      {"two_audio_sub.mkv", {4, 0, 2, 1, 1, 1, 0, 3}},
      {"audio.wav", {1, 0, 1, 0, 0, 0, -1, -1}},
      {"noaspect_640x360.mp4", {1, 0, 0, 1, 0, -1, 0, -1}},
  };
  TCustomAVProbe probe;
  for (const auto &c : cases) {
    const std::string path = MediaPath(c.Name);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();
    EXPECT_EQ(CountsOf(probe), c.Counts) << c.Name;
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(fs::file_size(path))) << c.Name;
    EXPECT_EQ(probe.FileName(), path);
  }
  ASSERT_TRUE(probe.LoadFile(ProbeMedia("programs.ts")));
  EXPECT_EQ(probe.ProgramCount(), 1);
  probe.CloseFile();
  EXPECT_EQ(CountsOf(probe), Empty);
  EXPECT_EQ(probe.FileSize(), -1);
}

TEST_F(CustomProbeTest, StreamRecordsOfAnMP4) {
  TCustomAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(MediaPath("h264_aac_640x360.mp4")));
  EXPECT_EQ(probe.FormatName(), "mov,mp4,m4a,3gp,3g2,mj2");
  EXPECT_EQ(probe.FormatLongName(), "QuickTime / MOV");

  const TVideoStreamInfo v = probe.FirstVideoStreamInfo();
  EXPECT_EQ(v.Width, 640);
  EXPECT_EQ(v.Height, 360);
  EXPECT_EQ(v.PixFmt, AV_PIX_FMT_YUV420P);
  EXPECT_FLOAT_EQ(v.AspectRatio, 640.0f / 360.0f);
  EXPECT_EQ(v.FrameRate.num, 25);
  EXPECT_EQ(v.FrameRate.den, 1);
  EXPECT_EQ(v.CodecName, "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)");
  EXPECT_EQ(v.Language, "und");
  EXPECT_EQ(v.StartTime, 0);
  EXPECT_EQ(v.StartTimeScaled, 0);
  EXPECT_EQ(v.Duration, 3 * 12800);
  EXPECT_EQ(v.DurationScaled, 3000000);
  EXPECT_GT(v.BitRate, 0);

  const TAudioStreamInfo a = probe.AudioStreamInfo(1);
  EXPECT_EQ(a.SampleRate, 48000);
  EXPECT_EQ(a.Channels, 2);
  EXPECT_EQ(a.SampleFormat, AV_SAMPLE_FMT_FLTP);
  EXPECT_EQ(a.CodecName.rfind("aac(", 0), 0u) << a.CodecName;
  EXPECT_EQ(a.BitRate, probe.FirstAudioStreamInfo().BitRate);

  const TFileStreamInfo f = probe.FileStreamInfo();
  EXPECT_EQ(f.Duration, 3000000);
  EXPECT_EQ(f.StartTime, 0);
  EXPECT_GT(f.BitRate, 1000000);
  EXPECT_EQ(f.TimeStamp, 0);
  EXPECT_EQ(f.Year, 0);
  EXPECT_EQ(f.Title, "");
}

TEST_F(CustomProbeTest, LanguagesTitleTagsAndNoAspect) {
  TCustomAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(MediaPath("two_audio_sub.mkv")));
  EXPECT_EQ(probe.AudioStreamInfo(-1).Language, "chi");
  const TAudioStreamInfo eng = probe.AudioStreamInfo(2);
  EXPECT_EQ(eng.Language, "eng");
  EXPECT_NEAR(static_cast<double>(eng.StartTimeScaled), 996000, 30000);
  EXPECT_EQ(eng.Duration, AV_NOPTS_VALUE); // Matroska keeps no stream durations
  EXPECT_EQ(eng.DurationScaled, -1);
  EXPECT_EQ(probe.FirstSubtitleStreamInfo().CodecName, "srt(SubRip subtitle)");
  EXPECT_TRUE(probe.IsSubtitleStream(3));
  EXPECT_TRUE(probe.IsAudioStream(2));
  EXPECT_FALSE(probe.IsVideoStream(2));
  EXPECT_EQ(probe.FileStreamInfo().Title, "Two audio");

  ASSERT_TRUE(probe.LoadFile(MediaPath("noaspect_640x360.mp4")));
  EXPECT_EQ(probe.VideoStreamInfo(0).AspectRatio, 0.0f);

  ASSERT_TRUE(probe.LoadFile(MediaPath("audio.mp3")));
  const TFileStreamInfo mp3 = probe.FileStreamInfo();
  EXPECT_EQ(mp3.Title, "Sine");
  EXPECT_GT(mp3.StartTime, 0);
}

TEST_F(CustomProbeTest, WrongOrMissingStreamsKeepStartingValues) {
  TCustomAVProbe probe;
  const struct {
    const char *File;
    char Kind; // a, v, s, or i for IsVideoStream
    int Index;
    const char *Msg;
  } cases[] = {
      {"noaspect_640x360.mp4", 'a', -1, "no audio stream."},
      {"audio.wav", 'v', -1, "no video stream."},
      {"audio.wav", 's', -5, "no subtitle stream."},
      {"h264_aac_640x360.mp4", 'a', 0, "stream #0 is not audio stream."},
      {"h264_aac_640x360.mp4", 'v', 1, "stream #1 is not video stream."},
      {"h264_aac_640x360.mp4", 's', 1, "stream #1 is not subtitle stream."},
      {"h264_aac_640x360.mp4", 'a', 2, "stream index #2 is invalid."},
      {"h264_aac_640x360.mp4", 'i', -1, "stream index #-1 is invalid."},
      {"h264_aac_640x360.mp4", 'i', 2, "stream index #2 is invalid."},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(probe.LoadFile(MediaPath(c.File)));
    ClearLines();
    switch (c.Kind) {
    case 'a': {
      const TAudioStreamInfo a = probe.AudioStreamInfo(c.Index);
      EXPECT_EQ(a.CodecName, "");
      EXPECT_EQ(a.Language, "");
      EXPECT_EQ(a.Channels, -1);
      EXPECT_EQ(a.SampleRate, -1);
      EXPECT_EQ(a.StartTime, -1);
      EXPECT_EQ(a.DurationScaled, -1);
      break;
    }
    case 'v': {
      const TVideoStreamInfo v = probe.VideoStreamInfo(c.Index);
      EXPECT_EQ(v.Width, -1);
      EXPECT_EQ(v.AspectRatio, -1.0f);
      EXPECT_EQ(v.FrameRate.num, -1);
      EXPECT_EQ(v.FrameRate.den, -1);
      break;
    }
    case 's':
      EXPECT_EQ(probe.SubtitleStreamInfo(c.Index).CodecName, "");
      break;
    default:
      EXPECT_FALSE(probe.IsVideoStream(c.Index));
    }
    EXPECT_EQ(probe.LastErrMsg(), c.Msg) << c.File << " " << c.Kind << c.Index;
    EXPECT_TRUE(Logged(&probe, llError, c.Msg)) << c.Msg;
  }
}

TEST_F(CustomProbeTest, UnknownFormatNameFailsWithoutLogging) {
  TCustomAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(MediaPath("audio.wav")));
  ClearLines();
  EXPECT_FALSE(probe.LoadFile(MediaPath("audio.wav"), "nosuchformat"));
  EXPECT_EQ(probe.LastErrMsg(), "Unknown input format: nosuchformat");
  EXPECT_TRUE(LinesOf(&probe).empty());
  EXPECT_EQ(probe.StreamCount(), -1); // the previous file was closed
  // A named format that exists is used and remembered.
  ASSERT_TRUE(probe.LoadFile(MediaPath("audio.wav"), "wav"));
  EXPECT_EQ(probe.ForceFormat(), "wav");
  probe.CloseFile();
  EXPECT_EQ(probe.ForceFormat(), "");
}

// Damaged, empty and non-media files fail quickly with the library's reason; files with very
// many streams or huge metadata load quickly.
TEST_F(CustomProbeTest, BadAndHeavyInputsReturnPromptly) {
  const struct {
    std::string Path;
    bool Loads;
    const char *Reason;
  } cases[] = {
      {MediaPath("empty.mp4"), false, "Invalid data found when processing input"},
      {MediaPath("text.mp4"), false, "Invalid data found when processing input"},
      {MediaPath("truncated.mp4"), false, "Invalid data found when processing input"},
      {MediaPath("random.avi"), false, "Invalid data found when processing input"},
      {MediaPath("no_such_file.mp4"), false, "No such file or directory"},
      {ProbeMedia("many_streams.mkv"), true, ""},
      {ProbeMedia("big_meta.mkv"), true, ""},
  };
  TAVProbe probe;
  for (const auto &c : cases) {
    ClearLines();
    const auto start = std::chrono::steady_clock::now();
    const bool loaded = probe.LoadFile(c.Path);
    const std::string msg = probe.LastErrMsg();
    const std::string text = probe.FileInfoText();
    probe.Decode();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2)) << c.Path;
    ASSERT_EQ(loaded, c.Loads) << c.Path << ": " << msg;
    if (!c.Loads) {
      EXPECT_EQ(msg, c.Path + ": " + c.Reason);
      EXPECT_TRUE(Logged(&probe, llError, msg));
      EXPECT_EQ(probe.StreamCount(), -1);
      EXPECT_EQ(text, "");
    }
  }
  ASSERT_TRUE(probe.LoadFile(ProbeMedia("many_streams.mkv")));
  EXPECT_EQ(probe.StreamCount(), 300);
  EXPECT_EQ(probe.AudioStreamCount(), 300);
  const std::string text = probe.FileInfoText();
  EXPECT_NE(text.find("Stream #299, 1/1000: Audio: pcm_s16le"), std::string::npos);
  ASSERT_TRUE(probe.LoadFile(ProbeMedia("big_meta.mkv")));
  EXPECT_EQ(probe.FileStreamInfo().Comment.size(), 1024u * 1024u);
  EXPECT_NE(probe.FileInfoText().find("  KEY999          : value999\r\n"), std::string::npos);
}

// The time-out reaches the libraries: with none left, opening gives up at once.
TEST_F(CustomProbeTest, OpeningStopsWhenTheTimeIsUp) {
  TCustomAVProbe probe;
  probe.SetTimeout(std::chrono::milliseconds(0));
  const std::string path = MediaPath("h264_aac_640x360.mp4");
  EXPECT_FALSE(probe.LoadFile(path));
  EXPECT_EQ(probe.LastErrMsg().rfind(path + ": ", 0), 0u) << probe.LastErrMsg();
  EXPECT_EQ(probe.StreamCount(), -1);
  probe.SetTimeout(std::chrono::seconds(10));
  EXPECT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();
}

TEST_F(CustomProbeTest, NamesTheLibrariesCannotTakeAsTheyStand) {
  const fs::path dir = fs::path(LC_TEST_BINARY_DIR) / ("probe-names-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string odd = (dir / "\xff\xfe clip.mp4").string(); // bytes that are not UTF-8
  fs::copy_file(MediaPath("h264_aac_640x360.mp4"), odd, fs::copy_options::overwrite_existing);
  const std::string chinese = MediaPath("中文 名称 测试.mp4");
  TCustomAVProbe probe;
  for (const std::string &name : {odd, chinese}) {
    ASSERT_TRUE(probe.LoadFile(name)) << probe.LastErrMsg();
    EXPECT_EQ(probe.FileName(), name);
    EXPECT_EQ(probe.FileSize(), static_cast<int64_t>(fs::file_size(name)));
    EXPECT_EQ(probe.FileInfoText().rfind("File Name: " + name + "\r\n", 0), 0u);
  }
  probe.CloseFile();
  fs::remove_all(dir);
}

TEST_F(CustomProbeTest, BoundContextIsReadButNeverClosed) {
  AVFormatContext *ctx = nullptr;
  ASSERT_EQ(avformat_open_input(&ctx, MediaPath("h264_aac_640x360.mp4").c_str(), nullptr, nullptr),
            0);
  ASSERT_GE(avformat_find_stream_info(ctx, nullptr), 0);
  {
    auto probe = std::make_unique<TAVProbe>();
    probe->SetFileHandle(ctx);
    EXPECT_EQ(probe->FileHandle(), ctx);
    EXPECT_FALSE(probe->OwnHandle());
    EXPECT_EQ(probe->StreamCount(), 2);
    EXPECT_EQ(probe->VideoStreamInfo(-1).Width, 640);
    EXPECT_NE(probe->FileInfoText().find("Format Name: mov,mp4"), std::string::npos);
    // Frame access refuses a borrowed context.
    for (int op = 0; op < 3; ++op) {
      try {
        if (op == 0)
          probe->Seek(0);
        else if (op == 1)
          probe->Decode();
        else
          probe->DecodePreviousKeyFrame();
        ADD_FAILURE() << "no exception from operation " << op;
      } catch (const EAVProbeError &e) {
        EXPECT_STREQ(e.what(), "file cannot be seeked, handle is readonly.");
      }
    }
    EXPECT_TRUE(Logged(probe.get(), llWarning, "file cannot be seeked, handle is readonly."));
    probe->CloseFile();
    EXPECT_EQ(probe->StreamCount(), -1);
    probe->BindFileHandle(ctx);
  } // the prober is freed while bound
  // The context is still open and usable.
  AVPacket *pkt = av_packet_alloc();
  EXPECT_EQ(av_read_frame(ctx, pkt), 0);
  av_packet_free(&pkt);
  avformat_close_input(&ctx);
}

TEST_F(CustomProbeTest, MissingLibrariesRaiseInOrder) {
  TCustomAVProbe probe;
  const struct {
    TLibraries Unloaded;
    const char *Msg;
  } cases[] = {{{avCodec, avFormat, avUtil, swScale}, "LibAVCodec not loaded."},
               {{avFormat, swScale}, "LibAVFormat not loaded."},
               {{avUtil, swScale}, "LibAVUtil not loaded."},
               {{swScale}, "LibSwScale not loaded."}};
  for (const auto &c : cases) {
    ASSERT_TRUE(probe.LoadAVLib(""));
    EXPECT_TRUE(probe.AVLibLoaded());
    FFLoader().Unload(c.Unloaded);
    EXPECT_FALSE(probe.AVLibLoaded());
    try {
      probe.LoadFile(MediaPath("audio.wav"));
      ADD_FAILURE() << "LoadFile did not raise";
    } catch (const EAVProbeError &e) {
      EXPECT_STREQ(e.what(), c.Msg);
    }
    EXPECT_THROW(probe.BindFileHandle(nullptr), EAVProbeError);
  }
  ASSERT_TRUE(probe.LoadAVLib(""));
}

} // namespace
