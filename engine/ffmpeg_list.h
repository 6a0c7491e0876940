// The tasks of the task list, in order. The list owns them: deleting an entry frees its task.
#pragma once

#include "ffmpeg_task.h"

#include <memory>
#include <vector>

class TFFmpegList {
public:
  TFFmpegList() = default;
  TFFmpegList(const TFFmpegList &) = delete;
  TFFmpegList &operator=(const TFFmpegList &) = delete;
  ~TFFmpegList() { Clear(); }

  // The new task's index.
  int Add(std::unique_ptr<TFFmpeg> ATask);
  // The index functions raise "List index out of bounds (%d)" (std::out_of_range).
  void Delete(int AIndex);
  void Clear();
  void Exchange(int AIndex1, int AIndex2);
  TFFmpeg *Items(int AIndex) const;
  // -1 when ATask is not in the list.
  int IndexOf(const TCustomFFmpeg *ATask) const;
  int Count() const { return static_cast<int>(FList.size()); }

  void PauseAll();
  void ResumeAll();
  // StopTask on each task in list order.
  void StopAll(bool AWaitFor);
  // Sets or clears one post hook of every task, keeping the others.
  void PreviewAll(bool AValue);
  void PreviewBitmapAll(bool AValue);

private:
  void CheckIndex(int AIndex) const;
  void SetPostHookAll(TCustomFFmpeg::TPostHook AHook, bool AValue);

  std::vector<std::unique_ptr<TFFmpeg>> FList;
};
