#include "ffmpeg_transcoder.h"

#include "ff_logger.h"
#include "ffmpeg_loader.h"
#include "sync_call.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

namespace {

[[noreturn]] void Raise(const std::string &AMessage) {
  throw FFmpegException(AMessage);
}

bool SameGeometryAs(const AVFrame *AFrame, int AWidth, int AHeight, int AFormat) {
  return AFrame->width == AWidth && AFrame->height == AHeight && AFrame->format == AFormat;
}

// Waits for AEvent; on the main thread in slices that serve queued calls, so a worker waiting
// for the main thread can finish.
void WaitForEvent(TEvent &AEvent) {
  if (OnEventLoopThread())
    WaitServing([&AEvent] { return AEvent.IsSet(); });
  else
    AEvent.Wait();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Starting, stopping, pausing

std::string TCustomFFmpeg::FatalMessage() const {
  std::lock_guard<std::mutex> lock(FFatalLock);
  return FFatalMessage;
}

void TCustomFFmpeg::ResetRunState() {
  FBroken = false;
  FFinished = false;
  FFatalException = false;
  {
    std::lock_guard<std::mutex> lock(FFatalLock);
    FFatalMessage.clear();
  }
  Ftimer_start = 0;
  Fvideo_size = Faudio_size = Fextra_size = 0;
  Fnb_frames_dup = Fnb_frames_drop = 0;
  FShowDupOrDrop = false;
  Fqp_histogram.fill(0);
}

TConvertThread *TCustomFFmpeg::StartConvert(bool AUseThread, TThreadPriority APriority) {
  if (FConverting || FTerminated)
    return nullptr;
  const char *error = Fnb_output_files <= 0  ? "At least one output file must be specified"
                      : Fnb_input_files <= 0 ? "At least one input file must be specified"
                                             : nullptr;
  if (error != nullptr) {
    CloseFiles();
    Log(llQuiet, error);
    FFatalException = true;
    {
      std::lock_guard<std::mutex> lock(FFatalLock);
      FFatalMessage = error;
    }
    DoTerminate();
    return nullptr;
  }
  FConverting = true;
  FBroken = false;
  FFinished = false;
  FTerminated = false;
  // Reset here rather than on the worker: a Stop right after this call must wait for the run.
  FStopEvent.Reset();
  if (!AUseThread) {
    RunConversion();
    FStopEvent.Set();
    return nullptr;
  }
  FThread = std::make_unique<TConvertThread>(
      [this] {
        RunConversion();
        FStopEvent.Set();
      },
      APriority);
  return FThread.get();
}

void TCustomFFmpeg::RunConversion() {
  const auto fatal = [this](const std::string &AMessage) {
    Log(llQuiet, AMessage);
    FFatalException = true;
    FDeletePartialOutputs = true;
    std::lock_guard<std::mutex> lock(FFatalLock);
    FFatalMessage = AMessage;
  };
  const auto guarded = [&](auto AStep) {
    try {
      AStep();
    } catch (const std::exception &e) {
      fatal(e.what());
    } catch (...) {
      fatal("Unknown error");
    }
  };
  FFinished = false;
  guarded([this] { Transcode(); });
  guarded([this] {
    CloseEncoderList(&FEncoderList);
    CloseDecoderList(&FDecoderList);
  });
  guarded([this] { CloseFiles(); });
  guarded([this] { DoTerminate(); });
}

void TCustomFFmpeg::Stop(bool AWaitFor) {
  FBroken = true;
  if (!FThread)
    return;
  if (FThread->Suspended())
    FThread->Resume();
  if (!AWaitFor || FThread->IsCurrentThread())
    return;
  WaitForEvent(FStopEvent);
  FThread->Join();
}

void TCustomFFmpeg::StopTask(bool AWaitFor) {
  if (FConverting) {
    Stop(AWaitFor);
    return;
  }
  if (FTerminated && !FTermDelivering)
    return;
  if (!FTermDelivering) {
    FTermDelivering = true;
    FTermEvent.Reset();
    FDoTerminateThread = std::thread([this] {
      DoTerminate();
      FTermEvent.Set();
    });
  }
  if (!AWaitFor || std::this_thread::get_id() == FDoTerminateThread.get_id())
    return;
  WaitForEvent(FTermEvent);
  if (FDoTerminateThread.joinable())
    FDoTerminateThread.join();
}

void TCustomFFmpeg::Pause() {
  if (FThread && !FThread->Suspended())
    FThread->Suspend();
}

void TCustomFFmpeg::Resume() {
  if (FThread && FThread->Suspended())
    FThread->Resume();
}

void TCustomFFmpeg::CheckPause() {
  if (FThread && FThread->IsCurrentThread())
    FThread->HoldWhileSuspended();
}

void TCustomFFmpeg::DoTerminate() {
  // A paused task raises no event, its termination included.
  CheckPause();
  FConverting = false;
  FTerminated = true;
  // The worker object stays owned here until this transcoder joins it.
  if (!OnTerminate)
    return;
  try {
    OnTerminate(this);
  } catch (const std::exception &e) {
    Log(llError, std::string("Error occurs OnTerminate: ") + e.what());
  }
}

// ---------------------------------------------------------------------------------------------
// The transcode loop

void TCustomFFmpeg::Transcode() {
  // Stopped before it ever ran: nothing is written, and the empty outputs go.
  if (FBroken)
    return;
  FPacket.reset(av_packet_alloc());
  FOutPacket.reset(av_packet_alloc());
  if (!FPacket || !FOutPacket)
    throw std::bad_alloc();
  PrepareTranscode();

  Ftimer_start = av_gettime_relative();
  Flast_report_time = Ftimer_start;
  int current = 0;
  Fno_packet.assign(static_cast<size_t>(Fnb_input_files), false);
  Fno_packet_count = 0;
  AVPacket *pkt = FPacket.get();

  for (;;) {
    CheckPause();
    if (FBroken)
      break;
    const int chosen = ChooseInput(current);
    if (chosen < 0) {
      if (FJoinMode || Fno_packet_count == 0)
        break;
      std::fill(Fno_packet.begin(), Fno_packet.end(), false);
      Fno_packet_count = 0;
      av_usleep(10000);
      continue;
    }
    if (Flimit_filesize != 0) {
      const AVFormatContext *first = OutputFile(0);
      if (first->pb != nullptr && avio_tell(first->pb) >= Flimit_filesize)
        break;
    }

    AVFormatContext *ic = Finput_files[chosen].get();
    const int ret = av_read_frame(ic, pkt);
    if (ret == AVERROR(EAGAIN)) {
      Fno_packet[chosen] = true;
      ++Fno_packet_count;
      continue;
    }
    if (ret < 0) {
      // A read interrupted by a stop is no end of input.
      if (FBroken)
        continue;
      Ffile_table[chosen].eof_reached = 1;
      if (FJoinMode) {
        EndJoinedInput(chosen);
        if (chosen + 1 >= Fnb_input_files)
          break;
        current = chosen + 1;
        continue;
      }
      if (Fopt_shortest)
        break;
      continue;
    }

    std::fill(Fno_packet.begin(), Fno_packet.end(), false);
    Fno_packet_count = 0;
    if (Fdo_pkt_dump)
      av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt, Fdo_hex_dump, ic->streams[pkt->stream_index]);
    if (pkt->stream_index >= Ffile_table[chosen].nb_streams) {
      av_packet_unref(pkt);
      continue;
    }
    TAVInputStream *ist = Fist_table[Ffile_table[chosen].ist_index + pkt->stream_index].get();
    if (ist->discard) {
      av_packet_unref(pkt);
      continue;
    }

    const AVRational tb = ist->st->time_base;
    const int64_t offset = av_rescale_q(Finput_files_ts_offset[chosen], AV_TIME_BASE_Q, tb);
    if (pkt->dts != AV_NOPTS_VALUE)
      pkt->dts += offset;
    if (pkt->pts != AV_NOPTS_VALUE)
      pkt->pts += offset;
    const double scale = ist->index < MAX_STREAMS ? Finput_files_ts_scale[chosen][ist->index] : 0.0;
    if (scale != 0) {
      if (pkt->dts != AV_NOPTS_VALUE)
        pkt->dts = llrint(pkt->dts * scale);
      if (pkt->pts != AV_NOPTS_VALUE)
        pkt->pts = llrint(pkt->pts * scale);
    }

    if (pkt->dts != AV_NOPTS_VALUE && ist->next_pts != AV_NOPTS_VALUE &&
        (ic->iformat->flags & AVFMT_TS_DISCONT) && !Fcopy_ts) {
      const int64_t dts = av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
      const int64_t delta = dts - ist->next_pts;
      if (std::fabs(static_cast<double>(delta)) >
              static_cast<double>(Fdts_delta_threshold) * AV_TIME_BASE ||
          dts + 1 < ist->pts) {
        Finput_files_ts_offset[chosen] -= delta;
        if (Fverbose > 2)
          GetLogger()->LogFmt(this, llVerbose,
                              "timestamp discontinuity %" PRId64 ", new offset= %" PRId64, delta,
                              Finput_files_ts_offset[chosen]);
        const int64_t shift = av_rescale_q(delta, AV_TIME_BASE_Q, tb);
        pkt->dts -= shift;
        if (pkt->pts != AV_NOPTS_VALUE)
          pkt->pts -= shift;
      }
    }

    if (Frecording_time != INT64_MAX && pkt->pts != AV_NOPTS_VALUE &&
        av_compare_ts(pkt->pts, tb, Frecording_time + Fstart_time, AV_TIME_BASE_Q) >= 0) {
      ist->is_past_recording_time = true;
      av_packet_unref(pkt);
      continue;
    }

    if (ProcessInputPacket(ist, pkt) < 0) {
      const std::string msg =
          Format("Error while decoding stream #%d.%d (%s)", ist->file_index, ist->index,
                 StreamTypeName(ist->st->codecpar->codec_type).c_str());
      av_packet_unref(pkt);
      if (Fexit_on_error)
        Raise(msg);
      if (Fverbose >= 0)
        Log(llVerbose, msg);
      continue;
    }
    av_packet_unref(pkt);

    const int64_t now = av_gettime_relative();
    if (now - Flast_report_time > ReportInterval) {
      Flast_report_time = now;
      ReportProgress(false, chosen);
    }
  }

  // End of input: drain every decoder (then its filters and encoders) not drained yet.
  for (auto &ist : Fist_table)
    if (ist->decoding_needed && !ist->decoder_flushed)
      ProcessInputPacket(ist.get(), nullptr);
  for (auto &ost : Fost_table)
    if (!(FJoinMode && ost->file_index > 0))
      flush_bitstream_filters(ost.get());

  for (size_t i = 0; i < Foutput_files.size(); ++i) {
    if (!Foutput_started[i])
      continue;
    // Every packet of the input failed to decode (a picture of no size, a cut header): a file
    // with headers only would be no conversion, however normally the run ended.
    if (!FBroken && !Foutput_written[FJoinMode ? 0 : i])
      Raise(Format("Output file #%d received no picture or sound: nothing could be converted",
                   static_cast<int>(i)));
    const int ret = av_write_trailer(Foutput_files[i].get());
    if (ret < 0)
      Raise(FormatLibraryError("av_write_trailer()", ret));
    // Written into a file that was removed meanwhile (its folder deleted, say): nothing of it
    // is left to the user, so the run did not convert the file.
    if (const std::string missing = MissingOutputFile(i); !missing.empty())
      Raise(FormatLibraryError(missing, AVERROR(ENOENT)));
    Foutput_finished[i] = true;
  }
  ReportProgress(true, -1);
  CloseEncoders();
  CloseDecoders();
  FFinished = !FBroken;
  FreeRunTables();
}

int TCustomFFmpeg::ChooseInput(int ACurrent) const {
  if (FJoinMode) {
    for (const auto &ost : Fost_table) {
      const int type = ost->st->codecpar->codec_type;
      if (ost->file_index == ACurrent && type >= 0 && type < 4 &&
          ost->frame_number >= Fmax_frames[type])
        return -1;
    }
    return ACurrent;
  }
  double iptsMin = 1e100, optsMin = 1e100;
  int file = -1;
  for (const auto &ost : Fost_table) {
    const TAVInputStream *ist = Fist_table[ost->source_index].get();
    if (ist->is_past_recording_time || Fno_packet[ist->file_index])
      continue;
    const int64_t ts = ost->setup->last_ts;
    const double opts = ts == AV_NOPTS_VALUE ? 0.0 : ts * av_q2d(ost->st->time_base);
    const double ipts = static_cast<double>(ist->pts);
    if (!Ffile_table[ist->file_index].eof_reached) {
      if (ipts < iptsMin) {
        iptsMin = ipts;
        if (Finput_sync)
          file = ist->file_index;
      }
      if (opts < optsMin) {
        optsMin = opts;
        if (!Finput_sync)
          file = ist->file_index;
      }
    }
    const int type = ost->st->codecpar->codec_type;
    if (type >= 0 && type < 4 && ost->frame_number >= Fmax_frames[type])
      return -1;
  }
  return file;
}

void TCustomFFmpeg::EndJoinedInput(int AInput) {
  const TAVInputFile &file = Ffile_table[AInput];
  for (int s = 0; s < file.nb_streams; ++s) {
    TAVInputStream *ist = Fist_table[file.ist_index + s].get();
    if (!ist->decoding_needed || ist->decoder_flushed)
      continue;
    ProcessInputPacket(ist, nullptr);
    if (ist->dec)
      avcodec_flush_buffers(ist->dec.get());
    ist->decoder_flushed = true;
  }
  const bool last = AInput + 1 >= Fnb_input_files;
  if (!last)
    ReopenEncoders();
  // Later entries continue counting where this one stopped.
  const int perEntry = static_cast<int>(OutputFile(0)->nb_streams);
  for (size_t i = static_cast<size_t>((AInput + 1) * perEntry); i < Fost_table.size(); ++i) {
    Fost_table[i]->sync_opts = Fost_table[i - perEntry]->sync_opts;
    Fost_table[i]->frame_number = Fost_table[i - perEntry]->frame_number;
  }
  if (last)
    return;
  double largest = 0;
  for (auto &ost : Fost_table) {
    if (ost->file_index != AInput)
      continue;
    const int64_t ts = ost->setup->last_ts;
    if (ts != AV_NOPTS_VALUE)
      largest = std::max(largest, ts * av_q2d(ost->st->time_base));
    ost->show_fps = 0;
  }
  Finput_files_ts_offset[AInput + 1] += llrint(largest * AV_TIME_BASE);
}

int TCustomFFmpeg::ProcessInputPacket(TAVInputStream *AIst, const AVPacket *APkt) {
  const AVRational tb = AIst->st->time_base;
  const AVMediaType type = AIst->st->codecpar->codec_type;
  if (AIst->next_pts == AV_NOPTS_VALUE)
    AIst->next_pts = AIst->pts;
  if (APkt != nullptr && APkt->dts != AV_NOPTS_VALUE)
    AIst->next_pts = AIst->pts = av_rescale_q(APkt->dts, tb, AV_TIME_BASE_Q);

  // Stream copy: once per packet, at the packet's time.
  if (APkt != nullptr) {
    const bool early = Fstart_time != 0 && AIst->pts < Fstart_time;
    for (auto &ost : Fost_table)
      if (Fist_table[ost->source_index].get() == AIst && !ost->encoding_needed && !early)
        DoStreamCopy(ost.get(), AIst, APkt);
  }

  if (!AIst->decoding_needed) {
    if (APkt == nullptr)
      return 0;
    // The next packet's predicted time.
    const AVCodecParameters *par = AIst->st->codecpar;
    if (APkt->duration > 0)
      AIst->next_pts += av_rescale_q(APkt->duration, tb, AV_TIME_BASE_Q);
    else if (type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0 && par->frame_size > 0)
      AIst->next_pts += static_cast<int64_t>(AV_TIME_BASE) * par->frame_size / par->sample_rate;
    else if (type == AVMEDIA_TYPE_VIDEO && AIst->st->r_frame_rate.num > 0)
      AIst->next_pts += av_rescale_q(1, av_inv_q(AIst->st->r_frame_rate), AV_TIME_BASE_Q);
    return 0;
  }

  AVCodecContext *dec = AIst->dec.get();
  if (dec == nullptr)
    return -1;
  if (type == AVMEDIA_TYPE_SUBTITLE) {
    // Subtitle decoders take one packet and give at most one subtitle; an empty packet drains.
    AVPacket *empty = nullptr;
    if (APkt == nullptr) {
      empty = av_packet_alloc();
      if (empty == nullptr)
        throw std::bad_alloc();
    }
    AVSubtitle sub{};
    int got = 0;
    const int ret =
        avcodec_decode_subtitle2(dec, &sub, &got, const_cast<AVPacket *>(APkt ? APkt : empty));
    const int64_t pts = APkt ? APkt->pts : AV_NOPTS_VALUE;
    av_packet_free(&empty);
    if (ret < 0)
      return -1;
    if (got) {
      try {
        if (!(Fstart_time != 0 && AIst->pts < Fstart_time))
          for (auto &ost : Fost_table)
            if (Fist_table[ost->source_index].get() == AIst && ost->encoding_needed)
              EncodeSubtitle(ost.get(), AIst, &sub, pts);
      } catch (...) {
        avsubtitle_free(&sub);
        throw;
      }
      avsubtitle_free(&sub);
    }
    return 0;
  }
  if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
    return -1;

  int ret = avcodec_send_packet(dec, APkt);
  if (ret < 0 && ret != AVERROR_EOF)
    return -1;
  AVFrame *frame = AIst->decoded_frame.get();
  int frames = 0;
  for (;;) {
    ret = avcodec_receive_frame(dec, frame);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
      break;
    if (ret < 0)
      return -1;
    ++frames;
    if (type == AVMEDIA_TYPE_VIDEO && frames > 1 &&
        ((!AIst->showed_multi_packet_warning && Fverbose > 0) || Fverbose > 1)) {
      GetLogger()->LogFmt(this, llError, "Multiple frames in a packet from stream %d", AIst->index);
      AIst->showed_multi_packet_warning = true;
    }
    const int64_t ts = frame->best_effort_timestamp;
    AIst->pts = ts != AV_NOPTS_VALUE ? av_rescale_q(ts, tb, AV_TIME_BASE_Q) : AIst->next_pts;
    int64_t duration = 0;
    if (type == AVMEDIA_TYPE_AUDIO) {
      if (frame->sample_rate > 0)
        duration = static_cast<int64_t>(AV_TIME_BASE) * frame->nb_samples / frame->sample_rate;
    } else if (frame->pkt_duration > 0) {
      duration = av_rescale_q(frame->pkt_duration, tb, AV_TIME_BASE_Q);
    } else if (AIst->st->r_frame_rate.num > 0) {
      duration = av_rescale_q(1, av_inv_q(AIst->st->r_frame_rate), AV_TIME_BASE_Q);
    }
    AIst->next_pts = AIst->pts + duration;
    if (type == AVMEDIA_TYPE_VIDEO)
      AIst->quality = static_cast<float>(frame->quality);
    DeliverFrame(AIst, frame);
    av_frame_unref(frame);
  }

  if (APkt == nullptr)
    FlushInputStream(AIst);
  return 0;
}

void TCustomFFmpeg::DeliverFrame(TAVInputStream *AIst, AVFrame *AFrame) {
  // The deinterlacer hands its pictures on itself; when it fails the picture goes on as it is.
  if (AIst->st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && Fdo_deinterlace &&
      DeinterlaceFrame(AIst, AFrame))
    return;
  DeliverDecoded(AIst, AFrame);
}

void TCustomFFmpeg::DeliverDecoded(TAVInputStream *AIst, AVFrame *AFrame) {
  const AVMediaType type = AIst->st->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_VIDEO)
    PreprocessVideoFrame(AIst, AFrame);
  else
    ApplyVolume(AFrame);

