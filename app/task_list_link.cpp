#include "task_list_link.h"

#include "ff_error.h"
#include "ffmpeg_loader.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavutil/error.h>
}

bool TNoTaskList::AVLibLoaded() const {
  return FFLoader().Loaded(TaskListLibraries);
}

bool TNoTaskList::LoadAVLib(const QString &APath) {
  FFLoader().SetLibraryPath(APath.toStdString());
  if (FFLoader().Load(TaskListLibraries))
    return true;
  FLastErrMsg = QString::fromStdString(FFLoader().LastErrMsg());
  return false;
}

int TNoTaskList::AddTask(const QString &AFileName, TInputOptions &AOptions) {
  if (AOptions.FileName.empty())
    AOptions.FileName = AFileName.toStdString();
  QFile file(AFileName);
  if (!QFileInfo(AFileName).isFile() || !file.open(QIODevice::ReadOnly)) {
    FLastErrMsg = QString::fromStdString(FormatLibraryError(AOptions.FileName, AVERROR(ENOENT)));
    return -1;
  }
  FTasks.push_back({AOptions, TOutputOptions()});
  return TasksCount() - 1;
}

bool TNoTaskList::SetOutputFile(int ATaskIndex, const QString &AFileName,
                                TOutputOptions &AOptions) {
  if (ATaskIndex < 0 || ATaskIndex >= TasksCount()) {
    FLastErrMsg = QStringLiteral("List index out of bounds (%1)").arg(ATaskIndex);
    return false;
  }
  if (AOptions.FileName.empty())
    AOptions.FileName = AFileName.toStdString();
  FTasks[ATaskIndex].Output = AOptions;
  return true;
}

void TNoTaskList::RemoveTask(int ATaskIndex) {
  if (ATaskIndex >= 0 && ATaskIndex < TasksCount())
    FTasks.erase(FTasks.begin() + ATaskIndex);
}

void TNoTaskList::ClearTasks() {
  FTasks.clear();
  FLastErrMsg.clear();
}
