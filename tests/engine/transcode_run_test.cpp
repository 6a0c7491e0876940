// Whole conversions: stream copy, recording time, join mode, the plain encode path, and the run
// control (worker thread, stop, pause, termination).
#include "transcode_test_util.h"

#include "ff_event.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

using namespace std::chrono_literals;

namespace {

class TranscodeRunTest : public TranscodeTest {
protected:
  // Copies every stream of AInput into AOutput with the task's run on the calling thread.
  std::unique_ptr<TCustomFFmpeg> CopyTask(const std::string &AInput, const std::string &AOutput) {
    auto task = NewTask();
    EXPECT_TRUE(task->OpenInputFile(AInput)) << task->FLastErrMsg;
    task->ParseOption("vcodec", "copy");
    task->ParseOption("acodec", "copy");
    task->ParseOption("scodec", "copy");
    EXPECT_GE(task->OpenOutputFile(AOutput, false), 1) << task->FLastErrMsg;
    return task;
  }
};

// The packets of a stream: timestamps and durations as ffprobe reads them back.
std::vector<TProbedPacket> StreamPackets(const std::vector<TProbedPacket> &APackets, int AStream) {
  std::vector<TProbedPacket> out;
  for (const TProbedPacket &p : APackets)
    if (p.Stream == AStream)
      out.push_back(p);
  return out;
}

TEST_F(TranscodeRunTest, StreamCopyKeepsEveryPacketAsTheToolDoes) {
  struct TCase {
    const char *Input;
    const char *Output;
  };
  const TCase cases[] = {{"h264_aac_640x360.mp4", "copy.mkv"},
                         {"mpeg4_mp3_320x240.avi", "copy.mkv"},
                         {"h264_aac_640x360.mp4", "copy.mov"}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(std::string(c.Input) + " -> " + c.Output);
    const std::string input = MediaPath(c.Input);
    const std::string ours = Out(std::string("ours_") + c.Output);
    const std::string tool = Out(std::string("tool_") + c.Output);
    auto task = CopyTask(input, ours);
    EXPECT_EQ(task->StartConvert(false, tpNormal), nullptr);
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    EXPECT_FALSE(task->FatalException());
    EXPECT_TRUE(task->Terminated());

    int status = -1;
    CommandOutput("ffmpeg -nostdin -v error -y -i " + ShellQuote(input) + " -c copy " +
                      ShellQuote(tool),
                  &status);
    ASSERT_EQ(status, 0);
    const auto original = ProbePackets(input);
    const auto expected = ProbePackets(tool);
    const auto got = ProbePackets(ours);
    for (int s = 0; s < 2; ++s) {
      SCOPED_TRACE("stream " + std::to_string(s));
      const auto e = StreamPackets(expected, s);
      const auto g = StreamPackets(got, s);
      EXPECT_EQ(g.size(), StreamPackets(original, s).size());
      ASSERT_EQ(g.size(), e.size());
      for (size_t i = 0; i < g.size(); ++i) {
        EXPECT_EQ(g[i].Pts, e[i].Pts) << "packet " << i;
        EXPECT_EQ(g[i].Dts, e[i].Dts) << "packet " << i;
        EXPECT_EQ(g[i].Duration, e[i].Duration) << "packet " << i;
        EXPECT_EQ(g[i].Key, e[i].Key) << "packet " << i;
      }
    }
    EXPECT_TRUE(DecodesCleanly(ours));
  }
}

TEST_F(TranscodeRunTest, MatroskaToMP4CopiesWhatTheContainerTakes) {
  struct TCase {
    const char *Subtitles; // scodec, or none
    std::vector<std::string> Codecs;
  };
  const TCase cases[] = {{nullptr, {"h264", "aac"}}, // the default audio; MP4 has no default text
                         {"mov_text", {"h264", "aac", "mov_text"}}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Subtitles ? c.Subtitles : "no subtitles");
    const std::string out = Out(std::string(c.Subtitles ? c.Subtitles : "none") + ".mp4");
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(MediaPath("two_audio_sub.mkv"))) << task->FLastErrMsg;
    task->ParseOption("vcodec", "copy");
    task->ParseOption("acodec", "copy");
    if (c.Subtitles)
      task->ParseOption("scodec", c.Subtitles);
    ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    task->StartConvert(false, tpNormal);
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    const auto streams = ProbeStreams(out);
    ASSERT_EQ(streams.size(), c.Codecs.size());
    for (size_t i = 0; i < streams.size(); ++i)
      EXPECT_EQ(streams[i].Codec, c.Codecs[i]);
    const auto packets = ProbePackets(out);
    EXPECT_EQ(StreamPackets(packets, 0).size(),
              StreamPackets(ProbePackets(MediaPath("two_audio_sub.mkv")), 0).size());
    if (c.Subtitles) {
      // "Hello" and "World", with the empty samples MP4 puts around them.
      EXPECT_GE(StreamPackets(packets, 2).size(), 2u);
    }
    EXPECT_TRUE(DecodesCleanly(out));
  }
}

