#include "ffmpeg_list.h"

#include "ff_error.h"

#include <stdexcept>
#include <utility>

void TFFmpegList::CheckIndex(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count())
    throw std::out_of_range(Format("List index out of bounds (%d)", AIndex));
}

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> ATask) {
  FList.push_back(std::move(ATask));
  return Count() - 1;
}

void TFFmpegList::Delete(int AIndex) {
  CheckIndex(AIndex);
  // Out of the list first, so nothing finds it while it stops.
  std::unique_ptr<TFFmpeg> task = std::move(FList[static_cast<size_t>(AIndex)]);
  FList.erase(FList.begin() + AIndex);
}

void TFFmpegList::Clear() {
  std::vector<std::unique_ptr<TFFmpeg>> tasks = std::move(FList);
  FList.clear();
  tasks.clear();
}

void TFFmpegList::Exchange(int AIndex1, int AIndex2) {
  CheckIndex(AIndex1);
  CheckIndex(AIndex2);
  std::swap(FList[static_cast<size_t>(AIndex1)], FList[static_cast<size_t>(AIndex2)]);
}

TFFmpeg *TFFmpegList::Items(int AIndex) const {
  CheckIndex(AIndex);
  return FList[static_cast<size_t>(AIndex)].get();
}

int TFFmpegList::IndexOf(const TCustomFFmpeg *ATask) const {
  for (size_t i = 0; i < FList.size(); ++i)
    if (FList[i].get() == ATask)
      return static_cast<int>(i);
  return -1;
}

void TFFmpegList::PauseAll() {
  for (auto &task : FList)
    task->Pause();
}

void TFFmpegList::ResumeAll() {
  for (auto &task : FList)
    task->Resume();
}

void TFFmpegList::StopAll(bool AWaitFor) {
  for (auto &task : FList)
    task->StopTask(AWaitFor);
}

void TFFmpegList::SetPostHookAll(TCustomFFmpeg::TPostHook AHook, bool AValue) {
  for (auto &task : FList) {
    const TCustomFFmpeg::TPostHooks hooks = task->PostHooks();
    task->SetPostHooks(AValue ? hooks | AHook : hooks & ~static_cast<unsigned>(AHook));
  }
}

void TFFmpegList::PreviewAll(bool AValue) {
  SetPostHookAll(TCustomFFmpeg::phPreview, AValue);
}

void TFFmpegList::PreviewBitmapAll(bool AValue) {
  SetPostHookAll(TCustomFFmpeg::phBitmap, AValue);
}
