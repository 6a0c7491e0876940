// The records the task-list component hands to its event handlers.
#pragma once

#include <QImage>
#include <cstdint>
#include <string>

struct TProgressInfo {
  int TaskIndex = 0;           // the task's position in the list at the time of the report
  int FileIndex = 0;           // input read last; -1 in the last report of a task
  int FrameNumber = 0;         // frames of the first video output; -1 without video output
  int FPS = 0;                 // -1 without video output
  float Quality = 0;           // -1 for stream copy or without video output
  float BitRate = 0;           // kilobits per second
  int64_t CurrentSize = 0;     // bytes of the first output
  int64_t CurrentDuration = 0; // microseconds of output
  int64_t TotalDuration = 0;   // microseconds expected; -1 when unknown
};

struct TTerminateInfo {
  int TaskIndex = 0; // -1 in the final record of a run
  bool Finished = false;
  bool Exception = false;
  std::string ExceptionMsg;
};

struct TPreviewInfo {
  int TaskIndex = 0;
  const QImage *Bitmap = nullptr; // owned by the task
  int FrameNumber = 0;
  int64_t PTS = 0; // microseconds
};

struct THookInfo {
  int TaskIndex = 0;
  QImage *Bitmap = nullptr; // owned by the task; the handler may change it
  int FrameNumber = 0;
  int64_t PTS = 0;
  bool Update = false;   // write the bitmap back into the picture
  bool StopHook = false; // no more calls for this task
};
