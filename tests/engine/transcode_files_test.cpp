// Opening inputs, creating outputs and mapping streams: every refusal with its message, what the
// options take from an input, the mapping rules, and the bad inputs a run meets.
#include "transcode_test_util.h"

#include <fstream>
#include <sys/stat.h>

namespace {

class TranscodeFilesTest : public TranscodeTest {
protected:
  // A sample made with the ffmpeg tool into the test's folder.
  std::string MakeSample(const std::string &AName, const std::string &AArgs) {
    const std::string file = Out(AName);
    int status = -1;
    CommandOutput("ffmpeg -nostdin -v error -y " + AArgs + " " + ShellQuote(file), &status);
    EXPECT_EQ(status, 0) << AArgs;
    return file;
  }
  // Runs the task on the calling thread; its fatal message, or "" when it finished.
  static std::string RunFailure(TCustomFFmpeg &ATask) {
    ATask.StartConvert(false, tpNormal);
    EXPECT_TRUE(ATask.Terminated());
    if (ATask.Finished())
      return std::string();
    EXPECT_TRUE(ATask.FatalException());
    return ATask.FatalMessage();
  }
};

TEST_F(TranscodeFilesTest, InputsThatCannotBeOpenedSayWhy) {
  struct TCase {
    std::string File;
    std::string Message;
  };
  const std::string missing = Out("missing.mp4");
  const TCase cases[] = {
      {missing, missing + ": No such file or directory"},
      {MediaPath("text.mp4"), MediaPath("text.mp4") + ": Invalid data found when processing input"},
      {MediaPath("empty.mp4"),
       MediaPath("empty.mp4") + ": Invalid data found when processing input"},
      {MediaPath("truncated.mp4"),
       MediaPath("truncated.mp4") + ": Invalid data found when processing input"},
      {MediaPath("random.avi"),
       MediaPath("random.avi") + ": Invalid data found when processing input"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.File);
    auto task = NewTask();
    task->ParseOption("vcodec", "h264"); // a pending decoder name is used up either way
    EXPECT_FALSE(task->OpenInputFile(c.File));
    EXPECT_EQ(task->FLastErrMsg, c.Message);
    EXPECT_EQ(task->nb_input_files(), 0);
    EXPECT_TRUE(task->Finput_files.empty());
    EXPECT_TRUE(task->Fvideo_codec_name.empty());
  }
}

TEST_F(TranscodeFilesTest, InputRefusalsOfTheOptions) {
  auto task = NewTask();
  task->ParseOption("f", "nosuchformat");
  try {
    task->OpenInputFile(MediaPath("audio.wav"));
    ADD_FAILURE() << "no exception";
  } catch (const FFmpegException &e) {
    EXPECT_STREQ(e.what(), "Unknown input format: \"nosuchformat\"");
  }
  EXPECT_TRUE(task->Flast_asked_format.empty());

  const std::pair<std::pair<const char *, const char *>, const char *> cases[] = {
      {{"acodec", "nosuch"}, "Unknown decoder 'nosuch'"},
      {{"acodec", "h264"}, "Invalid decoder type 'h264'"},
      {{"programid", "7"}, "Specified program id not found"},
  };
  for (const auto &[option, message] : cases) {
    SCOPED_TRACE(message);
    task->ParseOption(option.first, option.second);
    EXPECT_FALSE(task->OpenInputFile(MediaPath("mpeg4_mp3_320x240.avi")));
    EXPECT_EQ(task->FLastErrMsg, message);
    EXPECT_EQ(task->nb_input_files(), 0);
    task->Fopt_programid = 0;
  }
  // The same input opens once the options are right.
  EXPECT_TRUE(task->OpenInputFile(MediaPath("mpeg4_mp3_320x240.avi"))) << task->FLastErrMsg;
  EXPECT_EQ(task->nb_input_files(), 1);
}

TEST_F(TranscodeFilesTest, AnInputGivesTheOutputDefaults) {
  auto task = NewTask();
  ASSERT_TRUE(task->OpenInputFile(MediaPath("noaspect_640x360.mp4"))) << task->FLastErrMsg;
  EXPECT_EQ(task->Fframe_width, 640);
  EXPECT_EQ(task->Fframe_height, 360);
  EXPECT_FLOAT_EQ(task->Fframe_aspect_ratio, 640.0f / 360.0f);
  EXPECT_EQ(task->Fframe_pix_fmt, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(task->Fframe_rate.num, 25);
  EXPECT_EQ(task->Fframe_rate.den, 1);
  EXPECT_EQ(task->FTotalOutputDuration, 2000000);
  // The interrupt callback answers the task's stop request.
  const AVIOInterruptCB &cb = task->Finput_files[0]->interrupt_callback;
  ASSERT_NE(cb.callback, nullptr);
  EXPECT_EQ(cb.callback(cb.opaque), 0);

  ASSERT_TRUE(task->OpenInputFile(MediaPath("surround_51.ac3"))) << task->FLastErrMsg;
  EXPECT_EQ(task->Faudio_channels, 6);
  EXPECT_EQ(task->Faudio_sample_rate, 48000);
  EXPECT_EQ(task->Fchannel_layout, static_cast<int64_t>(AV_CH_LAYOUT_5POINT1));
  // One decoder entry per input stream, whatever its type.
  EXPECT_EQ(task->Fnb_icodecs, 2);

  const std::string out = Out("defaults.mkv");
  task->ParseOption("vcodec", "mpeg4");
  task->ParseOption("acodec", "ac3");
  ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
  EXPECT_EQ(RunFailure(*task), "");
  const auto streams = ProbeStreams(out);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].Width, 640);
  EXPECT_EQ(streams[0].Height, 360);
  EXPECT_EQ(streams[1].Channels, 6);
}

