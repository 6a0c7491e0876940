// The information text, line by line, and checked against what the ffprobe tool reports.
#include "custom_av_probe.h"
#include "ff_utils.h"
#include "probe_test_util.h"
#include "probe_text.h"

#include <cmath>
#include <filesystem>
#include <sstream>

extern "C" {
#include <libavutil/rational.h>
}

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string &AText) {
  std::vector<std::string> out;
  size_t start = 0, crlf;
  while ((crlf = AText.find("\r\n", start)) != std::string::npos) {
    out.push_back(AText.substr(start, crlf - start));
    start = crlf + 2;
  }
  EXPECT_EQ(start, AText.size()) << "text does not end with CR LF";
  return out;
}

bool HasLine(const std::vector<std::string> &ALines, const std::string &ALine) {
  return std::find(ALines.begin(), ALines.end(), ALine) != ALines.end();
}

using FileInfoTextTest = ProbeTest;

TEST_F(FileInfoTextTest, HeaderMetadataAndStreamLinesOfAnMP4) {
  TCustomAVProbe probe;
  const std::string path = MediaPath("h264_aac_640x360.mp4");
  ASSERT_TRUE(probe.LoadFile(path));
  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[0], "File Name: " + path);
  EXPECT_EQ(lines[1], "Format Name: mov,mp4,m4a,3gp,3g2,mj2");
  EXPECT_EQ(lines[2], "Format Long Name: QuickTime / MOV");
  EXPECT_EQ(lines[3], "File Size: " + SizeText(static_cast<int64_t>(fs::file_size(path))));
  EXPECT_EQ(lines[4], "Duration: 00:00:03.000");
  EXPECT_EQ(lines[5], "StartTime: 0.000000");
  EXPECT_EQ(lines[6],
            "Bit Rate: " + std::to_string(probe.FileStreamInfo().BitRate / 1000) + " kb/s");
  EXPECT_EQ(lines[7], "Metadata:");
  EXPECT_EQ(lines[8], "  major_brand     : isom");

  std::string video, audio;
  for (const std::string &l : lines) {
    if (l.rfind("Stream #0", 0) == 0)
      video = l;
    if (l.rfind("Stream #1", 0) == 0)
      audio = l;
  }
  // The mp4 reader shows stream ids; "und" is the language tag.
  EXPECT_EQ(video.rfind("Stream #0[0x1](und), 1/12800: Video: h264 (Constrained Baseline)", 0), 0u)
      << video;
  const std::string videoTail =
      ", 25 fps, 25 tbr, 12800 tbn, StartTime: 0.000000, Duration: 00:00:03.000";
  EXPECT_EQ(video.substr(video.size() - videoTail.size()), videoTail) << video;
  EXPECT_EQ(audio.rfind("Stream #1[0x2](und), 1/48000: Audio: aac (LC)", 0), 0u) << audio;
  EXPECT_EQ(audio.find("fps"), std::string::npos) << "rates are for video only";
  // The language is shown in the stream line, never in its metadata listing.
  EXPECT_TRUE(HasLine(lines, "    handler_name    : VideoHandler"));
  EXPECT_FALSE(HasLine(lines, "    language        : und"));
}

TEST_F(FileInfoTextTest, RatesProgramsAndIds) {
  TCustomAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(MediaPath("mpeg4_mp3_320x240.avi")));
  std::string text = probe.FileInfoText();
  EXPECT_NE(text.find(", 29.97 fps, 29.97 tbr, 29.97 tbn"), std::string::npos) << text;
  EXPECT_NE(text.find("Stream #0, 1001/30000: Video: mpeg4"), std::string::npos) << text;

  ASSERT_TRUE(probe.LoadFile(ProbeMedia("programs.ts")));
  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  const auto program = std::find(lines.begin(), lines.end(), "Program 1 Prov@Chan");
  ASSERT_NE(program, lines.end());
  // The program's streams follow it, each once.
  int videoLines = 0;
  for (auto it = program; it != lines.end(); ++it)
    if (it->rfind("Stream #0[0x100], 1/90000: Video: mpeg2video", 0) == 0) {
      ++videoLines;
      EXPECT_NE(it->find(", 25 fps, 25 tbr, 90k tbn"), std::string::npos) << *it;
    }
  EXPECT_EQ(videoLines, 1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string &l) { return l.rfind("Stream #1[0x101]", 0) == 0; }),
            1);
}