  if (Frate_emu) {
    // Holds the pace of the input's own clock, in short naps so a stop is not kept waiting.
    for (;;) {
      const int64_t ahead = AIst->pts - (av_gettime_relative() - AIst->start);
      if (ahead <= 1000 || FBroken)
        break;
      av_usleep(static_cast<unsigned>(std::min<int64_t>(ahead, 10000)));
    }
  }
  if (Fstart_time != 0 && AIst->pts < Fstart_time)
    return;

  if (type == AVMEDIA_TYPE_VIDEO) {
    if (AIst->filter_graph)
      FilterPicture(AIst, AFrame);
    else
      VideoToOutputs(AIst, AFrame);
    return;
  }
  for (auto &ost : Fost_table) {
    if (Fist_table[ost->source_index].get() != AIst || !ost->encoding_needed)
      continue;
    if (type == AVMEDIA_TYPE_AUDIO)
      do_audio_out(ost.get(), AIst, AFrame);
    else
      Raise("invalid codec_type");
  }
}

void TCustomFFmpeg::VideoToOutputs(TAVInputStream *AIst, AVFrame *AFrame) {
  for (auto &ost : Fost_table) {
    if (Fist_table[ost->source_index].get() != AIst || !ost->encoding_needed)
      continue;
    const int frameSize = EncodeVideoFrame(ost.get(), AIst, AFrame);
    if (!Fvstats_filename.empty() && frameSize > 0)
      WriteVideoStats(ost.get(), frameSize);
  }
}

