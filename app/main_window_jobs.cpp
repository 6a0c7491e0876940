// The job list: adding, removing, clearing, moving, renaming and selecting jobs.
#include "main_window.h"

#include "av_probe.h"
#include "change_combo_box.h"
#include "job_text.h"
#include "option_assembly.h"
#include "profile_catalog.h"
#include "task_list_link.h"
#include "window_dialogs.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressDialog>
#include <QStatusBar>
#include <QTreeWidget>

#include <stdexcept>

namespace {
const QString KOpenTitle = QStringLiteral("打开文件");
}

int TForm1::JobCount() const {
  return lvFiles->topLevelItemCount();
}

QTreeWidgetItem *TForm1::Job(int ARow) const {
  return lvFiles->topLevelItem(ARow);
}

QTreeWidgetItem *TForm1::SelectedJob() const {
  const QList<QTreeWidgetItem *> items = lvFiles->selectedItems();
  return items.isEmpty() ? nullptr : items.first();
}

void TForm1::SelectJob(QTreeWidgetItem *AItem) {
  lvFiles->setCurrentItem(AItem);
  AItem->setSelected(true);
}

void TForm1::BuildOpenFilters() {
  FOpenFilter = OpenDialogFilter();
}

void TForm1::UpdateEmptyListPicture() {
  pnlEmptyList->setVisible(JobCount() == 0);
}

bool TForm1::EnsureLibraries() {
  if (FTasks->AVLibLoaded() || FTasks->LoadAVLib(FPaths.LibraryFolder()))
    return true;
  AppendLog(FTasks->LastErrMsg());
  return false;
}

void TForm1::AppendLogBlock(const QString &ALine) {
  AppendLog(QString());
  AppendLog(ALine);
  AppendLog(QString());
}

TAddFileResult TForm1::AddFileJob(const QString &AFileName) {
  const std::string fileName = AFileName.toStdString();
  // The prober holds the file only while it is being added.
  struct TCloser {
    TAVProbe &Probe;
    ~TCloser() { Probe.CloseFile(); }
  } closer{*FAVProbe};
  bool examined = false;
  try {
    examined = FAVProbe->LoadFile(fileName);
  } catch (const std::exception &e) {
    AppendLogBlock(QStringLiteral("***File load error: ") + QString::fromStdString(e.what()));
    return TAddFileResult::afNotExamined;
  }
  if (!examined) {
    AppendLogBlock(QStringLiteral("***File load error: ") +
                   QString::fromStdString(FAVProbe->LastErrMsg()));
    return TAddFileResult::afNotExamined;
  }
  FParams.Video_AddFileName = fileName;

  TInputOptions input;
  InitInputOptions(input);
  const int index = FTasks->AddTask(AFileName, input);
  if (index < 0) {
    AppendLogBlock(QStringLiteral("***File open error: ") + FTasks->LastErrMsg());
    return TAddFileResult::afNoTask;
  }
  AppendLog(QString());
  QString info = QString::fromStdString(FAVProbe->FileInfoText());
  info.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (info.endsWith(QLatin1Char('\n')))
    info.chop(1);
  AppendLog(info);
  T_Movie_PLayer_FileName = AFileName;

  TOutputOptions output;
  InitOutputOptions(output);
  const int category = bsSkinOfficeComboBox2->ItemIndex();
  const int profile = bsSkinOfficeComboBox1->ItemIndex();
  const std::optional<TChoiceSelection> selection = ChoiceSelection();
  QString refusal;
  try {
    if (SelectedProfile() == nullptr || !selection)
      throw std::runtime_error("no output profile is selected");
    Button5Click();
    Button13Click();
    OutputRecordFromParameters(output, FParams);
    if (!FTasks->SetOutputFile(index, QString::fromStdString(FParams.Video_OutPutFileName), output))
      refusal = FTasks->LastErrMsg();
  } catch (const std::exception &e) {
    refusal = QString::fromStdString(e.what());
  }
  if (!refusal.isNull()) {
    FTasks->RemoveTask(index);
    AppendLogBlock(QStringLiteral("***Cannot do convert, error: ") + refusal);
    return TAddFileResult::afNoOutput;
  }
  if (output.FileName.empty())
    output.FileName = FParams.Video_OutPutFileName;

  TJobRow row;
  WriteNewRowColumns(row, input.FileName, output, index, category, profile, *selection, FParams);
  const int64_t duration_us = FAVProbe->FileStreamInfo().Duration;
  row[jcDuration] =
      duration_us > 0 ? SecToDate(duration_us / 1000000).toStdString() : std::string("N/A");
  row[jcFileSize] = JobSizeText(FAVProbe->FileSize()).toStdString();
  QStringList columns;
  for (const std::string &text : row.Columns)
    columns << QString::fromStdString(text);
  AppendJob(columns);
  return TAddFileResult::afAdded;
}