TEST_F(TranscodeRunTest, RecordingTimeCutsTheOutput) {
  const std::string out = Out("one_second.mkv");
  auto task = CopyTask(MediaPath("h264_aac_640x360.mp4"), out);
  task->SetRecordingTime(1000000);
  EXPECT_EQ(task->FTotalOutputDuration, 1000000);
  task->StartConvert(false, tpNormal);
  ASSERT_TRUE(task->Finished()) << task->FatalMessage();
  EXPECT_NEAR(ProbeDuration(out), 1.0, 0.1);
  EXPECT_EQ(StreamPackets(ProbePackets(out), 0).size(), 25u);
}

TEST_F(TranscodeRunTest, JoinModeWritesTheInputsOneAfterAnother) {
  struct TCase {
    const char *Output;
    int Inputs;
    const char *VideoCodec, *AudioCodec;
  };
  const TCase cases[] = {{"joined_copy.mkv", 2, "copy", "copy"},
                         {"joined_encoded.mkv", 3, "mpeg4", "aac"}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Output);
    const std::string out = Out(c.Output);
    auto task = NewTask();
    for (int i = 0; i < c.Inputs; ++i)
      ASSERT_TRUE(task->OpenInputFile(MediaPath("h264_aac_640x360.mp4"))) << task->FLastErrMsg;
    task->ParseOption("vcodec", c.VideoCodec);
    task->ParseOption("acodec", c.AudioCodec);
    ASSERT_EQ(task->OpenOutputFile(out, true), c.Inputs) << task->FLastErrMsg;
    EXPECT_TRUE(task->FJoinMode);
    EXPECT_EQ(task->OutputFile(0), task->OutputFile(c.Inputs - 1));
    EXPECT_EQ(task->FTotalOutputDuration, 3000000 * c.Inputs);
    EXPECT_EQ(task->OpenOutputFile(Out("second.mkv"), false), -1);
    EXPECT_EQ(task->FLastErrMsg, "Cannot join more than one output file.");

    std::vector<int> fileIndices;
    std::vector<int> frames;
    task->OnProgress = [&](TCustomFFmpeg *, int AFileIndex, int AFrameNumber, int, float, float,
                           int64_t, int64_t, int64_t) {
      fileIndices.push_back(AFileIndex);
      frames.push_back(AFrameNumber);
    };
    task->ReportInterval = 0;
    task->StartConvert(false, tpNormal);
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    EXPECT_NEAR(ProbeDuration(out), 3.0 * c.Inputs, 0.1);
    ASSERT_FALSE(fileIndices.empty());
    EXPECT_EQ(fileIndices.front(), 0);
    EXPECT_NE(std::find(fileIndices.begin(), fileIndices.end(), c.Inputs - 1), fileIndices.end());
    EXPECT_EQ(fileIndices.back(), -1);
    EXPECT_EQ(frames.back(), 75 * c.Inputs); // counting goes on across the inputs

    // Continuous: every video frame follows the previous one by one frame duration.
    const auto packets = ProbePackets(out);
    const auto video = StreamPackets(packets, 0);
    ASSERT_EQ(video.size(), 75u * c.Inputs);
    std::vector<long long> pts;
    for (const TProbedPacket &p : video)
      pts.push_back(std::atoll(p.Pts.c_str()));
    std::sort(pts.begin(), pts.end());
    for (size_t i = 1; i < pts.size(); ++i)
      EXPECT_EQ(pts[i] - pts[i - 1], 40) << "frame " << i;
    const auto audio = StreamPackets(packets, 1);
    for (size_t i = 1; i < audio.size(); ++i)
      EXPECT_GT(std::atoll(audio[i].Dts.c_str()), std::atoll(audio[i - 1].Dts.c_str()));
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
  }
}

