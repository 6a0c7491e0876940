// Conversion control: start, pause, resume and stop, the rows' progress, and what happens when
// all work has ended.
#include "main_window.h"

#include "job_text.h"
#include "option_assembly.h"
#include "options_dialog.h"
#include "system_actions.h"
#include "task_list_link.h"
#include "window_dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTreeWidget>

TForm1::TOutputCounts TForm1::RowOutputs() const {
  TOutputCounts counts;
  const std::string folder = FileOutPutPath.toStdString();
  for (int i = 0; i < JobCount(); ++i)
    ++counts[JoinOutputPath(folder, Job(i)->text(Col(jcOutputFile)).toStdString())];
  return counts;
}

void TForm1::AvoidOutputCollision(int ARow, TOutputCounts &AOutputs) {
  QTreeWidgetItem *item = Job(ARow);
  const std::string wanted =
      JoinOutputPath(FileOutPutPath.toStdString(), item->text(Col(jcOutputFile)).toStdString());
  const auto otherRowWrites = [&](const std::string &APath) {
    const auto found = AOutputs.find(APath);
    return found != AOutputs.end() && found->second > (APath == wanted ? 1 : 0);
  };
  // Overwriting applies to files already there, never to the input being read or to another
  // job's output of the same run.
  const std::string path = AvoidCollision(
      wanted, OverwriteOutput(), item->text(Col(jcInputFile)).toStdString(), otherRowWrites);
  if (path == wanted)
    return;
  --AOutputs[wanted];
  ++AOutputs[path];
  const QString name = QFileInfo(QString::fromStdString(path)).fileName();
  AppendLogBlock(QStringLiteral("***Output file name in use, renamed: %1 -> %2")
                     .arg(item->text(Col(jcOutputFile)), name));
  item->setText(Col(jcOutputFile), name);
}

bool TForm1::BuildRowTask(int ARow, QString &AError) {
  const TJobRow row = ReadJobRow(Job(ARow));
  TInputOptions input;
  InitInputOptions(input);
  input.FileName = row[jcInputFile];
  TOutputOptions output;
  InitOutputOptions(output);
  try {
    OutputRecordFromRow(output, row);
  } catch (const std::exception &e) {
    AError = QString::fromStdString(e.what());
    return false;
  }
  const int index = FTasks->AddTask(QString::fromStdString(row[jcInputFile]), input);
  if (index < 0) {
    AError = FTasks->LastErrMsg();
    return false;
  }
  const QString outputFile =
      QString::fromStdString(JoinOutputPath(FileOutPutPath.toStdString(), row[jcOutputFile]));
  // A task left without its output ends with the engine's own error when it starts.
  if (!FTasks->SetOutputFile(index, outputFile, output))
    AppendLogBlock(QStringLiteral("***Cannot do convert, error: ") + FTasks->LastErrMsg());
  return true;
}

bool TForm1::button28Click() {
  // Each row's task number is its position again, so progress and termination find the row
  // however the rows were moved.
  for (int i = 0; i < JobCount(); ++i)
    Job(i)->setText(Col(jcTaskNumber), QString::number(i + 1));
  FTaskClocks.clear();
  FRunConverted = 0;
  FRunUnfinished = 0;
  FTasks->ClearTasks();
  if (JobCount() == 0)
    return true;
  // The folder may have gone since it was chosen.
  if (!QDir().mkpath(FileOutPutPath)) {
    AppendLogBlock(QStringLiteral("***Cannot do convert, error: ") + FileOutPutPath +
                   QStringLiteral(": cannot create the output folder"));
    FDialogs->Message(this, QStringLiteral("无法创建输出目录，转换没有开始：\n") + FileOutPutPath);
    return false;
  }
  TOutputCounts outputs = RowOutputs();
  for (int i = 0; i < JobCount(); ++i) {
    // Each row opens its input again: a long list would freeze the window without this. It
    // takes no input meanwhile, so nothing changes the rows under the loop.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (FClosing)
      return false;
    AvoidOutputCollision(i, outputs);
    QString error;
    if (!BuildRowTask(i, error)) {
      AppendLogBlock(QStringLiteral("***File open error: ") + error);
      FDialogs->Message(this, QStringLiteral("无法打开文件，转换没有开始：\n") +
                                  Job(i)->text(Col(jcInputFile)));
      return false;
    }
  }
  return true;
}

void TForm1::btnStartClick() {
  FTasks->SetThreadPriority(FForm5 ? FForm5->ThreadPriority() : 3);
  if (!button28Click())
    return;
  FStoppedByUser = false;
  SetWindowState(TWindowState::wsConverting);
  FActions->InhibitSleep(true);
  FTasks->Start(FForm5 ? FForm5->ThreadCount() : 1);
}