TEST_F(TranscodeFilesTest, OutputsThatCannotBeCreatedSayWhyAndLeaveNothing) {
  const std::string readOnly = Out("read_only");
  std::filesystem::create_directories(readOnly);
  ::chmod(readOnly.c_str(), 0555);
  const bool root = ::geteuid() == 0;
  struct TCase {
    std::string File;
    std::vector<std::pair<std::string, std::string>> Options;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {Out("out.xyz"), {}, "Unable to find a suitable output format for '" + Out("out.xyz") + "'"},
      {Out("out.mkv"),
       {{"f", "nosuch"}},
       "Requested output format 'nosuch' is not a suitable output format"},
      // The feed format is gone from today's libraries: refused before anything is opened.
      {"http://localhost:1/feed.ffm",
       {{"f", "ffm"}},
       "Requested output format 'ffm' is not a suitable output format"},
      {Out("frame.png"), {}, Out("frame.png") + ": Number syntax expected in filename"},
      {Out("no/such/folder/out.mkv"),
       {},
       Out("no/such/folder/out.mkv") + ": No such file or directory"},
      {readOnly + "/out.mkv", {}, readOnly + "/out.mkv: Error number -13 occurred"},
      {Out("out.mkv"), {{"vcodec", "nosuch"}}, "new_video_stream fail: Unknown encoder 'nosuch'"},
      {Out("out.mkv"), {{"vcodec", "aac"}}, "new_video_stream fail: Invalid encoder type 'aac'"},
      {Out("out.mkv"),
       {{"acodec", "vorbis"}},
       "new_audio_stream fail: encoder 'vorbis' is experimental and might produce bad "
       "results.\r\nAdd '-strict experimental' if you want to use it.\r\nOr use the non "
       "experimental encoder 'libvorbis'."},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Message);
    if (root && c.File.rfind(readOnly, 0) == 0)
      continue; // permissions do not bind the superuser
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(MediaPath("h264_aac_640x360.mp4")));
    for (const auto &[name, value] : c.Options)
      task->ParseOption(name, value);
    EXPECT_EQ(task->OpenOutputFile(c.File, false), -1);
    EXPECT_EQ(task->FLastErrMsg, c.Message);
    EXPECT_EQ(task->nb_output_files(), 0);
    EXPECT_TRUE(task->Foutput_files.empty());
  }
  ::chmod(readOnly.c_str(), 0755);
  std::filesystem::remove(readOnly);
  EXPECT_TRUE(OutputFiles().empty());

  // An experimental encoder is taken once the strictness allows it.
  auto task = NewTask();
  ASSERT_TRUE(task->OpenInputFile(MediaPath("audio.wav")));
  task->ParseOption("strict", "experimental");
  task->ParseOption("acodec", "vorbis");
  EXPECT_EQ(task->OpenOutputFile(Out("vorbis.mka"), false), 1) << task->FLastErrMsg;
}