void TCustomFFmpeg::FilterPicture(TAVInputStream *AIst, AVFrame *AFrame) {
  // A picture of another size or format: the graph gives what it holds, and a new one is made
  // for the new pictures (its filters are configured for one geometry only).
  if (!SameGeometryAs(AFrame, AIst->filter_width, AIst->filter_height, AIst->filter_format)) {
    const char *name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(AFrame->format));
    Log(llQuiet, Format("Input Stream #%d.%d frame size changed to %dx%d, %s", AIst->file_index,
                        AIst->index, AFrame->width, AFrame->height, name ? name : "none"));
    const int64_t pts = AIst->pts;
    if (av_buffersrc_add_frame(AIst->input_video_filter, nullptr) >= 0)
      TakeFiltered(AIst);
    AIst->pts = pts;
    TAVOutputStream *ost = AIst->filter_ost;
    AIst->filter_graph.reset();
    AIst->input_video_filter = AIst->out_video_filter = nullptr;
    FLastErrMsg.clear();
    if (ost == nullptr ||
        ConfigureFilters(AIst, ost, AFrame->width, AFrame->height, AFrame->format) != 0)
      Raise(FLastErrMsg.empty() ? std::string("Error opening filters!")
                                : "Error opening filters: " + FLastErrMsg);
  }
  AFrame->pts = AIst->pts;
  if (av_buffersrc_add_frame_flags(AIst->input_video_filter, AFrame, AV_BUFFERSRC_FLAG_KEEP_REF) <
      0)
    Raise("Error while feeding the filter graph");
  TakeFiltered(AIst);
}

