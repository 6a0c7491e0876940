// The preview player's cost on a 1080p H.264 file: decoding and converting every picture for a
// preview-sized screen as fast as possible, then a real-time preview through the player itself.
// Prints CPU seconds per second of video, beside the ffmpeg tool's decoding of the same file.
//
// Usage: player_bench [SECONDS_OF_REAL_TIME_PREVIEW]  (default 30). The sample is made once, in
// the working folder, by the ffmpeg tool.
#include "ff_player.h"
#include "ffmpeg_loader.h"
#include "picture_convert.h"
#include "player_screen.h"
#include "sync_call.h"

#include <QApplication>

#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char *Sample = "bench_1080p_30s.mp4";
const QSize Screen(480, 270);

double CpuSeconds(int AWho) {
  rusage u{};
  getrusage(AWho, &u);
  return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
         u.ru_stime.tv_usec / 1e6;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool MakeSample() {
  if (FILE *f = fopen(Sample, "rb")) {
    fclose(f);
    return true;
  }
  std::printf("making %s (1920x1080, 25 fps, 30 s, H.264 + AAC)...\n", Sample);
  const std::string cmd =
      std::string("ffmpeg -nostdin -hide_banner -loglevel error -y "
                  "-f lavfi -i testsrc2=size=1920x1080:rate=25:duration=30 "
                  "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=30 "
                  "-vf noise=alls=6:allf=t -c:v libx264 -preset veryfast -pix_fmt yuv420p "
                  "-c:a aac -b:a 128k -shortest ") +
      Sample;
  return std::system(cmd.c_str()) == 0;
}

// CPU seconds the ffmpeg tool spends on ARGS over the sample.
double ToolSeconds(const std::string &AArgs) {
  const double before = CpuSeconds(RUSAGE_CHILDREN);
  const std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -i " + std::string(Sample) +
                          " " + AArgs + " -f null -";
  if (std::system(cmd.c_str()) != 0)
    return -1;
  return CpuSeconds(RUSAGE_CHILDREN) - before;
}

// Decodes every picture with the player's decoder settings and converts it for the screen.
bool FullSpeed(double &ACpu, double &AWall, int &AFrames, double &AMedia) {
  AVFormatContext *ic = nullptr;
  if (avformat_open_input(&ic, Sample, nullptr, nullptr) < 0)
    return false;
  InputFormatContextPtr input(ic);
  if (avformat_find_stream_info(ic, nullptr) < 0)
    return false;
  const int vs = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (vs < 0)
    return false;
  AVStream *st = ic->streams[vs];
  const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
  CodecContextPtr dec(avcodec_alloc_context3(codec));
  avcodec_parameters_to_context(dec.get(), st->codecpar);
  dec->pkt_timebase = st->time_base;
  dec->thread_count = 0;
  if (avcodec_open2(dec.get(), codec, nullptr) < 0)
    return false;
  PacketPtr pkt(av_packet_alloc());
  FramePtr frame(av_frame_alloc());
  TPictureConverter conv;
  QImage image;
  AFrames = 0;
  const double cpu0 = CpuSeconds(RUSAGE_SELF), wall0 = WallSeconds();
  auto drain = [&] {
    while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
      const QRect r = DisplayRect(Screen, frame->width, frame->height, {1, 1}, 0);
      conv.ToImage(frame.get(), image, r.size(), QImage::Format_RGB32, false);
      AFrames++;
    }
  };
  while (av_read_frame(ic, pkt.get()) >= 0) {
    if (pkt->stream_index == vs) {
      avcodec_send_packet(dec.get(), pkt.get());
      drain();
    }
    av_packet_unref(pkt.get());
  }
  avcodec_send_packet(dec.get(), nullptr);
  drain();
  ACpu = CpuSeconds(RUSAGE_SELF) - cpu0;
  AWall = WallSeconds() - wall0;
  AMedia = AFrames / av_q2d(av_guess_frame_rate(ic, st, nullptr));
  return true;
}

} // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  const double realTime = argc > 1 ? std::atof(argv[1]) : 30.0;
  QApplication app(argc, argv);
  if (!MakeSample()) {
    std::fprintf(stderr, "cannot make the sample (is the ffmpeg tool installed?)\n");
    return 1;
  }
  if (!FFLoader().Load(PlayerLibraries)) {
    std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
    return 1;
  }

  double cpu = 0, wall = 0, media = 0;
  int frames = 0;
  if (!FullSpeed(cpu, wall, frames, media)) {
    std::fprintf(stderr, "cannot decode %s\n", Sample);
    return 1;
  }
  const double tool = ToolSeconds("-an");
  const double toolScaled = ToolSeconds("-an -vf scale=480:270:flags=bicubic -pix_fmt bgra");
  std::printf("full speed, %d pictures (%.1f s of video) to %dx%d:\n", frames, media,
              Screen.width(), Screen.height());
  std::printf("  player decode+convert: %.3f CPU s per s of video, %.1f x real time\n", cpu / media,
              media / wall);
  std::printf("  ffmpeg decode only   : %.3f CPU s per s of video (player / tool %.2f)\n",
              tool / media, cpu / tool);
  std::printf("  ffmpeg decode+scale  : %.3f CPU s per s of video (player / tool %.2f)\n",
              toolScaled / media, cpu / toolScaled);

  // Real time: the player itself, with sound (dummy device) and a screen of the preview's size.
  TPlayerScreen screen;
  screen.resize(Screen);
  screen.show();
  TFFPlayer player;
  int64_t position = 0;
  player.SetOnPosition([&](TCustomPlayer *, int64_t p) { position = p; });
  if (!player.Open(Sample, &screen, false)) {
    std::fprintf(stderr, "%s\n", player.LastErrMsg().c_str());
    return 1;
  }
  WaitServing([&] { return position > 500000; }, std::chrono::seconds(10));
  const int64_t startPos = position;
  const double cpu0 = CpuSeconds(RUSAGE_SELF), wall0 = WallSeconds();
  const uint64_t shown0 = screen.Surface()->Generation();
  WaitServing([&] { return position - startPos >= int64_t(realTime * 1e6) - 600000; },
              std::chrono::milliseconds(int64_t(realTime * 1000) + 10000));
  const double rtCpu = CpuSeconds(RUSAGE_SELF) - cpu0, rtWall = WallSeconds() - wall0;
  const double rtMedia = (position - startPos) / 1e6;
  const uint64_t shown = screen.Surface()->Generation() - shown0;
  player.Stop(true);
  std::printf("real time, %.1f s of video in %.1f s, %llu pictures shown at %dx%d:\n", rtMedia,
              rtWall, static_cast<unsigned long long>(shown), Screen.width(), Screen.height());
  std::printf("  player preview: %.3f CPU s per s of video (%.0f%% of one core)\n", rtCpu / rtMedia,
              100.0 * rtCpu / rtWall);
  return 0;
}