QTreeWidgetItem *TForm1::AppendJob(const QStringList &AColumns) {
  auto *item = new QTreeWidgetItem;
  for (int i = 0; i < JobColumnCount && i < AColumns.size(); ++i)
    item->setText(i, AColumns[i]);
  item->setToolTip(Col(jcInputFile), AColumns.value(Col(jcInputFile)));
  lvFiles->addTopLevelItem(item);
  UpdateEmptyListPicture();
  SetWindowState(TWindowState::wsReady);
  AppendLogBlock(QStringLiteral("***Can do convert."));
  return item;
}

void TForm1::btnAddClick() {
  Button6Click();
  if (!EnsureLibraries())
    return;
  AddFileCore(FDialogs->OpenFile(this, KOpenTitle, FOpenFilter));
}

void TForm1::AddFiles() {
  Button6Click();
  if (!EnsureLibraries())
    return;
  AddFilesCore(FDialogs->OpenFiles(this, KOpenTitle, FOpenFilter));
}

void TForm1::AddFolder() {
  Button6Click();
  if (!EnsureLibraries())
    return;
  AddFolderCore(FDialogs->ChooseFolder(this, QStringLiteral("选择目录"), QString()));
}

void TForm1::AddFileCore(const QString &AFileName) {
  if (AFileName.isEmpty() || !QFileInfo(AFileName).isFile())
    return;
  const bool added = AddFileJob(AFileName) == TAddFileResult::afAdded;
  ShowAddSummary(added ? 1 : 0, added ? 0 : 1);
  if (!added)
    return;
  SelectJob(Job(JobCount() - 1));
  lvFiles->setFocus();
}

bool TForm1::AddFileList(const QStringList &AFiles) {
  const int count = static_cast<int>(AFiles.size());
  QProgressDialog progress(QStringLiteral("正在添加文件..."), QStringLiteral("取消"), 0, count,
                           this);
  progress.setWindowTitle(windowTitle());
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  int added = 0;
  int refused = 0;
  bool whole = true;
  for (int done = 0; done < count && whole; ++done) {
    progress.setLabelText(QStringLiteral("正在添加文件 %1 / %2").arg(done + 1).arg(count));
    progress.setValue(done);
    // The shown dialog serves the event loop in setValue; until it shows, the window still
    // repaints and its timers run, but takes no input that could start a second add.
    if (!progress.isVisible())
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    const QString &file = AFiles[count - 1 - done];
    if (progress.wasCanceled() || FClosing || !QFileInfo::exists(file)) {
      whole = false;
      break;
    }
    const TAddFileResult result = AddFileJob(file);
    if (result == TAddFileResult::afAdded)
      ++added;
    else
      ++refused;
    whole = result == TAddFileResult::afAdded || result == TAddFileResult::afNotExamined;
  }
  progress.setValue(count);
  ShowAddSummary(added, refused);
  return whole;
}

