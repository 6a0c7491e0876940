// The main window: the job list, the output profile and choices, the output folder, the preview
// area, and the commands that add, edit, convert and set up jobs.
#pragma once

#include "app_paths.h"
#include "choice_lists.h"
#include "ini_file.h"
#include "job_row.h"
#include "working_parameters.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

class QAction;
class QDialog;
class QMenu;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TAVProbe;
class TChangeComboBox;
class TCustomPlayer;
class TFFPlayer;
class TForm2;
class TForm5;
class TPlayerScreen;
class TPositionSlider;
class TSystemActions;
class TTaskListLink;
class TWindowDialogs;

enum TPlayState : int;
enum TPictureFormat : int;

// The job list's columns are the catalog's job row columns; Col gives the widget's column
// number.
using enum TJobColumn;
constexpr int Col(TJobColumn AColumn) {
  return static_cast<int>(AColumn);
}

// What the window is doing; each state has its set of available commands.
enum class TWindowState {
  wsEmpty,      // no job, nothing running
  wsReady,      // jobs, nothing running
  wsConverting, // a run is going
  wsPaused,     // a run is paused
  wsStopping,   // the user stopped; the run's last terminations are on their way
  wsEnded,      // the run has ended; only clearing leads back to editing
};

// How adding one file ended.
enum class TAddFileResult {
  afAdded,       // a row was appended
  afNotExamined, // the file could not be examined; the next file may be tried
  afNoTask,      // no task could be made for it; the whole add ends
  afNoOutput,    // its output could not be set; the whole add ends
};

// The services the window uses; none is owned by it.
struct TWindowContext {
  TAppPaths Paths;
  TSystemActions *Actions = nullptr;
  TWindowDialogs *Dialogs = nullptr;
  TTaskListLink *Tasks = nullptr;
};

class TForm1 : public QMainWindow {
  Q_OBJECT
public:
  // Builds the window and runs its start-up sequence (FormCreate).
  explicit TForm1(const TWindowContext &AContext, QWidget *AParent = nullptr);
  ~TForm1() override;

  // The about box and the options dialog, created after this window.
  void SetForms(TForm2 *AForm2, TForm5 *AForm5);
  TForm2 *Form2() const { return FForm2; }
  TForm5 *Form5() const { return FForm5; }
  const TIniFile &Ini() const { return FIni; }
  TTaskListLink &Tasks() const { return *FTasks; }

  // --- Start-up and commands ---
  TWindowState WindowState() const { return FWindowState; }
  // Switches the category and profile pickers, the six choice lists and 浏览... together.
  void SetChoicesEnabled(bool AEnabled);

  // --- Job list ---
  void btnAddClick();
  void AddFiles();
  void AddFolder();
  // The add commands after their dialog: the chosen file, files or folder (empty: cancelled).
  void AddFileCore(const QString &AFileName);
  void AddFilesCore(const QStringList &AFileNames);
  void AddFolderCore(const QString &AFolder);
  // Files and folders dropped on the job list, added as by the add commands.
  void DropPaths(const QStringList &APaths);
  // The row side of one add: appends a row with AColumns (missing ones empty), hides the
  // picture over the empty list, makes the window ready and logs the success.
  QTreeWidgetItem *AppendJob(const QStringList &AColumns);

  void btnRemoveClick();
  void btnClearClick();
  void MoveJobUp();
  void MoveJobDown();
  // 重命名 and 重新命名: a message when no row is selected.
  void BeginRename();
  // A double click: nothing when no row is selected.
  void lvFilesDblClick();
  // Commits the rename box when it loses the focus.
  void edtExit();
  // The commit itself: false (box stays open) for an empty name or one holding a folder.
  bool CommitRename(const QString &ABaseName);
  void CancelRename();
  void lvFilesSelectItem();
  void lvFilesClick();
  void BuildOpenFilters();
  const QString &OpenFilter() const { return FOpenFilter; }

  int JobCount() const;
  QTreeWidgetItem *SelectedJob() const;
  QTreeWidgetItem *Job(int ARow) const;

