#include "ffmpeg_transcoder.h"

#include "ff_logger.h"
#include "ffmpeg_loader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

namespace {

[[noreturn]] void Raise(const std::string &AMessage) {
  throw FFmpegException(AMessage);
}

std::string TypeName(AVMediaType AType) {
  return StreamTypeName(static_cast<int>(AType));
}

bool InProgram(const AVFormatContext *AInput, int AStream, int AProgramID) {
  for (unsigned p = 0; p < AInput->nb_programs; ++p) {
    const AVProgram *program = AInput->programs[p];
    if (program->id != AProgramID)
      continue;
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
      if (static_cast<int>(program->stream_index[k]) == AStream)
        return true;
  }
  return false;
}

// Reads the whole file into a buffer the encoder owns. 0, or a negative errno-style code.
int ReadStatsFile(const std::string &AName, char **AText) {
  FILE *f = std::fopen(AName.c_str(), "rb");
  if (f == nullptr)
    return AVERROR(errno);
  std::string data;
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
    data.append(chunk, n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed)
    return AVERROR(EIO);
  *AText = static_cast<char *>(av_malloc(data.size() + 1));
  if (*AText == nullptr)
    return AVERROR(ENOMEM);
  std::memcpy(*AText, data.data(), data.size());
  (*AText)[data.size()] = '\0';
  return 0;
}

} // namespace