void TForm1::btnPauseClick() {
  SetWindowState(TWindowState::wsPaused);
  FTasks->Pause();
}

void TForm1::btnResumeClick() {
  SetWindowState(TWindowState::wsConverting);
  FTasks->Resume();
}

void TForm1::btnStopClick() {
  FStoppedByUser = true;
  SetWindowState(TWindowState::wsStopping);
  // Returns when every task has ended; the final termination has then moved the window on.
  FTasks->Stop();
}

QTreeWidgetItem *TForm1::JobOfTask(int ATaskIndex) const {
  const QString number = QString::number(ATaskIndex + 1);
  for (int i = 0; i < JobCount(); ++i)
    if (Job(i)->text(Col(jcTaskNumber)) == number)
      return Job(i);
  return nullptr;
}

void TForm1::ShowTaskProgress(int ATaskIndex, int64_t ACurrentDuration_us,
                              int64_t ATotalDuration_us, int AFPS, int64_t ACurrentSize) {
  if (FClosing)
    return;
  QTreeWidgetItem *row = JobOfTask(ATaskIndex);
  if (row == nullptr)
    return;
  row->setText(Col(jcProgress), ATotalDuration_us > 0 ? QString::number(ACurrentDuration_us * 100 /
                                                                        ATotalDuration_us) +
                                                            QLatin1Char('%')
                                                      : QStringLiteral("N/A"));
  if (AFPS > 0)
    row->setText(Col(jcFPS), QString::number(AFPS));
  row->setText(Col(jcPosition), SecToDate(ACurrentDuration_us / 1000000));
  row->setText(Col(jcConvertedSize), JobSizeText(ACurrentSize));

  QElapsedTimer &clock = FTaskClocks[ATaskIndex];
  if (!clock.isValid())
    clock.start();
  const int64_t elapsed_ms = clock.elapsed();
  QString tip = QStringLiteral("已用时间 %1").arg(SecToDate(elapsed_ms / 1000));
  if (ACurrentDuration_us > 0 && ATotalDuration_us > ACurrentDuration_us) {
    // What is left goes at the pace so far; the output grows at its bit rate so far.
    const double rest = double(ATotalDuration_us - ACurrentDuration_us) / ACurrentDuration_us;
    tip += QStringLiteral("\n剩余时间 约 %1").arg(SecToDate(int64_t(elapsed_ms * rest / 1000)));
    if (ACurrentSize > 0)
      tip +=
          QStringLiteral("\n预计大小 约 %1").arg(JobSizeText(int64_t(ACurrentSize * (1.0 + rest))));
  }
  row->setToolTip(Col(jcProgress), tip);
}

void TForm1::ShowTaskTermination(int ATaskIndex, bool AFinished, bool AException,
                                 const QString &AExceptionMsg) {
  if (FClosing)
    return;
  if (ATaskIndex >= 0) {
    if (AFinished) {
      ++FRunConverted;
      if (QTreeWidgetItem *row = JobOfTask(ATaskIndex))
        row->setText(Col(jcProgress), QStringLiteral("100%"));
    } else {
      ++FRunUnfinished;
    }
  }
  if (ATaskIndex < 0) {
    SetWindowState(TWindowState::wsEnded);
    FActions->InhibitSleep(false);
    FActions->Notify(FStoppedByUser ? QStringLiteral("转换已停止") : QStringLiteral("转换完成"),
                     QStringLiteral("已转换 %1 个文件，%2 个文件没有完成")
                         .arg(FRunConverted)
                         .arg(FRunUnfinished));
    switch (FForm5 ? FForm5->AfterDone() : 3) {
    case 0:
      OpenOutputFolder();
      break;
    case 1:
      ShutDownComputer();
      break;
    case 2:
      PlayDoneSound();
      break;
    default:
      break;
    }
  }
  if (AException)
    FDialogs->Warning(this, QStringLiteral("凌川安卓手机格式转换器"), AExceptionMsg);
}

void TForm1::OpenOutputFolder() {
  FActions->OpenFolder(Video_OutPut_Folder_Edit->text());
}

void TForm1::ShutDownComputer() {
  // The login manager decides whether this user may power off; a refusal leaves the machine
  // running without a message.
  FActions->ShutDown();
}

void TForm1::PlayDoneSound() {
  const QString sound = FPaths.SoundFile();
  if (QFileInfo(sound).isFile())
    FActions->PlaySound(sound);
}