  // --- Conversion control ---
  void btnStartClick();
  void btnPauseClick();
  void btnResumeClick();
  void btnStopClick();
  // The row side of the task list's reports, on the main thread. Rows are found by their task
  // number, so moving rows during a run is safe.
  void ShowTaskProgress(int ATaskIndex, int64_t ACurrentDuration_us, int64_t ATotalDuration_us,
                        int AFPS, int64_t ACurrentSize);
  void ShowTaskTermination(int ATaskIndex, bool AFinished, bool AException,
                           const QString &AExceptionMsg);
  void OpenOutputFolder();
  void ShutDownComputer();
  void PlayDoneSound();

  // --- Settings ---
  void ReadOutputFolder();
  void WriteOutputFolder();
  void ChooseOutputFolder();
  // 浏览... after its dialog: the chosen folder, empty when cancelled.
  void ChooseOutputFolderCore(const QString &AFolder);
  void ReadSkinSetting();
  int SkinIndex() const { return FSkinIndex; }

  // --- Preview player ---
  // Opens T_Movie_PLayer_FileName in the preview, paused; a failure goes to the log.
  void Button31Click();
  void FFPlayerFileOpen(TCustomPlayer *Sender, int64_t ADuration, int AFrameWidth, int AFrameHeight,
                        int &AScreenWidth, int &AScreenHeight);
  void FFPlayerPosition(TCustomPlayer *Sender, int64_t APTS);
  void FFPlayerState(TCustomPlayer *Sender, TPlayState AState);
  void bsSkinButton13Click(); // play
  void bsSkinButton14Click(); // pause
  void bsSkinButton15Click(); // stop: the selected row's file again, at its first picture
  void bsSkinButton16Click(); // mute
  void bsSkinButton20Click(); // sound on again
  // Holding the slider pauses; while it is held the picture follows it; releasing it seeks
  // there and plays.
  void bsSkinSlider1MouseDown();
  void bsSkinSlider1MouseUp();
  void bsSkinButton22Click(); // snapshot of the picture on screen
  void bsSkinButton23Click(); // checks the stored picture type in the settings menu
  void MenuItem1Click();      // 打开快照目录
  void MenuItem2Click();      // 设置快照目录
  // 设置快照目录 after its dialog: the chosen folder, empty when cancelled.
  void MenuItem2ClickCore(const QString &AFolder);
  void BMP1Click();
  void JPG1Click();
  void GIF1Click();
  void PNG1Click();
  // The snapshot folder from "option.ini" (the default one when none is stored), made when
  // missing.
  QString SnapShotFolder();
  // The picture type from "option.ini" ("BMP" written over anything unknown), checked in the
  // menu.
  TPictureFormat SnapShotFormat();

  // --- Log ---
  void AppendLog(const QString &ALine);
  QString LogText() const;

  // --- Profile pickers and choice lists, bound to the catalog ---
  void Button2Click();  // fills the profile picker for the selected category
  void Button5Click();  // applies the selected profile to the working parameters
  void Button6Click();  // resets the working parameters
  void Button13Click(); // confirms the six choices into the working parameters
  void Button18Click(); // fills the six lists for the selected profile
  // Builds the tasks from the rows, in row order; false stops the start.
  bool button28Click();
  void bsSkinOfficeComboBox1Change();
  void bsSkinOfficeComboBox2Change();
  void bsSkinComboBox1Change();
  void bsSkinComboBox2Change();
  void bsSkinComboBox3Change();
  void bsSkinComboBox4Change();
  void bsSkinComboBox9Change();
  void bsSkinComboBox10Change();
  // The profile the pickers select, or nullptr while they select none.
  const TProfile *SelectedProfile() const;
  // The widget of a choice list.
  TChangeComboBox *ChoiceBox(TChoiceList AList) const;

  // Working parameters, filled from the selected profile and choices; an add copies them into
  // the new row.
  const TWorkingParameters &WorkingParameters() const { return FParams; }
  QString T_Movie_PLayer_FileName; // the file the preview player is asked to open
  QString FileOutPutPath;          // the output folder a run writes to