TEST_F(TranscodeFilesTest, OutputStreamKindsFollowTheInputsAndOptions) {
  struct TCase {
    const char *Input;
    const char *Output;
    std::vector<std::pair<const char *, const char *>> Options;
    std::vector<AVMediaType> Kinds;
  };
  const TCase cases[] = {
      {"audio.mp3", "audio_only.mp4", {}, {AVMEDIA_TYPE_AUDIO}},
      {"two_audio_sub.mkv",
       "all.mkv",
       {},
       {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}},
      {"two_audio_sub.mkv",
       "no_video.mkv",
       {{"vn", "1"}},
       {AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}},
      {"two_audio_sub.mkv", "plain.mp4", {}, {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}},
      {"odd_321x241.avi", "silent.avi", {}, {AVMEDIA_TYPE_VIDEO}},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Output);
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(MediaPath(c.Input)));
    for (const auto &[name, value] : c.Options)
      task->ParseOption(name, value);
    ASSERT_EQ(task->OpenOutputFile(Out(c.Output), false), 1) << task->FLastErrMsg;
    const AVFormatContext *oc = task->OutputFile(0);
    ASSERT_EQ(oc->nb_streams, c.Kinds.size());
    for (size_t i = 0; i < c.Kinds.size(); ++i)
      EXPECT_EQ(task->OutputStreamSetup(0, static_cast<int>(i))->codec->codec_type, c.Kinds[i]);
    EXPECT_EQ(task->Fnb_ocodecs, static_cast<int>(c.Kinds.size()));
    // Closing the files removes the output that stayed empty.
    EXPECT_TRUE(std::filesystem::exists(Out(c.Output)));
    task->CloseFiles();
    EXPECT_FALSE(std::filesystem::exists(Out(c.Output)));
  }
}

TEST_F(TranscodeFilesTest, EncoderFormatChoices) {
  auto task = NewTask();
  ASSERT_TRUE(task->OpenInputFile(MediaPath("mpeg4_mp3_320x240.avi")));
  task->ParseOption("vcodec", "mjpeg");
  task->ParseOption("acodec", "ac3");
  task->ParseOption("ar", "11025");
  ASSERT_EQ(task->OpenOutputFile(Out("choices.mkv"), false), 1) << task->FLastErrMsg;
  const AVCodecContext *video = task->OutputStreamSetup(0, 0)->codec.get();
  const AVCodecContext *audio = task->OutputStreamSetup(0, 1)->codec.get();
  EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUVJ420P); // mjpeg takes yuv420p only when less strict
  EXPECT_EQ(audio->sample_rate, 32000);           // the nearest that ac3 takes
  EXPECT_EQ(audio->time_base.den, 32000);
  EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_FLTP);
  EXPECT_TRUE(Logged(llWarning, "Requested sampling rate unsupported using closest supported "
                                "(32000)"));
  EXPECT_EQ(RunFailure(*task), "");
  const auto streams = ProbeStreams(Out("choices.mkv"));
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[1].SampleRate, 32000);
  EXPECT_TRUE(DecodesCleanly(Out("choices.mkv")));
}