void TCustomFFmpeg::TakeFiltered(TAVInputStream *AIst) {
  AVFrame *filtered = AIst->filter_frame.get();
  int64_t pts = 0;
  while (GetFilteredPicture(AIst->out_video_filter, filtered, pts) > 0) {
    AIst->has_filter_frame = true;
    if (pts != AV_NOPTS_VALUE)
      AIst->pts = pts;
    // The graph's pixel aspect becomes the encoder's.
    if (filtered->sample_aspect_ratio.num != 0)
      for (auto &ost : Fost_table)
        if (Fist_table[ost->source_index].get() == AIst && ost->encoding_needed)
          ost->enc()->sample_aspect_ratio = filtered->sample_aspect_ratio;
    VideoToOutputs(AIst, filtered);
    av_frame_unref(filtered);
    AIst->has_filter_frame = false;
  }
}

void TCustomFFmpeg::FlushInputStream(TAVInputStream *AIst) {
  DrainDeinterlacer(AIst);
  // The filter graph gives what it still holds before the encoders drain.
  if (AIst->filter_graph) {
    if (av_buffersrc_add_frame(AIst->input_video_filter, nullptr) >= 0)
      TakeFiltered(AIst);
    // A graph at its end takes no more frames; a joined input builds no new one.
    AIst->filter_graph.reset();
    AIst->input_video_filter = AIst->out_video_filter = nullptr;
  }
  for (auto &ost : Fost_table)
    if (Fist_table[ost->source_index].get() == AIst && ost->encoding_needed)
      flush_encoder(ost.get());
}

