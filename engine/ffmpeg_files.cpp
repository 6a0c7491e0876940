#include "ffmpeg_transcoder.h"

#include "ffmpeg_loader.h"

// Opening inputs and creating outputs. Until outputs can be created, no output exists for the
// "newvideo", "newaudio" and "newsubtitle" options to add a stream to.

void TCustomFFmpeg::new_video_stream(AVFormatContext *) {
  throw FFmpegException("Cannot add a video stream: outputs are not supported yet");
}

void TCustomFFmpeg::new_audio_stream(AVFormatContext *) {
  throw FFmpegException("Cannot add an audio stream: outputs are not supported yet");
}

void TCustomFFmpeg::new_subtitle_stream(AVFormatContext *) {
  throw FFmpegException("Cannot add a subtitle stream: outputs are not supported yet");
}

void TCustomFFmpeg::CloseFiles() {
  if (!FFLoader().Loaded(TaskListLibraries))
    return;
  FOptions.reset();
  Foutput_files.clear();
  Fnb_output_files = 0;
  Finput_files.clear();
  Fnb_input_files = 0;
  Fintra_matrix.reset();
  Finter_matrix.reset();
  Fvstats_filename.clear();
  Fvideo_codec_name.clear();
  Faudio_codec_name.clear();
  Fsubtitle_codec_name.clear();
  Fvideo_standard.clear();
  Fvideo_rc_override_string.clear();
  Fvideo_language.clear();
  Faudio_language.clear();
  Fsubtitle_language.clear();
  Fsubtitle_codec_tag = 0;
  ReleaseFrameHooks(&FFirstHook);
}

void TCustomFFmpeg::ResetRunState() {}
