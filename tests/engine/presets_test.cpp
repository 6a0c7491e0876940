// Every built-in preset applied after "vcodec libx264" opens a libx264 encoder, and x264 runs
// with the preset's settings: checked in the option string x264 writes into the stream.
#include "ffmpeg_loader.h"
#include "ffmpeg_transcoder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

class PresetTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FFLoader().Load(TaskListLibraries)) << FFLoader().LastErrMsg();
    FTask.Reinitialize();
    ASSERT_TRUE(FTask.FOptions);
  }
  TCustomFFmpeg FTask;
};

// Opens libx264 with the task's video options on a 320x240 picture, encodes a few frames and
// returns x264's "key=value" option string. ALeftover receives the names the encoder did not
// take.
std::map<std::string, std::string> EncodeWithOptions(TCustomFFmpeg &ATask, std::string &ALeftover) {
  std::map<std::string, std::string> result;
  const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) {
    ADD_FAILURE() << "no libx264";
    return result;
  }
  CodecContextPtr ctx(avcodec_alloc_context3(codec));
  EXPECT_EQ(ATask.FOptions->ApplyCodecOptions(ctx.get(), AVMEDIA_TYPE_VIDEO,
                                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM),
            0);
  ctx->width = 320;
  ctx->height = 240;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = {1, 25};
  ctx->framerate = {25, 1};
  ctx->thread_count = 1;
  TDictionary priv = ATask.FOptions->CodecPrivateOptions(AVMEDIA_TYPE_VIDEO);
  int ret;
  {
    TLibraryLockGuard lock;
    ret = avcodec_open2(ctx.get(), codec, priv.Ref());
  }
  if (ret < 0) {
    ADD_FAILURE() << "avcodec_open2: " << LibraryErrorText(ret);
    return result;
  }
  for (const AVDictionaryEntry *e = nullptr;
       (e = av_dict_get(priv.get(), "", e, AV_DICT_IGNORE_SUFFIX));)
    ALeftover += std::string(e->key) + " ";

  FramePtr frame(av_frame_alloc());
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = 320;
  frame->height = 240;
  EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
  PacketPtr packet(av_packet_alloc());
  std::string stream;
  const auto drain = [&] {
    while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
      stream.append(reinterpret_cast<const char *>(packet->data), packet->size);
      av_packet_unref(packet.get());
    }
  };
  for (int i = 0; i < 6; ++i) {
    EXPECT_GE(av_frame_make_writable(frame.get()), 0);
    for (int p = 0; p < 3; ++p) {
      const int h = p == 0 ? 240 : 120, w = p == 0 ? 320 : 160;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          frame->data[p][y * frame->linesize[p] + x] =
              static_cast<uint8_t>(x * 3 + y + i * 7 + p * 50);
    }
    frame->pts = i;
    EXPECT_EQ(avcodec_send_frame(ctx.get(), frame.get()), 0);
    drain();
  }
  EXPECT_EQ(avcodec_send_frame(ctx.get(), nullptr), 0);
  drain();

  const size_t at = stream.find("options: ");
  if (at == std::string::npos) {
    ADD_FAILURE() << "no x264 option string in the stream";
    return result;
  }
  const size_t end = stream.find('\0', at);
  std::istringstream words(stream.substr(at + 9, end - at - 9));
  for (std::string w; words >> w;) {
    const size_t eq = w.find('=');
    if (eq != std::string::npos)
      result[w.substr(0, eq)] = w.substr(eq + 1);
  }
  return result;
}

struct TPresetCase {
  const char *Name; // without "libx264-"
  // x264's values; "" where x264 leaves the key out (no B-frames).
  const char *me, *subme, *ref, *bframes, *b_pyramid, *weightb, *dct8x8, *trellis, *direct;
  // Where the renamed options show: coder, wpredp, flags2 mbtree, flags loop, and partitions as
  // the inter part of analyse.
  const char *cabac, *weightp, *mbtree, *deblock, *inter;
};

