#include "ff_ptr.h"
#include "test_media.h"
#include "unicode_protocol.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

TEST(UnicodeName, WhichNamesNeedTheProtocol) {
  const struct {
    const char *Name;
    bool Unicode;
  } cases[] = {
      {"/tmp/a.mp4", false},
      {"/home/用户/视频 文件.mp4", false}, // valid UTF-8 is taken as it stands
      {"/tmp/a:b.mp4", false},             // a slash before the colon: no scheme
      {"http://example.com/a.mp4", false},
      {"udp://1.2.3.4:5", false},
      {"pipe:0", false},
      {"a:b.mp4", true}, // read as a URL of protocol "a" otherwise
      {"clip:1.mp4", true},
      {"/tmp/\xff\xfe.mp4", true}, // bytes that are not UTF-8
      {"/tmp/\xc0\xaf.mp4", true}, // overlong form
  };
  for (const auto &c : cases) {
    EXPECT_EQ(IsUnicodeName(c.Name), c.Unicode) << c.Name;
    const std::string url = FileNameToURL(c.Name);
    EXPECT_EQ(url, c.Unicode ? std::string("unicode:utf8:") + c.Name : std::string(c.Name));
    EXPECT_EQ(IsUnicodeURL(url), c.Unicode) << url;
    EXPECT_EQ(URLToFileName(url), c.Unicode ? std::string(c.Name) : url);
  }
  // A name already in the protocol's form is passed unchanged.
  EXPECT_EQ(FileNameToURL("unicode:utf8:x"), "unicode:utf8:x");
  EXPECT_FALSE(IsUnicodeURL("unicode:utf8:"));
  EXPECT_TRUE(IsUnicodeURL("unicode:utf8:a"));
}

// A copy of a sample under a name only the protocol can take is read, then written back.
TEST(UnicodeName, FilesOpenThroughTheProtocol) {
  const fs::path dir = fs::temp_directory_path() / "lc_unicode_test";
  fs::create_directories(dir);
  const std::string in = (dir / "in\xff.mp4").string();
  fs::copy_file(MediaPath("h264_aac_640x360.mp4"), in, fs::copy_options::overwrite_existing);

  AVFormatContext *raw = nullptr;
  ASSERT_EQ(FFOpenInput(&raw, FileNameToURL(in), nullptr, nullptr), 0);
  InputFormatContextPtr ctx(raw);
  ASSERT_GE(avformat_find_stream_info(ctx.get(), nullptr), 0);
  EXPECT_EQ(ctx->nb_streams, 2u);
  EXPECT_GT(ctx->duration, 2900000);

  // Remux the first video packets into a file whose name reads like a URL.
  const fs::path cwd = fs::current_path();
  fs::current_path(dir);
  const std::string out = "clip:out.mkv";
  {
    AVFormatContext *oraw = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&oraw, nullptr, "matroska", nullptr), 0);
    OutputFormatContextPtr octx(oraw);
    AVStream *os = avformat_new_stream(octx.get(), nullptr);
    ASSERT_GE(avcodec_parameters_copy(os->codecpar, ctx->streams[0]->codecpar), 0);
    os->codecpar->codec_tag = 0;
    ASSERT_EQ(FFOpenOutputIO(octx.get(), FileNameToURL(out), nullptr), 0);
    ASSERT_GE(avformat_write_header(octx.get(), nullptr), 0);
    PacketPtr pkt(av_packet_alloc());
    int written = 0;
    while (written < 10 && av_read_frame(ctx.get(), pkt.get()) >= 0) {
      if (pkt->stream_index == 0) {
        pkt->stream_index = 0;
        av_packet_rescale_ts(pkt.get(), ctx->streams[0]->time_base, os->time_base);
        ASSERT_GE(av_interleaved_write_frame(octx.get(), pkt.get()), 0);
        ++written;
      }
      av_packet_unref(pkt.get());
    }
    ASSERT_GE(av_write_trailer(octx.get()), 0);
  }
  fs::current_path(cwd);
  EXPECT_GT(fs::file_size(dir / out), 1000u);

  // A missing file is "No such file or directory".
  AVFormatContext *none = nullptr;
  EXPECT_EQ(FFOpenInput(&none, FileNameToURL((dir / "missing\xff.mp4").string()), nullptr, nullptr),
            AVERROR(ENOENT));
  EXPECT_EQ(none, nullptr);
  ctx.reset();
  fs::remove_all(dir);
}

} // namespace