void TCustomFFmpeg::DoStreamCopy(TAVOutputStream *AOst, TAVInputStream *AIst,
                                 const AVPacket *APkt) {
  if (AOst->frame_number == 0 && !(APkt->flags & AV_PKT_FLAG_KEY) && !Fcopy_initial_nonkeyframes)
    return;
  const AVRational itb = AIst->st->time_base;
  const AVRational otb = AOst->st->time_base;
  const int64_t start = av_rescale_q(Fstart_time, AV_TIME_BASE_Q, otb);
  const AVMediaType type = AIst->st->codecpar->codec_type;
  if (type == AVMEDIA_TYPE_AUDIO) {
    Faudio_size += APkt->size;
  } else if (type == AVMEDIA_TYPE_VIDEO) {
    Fvideo_size += APkt->size;
    ++AOst->sync_opts;
  }
  AVPacket *opkt = FOutPacket.get();
  if (av_packet_ref(opkt, APkt) < 0)
    throw std::bad_alloc();
  av_packet_rescale_ts(opkt, itb, otb);
  if (opkt->pts != AV_NOPTS_VALUE)
    opkt->pts -= start;
  if (APkt->dts == AV_NOPTS_VALUE)
    opkt->dts = av_rescale_q(AIst->pts, AV_TIME_BASE_Q, otb);
  opkt->dts -= start;
  opkt->stream_index = AOst->index;
  write_frame(AOst, opkt);
  ++AOst->frame_number;
}