  // Widgets.
  QTreeWidget *lvFiles;
  QWidget *pnlEmptyList; // the picture over the empty job list
  QLineEdit *edt;        // the rename box
  QPushButton *btnMoveUp, *btnMoveDown, *btnRename;
  TChangeComboBox *bsSkinOfficeComboBox2; // category picker
  TChangeComboBox *bsSkinOfficeComboBox1; // profile picker
  QLineEdit *Video_OutPut_Folder_Edit;
  QPushButton *btnBrowse, *btnOpenFolder;
  QWidget *pnlChoices;               // holds the six choice lists
  TChangeComboBox *bsSkinComboBox1;  // 视频分辨率
  TChangeComboBox *bsSkinComboBox2;  // 视频比特率
  TChangeComboBox *bsSkinComboBox3;  // 音频比特率
  TChangeComboBox *bsSkinComboBox4;  // 视频缩放
  TChangeComboBox *bsSkinComboBox9;  // 视频帧率
  TChangeComboBox *bsSkinComboBox10; // 音频采样率
  TPlayerScreen *Panel6;             // the preview player's screen
  QWidget *pnlPlayerButtons;         // the preview player's controls

  // The preview's controls and player.
  TPositionSlider *bsSkinSlider1;
  QToolButton *bsSkinButton13, *bsSkinButton14, *bsSkinButton15; // play, pause, stop
  QToolButton *bsSkinButton16, *bsSkinButton20;                  // mute and sound on, in one place
  QToolButton *bsSkinButton22, *bsSkinButton23;                  // snapshot, snapshot settings
  QMenu *bsSkinPopupMenu2;                                       // the snapshot settings
  QAction *MenuItem1, *MenuItem2, *BMP1, *JPG1, *GIF1, *PNG1;
  std::unique_ptr<TFFPlayer> FFPlayer;

  QPlainTextEdit *mmoLog;
  QDialog *frmLog; // the log panel the user can open

  // Toolbar; 暂停 and 继续 share one place.
  QToolButton *btnAdd, *btnRemove, *btnClear, *btnStart, *btnStop, *btnPause, *btnResume,
      *btnOptions;
  // Menus; the three add commands are also the 添加 drop-down.
  QAction *mnuAddFile, *mnuAddFiles, *mnuAddFolder, *mnuExit;
  QAction *mnuMoveUp, *mnuMoveDown, *mnuRemove, *mnuClear, *mnuRename;
  QAction *mnuStart, *mnuStop, *mnuPause, *mnuResume, *mnuOptions;
  QAction *mnuShowLog;
  QAction *mnuHelp, *mnuAbout;

protected:
  void closeEvent(QCloseEvent *AEvent) override;
  bool eventFilter(QObject *AObject, QEvent *AEvent) override;

  // --- Seams for the task list and its prober ---
  // Loads the conversion libraries when they are not loaded; on failure logs why and answers
  // false.
  virtual bool EnsureLibraries();
  // Examines AFileName, makes its task and output and appends its row (AppendJob), logging
  // each failure with its text.
  virtual TAddFileResult AddFileJob(const QString &AFileName);
  // Makes the task of row ARow (task index ARow) from the row's columns; false with the reason
  // in AError when its input cannot be opened.
  virtual bool BuildRowTask(int ARow, QString &AError);

  // --- Seams for the preview player ---
  void PreparePreviewPlayer();
  void PreviewOpen(const QString &AFileName);
  void PreviewStop();
  void PreviewSliderReset();
  void DetachPlayerEvents();

private:
  void CreateWidgets();
  void CreateMenus();
  void CreateToolBar();
  QWidget *CreateJobArea();
  QWidget *CreateOutputArea();
  QWidget *CreateChoiceArea();
  QWidget *CreatePreviewArea();
  void CreatePlayerControls(); // the slider and the buttons under Panel6
  void CreateLogPanel();
  void FormCreate();

