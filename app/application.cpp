#include "application.h"

#include "about_box.h"
#include "app_icon.h"
#include "app_paths.h"
#include "command_line.h"
#include "ff_utils.h"
#include "ffmpeg_task_list.h"
#include "main_window.h"
#include "options_dialog.h"
#include "system_actions.h"
#include "task_list_link.h"
#include "window_dialogs.h"

#include <QApplication>

#include <memory>

void CreateSecondaryForms(TForm1 &AForm1) {
  auto *form2 = new TForm2(&AForm1);
  TTaskListLink &tasks = AForm1.Tasks();
  auto *form5 = new TForm5(
      AForm1.Ini(), [&tasks](bool AOn) { tasks.SetPreview(AOn); }, &AForm1);
  AForm1.SetForms(form2, form5);
}

int RunApplication(int argc, char *argv[]) {
  RaiseOpenFileLimit();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("lingchuan-converter"));
  QApplication::setApplicationDisplayName(QStringLiteral("凌川安卓手机格式转换器"));
  QApplication::setApplicationVersion(QStringLiteral(LC_VERSION));
  // The desktop entry's name, so that docks and task bars show its icon for the window.
  QGuiApplication::setDesktopFileName(QStringLiteral("lingchuan-converter"));
  QApplication::setWindowIcon(AppIcon());
  const QStringList paths = ParseProgramArguments(app);

  TDesktopActions actions;
  TQtDialogs dialogs;
  TFFmpegTaskList tasks;
  TWindowContext context;
  context.Paths = DefaultAppPaths();
  context.Actions = &actions;
  context.Dialogs = &dialogs;
  context.Tasks = &tasks;

  auto form1 = std::make_unique<TForm1>(context);
  tasks.BindWindow(form1.get());
  CreateSecondaryForms(*form1);
  form1->show();
  AddPathsAfterStart(*form1, paths);
  const int code = QApplication::exec();
  form1.reset();
  return code;
}