// ---------------------------------------------------------------------------------------------
// Writing packets

void TCustomFFmpeg::write_frame(TAVOutputStream *AOst, AVPacket *APkt) {
  TOutputStreamSetup *setup = AOst->setup;
  const int64_t ts = APkt->pts != AV_NOPTS_VALUE ? APkt->pts : APkt->dts;
  if (ts != AV_NOPTS_VALUE) {
    const int64_t end = ts + std::max<int64_t>(APkt->duration, 0);
    if (setup->last_ts == AV_NOPTS_VALUE || end > setup->last_ts)
      setup->last_ts = end;
  }
  APkt->stream_index = AOst->index;
  AVFormatContext *oc = OutputFile(AOst->file_index);
  std::vector<BSFContextPtr> &chain = setup->bitstream_filters;

  // Through the chain depth-first: each packet a filter gives goes on to the next filter.
  const auto write = [&](auto &&ASelf, size_t AIndex, AVPacket *APacket) -> void {
    if (AIndex == chain.size()) {
      if (APacket == nullptr)
        return;
      av_packet_rescale_ts(APacket,
                           chain.empty() ? AOst->st->time_base : chain.back()->time_base_out,
                           AOst->st->time_base);
      APacket->stream_index = AOst->index;
      KeepTimestampsIncreasing(AOst, APacket);
      const int ret = av_interleaved_write_frame(oc, APacket);
      if (ret < 0)
        Raise("av_interleaved_write_frame(): " + LibraryErrorText(ret));
      Foutput_written[FJoinMode ? 0 : static_cast<size_t>(AOst->file_index)] = true;
      return;
    }
    AVBSFContext *bsf = chain[AIndex].get();
    int ret = av_bsf_send_packet(bsf, APacket);
    while (ret >= 0) {
      PacketPtr out(av_packet_alloc());
      if (!out)
        throw std::bad_alloc();
      ret = av_bsf_receive_packet(bsf, out.get());
      if (ret == AVERROR(EAGAIN))
        return;
      if (ret == AVERROR_EOF) {
        ASelf(ASelf, AIndex + 1, nullptr);
        return;
      }
      if (ret >= 0)
        ASelf(ASelf, AIndex + 1, out.get());
    }
    const AVCodecContext *enc = AOst->enc();
    const std::string msg =
        Format("%s failed for stream %d, codec %s", bsf->filter->name, AOst->st->index,
               AOst->encoding_needed && enc && enc->codec ? enc->codec->name : "copy") +
        ": " + LibraryErrorText(ret);
    if (APacket != nullptr)
      av_packet_unref(APacket);
    if (Fexit_on_error)
      Raise(msg);
    Log(llError, msg);
  };
  if (!chain.empty() && APkt != nullptr)
    av_packet_rescale_ts(APkt, AOst->st->time_base, chain.front()->time_base_in);
  write(write, 0, APkt);
  if (APkt != nullptr)
    av_packet_unref(APkt);
}