  void SetWindowState(TWindowState AState);
  void ApplyCommandStates();
  void UpdateEmptyListPicture();
  void SwapJobs(int ARow1, int ARow2);
  void SelectJob(QTreeWidgetItem *AItem);
  QTreeWidgetItem *JobOfTask(int ATaskIndex) const;
  // Runs AFiles from the last to the first through AddFileJob, with a progress dialog when it
  // takes a while; false when the add ended early.
  bool AddFileList(const QStringList &AFiles);
  void ShowAddSummary(int AAdded, int ARefused);
  void ApplySkin(int AIndex);
  void ShowOptions();
  void ShowAbout();
  void ShowHelp();
  void FFLoggerLog(uint32_t AThreadID, int ALogLevel, const QString &AMessage);
  // Opens AFileName in Panel6, paused, logging a failure.
  void OpenPreview(const QString &AFileName);
  // Play, pause, stop, snapshot and the slider follow what the preview can do now.
  void UpdatePlayerButtons();
  void SetSliderPosition(int AValue);
  int64_t SliderTime() const;
  void ChooseSnapShotFormat(TPictureFormat AFormat);

  // Appends ALine between two empty lines, as the outcome of an add or a start.
  void AppendLogBlock(const QString &ALine);
  // The eleven categories, from the catalog.
  void FillCategoryPicker();
  // The six lists' selected items; nullopt while a list selects none.
  std::optional<TChoiceSelection> ChoiceSelection() const;
  bool OverwriteOutput() const;
  // A list's change: rewrites the selected row's field of the choice code and its column.
  void ChoiceChange(TChoiceList AList);
  // How many rows write each output path.
  using TOutputCounts = std::unordered_map<std::string, int>;
  TOutputCounts RowOutputs() const;
  // Gives row ARow an output name under which nothing exists and no other row writes (the
  // input itself is never written over), keeping AOutputs up to date; logs a change. Before
  // the row's task is made.
  void AvoidOutputCollision(int ARow, TOutputCounts &AOutputs);
  static TJobRow ReadJobRow(const QTreeWidgetItem *AItem);
  static void WriteJobRow(QTreeWidgetItem *AItem, const TJobRow &ARow);

  TAppPaths FPaths;
  TIniFile FIni;
  TSystemActions *FActions;
  TWindowDialogs *FDialogs;
  TTaskListLink *FTasks;
  TForm2 *FForm2 = nullptr;
  TForm5 *FForm5 = nullptr;
  TWorkingParameters FParams;
  std::unique_ptr<TAVProbe> FAVProbe; // examines each file before it becomes a job

  // The preview.
  std::unique_ptr<TAVProbe> FPreviewProbe; // reads the previewed file's facts for the log
  QWidget *FScreenControl = nullptr;       // what the player paints on
  int64_t FDuration = 0;                   // of the previewed file, microseconds
  bool FTrackChanging = false;             // the slider is being set by the window, not the user
  QString bsSkinSlider1_down_UP;           // "Down" while the user holds the slider, else "UP"
  bool FPreviewing = false;                // a file is open in the preview
  bool FPreviewPicture = false;            // and it has a picture

  TWindowState FWindowState = TWindowState::wsEmpty;
  bool FStoppedByUser = false; // the run was stopped: 开始 stays on in the toolbar after it
  bool FClosing = false;       // the close has begun: no row changes any more
  int FRowSurgery = 0;         // rows are being moved or deleted: selection changes are not
                               // the user's
  QTreeWidgetItem *FRenameItem = nullptr; // the row the rename box edits
  QHash<int, QElapsedTimer> FTaskClocks;  // since each task's first report in this run
  int FRunConverted = 0;                  // tasks of this run that converted to the end
  int FRunUnfinished = 0;                 // tasks of this run that failed or were stopped
  QString FOpenFilter;
  int FSkinIndex = 0;
  QHash<QWidget *, QAction *> FToolPlaces; // each toolbar button's place
  QAction *FPausePlace = nullptr;          // the toolbar place of 暂停
  QAction *FResumePlace = nullptr;         // the toolbar place of 继续
};