void TCustomFFmpeg::PrepareTranscode() {
  // 1. Input tables.
  Ffile_table.assign(static_cast<size_t>(Fnb_input_files), TAVInputFile());
  int istIndex = 0;
  for (int f = 0; f < Fnb_input_files; ++f) {
    AVFormatContext *ic = Finput_files[f].get();
    Ffile_table[f].ist_index = istIndex;
    Ffile_table[f].nb_streams = static_cast<int>(ic->nb_streams);
    for (unsigned s = 0; s < ic->nb_streams; ++s, ++istIndex) {
      auto ist = std::make_unique<TAVInputStream>();
      ist->file_index = f;
      ist->index = static_cast<int>(s);
      ist->st = ic->streams[s];
      if (istIndex < static_cast<int>(Finput_codec_contexts.size()))
        ist->dec = std::move(Finput_codec_contexts[istIndex]);
      ist->discard = 1;
      if (Frate_emu)
        ist->start = av_gettime_relative();
      Fist_table.push_back(std::move(ist));
    }
  }

  // 2. Output streams and maps.
  int nbOstreams = 0;
  for (int k = 0; k < Fnb_output_files; ++k) {
    AVFormatContext *os = OutputFile(k);
    if (os->nb_streams == 0) {
      av_dump_format(os, k, os->url, 1);
      Raise(Format("Output file #%d does not contain any stream", k));
    }
    nbOstreams += static_cast<int>(os->nb_streams);
  }
  if (!Fstream_maps.empty()) {
    if (static_cast<int>(Fstream_maps.size()) != nbOstreams)
      Raise("Number of stream maps must match number of output streams");
    for (const TAVStreamMap &m : Fstream_maps) {
      if (m.file_index < 0 || m.file_index >= Fnb_input_files || m.stream_index < 0 ||
          m.stream_index >= Ffile_table[m.file_index].nb_streams)
        Raise(Format("Could not find input stream #%d.%d", m.file_index, m.stream_index));
      if (m.sync_file_index < 0 || m.sync_file_index >= Fnb_input_files ||
          m.sync_stream_index < 0 ||
          m.sync_stream_index >= Ffile_table[m.sync_file_index].nb_streams)
        Raise(Format("Could not find sync stream #%d.%d", m.sync_file_index, m.sync_stream_index));
    }
  }

  // 3. Mapping.
  // The stream the library ranks best of each input and type stands in for "probed from the
  // most frames", which today's libraries keep to themselves.
  const auto libraryBest = [this](const TAVInputStream *AIst) {
    return av_find_best_stream(Finput_files[AIst->file_index].get(), AIst->st->codecpar->codec_type,
                               -1, -1, nullptr, 0) == AIst->index;
  };
  int n = 0;
  for (int k = 0; k < Fnb_output_files; ++k) {
    AVFormatContext *os = OutputFile(k);
    for (unsigned i = 0; i < os->nb_streams; ++i, ++n) {
      auto ost = std::make_unique<TAVOutputStream>();
      ost->file_index = k;
      ost->index = static_cast<int>(i);
      ost->st = os->streams[i];
      ost->setup = OutputStreamSetup(k, static_cast<int>(i));
      if (ost->setup == nullptr)
        Raise(Format("Output file #%d does not contain any stream", k));
      const AVMediaType type = ost->setup->codec->codec_type;
      TAVInputStream *source = nullptr;
      TAVInputStream *sync = nullptr;
      if (!Fstream_maps.empty()) {
        const TAVStreamMap &m = Fstream_maps[n];
        source = Fist_table[Ffile_table[m.file_index].ist_index + m.stream_index].get();
        sync = Fist_table[Ffile_table[m.sync_file_index].ist_index + m.sync_stream_index].get();
        const AVMediaType itype = source->st->codecpar->codec_type;
        if (itype != type) {
          av_dump_format(os, k, os->url, 1);
          Raise(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", m.file_index,
                       m.stream_index, TypeName(itype).c_str(), k, i, TypeName(type).c_str()));
        }
      } else {
        bool bestRanked = false;
        for (const auto &ist : Fist_table) {
          if (ist->discard == 0 || ist->st->discard == AVDISCARD_ALL ||
              ist->st->codecpar->codec_type != type)
            continue;
          if (Fopt_programid != 0 &&
              !InProgram(Finput_files[ist->file_index].get(), ist->index, Fopt_programid))
            continue;
          if (FJoinMode && ist->file_index != k)
            continue;
          const bool ranked = libraryBest(ist.get());
          if (source == nullptr || (ranked && !bestRanked)) {
            source = ist.get();
            bestRanked = ranked;
          }
        }
        if (source == nullptr && Fopt_programid == 0 && !FJoinMode)
          for (const auto &ist : Fist_table)
            if (ist->st->codecpar->codec_type == type && ist->st->discard != AVDISCARD_ALL)
              source = ist.get();
        if (source == nullptr) {
          av_dump_format(os, k, os->url, 1);
          Raise(Format("Could not find input stream matching output stream #%d.%d (%s)", k, i,
                       TypeName(type).c_str()));
        }
        sync = source;
      }
      source->discard = 0;
      ost->source_index = Ffile_table[source->file_index].ist_index + source->index;
      ost->sync_ist = sync;
      ost->show_fps = 1;
      Fost_table.push_back(std::move(ost));
    }
  }

  // 4. Codec setup. In join mode the entries share one output's streams: only the first entry
  // sets them up; the others read from their own inputs into them.
  for (auto &ostOwner : Fost_table) {
    TAVOutputStream *ost = ostOwner.get();
    TAVInputStream *ist = Fist_table[ost->source_index].get();
    if (FJoinMode && ost->file_index > 0) {
      ost->encoding_needed = !ost->setup->stream_copy;
      if (ost->encoding_needed)
        SetupEncoding(ost, ist);
      continue;
    }
    av_dict_copy(&ost->st->metadata, ist->st->metadata, AV_DICT_DONT_OVERWRITE);
    ost->st->disposition = ist->st->disposition;
    if (ost->setup->stream_copy) {
      SetupStreamCopy(ost, ist);
    } else {
      AVCodecContext *enc = ost->enc();
      enc->bits_per_raw_sample = ist->st->codecpar->bits_per_raw_sample;
      enc->chroma_sample_location = ist->st->codecpar->chroma_location;
      SetupEncoding(ost, ist);
    }
  }

  // 5. Encoders (the first entry's in join mode).
  for (auto &ost : Fost_table)
    if (ost->encoding_needed && !(FJoinMode && ost->file_index > 0))
      OpenEncoder(ost.get(), false);

  // 6. Decoders.
  for (auto &ist : Fist_table)
    if (ist->decoding_needed)
      OpenDecoder(ist.get());

  // 7. Input timestamps.
  for (auto &ist : Fist_table) {
    const AVRational rate = ist->st->avg_frame_rate;
    const int delay = ist->dec ? ist->dec->has_b_frames : 0;
    ist->pts = rate.num != 0 && rate.den != 0
                   ? -llrint(delay * static_cast<double>(AV_TIME_BASE) / av_q2d(rate))
                   : 0;
    ist->next_pts = AV_NOPTS_VALUE;
    ist->is_start = 1;
  }

  // 8. Metadata maps.
  for (const TAVMetaDataMap &m : Fmeta_data_maps) {
    if (m.out_file < 0 || m.out_file >= Fnb_output_files) {
      const std::string msg = Format("Invalid output file index %d map_meta_data(%d,%d)",
                                     m.out_file, m.out_file, m.in_file);
      Log(llError, msg);
      Raise(msg);
    }
    if (m.in_file < 0 || m.in_file >= Fnb_input_files) {
      const std::string msg = Format("Invalid input file index %d map_meta_data(%d,%d)", m.in_file,
                                     m.out_file, m.in_file);
      Log(llError, msg);
      Raise(msg);
    }
    av_dict_copy(&OutputFile(m.out_file)->metadata, Finput_files[m.in_file]->metadata,
                 AV_DICT_DONT_OVERWRITE);
  }

  // 9. Chapters.
  CopyChapters();

  // 10. Headers.
  const int distinct = static_cast<int>(Foutput_files.size());
  Foutput_started.assign(static_cast<size_t>(distinct), false);
  Foutput_finished.assign(static_cast<size_t>(distinct), false);
  Foutput_written.assign(static_cast<size_t>(distinct), false);
  for (auto &ost : Fost_table)
    if (!(FJoinMode && ost->file_index > 0))
      InitBitstreamFilters(ost.get());
  for (int i = 0; i < distinct; ++i) {
    AVFormatContext *oc = Foutput_files[i].get();
    TDictionary options = MuxerPrivateOptions(oc->oformat);
    if (Floop_output >= 0 && oc->oformat->priv_class != nullptr &&
        av_opt_find(const_cast<const AVClass **>(&oc->oformat->priv_class), "loop", nullptr, 0,
                    AV_OPT_SEARCH_FAKE_OBJ) != nullptr)
      av_dict_set_int(options.Ref(), "loop", Floop_output, 0);
    FOutputWriting = true;
    const int ret = avformat_write_header(oc, options.Ref());
    if (ret < 0) {
      av_dump_format(oc, i, oc->url, 1);
      const std::string msg =
          Format("Could not write header for output file #%d (incorrect codec parameters ?)", i);
      Log(llError, msg);
      Raise(msg);
    }
    Foutput_started[i] = true;
  }
  bool allRtp = distinct > 0;
  for (const OutputFormatContextPtr &oc : Foutput_files)
    allRtp = allRtp && std::strcmp(oc->oformat->name, "rtp") == 0;
  if (allRtp) {
    std::vector<AVFormatContext *> list;
    for (const OutputFormatContextPtr &oc : Foutput_files)
      list.push_back(oc.get());
    char sdp[2048];
    if (av_sdp_create(list.data(), static_cast<int>(list.size()), sdp, sizeof(sdp)) >= 0) {
      std::string text = sdp;
      while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
      Log(llInfo, "SDP:\r\n" + text);
    }
  }

  // 11. Mapping log.
  LogStreamMapping();
}

