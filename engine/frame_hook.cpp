#include "frame_hook.h"

#include "option_text.h"

#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

struct TModuleCache {
  std::mutex Lock; // protects Modules
  std::vector<std::pair<std::string, void *>> Modules;
};

// Process-wide and never freed: the modules stay loaded for the rest of the process.
TModuleCache &ModuleCache() {
  static TModuleCache *cache = new TModuleCache;
  return *cache;
}

void *LoadModule(const char *AFileName) {
  TModuleCache &cache = ModuleCache();
  std::lock_guard<std::mutex> lock(cache.Lock);
  for (const auto &m : cache.Modules)
    if (SameText(m.first, AFileName))
      return m.second;
  void *handle = dlopen(AFileName, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char *err = dlerror();
    av_log(nullptr, AV_LOG_ERROR, "%s\n", err != nullptr ? err : "cannot load module");
    return nullptr;
  }
  cache.Modules.emplace_back(AFileName, handle);
  return handle;
}

} // namespace

int AddFrameHook(TFrameHookEntry **AHead, int AArgc, char *AArgv[]) {
  if (AArgc <= 0 || AArgv == nullptr || AArgv[0] == nullptr)
    return -2;
  void *module = LoadModule(AArgv[0]);
  if (module == nullptr)
    return -1;
  auto *entry = new (std::nothrow) TFrameHookEntry;
  if (entry == nullptr)
    return -12;
  entry->Configure = reinterpret_cast<TFrameHookConfigureFn>(dlsym(module, "Configure"));
  entry->Process = reinterpret_cast<TFrameHookProcessFn>(dlsym(module, "Process"));
  entry->Release = reinterpret_cast<TFrameHookReleaseFn>(dlsym(module, "Release"));
  if (entry->Process == nullptr) {
    av_log(nullptr, AV_LOG_ERROR, "Failed to find Process entrypoint in %s\n", AArgv[0]);
    delete entry;
    return -2;
  }
  if (entry->Configure == nullptr && AArgc > 1) {
    av_log(nullptr, AV_LOG_ERROR, "Failed to find Configure entrypoint in %s\n", AArgv[0]);
    delete entry;
    return -2;
  }
  if (entry->Configure != nullptr && entry->Configure(&entry->ctx, AArgc, AArgv) != 0) {
    av_log(nullptr, AV_LOG_ERROR, "Failed to Configure %s\n", AArgv[0]);
    delete entry;
    return -22;
  }
  TFrameHookEntry **tail = AHead;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = entry;
  return 0;
}

void ProcessFrameHooks(TFrameHookEntry *AHead, TFrameHookPicture *APicture, int APixFmt, int AWidth,
                       int AHeight, int64_t APTS) {
  for (TFrameHookEntry *e = AHead; e != nullptr; e = e->next)
    e->Process(e->ctx, APicture, APixFmt, AWidth, AHeight, APTS);
}

void ReleaseFrameHooks(TFrameHookEntry **AHead) {
  TFrameHookEntry *e = *AHead;
  *AHead = nullptr;
  while (e != nullptr) {
    TFrameHookEntry *next = e->next;
    if (e->Release != nullptr)
      e->Release(e->ctx);
    delete e;
    e = next;
  }
}
