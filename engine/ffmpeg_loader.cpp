#include "ffmpeg_loader.h"

#include "ff_logger.h"
#include "sync_call.h"
#include "unicode_protocol.h"

#include <array>
#include <dlfcn.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/version.h>
#include <libavdevice/avdevice.h>
#include <libavdevice/version.h>
#include <libavfilter/version.h>
#include <libavformat/version.h>
#include <libavutil/version.h>
#include <libswscale/version.h>
}

namespace {

const std::array<TLibraryItem, LibraryCount> GLibraryTable = {{
    {avCodec, "avcodec", LIBAVCODEC_VERSION_MAJOR,
     "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR)},
    {avDevice, "avdevice", LIBAVDEVICE_VERSION_MAJOR,
     "libavdevice.so." AV_STRINGIFY(LIBAVDEVICE_VERSION_MAJOR)},
    {avFilter, "avfilter", LIBAVFILTER_VERSION_MAJOR,
     "libavfilter.so." AV_STRINGIFY(LIBAVFILTER_VERSION_MAJOR)},
    {avFormat, "avformat", LIBAVFORMAT_VERSION_MAJOR,
     "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR)},
    {avUtil, "avutil", LIBAVUTIL_VERSION_MAJOR,
     "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR)},
    {swScale, "swscale", LIBSWSCALE_VERSION_MAJOR,
     "libswscale.so." AV_STRINGIFY(LIBSWSCALE_VERSION_MAJOR)},
    {myUtil, "c", -1, "libc.so.6"},
    {lbSDL, "SDL2", -1, "libSDL2-2.0.so.0"},
}};

// The functions each library must offer; the first one, where there is a version, reports it.
struct TLibraryFunctions {
  const char *VersionFunction;
  std::vector<const char *> Names;
};

const TLibraryFunctions &FunctionsOf(TLibrary ALib) {
  static const std::array<TLibraryFunctions, LibraryCount> table = {{
      {"avcodec_version",
       {"avcodec_find_decoder", "avcodec_find_encoder_by_name", "avcodec_alloc_context3",
        "avcodec_open2", "avcodec_send_packet", "avcodec_receive_frame", "avcodec_send_frame",
        "avcodec_receive_packet", "av_bsf_alloc", "avcodec_string"}},
      {"avdevice_version", {"avdevice_register_all"}},
      {"avfilter_version",
       {"avfilter_graph_alloc", "avfilter_graph_parse_ptr", "avfilter_graph_config",
        "av_buffersrc_add_frame_flags", "av_buffersink_get_frame"}},
      {"avformat_version",
       {"avformat_open_input", "avformat_find_stream_info", "av_read_frame",
        "avformat_alloc_output_context2", "avformat_write_header", "av_interleaved_write_frame",
        "av_write_trailer", "avio_open2", "avio_alloc_context"}},
      {"avutil_version",
       {"av_log_set_callback", "av_log_set_level", "av_malloc", "av_free", "av_rescale_q",
        "av_dict_set", "av_opt_set", "av_audio_fifo_alloc"}},
      {"swscale_version", {"sws_getCachedContext", "sws_scale", "sws_freeContext"}},
      {nullptr, {"fopen", "fclose", "fread", "fwrite", "fseek", "ftell", "vsnprintf", "strtod"}},
      {nullptr,
       {"SDL_Init", "SDL_Quit", "SDL_GetError", "SDL_OpenAudioDevice", "SDL_CloseAudioDevice",
        "SDL_PauseAudioDevice", "SDL_MixAudioFormat", "SDL_GetNumAudioDrivers",
        "SDL_GetAudioDriver"}},
  }};
  return table[ALib];
}

std::mutex GStatusLock; // protects GStatus, GLastErrMsg, GLibraryPath
std::array<TLibraryStatus, LibraryCount> GStatus = {{
    {avCodec, {}, nullptr, false},
    {avDevice, {}, nullptr, false},
    {avFilter, {}, nullptr, false},
    {avFormat, {}, nullptr, false},
    {avUtil, {}, nullptr, false},
    {swScale, {}, nullptr, false},
    {myUtil, {}, nullptr, false},
    {lbSDL, {}, nullptr, false},
}};
std::string GLastErrMsg;
std::string GLibraryPath;

std::string DlError() {
  const char *e = dlerror();
  return e ? e : "unknown error";
}

void *BindFunction(const std::string &ALibName, void *AHandle, const char *AName, bool AOptional) {
  dlerror();
  void *address = dlsym(AHandle, AName);
  if (address == nullptr && !AOptional)
    throw std::runtime_error("Load function " + std::string(AName) + "@" + ALibName +
                             " error: " + DlError());
  return address;
}

// Binds the library's functions, checks its generation and runs its registration.
void Fixup(TLibrary ALib, const std::string &ALibName, void *AHandle) {
  const TLibraryFunctions &f = FunctionsOf(ALib);
  const TLibraryItem &item = GLibraryTable[ALib];
  if (f.VersionFunction != nullptr) {
    auto version =
        reinterpret_cast<unsigned (*)()>(BindFunction(ALibName, AHandle, f.VersionFunction, false));
    const int major = static_cast<int>(version() >> 16);
    if (item.Version >= 0 && major != item.Version)
      throw std::runtime_error("Load library " + ALibName + " error: version " +
                               std::to_string(major) + " found, " + std::to_string(item.Version) +
                               " expected");
  }
  for (const char *name : f.Names)
    BindFunction(ALibName, AHandle, name, false);
  if (ALib == avDevice)
    avdevice_register_all();
}

bool FileExists(const std::string &APath) {
  struct stat st;
  return stat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

const TLibraryItem &LibraryItem(TLibrary ALib) {
  return GLibraryTable[ALib];
}

std::string TFFmpegLoader::LibraryFileName(TLibrary ALibrary) const {
  std::lock_guard<std::mutex> lock(GStatusLock);
  const TLibraryStatus &st = GStatus[ALibrary];
  return st.Name.empty() ? std::string(GLibraryTable[ALibrary].FileName) : st.Name;
}

void TFFmpegLoader::SetLibraryFileName(TLibrary ALibrary, const std::string &AName) {
  std::lock_guard<std::mutex> lock(GStatusLock);
  GStatus[ALibrary].Name = AName;
}

std::string TFFmpegLoader::LastErrMsg() const {
  std::lock_guard<std::mutex> lock(GStatusLock);
  return GLastErrMsg;
}

std::string TFFmpegLoader::LibraryPath() const {
  std::lock_guard<std::mutex> lock(GStatusLock);
  return GLibraryPath;
}

void TFFmpegLoader::SetLibraryPath(const std::string &APath) {
  std::lock_guard<std::mutex> lock(GStatusLock);
  GLibraryPath = APath;
}

bool TFFmpegLoader::Load(TLibrary ALibrary) {
  const std::string fileName = LibraryFileName(ALibrary);
  bool fixuped;
  {
    std::lock_guard<std::mutex> lock(GStatusLock);
    TLibraryStatus &st = GStatus[ALibrary];
    if (st.Handle == nullptr) {
      std::string folder, base = fileName;
      const size_t slash = fileName.rfind('/');
      if (slash != std::string::npos) {
        folder = fileName.substr(0, slash + 1);
        base = fileName.substr(slash + 1);
      } else if (!GLibraryPath.empty()) {
        folder = GLibraryPath;
        if (folder.back() != '/')
          folder += '/';
      }
      // A copy in the library folder wins; otherwise the standard search (which already found
      // the libraries the program is linked with).
      const std::string path = !folder.empty() && FileExists(folder + base) ? folder + base : base;
      st.Handle = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
      if (st.Handle == nullptr) {
        GLastErrMsg = "Load library " + folder + base + " error: " + DlError();
        return false;
      }
    }
    if (!st.Fixuped) {
      try {
        Fixup(ALibrary, fileName, st.Handle);
        st.Fixuped = true;
      } catch (const std::exception &e) {
        GLastErrMsg = e.what();
      }
    }
    fixuped = st.Fixuped;
  }
  if (!fixuped) {
    Unload(ALibrary);
    return false;
  }
  if (ALibrary == avUtil && FInstallLogger)
    GetLogger()->InstallAVLogCallback();
  if (ALibrary == avFormat)
    RegisterUnicodeProtocol();
  return true;
}

bool TFFmpegLoader::Load(TLibraries ALibraries) {
  if (ALibraries.Empty())
    throw std::invalid_argument("Empty library set");
  for (int i = 0; i < LibraryCount; ++i) {
    const auto lib = static_cast<TLibrary>(i);
    if (ALibraries.Contains(lib) && !Load(lib)) {
      Unload(ALibraries);
      return false;
    }
  }
  return true;
}

bool TFFmpegLoader::Loaded(TLibrary ALibrary) const {
  std::lock_guard<std::mutex> lock(GStatusLock);
  return GStatus[ALibrary].Handle != nullptr && GStatus[ALibrary].Fixuped;
}

bool TFFmpegLoader::Loaded(TLibraries ALibraries) const {
  if (ALibraries.Empty())
    throw std::invalid_argument("Empty library set");
  for (int i = 0; i < LibraryCount; ++i)
    if (ALibraries.Contains(static_cast<TLibrary>(i)) && !Loaded(static_cast<TLibrary>(i)))
      return false;
  return true;
}

void TFFmpegLoader::Unload(TLibrary ALibrary) {
  std::lock_guard<std::mutex> lock(GStatusLock);
  TLibraryStatus &st = GStatus[ALibrary];
  st.Fixuped = false;
  if (st.Handle != nullptr) {
    // Libraries the program is linked with stay mapped; this only drops our reference.
    dlclose(st.Handle);
    st.Handle = nullptr;
  }
}

void TFFmpegLoader::Unload(TLibraries ALibraries) {
  if (ALibraries.Empty())
    throw std::invalid_argument("Empty library set");
  for (int i = 0; i < LibraryCount; ++i)
    if (ALibraries.Contains(static_cast<TLibrary>(i)))
      Unload(static_cast<TLibrary>(i));
}

TFFmpegLoader &FFLoader() {
  static TFFmpegLoader loader;
  return loader;
}

std::recursive_mutex &LibraryLock() {
  static std::recursive_mutex lock;
  return lock;
}

TLibraryLockGuard::TLibraryLockGuard() {
  std::recursive_mutex &lock = LibraryLock();
  if (!OnEventLoopThread()) {
    lock.lock();
    return;
  }
  while (!lock.try_lock()) {
    ProcessPendingMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TLibraryLockGuard::~TLibraryLockGuard() {
  LibraryLock().unlock();
}