TEST_F(TranscodeFilesTest, SetupRefusalsEndTheRunWithTheirMessage) {
  struct TCase {
    const char *Name;
    const char *Input;
    std::function<void(TCustomFFmpeg &)> BeforeOutput, AfterOutput;
    std::string Message;
    bool AlsoLogged;
  };
  const auto opt = [](std::vector<std::pair<const char *, const char *>> AOptions) {
    return [AOptions](TCustomFFmpeg &ATask) {
      for (const auto &[name, value] : AOptions)
        ATask.ParseOption(name, value);
    };
  };
  const auto nothing = [](TCustomFFmpeg &) {};
  const std::vector<TCase> cases = {
      {"three_maps", "h264_aac_640x360.mp4", opt({{"map", "0:0"}, {"map", "0:1"}, {"map", "0:1"}}),
       nothing, "Number of stream maps must match number of output streams", false},
      {"mismatch", "h264_aac_640x360.mp4", opt({{"map", "0:1"}, {"map", "0:0"}}), nothing,
       "Codec type mismatch for mapping #0.1 (Audio) -> #0.0 (Video)", false},
      {"no_stream", "h264_aac_640x360.mp4", opt({{"map", "0:0"}, {"map", "0:5"}}), nothing,
       "Could not find input stream #0.5", false},
      {"no_sync", "h264_aac_640x360.mp4", opt({{"map", "0:0:0:9"}, {"map", "0:1"}}), nothing,
       "Could not find sync stream #0.9", false},
      {"post_hooks", "h264_aac_640x360.mp4",
       [](TCustomFFmpeg &ATask) {
         ATask.SetPostHooks(TCustomFFmpeg::phPreview);
         ATask.ParseOption("vcodec", "copy");
       },
       nothing, "-vcodec copy and PostHooks are incompatible (frames are not decoded)", false},
      {"custom_hook", "h264_aac_640x360.mp4",
       [](TCustomFFmpeg &ATask) {
         ATask.OnCustomHook = [](TCustomFFmpeg *, QImage &, int, int64_t, bool &, bool &) {};
         ATask.ParseOption("vcodec", "copy");
       },
       nothing, "-vcodec copy and CustomHook are incompatible (frames are not decoded)", false},
      {"volume", "h264_aac_640x360.mp4", opt({{"acodec", "copy"}, {"vol", "512"}}), nothing,
       "-acodec copy and -vol are incompatible (frames are not decoded)", false},
      {"meta_out", "h264_aac_640x360.mp4", opt({{"map_meta_data", "5:0"}}), nothing,
       "Invalid output file index 5 map_meta_data(5,0)", true},
      {"meta_in", "h264_aac_640x360.mp4", opt({{"map_meta_data", "0:3"}}), nothing,
       "Invalid input file index 3 map_meta_data(0,3)", true},
      {"bad_size", "h264_aac_640x360.mp4", opt({{"vcodec", "h263"}, {"s", "320x240"}}), nothing,
       "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect parameters "
       "such as bit_rate, rate, width or height. Please check error log message to find out "
       "more detail information.",
       true},
      {"unmatched", "odd_321x241.avi", nothing, opt({{"newaudio", ""}}),
       "Could not find input stream matching output stream #0.1 (Audio)", false},
      {"no_streams", "odd_321x241.avi", nothing, nothing,
       "Output file #0 does not contain any stream", false},
      {"bad_bsf", "mpeg4_mp3_320x240.avi", opt({{"vcodec", "copy"}, {"vbsf", "h264_mp4toannexb"}}),
       nothing, "h264_mp4toannexb failed for stream 0: Invalid data found when processing input",
       false},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out =
        Out(std::string(c.Name) + (std::string(c.Name) == "no_streams" ? ".wav" : ".mkv"));
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(MediaPath(c.Input)));
    c.BeforeOutput(*task);
    ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    c.AfterOutput(*task);
    EXPECT_EQ(RunFailure(*task), c.Message);
    EXPECT_TRUE(Logged(llQuiet, c.Message));
    if (c.AlsoLogged) {
      EXPECT_TRUE(Logged(llError, c.Message));
    }
    EXPECT_FALSE(std::filesystem::exists(out)) << "no output is left behind";
  }
}