// From the preset rows; a value a row leaves out is x264's own default. A flags2 line that does
// not name wpred, mixed_refs, dct8x8 or bpyramid switches it off, as it did in the presets' own
// generation. x264 itself drops i8x8 partitions without 8x8dct and, for lossless coding (cqp=0),
// B-frames, trellis and mbtree.
const TPresetCase GPresetCases[] = {
    {"baseline", "hex", "7", "3", "0", "", "", "0", "1", "", "0", "0", "1", "1:0:0", "0x111"},
    {"default", "hex", "7", "3", "3", "0", "1", "1", "1", "1", "1", "2", "1", "1:0:0", "0x113"},
    {"fast", "hex", "6", "2", "3", "2", "1", "1", "1", "1", "1", "2", "1", "1:0:0", "0x113"},
    {"fast_firstpass", "dia", "2", "1", "3", "2", "1", "0", "0", "1", "1", "2", "1", "1:0:0", "0"},
    {"faster", "hex", "4", "2", "3", "2", "1", "1", "1", "1", "1", "1", "1", "1:0:0", "0x113"},
    {"faster_firstpass", "dia", "2", "1", "3", "2", "1", "0", "0", "1", "1", "1", "1", "1:0:0",
     "0"},
    {"fastfirstpass", "dia", "2", "1", "3", "0", "0", "0", "0", "3", "1", "2", "1", "1:0:0", "0"},
    {"hq", "umh", "8", "4", "3", "0", "1", "1", "1", "3", "1", "2", "1", "1:0:0", "0x113"},
    {"ipod320", "hex", "7", "3", "0", "", "", "0", "1", "", "0", "0", "1", "1:0:0", "0x111"},
    {"ipod640", "hex", "7", "1", "0", "", "", "0", "1", "", "0", "0", "1", "1:0:0", "0x111"},
    {"lossless_fast", "hex", "3", "3", "0", "", "", "0", "0", "", "0", "0", "0", "1:0:0", "0x11"},
    {"lossless_max", "esa", "8", "16", "0", "", "", "1", "0", "", "1", "2", "0", "1:0:0", "0x33"},
    {"lossless_medium", "hex", "5", "3", "0", "", "", "0", "0", "", "1", "2", "0", "1:0:0", "0x31"},
    {"lossless_slow", "umh", "6", "2", "0", "", "", "1", "0", "", "1", "2", "0", "1:0:0", "0x33"},
    {"lossless_slower", "umh", "8", "4", "0", "", "", "1", "0", "", "1", "2", "0", "1:0:0", "0x33"},
    {"lossless_ultrafast", "dia", "0", "3", "0", "", "", "0", "0", "", "0", "2", "0", "1:0:0", "0"},
    {"main", "hex", "7", "3", "3", "0", "0", "0", "1", "1", "1", "2", "1", "1:0:0", "0x111"},
    {"max", "tesa", "10", "16", "3", "0", "1", "1", "2", "3", "1", "2", "1", "1:0:0", "0x133"},
    {"medium", "hex", "7", "3", "3", "2", "1", "1", "1", "1", "1", "2", "1", "1:0:0", "0x113"},
    {"medium_firstpass", "dia", "2", "1", "3", "2", "1", "0", "0", "1", "1", "2", "1", "1:0:0",
     "0"},
    {"normal", "hex", "6", "2", "3", "0", "1", "1", "0", "3", "1", "2", "1", "1:0:0", "0x113"},
    {"placebo", "tesa", "10", "16", "16", "2", "1", "1", "2", "3", "1", "2", "1", "1:0:0", "0x133"},
    {"placebo_firstpass", "tesa", "10", "16", "16", "2", "1", "1", "2", "3", "1", "2", "1", "1:0:0",
     "0x133"},
    {"slow", "umh", "8", "5", "3", "2", "1", "1", "1", "3", "1", "2", "1", "1:0:0", "0x113"},
    {"slow_firstpass", "dia", "2", "1", "3", "2", "1", "0", "0", "3", "1", "2", "1", "1:0:0", "0"},
    {"slower", "umh", "9", "8", "3", "2", "1", "1", "2", "3", "1", "2", "1", "1:0:0", "0x133"},
    {"slower_firstpass", "dia", "2", "1", "3", "2", "1", "0", "0", "3", "1", "2", "1", "1:0:0",
     "0"},
    {"slowfirstpass", "hex", "6", "1", "3", "0", "1", "1", "0", "3", "1", "2", "1", "1:0:0",
     "0x113"},
    {"superfast", "dia", "1", "1", "3", "2", "1", "1", "0", "1", "1", "0", "0", "1:0:0", "0x3"},
    {"superfast_firstpass", "dia", "1", "1", "3", "2", "1", "0", "0", "1", "1", "0", "0", "1:0:0",
     "0"},
    {"ultrafast", "dia", "0", "1", "0", "", "", "0", "0", "", "0", "0", "0", "0:0:0", "0"},
    {"ultrafast_firstpass", "dia", "0", "1", "0", "", "", "0", "0", "", "0", "0", "0", "0:0:0",
     "0"},
    {"veryfast", "hex", "2", "1", "3", "2", "1", "1", "0", "1", "1", "0", "0", "1:0:0", "0x113"},
    {"veryfast_firstpass", "dia", "2", "1", "3", "2", "1", "0", "0", "1", "1", "0", "0", "1:0:0",
     "0"},
    {"veryslow", "umh", "10", "16", "8", "2", "1", "1", "2", "3", "1", "2", "1", "1:0:0", "0x133"},
    {"veryslow_firstpass", "dia", "2", "1", "8", "2", "1", "0", "0", "3", "1", "2", "1", "1:0:0",
     "0"},
};