void TCustomFFmpeg::SetupStreamCopy(TAVOutputStream *AOst, TAVInputStream *AIst) {
  const AVCodecParameters *ipar = AIst->st->codecpar;
  if (static_cast<int64_t>(ipar->extradata_size) + AV_INPUT_BUFFER_PADDING_SIZE > INT_MAX)
    Raise("icodec.extradata_size is invalid (too large)");
  const AVMediaType type = ipar->codec_type;
  switch (type) {
  case AVMEDIA_TYPE_VIDEO:
    if (OnCustomHook)
      Raise("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
    if (FFirstHook != nullptr)
      Raise("-vcodec copy and -vhook are incompatible (frames are not decoded)");
    if (PostHooks() != 0)
      Raise("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
    break;
  case AVMEDIA_TYPE_AUDIO:
    if (Faudio_volume != 256)
      Raise("-acodec copy and -vol are incompatible (frames are not decoded)");
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    break;
  default:
    Raise("invalid codec_type of output stream");
  }

  AVCodecContext *settings = AOst->enc();
  AVCodecParameters *par = AOst->st->codecpar;
  const uint32_t tag = settings->codec_tag;
  const AVRational sar = settings->sample_aspect_ratio;
  if (avcodec_parameters_copy(par, ipar) < 0)
    Raise("av_mallocz fail");
  if (tag != 0) {
    par->codec_tag = tag;
  } else {
    const AVCodecTag *const *table = OutputFile(AOst->file_index)->oformat->codec_tag;
    unsigned codecTag = 0;
    const bool keep = table == nullptr ||
                      av_codec_get_id(table, ipar->codec_tag) == ipar->codec_id ||
                      av_codec_get_tag2(table, ipar->codec_id, &codecTag) == 0;
    par->codec_tag = keep ? ipar->codec_tag : 0;
  }
  AOst->st->time_base = AIst->st->time_base;
  AOst->st->avg_frame_rate = AIst->st->avg_frame_rate;
  AOst->st->r_frame_rate = AIst->st->r_frame_rate;
  if (type == AVMEDIA_TYPE_VIDEO) {
    if (sar.num != 0) {
      par->sample_aspect_ratio = sar;
      AOst->st->sample_aspect_ratio = sar;
    } else {
      // The muxer refuses a stream whose two aspect records disagree.
      AOst->st->sample_aspect_ratio = par->sample_aspect_ratio;
    }
  } else if (type == AVMEDIA_TYPE_AUDIO) {
    if ((par->codec_id == AV_CODEC_ID_MP3 && par->block_align == 1) ||
        par->codec_id == AV_CODEC_ID_AC3)
      par->block_align = 0;
  }
  AOst->encoding_needed = false;
}

void TCustomFFmpeg::SetupEncoding(TAVOutputStream *AOst, TAVInputStream *AIst) {
  AVCodecContext *enc = AOst->enc();
  const AVCodecParameters *ipar = AIst->st->codecpar;
  switch (enc->codec_type) {
  case AVMEDIA_TYPE_VIDEO: {
    if (enc->pix_fmt == AV_PIX_FMT_NONE)
      Raise("Video pixel format is unknown, stream cannot be encoded");
    const auto inputFormat = static_cast<AVPixelFormat>(ipar->format);
    AOst->video_crop = Fframe_topBand + Fframe_bottomBand + Fframe_leftBand + Fframe_rightBand != 0;
    const int croppedWidth = ipar->width - Fframe_leftBand - Fframe_rightBand;
    const int croppedHeight = ipar->height - Fframe_topBand - Fframe_bottomBand;
    AOst->video_resample =
        croppedWidth != enc->width || croppedHeight != enc->height || inputFormat != enc->pix_fmt;
    if (AOst->video_crop) {
      AOst->topBand = AOst->original_topBand = Fframe_topBand;
      AOst->bottomBand = AOst->original_bottomBand = Fframe_bottomBand;
      AOst->leftBand = AOst->original_leftBand = Fframe_leftBand;
      AOst->rightBand = AOst->original_rightBand = Fframe_rightBand;
    }
    // An input whose pictures could not be probed has no format yet: the scaler is then made
    // for the first decoded picture.
    const bool known = av_pix_fmt_desc_get(inputFormat) != nullptr && croppedWidth > 0 &&
                       croppedHeight > 0 && enc->width > 0 && enc->height > 0;
    if (AOst->video_resample && known) {
      AOst->pict_tmp.reset(av_frame_alloc());
      if (!AOst->pict_tmp)
        Raise("Cannot allocate temp picture, check pix fmt");
      AOst->pict_tmp->format = enc->pix_fmt;
      AOst->pict_tmp->width = enc->width;
      AOst->pict_tmp->height = enc->height;
      if (av_frame_get_buffer(AOst->pict_tmp.get(), 0) < 0)
        Raise("Cannot allocate temp picture, check pix fmt");
      Fsws_flags = FOptions ? FOptions->SwsFlags() : Fsws_flags;
      AOst->img_resample_ctx.reset(
          sws_getContext(croppedWidth, croppedHeight, inputFormat, enc->width, enc->height,
                         enc->pix_fmt, static_cast<int>(Fsws_flags), nullptr, nullptr, nullptr));
      if (!AOst->img_resample_ctx)
        Raise("Cannot get resampling context");
      enc->bits_per_raw_sample = 0;
    }
    // Crop bands follow a later change of the picture size in proportion to this one.
    if (known) {
      AOst->original_height = ipar->height;
      AOst->original_width = ipar->width;
    }
    AOst->resample_height = croppedHeight;
    AOst->resample_width = croppedWidth;
    AOst->resample_pix_fmt = inputFormat;
    AOst->encoding_needed = true;
    AIst->decoding_needed = true;
    FLastErrMsg.clear();
    if (FEnableFilter && ConfigureFilters(AIst, AOst) != 0)
      Raise(FLastErrMsg.empty() ? std::string("Error opening filters!")
                                : "Error opening filters: " + FLastErrMsg);
    break;
  }
  case AVMEDIA_TYPE_AUDIO:
    AOst->audio_resample = enc->sample_rate != ipar->sample_rate || Faudio_sync_method > 1;
    AOst->encoding_needed = true;
    AIst->decoding_needed = true;
    break;
  case AVMEDIA_TYPE_SUBTITLE:
    AOst->encoding_needed = true;
    AIst->decoding_needed = true;
    break;
  default:
    Raise("invalid codec_type of output stream");
  }

  if (enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) {
    const int number =
        static_cast<int>(Fost_table.size()) > 0
            ? static_cast<int>(std::find_if(Fost_table.begin(), Fost_table.end(),
                                            [AOst](const auto &o) { return o.get() == AOst; }) -
                               Fost_table.begin())
            : 0;
    std::string name =
        (Fpass_logfilename_prefix.empty() ? std::string("ffmpeg2pass") : Fpass_logfilename_prefix) +
        "-" + std::to_string(number) + ".log";
    if (name.size() > 1023)
      name.resize(1023);
    if (enc->flags & AV_CODEC_FLAG_PASS1) {
      if (AOst->logfile == nullptr && (AOst->logfile = std::fopen(name.c_str(), "wb")) == nullptr)
        Raise(Format("Cannot write log file %s for pass-1 encoding", name.c_str()));
    } else if (enc->stats_in == nullptr) {
      const int ret = ReadStatsFile(name, &enc->stats_in);
      if (ret == AVERROR(ENOMEM))
        Raise(Format("Could not allocate file buffer: Error reading log file \"%s\" for pass-2 "
                     "encoding",
                     name.c_str()));
      if (ret < 0)
        Raise(Format("Cannot read file: Error reading log file \"%s\" for pass-2 encoding",
                     name.c_str()));
    }
  }
}

int TCustomFFmpeg::ConfigureFilters(TAVInputStream *AIst, TAVOutputStream *AOst) {
  const AVCodecParameters *ipar = AIst->st->codecpar;
  return ConfigureFilters(AIst, AOst, ipar->width, ipar->height, ipar->format);
}

int TCustomFFmpeg::ConfigureFilters(TAVInputStream *AIst, TAVOutputStream *AOst, int AWidth,
                                    int AHeight, int AFormat) {
  AVCodecContext *enc = AOst->enc();
  const AVCodecParameters *ipar = AIst->st->codecpar;
  FilterGraphPtr graph(avfilter_graph_alloc());
  if (!graph)
    return -1;
  // The filters use as many threads as the codecs.
  graph->nb_threads = std::max(1, Fthread_count);
  const AVRational sar =
      ipar->sample_aspect_ratio.num != 0 ? ipar->sample_aspect_ratio : AVRational{0, 1};
  const std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d",
                                  AWidth, AHeight, AFormat, AV_TIME_BASE, sar.num, sar.den);
  AVFilterContext *source = nullptr;
  AVFilterContext *sink = nullptr;
  if (avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "src", args.c_str(),
                                   nullptr, graph.get()) < 0)
    return -1;
  if (avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "ffmpeg_output",
                                   nullptr, nullptr, graph.get()) < 0)
    return -1;
  const AVPixelFormat formats[] = {enc->pix_fmt, AV_PIX_FMT_NONE};
  if (enc->pix_fmt == AV_PIX_FMT_NONE ||
      av_opt_set_int_list(sink, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN) < 0)
    return -1;
  const unsigned swsFlags = Fsws_flags;
  AVFilterContext *last = source;
  const int croppedWidth = AWidth - AOst->leftBand - AOst->rightBand;
  const int croppedHeight = AHeight - AOst->topBand - AOst->bottomBand;
  if (AOst->video_crop) {
    // Crops to the cropped input size; the scaler below makes the encoder's size.
    AVFilterContext *crop = nullptr;
    const std::string cropArgs =
        Format("w=%d:h=%d:x=%d:y=%d", croppedWidth, croppedHeight, AOst->leftBand, AOst->topBand);
    if (avfilter_graph_create_filter(&crop, avfilter_get_by_name("crop"), "crop", cropArgs.c_str(),
                                     nullptr, graph.get()) < 0 ||
        avfilter_link(last, 0, crop, 0) < 0)
      return -1;
    last = crop;
  }
  if (enc->width != croppedWidth || enc->height != croppedHeight) {
    AVFilterContext *scale = nullptr;
    const std::string scaleArgs = Format("%d:%d:flags=%u", enc->width, enc->height, swsFlags);
    if (avfilter_graph_create_filter(&scale, avfilter_get_by_name("scale"), "scale",
                                     scaleArgs.c_str(), nullptr, graph.get()) < 0 ||
        avfilter_link(last, 0, scale, 0) < 0)
      return -1;
    last = scale;
  }
  av_freep(&graph->scale_sws_opts);
  graph->scale_sws_opts = av_strdup(Format("flags=0x%X", swsFlags).c_str());

  if (!Fvfilters.empty()) {
    AVFilterInOut *outputs = avfilter_inout_alloc();
    AVFilterInOut *inputs = avfilter_inout_alloc();
    if (outputs == nullptr || inputs == nullptr) {
      avfilter_inout_free(&outputs);
      avfilter_inout_free(&inputs);
      return -1;
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = last;
    outputs->pad_idx = 0;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    inputs->pad_idx = 0;
    const int ret =
        avfilter_graph_parse_ptr(graph.get(), Fvfilters.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    if (ret < 0) {
      FLastErrMsg = FormatLibraryError(Fvfilters, ret);
      return -1;
    }
  } else if (avfilter_link(last, 0, sink, 0) < 0) {
    return -1;
  }
  if (const int ret = avfilter_graph_config(graph.get(), nullptr); ret < 0) {
    FLastErrMsg = FormatLibraryError(Fvfilters.empty() ? "filter graph" : Fvfilters, ret);
    return -1;
  }
  if (!avcodec_is_open(enc)) {
    enc->width = av_buffersink_get_w(sink);
    enc->height = av_buffersink_get_h(sink);
  }
  AIst->filter_graph = std::move(graph);
  AIst->filter_ost = AOst;
  AIst->filter_width = AWidth;
  AIst->filter_height = AHeight;
  AIst->filter_format = AFormat;
  AIst->input_video_filter = source;
  AIst->out_video_filter = sink;
  if (!AIst->filter_frame)
    AIst->filter_frame.reset(av_frame_alloc());
  return AIst->filter_frame ? 0 : -1;
}

void TCustomFFmpeg::OpenEncoder(TAVOutputStream *AOst, bool AReopen) {
  AVCodecContext *enc = AOst->enc();
  const AVMediaType type = enc->codec_type;
  const AVCodecID id = AReopen ? AOst->codec_id : enc->codec_id;
  const AVCodec *codec = AOst->setup->encoder ? AOst->setup->encoder : avcodec_find_encoder(id);
  if (AOst->setup->use_amrnb) {
    OpenAMRNBEncoder(AOst, AReopen);
    return;
  }
  if (codec == nullptr) {
    const std::string msg =
        AReopen
            ? Format("Unsupported codec for output stream #%d.%d (%s)", AOst->file_index,
                     AOst->index, TypeName(type).c_str())
            : Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                     static_cast<int>(id), AOst->file_index, AOst->index, TypeName(type).c_str());
    Log(llError, msg);
    Raise(msg);
  }
  TAVInputStream *ist = Fist_table[AOst->source_index].get();
  if (type == AVMEDIA_TYPE_SUBTITLE && enc->subtitle_header == nullptr) {
    // Text subtitle encoders start from the decoder's style header, made when it opens.
    OpenDecoder(ist);
    if (ist->dec && ist->dec->subtitle_header_size > 0) {
      enc->subtitle_header = static_cast<uint8_t *>(av_mallocz(ist->dec->subtitle_header_size + 1));
      if (enc->subtitle_header == nullptr)
        throw std::bad_alloc();
      std::memcpy(enc->subtitle_header, ist->dec->subtitle_header, ist->dec->subtitle_header_size);
      enc->subtitle_header_size = ist->dec->subtitle_header_size;
    }
  }
  TDictionary options = FOptions ? FOptions->CodecPrivateOptions(type) : TDictionary();
  int ret;
  {
    TLibraryLockGuard lock;
    if (FJoinMode)
      AOst->codec_id = id;
    enc->codec_id = id;
    ret = avcodec_open2(enc, codec, options.Ref());
  }
  if (ret < 0) {
    const std::string msg =
        AReopen ? Format("Error while opening codec for output stream #%d.%d (%s) - maybe "
                         "incorrect parameters such as bit_rate, rate, width or height",
                         AOst->file_index, AOst->index, TypeName(type).c_str())
                : Format("Error while opening encoder for output stream #%d.%d (%s) - maybe "
                         "incorrect parameters such as bit_rate, rate, width or height. Please "
                         "check error log message to find out more detail information.",
                         AOst->file_index, AOst->index, TypeName(type).c_str());
    Log(llError, msg);
    Raise(msg);
  }
  AddCodecItem(&FEncoderList, AOst);
  if (!AReopen && !AOst->setup->substituted_name.empty())
    GetLogger()->LogFmt(this, llInfo,
                        "Encoder %s is not in this build: native %s encodes in its place",
                        AOst->setup->substituted_name.c_str(), codec->name);
  for (const AVDictionaryEntry *e = nullptr;
       (e = av_dict_get(options.get(), "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr;)
    GetLogger()->LogFmt(this, llVerbose, "Codec option %s is not used by %s", e->key, codec->name);
  if (AReopen)
    return;
  Fextra_size += enc->extradata_size;
  if (avcodec_parameters_from_context(AOst->st->codecpar, enc) < 0)
    throw std::bad_alloc();
  // What the encoder tells the muxer beyond the parameters, such as its buffer size.
  for (int i = 0; i < enc->nb_coded_side_data; ++i) {
    const AVPacketSideData &sd = enc->coded_side_data[i];
    uint8_t *data = av_stream_new_side_data(AOst->st, sd.type, sd.size);
    if (data == nullptr)
      throw std::bad_alloc();
    std::memcpy(data, sd.data, sd.size);
  }
  AOst->st->time_base = enc->time_base;
  if (type == AVMEDIA_TYPE_VIDEO) {
    AOst->st->avg_frame_rate = enc->framerate;
    AOst->st->sample_aspect_ratio = enc->sample_aspect_ratio;
  }
}

void TCustomFFmpeg::OpenAMRNBEncoder(TAVOutputStream *AOst, bool AReopen) {
  AVCodecContext *enc = AOst->enc();
  auto encoder = std::make_unique<TAMRNBEncoder>();
  int ret;
  {
    TLibraryLockGuard lock;
    if (FJoinMode)
      AOst->codec_id = AV_CODEC_ID_AMR_NB;
    enc->codec_id = AV_CODEC_ID_AMR_NB;
    ret = encoder->Open(enc);
  }
  if (ret < 0) {
    const std::string msg =
        AReopen ? Format("Error while opening codec for output stream #%d.%d (%s) - maybe "
                         "incorrect parameters such as bit_rate, rate, width or height",
                         AOst->file_index, AOst->index, TypeName(AVMEDIA_TYPE_AUDIO).c_str())
                : Format("Error while opening encoder for output stream #%d.%d (%s) - maybe "
                         "incorrect parameters such as bit_rate, rate, width or height. Please "
                         "check error log message to find out more detail information.",
                         AOst->file_index, AOst->index, TypeName(AVMEDIA_TYPE_AUDIO).c_str());
    Log(llError, msg);
    Raise(msg);
  }
  enc->frame_size = TAMRNBEncoder::FrameSize;
  enc->bit_rate = TAMRNBEncoder::BitRateOf(encoder->Mode());
  AOst->setup->amrnb = std::move(encoder);
  AddCodecItem(&FEncoderList, AOst);
  if (AReopen)
    return;
  GetLogger()->LogFmt(this, llInfo,
                      "Encoder %s is not in this build: the opencore-amr library encodes in its "
                      "place (%d bit/s)",
                      AOst->setup->substituted_name.c_str(), static_cast<int>(enc->bit_rate));
  if (avcodec_parameters_from_context(AOst->st->codecpar, enc) < 0)
    throw std::bad_alloc();
  AOst->st->time_base = enc->time_base;
}

void TCustomFFmpeg::OpenDecoder(TAVInputStream *AIst) {
  if (!AIst->dec || avcodec_is_open(AIst->dec.get()))
    return;
  AVCodecContext *dec = AIst->dec.get();
  const int index = Ffile_table[AIst->file_index].ist_index + AIst->index;
  const AVCodec *named =
      index < static_cast<int>(Finput_codecs.size()) ? Finput_codecs[index] : nullptr;
  const AVCodec *codec = named ? named : avcodec_find_decoder(dec->codec_id);
  const AVMediaType type = AIst->st->codecpar->codec_type;
  if (codec == nullptr) {
    const std::string msg = Format("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                                   static_cast<int>(dec->codec_id), AIst->file_index, AIst->index,
                                   TypeName(type).c_str());
    Log(llError, msg);
    Raise(msg);
  }
  int ret;
  {
    TLibraryLockGuard lock;
    ret = avcodec_open2(dec, codec, nullptr);
  }
  if (ret < 0) {
    const std::string msg = Format("Error while opening decoder for input stream #%d.%d (%s)",
                                   AIst->file_index, AIst->index, TypeName(type).c_str());
    Log(llError, msg);
    Raise(msg);
  }
  AddCodecItem(&FDecoderList, AIst);
  if (!AIst->decoded_frame)
    AIst->decoded_frame.reset(av_frame_alloc());
  if (!AIst->decoded_frame)
    throw std::bad_alloc();
}

void TCustomFFmpeg::InitBitstreamFilters(TAVOutputStream *AOst) {
  TOutputStreamSetup *setup = AOst->setup;
  if (setup->bitstream_filters_ready || setup->bitstream_filters.empty())
    return;
  const AVCodecParameters *in = AOst->st->codecpar;
  AVRational tb = AOst->st->time_base;
  for (BSFContextPtr &bsf : setup->bitstream_filters) {
    int ret = avcodec_parameters_copy(bsf->par_in, in);
    bsf->time_base_in = tb;
    if (ret >= 0)
      ret = av_bsf_init(bsf.get());
    if (ret < 0)
      Raise(FormatLibraryError(
          Format("%s failed for stream %d", bsf->filter->name, AOst->st->index), ret));
    in = bsf->par_out;
    tb = bsf->time_base_out;
  }
  if (avcodec_parameters_copy(AOst->st->codecpar, in) < 0)
    throw std::bad_alloc();
  AOst->st->time_base = tb;
  setup->bitstream_filters_ready = true;
}

void TCustomFFmpeg::CopyChapters() {
  for (int f = 0; f < Fnb_input_files; ++f) {
    const AVFormatContext *ic = Finput_files[f].get();
    for (int k = 0; k < static_cast<int>(Foutput_files.size()); ++k) {
      AVFormatContext *oc = Foutput_files[k].get();
      for (unsigned c = 0; c < ic->nb_chapters; ++c) {
        const AVChapter *in = ic->chapters[c];
        const int64_t offset =
            av_rescale_q(Fstart_time - Finput_files_ts_offset[f], AV_TIME_BASE_Q, in->time_base);
        const int64_t limit = Frecording_time == INT64_MAX
                                  ? INT64_MAX
                                  : av_rescale_q(Frecording_time, AV_TIME_BASE_Q, in->time_base);
        if (in->end < offset)
          continue;
        if (limit != INT64_MAX && in->start > limit + offset)
          break;
        auto *out = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
        if (out == nullptr)
          Raise("av_mallocz fail");
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<int64_t>(0, in->start - offset);
        out->end = std::min(limit, in->end - offset);
        if (av_dict_copy(&out->metadata, in->metadata, 0) < 0) {
          av_free(out);
          Raise("av_mallocz fail");
        }
        auto **grown = static_cast<AVChapter **>(
            av_realloc_array(oc->chapters, oc->nb_chapters + 1, sizeof(AVChapter *)));
        if (grown == nullptr) {
          av_dict_free(&out->metadata);
          av_free(out);
          Raise("av_realloc fail");
        }
        oc->chapters = grown;
        oc->chapters[oc->nb_chapters++] = out;
      }
    }
  }
}

void TCustomFFmpeg::LogStreamMapping() {
  for (int i = 0; i < static_cast<int>(Foutput_files.size()); ++i)
    av_dump_format(Foutput_files[i].get(), i, Foutput_files[i]->url, 1);
  if (Fverbose < 0)
    return;
  Log(llVerbose, "Stream mapping:");
  for (const auto &ost : Fost_table) {
    const TAVInputStream *ist = Fist_table[ost->source_index].get();
    std::string line = Format(
        "  Stream #%d.%d -> #%d.%d (%s)", ist->file_index, ist->index,
        FJoinMode ? 0 : ost->file_index, ost->index,
        TypeName(ost->enc() ? ost->enc()->codec_type : ost->st->codecpar->codec_type).c_str());
    if (ost->sync_ist != ist)
      line += Format(" [sync #%d.%d (%s)]", ost->sync_ist->file_index, ost->sync_ist->index,
                     TypeName(ost->sync_ist->st->codecpar->codec_type).c_str());
    Log(llVerbose, line);
  }
}

void TCustomFFmpeg::ReopenEncoders() {
  for (auto &ostOwner : Fost_table) {
    TAVOutputStream *ost = ostOwner.get();
    if (ost->file_index != 0 || !ost->encoding_needed || !ost->setup->codec)
      continue;
    // A drained encoder takes no more input: a fresh context with the same settings replaces
    // it.
    AVCodecContext *old = ost->enc();
    CodecContextPtr fresh(avcodec_alloc_context3(old->codec));
    if (!fresh)
      throw std::bad_alloc();
    if (av_opt_copy(fresh.get(), old) < 0)
      throw std::bad_alloc();
    fresh->codec_type = old->codec_type;
    fresh->codec_id = old->codec_id;
    fresh->codec_tag = old->codec_tag;
    fresh->time_base = old->time_base;
    fresh->framerate = old->framerate;
    fresh->width = old->width;
    fresh->height = old->height;
    fresh->sample_aspect_ratio = old->sample_aspect_ratio;
    fresh->pix_fmt = old->pix_fmt;
    fresh->sample_fmt = old->sample_fmt;
    fresh->sample_rate = old->sample_rate;
    if (av_channel_layout_copy(&fresh->ch_layout, &old->ch_layout) < 0)
      throw std::bad_alloc();
    fresh->global_quality = old->global_quality;
    fresh->flags = old->flags;
    fresh->flags2 = old->flags2;
    fresh->thread_count = old->thread_count;
    for (auto [from, to] : {std::pair{old->intra_matrix, &fresh->intra_matrix},
                            std::pair{old->inter_matrix, &fresh->inter_matrix}}) {
      if (from == nullptr)
        continue;
      *to = static_cast<uint16_t *>(av_memdup(from, 64 * sizeof(uint16_t)));
      if (*to == nullptr)
        throw std::bad_alloc();
    }
    if (old->subtitle_header != nullptr) {
      fresh->subtitle_header = static_cast<uint8_t *>(av_mallocz(old->subtitle_header_size + 1));
      if (fresh->subtitle_header == nullptr)
        throw std::bad_alloc();
      std::memcpy(fresh->subtitle_header, old->subtitle_header, old->subtitle_header_size);
      fresh->subtitle_header_size = old->subtitle_header_size;
    }
    {
      TLibraryLockGuard lock;
      RemoveCodecItem(&FEncoderList, ost);
      ost->setup->codec.reset();
      ost->setup->amrnb.reset();
    }
    ost->setup->codec = std::move(fresh);
    OpenEncoder(ost, true);
  }
}

void TCustomFFmpeg::CloseEncoders() {
  for (auto &ost : Fost_table) {
    if (!ost->encoding_needed || (FJoinMode && ost->file_index > 0) || !ost->setup->codec)
      continue;
    av_freep(&ost->setup->codec->stats_in);
    TLibraryLockGuard lock;
    RemoveCodecItem(&FEncoderList, ost.get());
    ost->setup->codec.reset();
    ost->setup->amrnb.reset();
  }
}

void TCustomFFmpeg::CloseDecoders() {
  for (auto &ist : Fist_table) {
    if (!ist->decoding_needed || !ist->dec)
      continue;
    TLibraryLockGuard lock;
    RemoveCodecItem(&FDecoderList, ist.get());
    ist->dec.reset();
  }
}

void TCustomFFmpeg::FreeRunTables() {
  // Whatever is still open after a failure is closed before its record goes.
  CloseEncoderList(&FEncoderList);
  CloseDecoderList(&FDecoderList);
  CloseVideoStats();
  for (auto &ost : Fost_table)
    if (ost->logfile != nullptr) {
      std::fclose(ost->logfile);
      ost->logfile = nullptr;
    }
  Fost_table.clear();
  Fist_table.clear();
  Ffile_table.clear();
  Fno_packet.clear();
  Fno_packet_count = 0;
  FPacket.reset();
  FOutPacket.reset();
}