TEST_F(TranscodeFilesTest, MappingChoosesAndReusesInputStreams) {
  // Two audio streams, the second flagged as the default one.
  const std::string twoAudio = MakeSample(
      "second_default.mkv",
      "-f lavfi -i sine=frequency=440:duration=1 -f lavfi -i sine=frequency=880:duration=1 "
      "-map 0 -map 1 -c:a pcm_s16le -disposition:a:0 0 -disposition:a:1 default");
  struct TCase {
    const char *Name;
    std::string Input;
    std::vector<std::pair<const char *, const char *>> Before;
    std::vector<std::pair<const char *, const char *>> After;
    std::vector<std::string> Mapping;
  };
  const std::vector<TCase> cases = {
      {"default_second", twoAudio, {{"acodec", "copy"}}, {}, {"  Stream #0.1 -> #0.0 (Audio)"}},
      {"reuse",
       MediaPath("mpeg4_mp3_320x240.avi"),
       {{"vcodec", "copy"}, {"acodec", "copy"}},
       {{"acodec", "copy"}, {"newaudio", ""}},
       {"  Stream #0.0 -> #0.0 (Video)", "  Stream #0.1 -> #0.1 (Audio)",
        "  Stream #0.1 -> #0.2 (Audio)"}},
      {"maps_with_sync",
       MediaPath("h264_aac_640x360.mp4"),
       {{"vcodec", "copy"}, {"acodec", "copy"}, {"map", "0:0:0:1"}, {"map", "0:1"}},
       {},
       {"  Stream #0.0 -> #0.0 (Video) [sync #0.1 (Audio)]", "  Stream #0.1 -> #0.1 (Audio)"}},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = Out(std::string(c.Name) + ".mkv");
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(c.Input));
    for (const auto &[name, value] : c.Before)
      task->ParseOption(name, value);
    ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    for (const auto &[name, value] : c.After)
      task->ParseOption(name, value);
    EXPECT_EQ(RunFailure(*task), "");
    for (const std::string &line : c.Mapping)
      EXPECT_TRUE(Logged(llVerbose, line)) << line;
    EXPECT_EQ(ProbeStreams(out).size(), c.Mapping.size());
    EXPECT_TRUE(DecodesCleanly(out));
  }
}

TEST_F(TranscodeFilesTest, TwoPassEncodingUsesTheStatisticsFile) {
  // The statistics file goes to the working folder.
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(FDir);
  for (const char *pass : {"1", "2"}) {
    SCOPED_TRACE(pass);
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(MediaPath("mpeg4_mp3_320x240.avi")));
    task->ParseOption("vcodec", "mpeg4");
    task->ParseOption("b", "200000");
    task->ParseOption("an", "1");
    task->ParseOption("pass", pass);
    ASSERT_EQ(task->OpenOutputFile(Out(std::string("pass") + pass + ".avi"), false), 1)
        << task->FLastErrMsg;
    EXPECT_EQ(RunFailure(*task), "");
    EXPECT_GT(std::filesystem::file_size(FDir / "ffmpeg2pass-0.log"), 0u);
  }
  std::filesystem::current_path(saved);
  EXPECT_TRUE(DecodesCleanly(Out("pass2.avi")));
}

TEST_F(TranscodeFilesTest, DecodingErrorsAreSkippedUnlessTheyShouldEndTheRun) {
  // Every picture of this sample is damaged.
  const std::string damaged =
      MakeSample("damaged.mkv", "-f lavfi -i testsrc2=size=64x48:rate=5:duration=1 -c:v png "
                                "-bsf:v noise=amount=1");
  for (bool exitOnError : {false, true}) {
    SCOPED_TRACE(exitOnError ? "xerror" : "skip");
    const std::string out = Out(exitOnError ? "xerror.mkv" : "skip.mkv");
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(damaged)) << task->FLastErrMsg;
    task->ParseOption("vcodec", "mpeg4");
    if (exitOnError)
      task->ParseOption("xerror", "");
    ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    task->SetVerbose(0);
    const std::string failure = RunFailure(*task);
    EXPECT_TRUE(
        Logged(exitOnError ? llQuiet : llVerbose, "Error while decoding stream #0.0 (Video)"));
    if (exitOnError) {
      EXPECT_EQ(failure, "Error while decoding stream #0.0 (Video)");
      // The header had been written: a failed run leaves no file that looks finished.
      EXPECT_FALSE(std::filesystem::exists(out));
    } else {
      // The run went through every packet; as not one picture survived, there is nothing to
      // call converted, and no file of headers alone is left.
      EXPECT_EQ(failure, "Output file #0 received no picture or sound: nothing could be converted");
      EXPECT_FALSE(std::filesystem::exists(out));
    }
  }
}