void TForm1::ShowAddSummary(int AAdded, int ARefused) {
  QString text = QStringLiteral("已添加 %1 个文件").arg(AAdded);
  if (ARefused > 0)
    text += QStringLiteral("，%1 个文件不能转换（原因见“查看”菜单中的日志窗口）").arg(ARefused);
  statusBar()->showMessage(text);
}

void TForm1::DropPaths(const QStringList &APaths) {
  if (!mnuAddFile->isEnabled())
    return;
  QStringList files, folders;
  for (const QString &path : APaths) {
    const QFileInfo info(path);
    if (info.isDir())
      folders << path;
    else if (info.isFile())
      files << path;
  }
  if (files.isEmpty() && folders.isEmpty())
    return;
  Button6Click();
  if (!EnsureLibraries())
    return;
  if (!files.isEmpty())
    AddFilesCore(files);
  for (const QString &folder : folders)
    AddFolderCore(folder);
}

void TForm1::AddFilesCore(const QStringList &AFileNames) {
  if (AFileNames.isEmpty() || !QFileInfo::exists(AFileNames.first()))
    return;
  if (!AddFileList(AFileNames))
    return;
  if (JobCount() > 0) {
    SelectJob(Job(JobCount() - 1));
    lvFiles->setFocus();
  }
}

void TForm1::AddFolderCore(const QString &AFolder) {
  if (AFolder.isEmpty() || !QFileInfo(AFolder).isDir())
    return;
  const int before = JobCount();
  if (!AddFileList(GetFilenames(AFolder, QStringLiteral("*.*"))))
    return;
  if (JobCount() > 0) {
    SelectJob(Job(JobCount() - 1));
    lvFiles->setFocus();
  }
  if (JobCount() == before)
    FDialogs->Message(this, QStringLiteral("在该目录没有发现可以用的视频或音频文件！"));
}

void TForm1::btnRemoveClick() {
  QTreeWidgetItem *item = SelectedJob();
  if (item == nullptr) {
    FDialogs->Message(this, QStringLiteral("请先选择您需要删除的项目！"));
    return;
  }
  const int number = item->text(Col(jcTaskNumber)).toInt();
  if (number > 0)
    FTasks->RemoveTask(number - 1);
  if (item == FRenameItem)
    CancelRename();
  ++FRowSurgery;
  delete item;
  for (int i = 0; i < JobCount(); ++i) {
    QTreeWidgetItem *row = Job(i);
    const int n = row->text(Col(jcTaskNumber)).toInt();
    if (n > number)
      row->setText(Col(jcTaskNumber), QString::number(n - 1));
  }
  --FRowSurgery;
  SetWindowState(JobCount() > 0 ? TWindowState::wsReady : TWindowState::wsEmpty);
  lvFiles->setFocus();
  if (JobCount() > 0) {
    lvFiles->clearSelection();
    SelectJob(Job(0));
  } else {
    UpdateEmptyListPicture();
    PreviewStop();
    PreviewSliderReset();
  }
}

void TForm1::btnClearClick() {
  FTasks->ClearTasks();
  CancelRename();
  ++FRowSurgery;
  lvFiles->clear();
  --FRowSurgery;
  FStoppedByUser = false;
  SetWindowState(TWindowState::wsEmpty);
  UpdateEmptyListPicture();
  PreviewStop();
  PreviewSliderReset();
}

void TForm1::SwapJobs(int ARow1, int ARow2) {
  QTreeWidgetItem *a = Job(ARow1);
  QTreeWidgetItem *b = Job(ARow2);
  for (int i = 0; i < JobColumnCount; ++i) {
    const QString text = a->text(i);
    a->setText(i, b->text(i));
    b->setText(i, text);
  }
  const QString tip = a->toolTip(Col(jcInputFile));
  a->setToolTip(Col(jcInputFile), b->toolTip(Col(jcInputFile)));
  b->setToolTip(Col(jcInputFile), tip);
  // The rename box stays with the job it edits.
  if (FRenameItem == a)
    CancelRename();
  else if (FRenameItem == b)
    CancelRename();
}