void TCustomFFmpeg::KeepTimestampsIncreasing(TAVOutputStream *AOst, AVPacket *APkt) {
  TOutputStreamSetup *setup = AOst->setup;
  const int flags = OutputFile(AOst->file_index)->oformat->flags;
  if ((flags & AVFMT_NOTIMESTAMPS) || APkt->dts == AV_NOPTS_VALUE)
    return;
  // A muxer refuses a decode time that goes back, which happens where joined inputs meet (an
  // encoder's priming packets start before zero): the packet moves up to just after the last.
  if (setup->last_dts != AV_NOPTS_VALUE) {
    // Strictly after, even where the muxer takes equal times: readers stumble over them.
    const int64_t least = setup->last_dts + 1;
    if (APkt->dts < least) {
      GetLogger()->LogFmt(this, llWarning,
                          "Non-monotonic timestamps in output stream #%d.%d: previous %" PRId64
                          ", current %" PRId64 "; changed to %" PRId64,
                          AOst->file_index, AOst->index, setup->last_dts, APkt->dts, least);
      if (APkt->pts != AV_NOPTS_VALUE && APkt->pts >= APkt->dts)
        APkt->pts = std::max(APkt->pts, least);
      APkt->dts = least;
    }
  }
  setup->last_dts = APkt->dts;
}