TEST_F(PresetTest, EveryBuiltinPresetRunsX264WithItsSettings) {
  ASSERT_EQ(std::size(GPresetCases), 36u);
  for (const TPresetCase &c : GPresetCases) {
    SCOPED_TRACE(c.Name);
    FTask.Reinitialize();
    FTask.ParseOption("vcodec", "libx264");
    ASSERT_NO_THROW(FTask.ParseOption("vpre", c.Name));
    std::string leftover;
    auto sei = EncodeWithOptions(FTask, leftover);
    EXPECT_EQ(leftover, "");
    const std::pair<const char *, const char *> expected[] = {
        {"me", c.me},           {"subme", c.subme},         {"ref", c.ref},
        {"bframes", c.bframes}, {"b_pyramid", c.b_pyramid}, {"weightb", c.weightb},
        {"8x8dct", c.dct8x8},   {"trellis", c.trellis},     {"direct", c.direct}};
    for (const auto &[key, value] : expected) {
      if (*value == '\0')
        EXPECT_EQ(sei.count(key), 0u) << key;
      else
        EXPECT_EQ(sei[key], value) << key;
    }
    const std::string analyse = sei["analyse"];
    EXPECT_EQ(analyse.substr(analyse.find(':') + 1), c.inter) << "partitions";
    if (std::string(c.Name).starts_with("lossless")) {
      EXPECT_EQ(sei["rc"], "cqp");
      EXPECT_EQ(sei["qp"], "0");
    }
  }
}

} // namespace