TEST_F(TranscodeFilesTest, DamagedInputsEndTheRunCleanly) {
  // The index is at the front, so the file opens; the data stops half-way.
  const std::string whole = MakeSample(
      "faststart.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -c:v libx264 "
                       "-preset ultrafast -movflags +faststart");
  const std::string cut = Out("cut.mp4");
  {
    std::ifstream in(whole, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(cut, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size() / 2));
  }
  for (const char *codec : {"copy", "mpeg4"}) {
    SCOPED_TRACE(codec);
    const std::string out = Out(std::string(codec) + ".mkv");
    auto task = NewTask();
    ASSERT_TRUE(task->OpenInputFile(cut)) << task->FLastErrMsg;
    task->ParseOption("vcodec", codec);
    ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
    EXPECT_EQ(RunFailure(*task), "");
    const size_t frames = ProbePackets(out).size();
    EXPECT_GT(frames, 0u);
    EXPECT_LT(frames, 75u);
    // A copy keeps the damaged last packet as it is; an encode leaves it out.
    if (std::string(codec) != "copy") {
      EXPECT_TRUE(DecodesCleanly(out));
    }
  }
}

TEST_F(TranscodeFilesTest, SizeLimitEndsTheRunNormally) {
  const std::string out = Out("limited.mkv");
  auto task = NewTask();
  ASSERT_TRUE(task->OpenInputFile(MediaPath("h264_aac_640x360.mp4")));
  task->ParseOption("vcodec", "copy");
  task->ParseOption("acodec", "copy");
  task->ParseOption("fs", "100000");
  ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
  EXPECT_EQ(RunFailure(*task), "");
  const auto size = std::filesystem::file_size(out);
  EXPECT_GE(size, 100000u);
  EXPECT_LT(size, std::filesystem::file_size(MediaPath("h264_aac_640x360.mp4")));
  EXPECT_TRUE(DecodesCleanly(out));
}

TEST_F(TranscodeFilesTest, NamesOutsideTheLibrariesReachAreConverted) {
  const std::string out = Out("输出 文件.mkv");
  auto task = NewTask();
  ASSERT_TRUE(task->OpenInputFile(MediaPath("中文 名称 测试.mp4"))) << task->FLastErrMsg;
  task->ParseOption("vcodec", "copy");
  task->ParseOption("acodec", "copy");
  ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
  EXPECT_EQ(RunFailure(*task), "");
  EXPECT_TRUE(DecodesCleanly(out));
}

TEST_F(TranscodeFilesTest, MetadataAndChaptersReachTheOutput) {
  const std::string chapters = Out("chapters.txt");
  std::ofstream(chapters) << ";FFMETADATA1\ntitle=Source\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n";
  const std::string input =
      MakeSample("with_chapters.mkv", "-f lavfi -i sine=duration=2 -i " + ShellQuote(chapters) +
                                          " -map 0 -map_metadata 1 -map_chapters 1 -c:a pcm_s16le");
  const std::string out = Out("tagged.mkv");
  auto task = NewTask();
  ASSERT_TRUE(task->OpenInputFile(input));
  task->ParseOption("acodec", "copy");
  task->ParseOption("map_meta_data", "0:0");
  task->AddMetadata("artist", "First");
  task->AddMetadata("artist", "Second");
  ASSERT_EQ(task->OpenOutputFile(out, false), 1) << task->FLastErrMsg;
  EXPECT_TRUE(task->Fmetadata.empty());
  EXPECT_EQ(RunFailure(*task), "");
  const std::string tags =
      CommandOutput("ffprobe -v error -show_entries format_tags:chapter=start_time,end_time "
                    "-of compact " +
                    ShellQuote(out));
  EXPECT_NE(tags.find("title=Source"), std::string::npos) << tags;
  EXPECT_NE(tags.find("ARTIST=First"), std::string::npos) << tags; // the first pair wins
  EXPECT_NE(tags.find("start_time=1.000000|end_time=2.000000"), std::string::npos) << tags;
}

} // namespace