TEST_F(FileInfoTextTest, TimeStampLineInStandardLocalTime) {
  const char *old = std::getenv("TZ");
  const std::string oldTZ = old ? old : "";
  setenv("TZ", "CST-8", 1);
  TCustomAVProbe probe;
  ASSERT_TRUE(probe.LoadFile(ProbeMedia("created.mp4")));
  EXPECT_EQ(probe.FileStreamInfo().TimeStamp, 1272715200);
  const std::vector<std::string> lines = Lines(probe.FileInfoText());
  EXPECT_TRUE(HasLine(lines, "Time Stamp: 2010-05-01 20:00:00"));
  if (old)
    setenv("TZ", oldTZ.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// "key=value" lines of one section of ffprobe's compact output.
using TFacts = std::map<std::string, std::string>;

std::vector<TFacts> ProbeFacts(const std::string &APath, const std::string &ASection) {
  const std::string out =
      CommandOutput("ffprobe -v error -of compact -show_entries "
                    "format=format_name,format_long_name,size,duration,bit_rate,nb_streams:"
                    "stream=index,codec_type,codec_name,width,height,sample_rate,avg_frame_rate,"
                    "r_frame_rate,time_base " +
                    ShellQuote(APath));
  std::vector<TFacts> sections;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(ASection + "|", 0) != 0)
      continue;
    TFacts f;
    std::istringstream fields(line.substr(ASection.size() + 1));
    std::string kv;
    while (std::getline(fields, kv, '|')) {
      const size_t eq = kv.find('=');
      if (eq != std::string::npos)
        f[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    // Streams of a program are listed twice.
    if (ASection == "stream" && std::any_of(sections.begin(), sections.end(), [&](const TFacts &s) {
          return s.at("index") == f["index"];
        }))
      continue;
    sections.push_back(f);
  }
  return sections;
}

AVRational ParseRational(const std::string &S) {
  AVRational r{0, 0};
  std::sscanf(S.c_str(), "%d/%d", &r.num, &r.den);
  return r;
}

TEST_F(FileInfoTextTest, AgreesWithTheFfprobeToolOnEverySample) {
  const std::vector<std::string> samples = {MediaPath("h264_aac_640x360.mp4"),
                                            MediaPath("mpeg4_mp3_320x240.avi"),
                                            MediaPath("two_audio_sub.mkv"),
                                            MediaPath("audio.wav"),
                                            MediaPath("audio.mp3"),
                                            MediaPath("audio.flac"),
                                            MediaPath("mono_8k.wav"),
                                            MediaPath("surround_51.ac3"),
                                            MediaPath("odd_321x241.avi"),
                                            MediaPath("noaspect_640x360.mp4"),
                                            MediaPath("中文 名称 测试.mp4"),
                                            ProbeMedia("programs.ts"),
                                            ProbeMedia("created.mp4"),
                                            ProbeMedia("still.png")};
  TCustomAVProbe probe;
  for (const std::string &path : samples) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(probe.LoadFile(path)) << probe.LastErrMsg();
    const std::vector<std::string> lines = Lines(probe.FileInfoText());
    const std::vector<TFacts> format = ProbeFacts(path, "format");
    ASSERT_EQ(format.size(), 1u);
    const TFacts &f = format[0];
    EXPECT_TRUE(HasLine(lines, "Format Name: " + f.at("format_name")));
    EXPECT_TRUE(HasLine(lines, "Format Long Name: " + f.at("format_long_name")));
    EXPECT_TRUE(HasLine(lines, "File Size: " + SizeText(std::stoll(f.at("size")))));
    if (f.at("duration") != "N/A") {
      EXPECT_TRUE(HasLine(
          lines, "Duration: " + DurationText(std::llround(std::stod(f.at("duration")) * 1000000))));
    } else {
      EXPECT_TRUE(HasLine(lines, "Duration: N/A"));
    }
    if (f.at("bit_rate") != "N/A") {
      EXPECT_TRUE(HasLine(
          lines, "Bit Rate: " + std::to_string(std::stoll(f.at("bit_rate")) / 1000) + " kb/s"));
    }

    const std::vector<TFacts> streams = ProbeFacts(path, "stream");
    EXPECT_EQ(static_cast<int>(streams.size()), std::stoi(f.at("nb_streams")));
    EXPECT_EQ(probe.StreamCount(), static_cast<int>(streams.size()));
    for (const TFacts &s : streams) {
      const std::string prefix = "Stream #" + s.at("index");
      const auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string &l) {
        return l.rfind(prefix, 0) == 0 && (l.size() == prefix.size() || l[prefix.size()] == '[' ||
                                           l[prefix.size()] == '(' || l[prefix.size()] == ',');
      });
      ASSERT_NE(it, lines.end()) << prefix;
      const std::string &line = *it;
      std::string kind = s.at("codec_type");
      kind[0] = static_cast<char>(std::toupper(kind[0]));
      EXPECT_NE(line.find(": " + kind + ": " + s.at("codec_name")), std::string::npos) << line;
      const AVRational tb = ParseRational(s.at("time_base"));
      EXPECT_NE(line.find(", " + s.at("time_base") + ": "), std::string::npos) << line;
      if (s.at("codec_type") == "video") {
        EXPECT_NE(line.find(s.at("width") + "x" + s.at("height")), std::string::npos) << line;
        const AVRational fps = ParseRational(s.at("avg_frame_rate"));
        const AVRational tbr = ParseRational(s.at("r_frame_rate"));
        if (fps.num && fps.den) {
          EXPECT_NE(line.find(RateText(av_q2d(fps), "fps")), std::string::npos) << line;
        }
        if (tbr.num && tbr.den) {
          EXPECT_NE(line.find(RateText(av_q2d(tbr), "tbr")), std::string::npos) << line;
        }
        EXPECT_NE(line.find(RateText(av_q2d(av_inv_q(tb)), "tbn")), std::string::npos) << line;
      } else if (s.at("codec_type") == "audio") {
        EXPECT_NE(line.find(s.at("sample_rate") + " Hz"), std::string::npos) << line;
      }
    }
  }
}

} // namespace
