// The options dialog: what happens after all work, how an existing output file is treated, how
// many files convert at once, the real-time preview and the workers' priority. Its controls are
// the live settings; 确定 also saves them in the section "Options" of "option.ini".
#pragma once

#include "ini_file.h"

#include <QDialog>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;

class TForm5 : public QDialog {
  Q_OBJECT
public:
  // Reads the stored options into the controls. AOnPreview receives the preview box's state
  // whenever it is set, by the user or by reading.
  TForm5(const TIniFile &AIni, std::function<void(bool)> AOnPreview, QWidget *AParent = nullptr);

  void ReadOptions();
  void WriteOptions();

  // What the rest of the program reads, at the moment it needs it.
  int ThreadCount() const;    // 1 to 19; 1 when the list holds no number
  int AfterDone() const;      // 0 open folder, 1 shut down, 2 play sound, 3 nothing
  int ThreadPriority() const; // 0 idle, 1 lowest, 2 lower, 3 normal
  bool OverwriteOutput() const;
  bool ShowPreview() const;

  QRadioButton *rbOpenFolder, *rbShutDown, *rbPlaySound, *rbDoNothing;
  QRadioButton *rbOverwrite, *rbAutoRename;
  QComboBox *cbThreadCount;
  QCheckBox *chkPreview;
  QRadioButton *rbIdle, *rbLowest, *rbLower, *rbNormal;
  QPushButton *btnOK, *btnCancel;

private:
  std::array<QRadioButton *, 4> AfterDoneRadios() const; // in the order of After_Done
  std::array<QRadioButton *, 4> PriorityRadios() const;  // in the order of Thread_Priority

  TIniFile FIni;
  std::function<void(bool)> FOnPreview;
};