void TCustomFFmpeg::flush_bitstream_filters(TAVOutputStream *AOst) {
  if (AOst->setup->bitstream_filters.empty() || !AOst->setup->bitstream_filters_ready)
    return;
  write_frame(AOst, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Progress

void TCustomFFmpeg::ReportProgress(bool AIsLast, int AInputIndex) {
  // A paused task raises no event.
  CheckPause();
  const AVFormatContext *oc = OutputFile(0);
  int64_t totalSize = 0;
  if (oc != nullptr && oc->pb != nullptr) {
    totalSize = std::max(avio_size(oc->pb), avio_tell(oc->pb));
    if (totalSize < 0)
      totalSize = 0;
  }

  std::string text;
  bool vid = false;
  int frameNumber = -1, fps = -1;
  float quality = -1.0f;
  double outTime = 1e10;
  for (const auto &ost : Fost_table) {
    const bool video = ost->st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
    const float q = ost->encoding_needed ? ost->quality / FF_QP2LAMBDA : -1.0f;
    if (vid && video)
      text += Format("q=%2.1f ", q);
    if (!vid && video && ost->show_fps == 1) {
      const double elapsed = (av_gettime_relative() - Ftimer_start) / 1e6;
      frameNumber = ost->frame_number;
      if (frameNumber == 0)
        return;
      fps = elapsed > 1 ? static_cast<int>(frameNumber / elapsed + 0.5) : 0;
      quality = q;
      text += Format("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, q);
      if (AIsLast)
        text += "L";
      if (Fqp_hist) {
        const int qp = static_cast<int>(std::lrint(q));
        if (qp >= 0 && qp < 52)
          ++Fqp_histogram[qp];
        for (int j = 0; j < 32; ++j)
          text += Format("%X", static_cast<int>(std::lrint(std::log2(Fqp_histogram[j] + 1))));
      }
      const AVCodecContext *enc = ost->enc();
      if (enc != nullptr && (enc->flags & AV_CODEC_FLAG_PSNR)) {
        double errorSum = 0, scaleSum = 0;
        text += "PSNR=";
        for (int j = 0; j < 3; ++j) {
          double error =
              AIsLast ? static_cast<double>(enc->error[j]) : static_cast<double>(ost->error[j]);
          double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
          if (j > 0)
            scale /= 4;
          if (AIsLast)
            scale *= frameNumber;
          errorSum += error;
          scaleSum += scale;
          text += Format("%c:%2.2f ", "YUV"[j], -10.0 * std::log10(error / scale));
        }
        text += Format("*:%2.2f ", -10.0 * std::log10(errorSum / scaleSum));
      }
      vid = true;
    }
    const int64_t ts = ost->setup->last_ts;
    if (ts != AV_NOPTS_VALUE) {
      const double t = ts * av_q2d(ost->st->time_base);
      if (t > 0 && t < outTime)
        outTime = t;
    }
  }
  if (outTime < 0.01)
    outTime = 0.01;

  const double bitrate = totalSize * 8 / outTime / 1000.0;
  if (OnProgress || Fverbose > 0 || AIsLast) {
    text += Format("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", totalSize / 1024.0, outTime,
                   bitrate);
    if (Fnb_frames_dup || Fnb_frames_drop)
      text += Format(" dup=%d drop=%d", Fnb_frames_dup, Fnb_frames_drop);
    if (FShowDupOrDrop && Fverbose >= 0 && OnProgress) {
      Log(llVerbose, text);
      FShowDupOrDrop = false;
    }
  }
  if (text.size() > 1023)
    text.resize(1023);

  if (OnProgress) {
    try {
      OnProgress(this, AInputIndex, frameNumber, fps, quality, static_cast<float>(bitrate),
                 totalSize, static_cast<int64_t>(outTime * 1000000), FTotalOutputDuration);
    } catch (const std::exception &e) {
      Log(llError, std::string("Error occurs OnProgress: ") + e.what());
    }
  } else if (Fverbose >= 0) {
    Log(llVerbose, text);
  }

  if (AIsLast && Fverbose >= 0) {
    const double sum = static_cast<double>(Fvideo_size + Faudio_size + Fextra_size);
    GetLogger()->LogFmt(this, llVerbose,
                        "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead "
                        "%f%%\r\n",
                        Fvideo_size / 1024.0, Faudio_size / 1024.0, Fextra_size / 1024.0,
                        sum > 0 ? (totalSize - sum) * 100.0 / sum : 0.0);
  }
}