namespace {

// A scratch folder made the working folder for one test.
class PresetFileTest : public PresetTest {
protected:
  void SetUp() override {
    PresetTest::SetUp();
    char pattern[] = "/tmp/lc_preset_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FFolder = pattern;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    FOldFolder = cwd;
    ASSERT_EQ(chdir(FFolder.c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(FOldFolder.c_str()), 0);
    std::filesystem::remove_all(FFolder);
  }
  void Write(const std::string &AName, const std::string &AText) {
    std::ofstream(AName, std::ios::binary) << AText;
  }
  std::string Refusal(const std::string &AOption, const std::string &AName) {
    try {
      FTask.ApplyPreset(AOption, AName);
    } catch (const FFmpegException &e) {
      return e.what();
    }
    return std::string();
  }
  std::string FFolder, FOldFolder;
};

TEST_F(PresetFileTest, LookupOrderAndComposedNames) {
  // Nothing to do without an option or a name.
  EXPECT_EQ(Refusal("", "default"), "");
  EXPECT_EQ(Refusal("vpre", ""), "");
  // No codec name: "default" is no built-in preset and no file.
  EXPECT_EQ(Refusal("vpre", "default"), "Preset \"default\" not found");
  // A file of that name in the working folder serves.
  Write("default", "g=77\n");
  EXPECT_EQ(Refusal("vpre", "default"), "");
  EXPECT_EQ(FTask.FOptions->avcodec_opts[0]->gop_size, 77);
  // With the video codec the built-in preset wins over the file.
  FTask.ParseOption("vcodec", "libx264");
  EXPECT_EQ(Refusal("vpre", "default"), "");
  EXPECT_EQ(FTask.FOptions->avcodec_opts[0]->gop_size, 250);
  // Full names are found without regard to case, for any preset option.
  EXPECT_EQ(Refusal("apre", "LIBX264-Main"), "");
  // "fpre" always reads a file.
  EXPECT_EQ(Refusal("fpre", "libx264-main"), "Preset \"libx264-main\" not found");
  // An audio codec composes for "apre" only.
  FTask.ParseOption("acodec", "libmp3lame");
  EXPECT_EQ(Refusal("apre", "hq"), "Preset \"hq\" not found");
}

TEST_F(PresetFileTest, PresetFileLines) {
  Write("good.ffpreset", "\r\n  g = 30 \r\n\r\nVCODEC=mpeg4\nacodec=copy\nkeyint_min=5\n");
  EXPECT_EQ(Refusal("fpre", "good.ffpreset"), "");
  EXPECT_EQ(FTask.FOptions->avcodec_opts[0]->gop_size, 30);
  EXPECT_EQ(FTask.FOptions->avcodec_opts[0]->keyint_min, 5);
  EXPECT_EQ(FTask.Fvideo_codec_name, "mpeg4");
  EXPECT_EQ(FTask.Faudio_stream_copy, 1);

  const struct {
    const char *Text;
    const char *Message;
  } cases[] = {
      {"g=1\n=5\n", "bad: Invalid syntax: \"=5\""},
      {"g=\n", "bad: Invalid syntax: \"g=\""},
      {"flags2\n", "bad: Invalid syntax: \"flags2\""},
      {"bogus=1\n", "bad: Invalid option or argument: \"bogus=1\", parsed as \"bogus\" = \"1\""},
      {"g=abc\n", "bad: Invalid option or argument: \"g=abc\", parsed as \"g\" = \"abc\""},
  };
  for (const auto &c : cases) {
    Write("bad", c.Text);
    EXPECT_EQ(Refusal("fpre", "bad"), c.Message) << c.Text;
  }
  std::filesystem::create_directory("folder");
  EXPECT_EQ(Refusal("fpre", "folder"), "Preset \"folder\" not found");
  Write("big", std::string((1 << 20) + 1, '#'));
  EXPECT_EQ(Refusal("fpre", "big"), "Preset \"big\" is too large");
}

TEST_F(PresetTest, TheOldTextAloneWouldBeRefused) {
  // What the translation is for: today's options refuse the old words as they stand.
  FTask.ParseOption("vcodec", "libx264");
  std::string set;
  EXPECT_EQ(FTask.FOptions->Set("flags2", "+mixed_refs+wpred", {"libx264", "", "", ""}, set),
            TOptionResult::orInvalid);
  EXPECT_TRUE(FTask.SetCodecOption("flags2", "+mixed_refs+wpred"));
  EXPECT_TRUE(FTask.SetCodecOption("directpred", "3"));
}

} // namespace