void TForm1::MoveJobUp() {
  QTreeWidgetItem *item = SelectedJob();
  const int row = item ? lvFiles->indexOfTopLevelItem(item) : -1;
  if (row <= 0)
    return;
  SwapJobs(row, row - 1);
  SelectJob(Job(row - 1));
  lvFiles->setFocus();
}

void TForm1::MoveJobDown() {
  QTreeWidgetItem *item = SelectedJob();
  const int row = item ? lvFiles->indexOfTopLevelItem(item) : -1;
  if (row < 0 || row >= JobCount() - 1)
    return;
  SwapJobs(row, row + 1);
  SelectJob(Job(row + 1));
  lvFiles->setFocus();
}

void TForm1::BeginRename() {
  if (SelectedJob() == nullptr) {
    FDialogs->Message(this, QStringLiteral("请先选中您需要重命名的项目！"));
    return;
  }
  lvFilesDblClick();
}

void TForm1::lvFilesDblClick() {
  QTreeWidgetItem *item = SelectedJob();
  if (item == nullptr)
    return;
  FRenameItem = item;
  const QRect cell = lvFiles->visualItemRect(item);
  edt->setGeometry(lvFiles->header()->sectionViewportPosition(Col(jcOutputFile)) + 2, cell.top(),
                   lvFiles->columnWidth(Col(jcOutputFile)), cell.height() + 2);
  edt->setText(QFileInfo(item->text(Col(jcOutputFile))).completeBaseName());
  edt->show();
  edt->setFocus();
  edt->selectAll();
}

void TForm1::edtExit() {
  if (edt->isVisible())
    CommitRename(edt->text());
}

bool TForm1::CommitRename(const QString &ABaseName) {
  if (FRenameItem == nullptr || lvFiles->indexOfTopLevelItem(FRenameItem) < 0) {
    CancelRename();
    return false;
  }
  if (!ValidOutputBaseName(ABaseName))
    return false;
  QString ext =
      QString::fromStdString(ExtFromCaption(bsSkinOfficeComboBox1->currentText().toStdString()));
  if (ext.isEmpty()) {
    // No profile to take it from: the name keeps the extension it has.
    const QString suffix = QFileInfo(FRenameItem->text(Col(jcOutputFile))).suffix();
    ext = suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix;
  }
  FRenameItem->setText(Col(jcOutputFile), ABaseName + ext);
  FRenameItem = nullptr;
  edt->hide();
  return true;
}

void TForm1::CancelRename() {
  FRenameItem = nullptr;
  edt->hide();
}

void TForm1::lvFilesSelectItem() {
  QTreeWidgetItem *item = SelectedJob();
  if (item == nullptr)
    return;
  // Both codes are read before any selection rewrites the row.
  const std::optional<TProfilePosition> position =
      ParseCategoryCode(item->text(Col(jcCategoryCode)).toStdString());
  const QString choices = item->text(Col(jcChoiceCode));
  if (position) {
    bsSkinOfficeComboBox2->SetItemIndex(position->Category);
    bsSkinOfficeComboBox1->SetItemIndex(position->Profile);
  }
  // In the order of the choice code's fields.
  for (TChoiceList list :
       {TChoiceList::clResolution, TChoiceList::clVideoBitrate, TChoiceList::clAudioBitrate,
        TChoiceList::clAspect, TChoiceList::clFrameRate, TChoiceList::clSampleRate}) {
    bool ok = false;
    const int index = choices.mid(ChoiceCodeOffset(list), 2).toInt(&ok);
    if (ok && index >= 0)
      ChoiceBox(list)->SetItemIndex(index);
  }
  PreviewSliderReset();
  T_Movie_PLayer_FileName = item->text(Col(jcInputFile));
  PreviewOpen(T_Movie_PLayer_FileName);
}

void TForm1::lvFilesClick() {
  if (SelectedJob() == nullptr)
    PreviewStop();
}