TEST_F(TranscodeRunTest, PlainEncodePathGivesADecodableFile) {
  struct TCase {
    const char *Input;
    const char *Output;
    std::vector<std::pair<const char *, const char *>> Options;
    int Width, Height;
  };
  const TCase cases[] = {
      {"h264_aac_640x360.mp4",
       "encoded.avi",
       {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}},
       640,
       360},
      {"mpeg4_mp3_320x240.avi",
       "scaled.mp4",
       {{"vcodec", "libx264"}, {"acodec", "aac"}, {"s", "160x120"}, {"ar", "48000"}},
       160,
       120},
      {"mpeg4_mp3_320x240.avi",
       "cropped.mkv",
       {{"vcodec", "mpeg4"}, {"acodec", "pcm_s16le"}, {"croptop", "40"}, {"cropleft", "32"}},
       288,
       200},
      {"two_audio_sub.mkv",
       "filtered.mkv",
       {{"vcodec", "mpeg4"}, {"acodec", "ac3"}, {"vf", "hflip"}, {"s", "176x144"}},
       176,
       144},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Output);
    const std::string out = Out(c.Output);
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(MediaPath(c.Input))) << task->FLastErrMsg;
    for (const auto &[name, value] : c.Options)
      task->ParseOption(name, value);
    ASSERT_GE(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    task->StartConvert(false, tpNormal);
    ASSERT_TRUE(task->Finished()) << task->FatalMessage();
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
    const auto streams = ProbeStreams(out);
    ASSERT_GE(streams.size(), 2u);
    EXPECT_EQ(streams[0].Width, c.Width);
    EXPECT_EQ(streams[0].Height, c.Height);
    EXPECT_NEAR(ProbeDuration(out), 3.0, 0.25);
    EXPECT_GT(task->Fvideo_size, 0);
    EXPECT_GT(task->Faudio_size, 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Run control

TEST_F(TranscodeRunTest, WorkerReportsProgressAndTerminationOnItsThread) {
  const std::string out = Out("worker.mkv");
  auto task = CopyTask(MediaPath("h264_aac_640x360.mp4"), out);
  std::mutex lock; // protects the records below
  std::vector<std::thread::id> threads;
  std::vector<int> frames, files;
  std::vector<int64_t> totals;
  TEvent terminated;
  task->ReportInterval = 0;
  task->OnProgress = [&](TCustomFFmpeg *ASender, int AFileIndex, int AFrameNumber, int, float,
                         float, int64_t, int64_t, int64_t ATotal) {
    EXPECT_EQ(ASender, task.get());
    std::lock_guard<std::mutex> g(lock);
    threads.push_back(std::this_thread::get_id());
    frames.push_back(AFrameNumber);
    files.push_back(AFileIndex);
    totals.push_back(ATotal);
  };
  task->OnTerminate = [&](TCustomFFmpeg *) {
    {
      std::lock_guard<std::mutex> g(lock);
      threads.push_back(std::this_thread::get_id());
    }
    terminated.Set();
  };
  TConvertThread *worker = task->StartConvert(true, tpLower);
  ASSERT_NE(worker, nullptr);
  EXPECT_TRUE(task->Converting());
  // Created suspended: nothing runs before it is resumed.
  EXPECT_FALSE(terminated.WaitFor(100ms));
  worker->Resume();
  ASSERT_TRUE(terminated.WaitFor(30s));
  task->Stop(true);
  EXPECT_TRUE(task->Finished());
  EXPECT_FALSE(task->Converting());
  EXPECT_EQ(task->StartConvert(true, tpNormal), nullptr); // a terminated task does not restart

  std::lock_guard<std::mutex> g(lock);
  ASSERT_GE(frames.size(), 2u);
  for (const std::thread::id &id : threads)
    EXPECT_NE(id, std::this_thread::get_id());
  EXPECT_EQ(frames.back(), 75); // the last report counts every frame
  EXPECT_EQ(files.back(), -1);
  for (size_t i = 1; i < frames.size(); ++i)
    EXPECT_GE(frames[i], frames[i - 1]);
  for (int64_t t : totals)
    EXPECT_EQ(t, 3000000);
}

TEST_F(TranscodeRunTest, StopWhileRunningWritesTheTrailerAndIsNotFinished) {
  const std::string out = Out("stopped.mkv");
  auto task = CopyTask(MediaPath("h264_aac_640x360.mp4"), out);
  TEvent progressed;
  task->ReportInterval = 0;
  task->OnProgress = [&](TCustomFFmpeg *ASender, int, int, int, float, float, int64_t, int64_t,
                         int64_t) {
    progressed.Set();
    // Hold the worker in its first report until the stop arrives, so the stop lands mid-run.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!ASender->Broken() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
  };
  std::atomic<int> terminations{0};
  task->OnTerminate = [&](TCustomFFmpeg *) { ++terminations; };
  TConvertThread *worker = task->StartConvert(true, tpNormal);
  ASSERT_NE(worker, nullptr);
  worker->Resume();
  ASSERT_TRUE(progressed.WaitFor(30s));
  task->Stop(true);
  EXPECT_TRUE(task->Terminated());
  EXPECT_FALSE(task->Finished());
  EXPECT_FALSE(task->FatalException());
  EXPECT_EQ(terminations.load(), 1);
  // A playable file with what was copied before the stop.
  const auto video = StreamPackets(ProbePackets(out), 0);
  EXPECT_GE(video.size(), 1u);
  EXPECT_LT(video.size(), 75u);
  EXPECT_TRUE(DecodesCleanly(out));
}

TEST_F(TranscodeRunTest, PauseHoldsEveryEventUntilResume) {
  const std::string out = Out("paused.mkv");
  auto task = CopyTask(MediaPath("h264_aac_640x360.mp4"), out);
  std::atomic<int> reports{0};
  TEvent firstReport, reportAfterPause, terminated;
  std::atomic<bool> paused{false};
  task->ReportInterval = 0;
  task->OnProgress = [&](TCustomFFmpeg *ASender, int, int, int, float, float, int64_t, int64_t,
                         int64_t) {
    if (paused)
      reportAfterPause.Set();
    if (++reports == 1) {
      ASender->Pause(); // takes effect at the next hold point
      paused = true;
      firstReport.Set();
    }
  };
  task->OnTerminate = [&](TCustomFFmpeg *) { terminated.Set(); };
  task->StartConvert(true, tpNormal)->Resume();
  ASSERT_TRUE(firstReport.WaitFor(30s));
  // While paused: no progress and no termination.
  EXPECT_FALSE(reportAfterPause.WaitFor(300ms));
  EXPECT_FALSE(terminated.IsSet());
  EXPECT_EQ(reports.load(), 1);
  paused = false;
  task->Resume();
  ASSERT_TRUE(terminated.WaitFor(30s));
  EXPECT_TRUE(task->Finished());
  EXPECT_GT(reports.load(), 1);
}

TEST_F(TranscodeRunTest, StopResumesAPausedWorker) {
  auto task = CopyTask(MediaPath("h264_aac_640x360.mp4"), Out("paused_stop.mkv"));
  TEvent firstReport;
  task->ReportInterval = 0;
  task->OnProgress = [&](TCustomFFmpeg *ASender, int, int, int, float, float, int64_t, int64_t,
                         int64_t) {
    if (!firstReport.IsSet()) {
      ASender->Pause();
      firstReport.Set();
    }
  };
  task->StartConvert(true, tpNormal)->Resume();
  ASSERT_TRUE(firstReport.WaitFor(30s));
  task->Stop(true);
  EXPECT_TRUE(task->Terminated());
  EXPECT_FALSE(task->Finished());
  EXPECT_TRUE(DecodesCleanly(Out("paused_stop.mkv")));
}

TEST_F(TranscodeRunTest, DestroyingARunningTaskStopsAndJoinsItsWorker) {
  const std::string out = Out("destroyed.mkv");
  TEvent terminated;
  {
    auto task = CopyTask(MediaPath("two_audio_sub.mkv"), out);
    task->OnTerminate = [&](TCustomFFmpeg *) { terminated.Set(); };
    task->StartConvert(true, tpIdle)->Resume();
  }
  // The destructor returned only after the worker delivered its termination.
  EXPECT_TRUE(terminated.IsSet());
  // Either a complete playable file or none at all.
  if (std::filesystem::exists(out)) {
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;
  }
}

TEST_F(TranscodeRunTest, StoppingBeforeTheRunLeavesNoFile) {
  struct TCase {
    const char *Name;
    bool StartFirst; // StartConvert (worker never resumed) before the stop
  };
  for (const TCase c : {TCase{"started", true}, TCase{"never_started", false}}) {
    SCOPED_TRACE(c.Name);
    const std::string out = Out(std::string(c.Name) + ".mkv");
    auto task = CopyTask(MediaPath("h264_aac_640x360.mp4"), out);
    std::atomic<int> terminations{0};
    std::thread::id terminatedOn;
    task->OnTerminate = [&](TCustomFFmpeg *) {
      terminatedOn = std::this_thread::get_id();
      ++terminations;
    };
    if (c.StartFirst) {
      ASSERT_NE(task->StartConvert(true, tpNormal), nullptr);
    }
    task->StopTask(true);
    task->StopTask(true); // delivered once only
    EXPECT_EQ(terminations.load(), 1);
    EXPECT_NE(terminatedOn, std::this_thread::get_id());
    EXPECT_TRUE(task->Terminated());
    EXPECT_FALSE(task->Finished());
    EXPECT_FALSE(task->FatalException());
    if (c.StartFirst) {
      EXPECT_FALSE(std::filesystem::exists(out)); // the empty output was removed
    }
    task.reset();
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

TEST_F(TranscodeRunTest, MissingInputOrOutputEndsTheTaskAtOnce) {
  struct TCase {
    bool Input, Output;
    const char *Message;
  };
  const TCase cases[] = {{true, false, "At least one output file must be specified"},
                         {false, true, "At least one input file must be specified"}};
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Message);
    auto task = NewTask();
    if (c.Input) {
      ASSERT_TRUE(task->OpenInputFile(MediaPath("audio.wav")));
    }
    if (c.Output) {
      ASSERT_GE(task->OpenOutputFile(Out("never.wav"), false), 1) << task->FLastErrMsg;
    }
    int terminations = 0;
    task->OnTerminate = [&](TCustomFFmpeg *) { ++terminations; };
    EXPECT_EQ(task->StartConvert(true, tpNormal), nullptr);
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(task->FatalException());
    EXPECT_EQ(task->FatalMessage(), c.Message);
    EXPECT_FALSE(task->Finished());
    EXPECT_TRUE(Logged(llQuiet, c.Message));
    EXPECT_TRUE(OutputFiles().empty());
  }
}

TEST_F(TranscodeRunTest, AudioOnlyReportsCarryNoFrameFigures) {
  auto task = NewTask();
  ASSERT_TRUE(task->OpenInputFile(MediaPath("audio.wav")));
  task->ParseOption("acodec", "copy");
  ASSERT_EQ(task->OpenOutputFile(Out("audio.mkv"), false), 1) << task->FLastErrMsg;
  int reports = 0;
  task->ReportInterval = 0;
  task->OnProgress = [&](TCustomFFmpeg *, int, int AFrameNumber, int AFPS, float AQuality,
                         float ABitRate, int64_t ASize, int64_t ADuration, int64_t) {
    ++reports;
    EXPECT_EQ(AFrameNumber, -1);
    EXPECT_EQ(AFPS, -1);
    EXPECT_EQ(AQuality, -1.0f);
    EXPECT_GE(ABitRate, 0.0f);
    EXPECT_GE(ASize, 0);
    EXPECT_GE(ADuration, 10000);
  };
  task->StartConvert(false, tpNormal);
  EXPECT_TRUE(task->Finished()) << task->FatalMessage();
  EXPECT_GT(reports, 1);
}

TEST_F(TranscodeRunTest, ProgressTextIsLoggedWithoutAHandler) {
  auto task = CopyTask(MediaPath("h264_aac_640x360.mp4"), Out("logged.mkv"));
  task->SetVerbose(0);
  task->StartConvert(false, tpNormal);
  ASSERT_TRUE(task->Finished()) << task->FatalMessage();
  EXPECT_TRUE(LoggedContaining("frame=   75 fps="));
  EXPECT_TRUE(LoggedContaining(" q=-1.0 L"));
  EXPECT_TRUE(LoggedContaining("muxing overhead"));
  EXPECT_TRUE(Logged(llVerbose, "Stream mapping:"));
  EXPECT_TRUE(Logged(llVerbose, "  Stream #0.0 -> #0.0 (Video)"));
  EXPECT_TRUE(Logged(llVerbose, "  Stream #0.1 -> #0.1 (Audio)"));
}

} // namespace
