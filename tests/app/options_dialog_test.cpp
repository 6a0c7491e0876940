#include "qt_print.h"
#include "options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

const char *const KKeys[] = {"Thread_Count", "After_Done", "Thread_Priority", "Overwrite_File",
                             "Show_Preview"};

struct TStored {
  std::map<std::string, std::string> Values; // missing keys are absent
};

class OptionsDialogTest : public ::testing::Test {
protected:
  QTemporaryDir FDir;
  TIniFile FIni{FDir.path() + "/option.ini"};
  std::vector<bool> FPreviews;

  std::unique_ptr<TForm5> Create(const TStored &AStored) {
    QFile::remove(FIni.FileName());
    FIni.WriteString("OutPath", "OutPath", "/out");
    for (const auto &[key, value] : AStored.Values)
      FIni.WriteString("Options", QString::fromStdString(key), QString::fromStdString(value));
    FPreviews.clear();
    return std::make_unique<TForm5>(FIni, [this](bool AOn) { FPreviews.push_back(AOn); });
  }
  QString Stored(const char *AKey) { return FIni.ReadString("Options", AKey, "Error"); }
};

// Each group of radios has exactly one checked.
void ExpectOneChecked(const TForm5 &AForm) {
  const std::vector<std::vector<QRadioButton *>> groups = {
      {AForm.rbOpenFolder, AForm.rbShutDown, AForm.rbPlaySound, AForm.rbDoNothing},
      {AForm.rbOverwrite, AForm.rbAutoRename},
      {AForm.rbIdle, AForm.rbLowest, AForm.rbLower, AForm.rbNormal}};
  for (const auto &group : groups) {
    int checked = 0;
    for (QRadioButton *r : group)
      checked += r->isChecked();
    EXPECT_EQ(checked, 1) << group.front()->text().toStdString();
  }
}

TEST_F(OptionsDialogTest, StoredValuesAreShownAndBadOnesRewritten) {
  const struct {
    TStored Stored;
    // What the dialog shows.
    const char *Count;
    int AfterDone, Priority;
    bool Overwrite, Preview;
    // What the file holds afterwards, in the order of KKeys.
    std::vector<const char *> File;
  } cases[] = {
      {{}, "1", 0, 3, false, false, {"0", "0", "3", "1", "0"}},
      {{{{"Thread_Count", "Error"}, {"After_Done", "Error"}}},
       "1",
       0,
       3,
       false,
       false,
       {"0", "0", "3", "1", "0"}},
      {{{{"Thread_Count", "5"},
         {"After_Done", "2"},
         {"Thread_Priority", "1"},
         {"Overwrite_File", "0"},
         {"Show_Preview", "1"}}},
       "5",
       2,
       1,
       true,
       true,
       {"5", "2", "1", "0", "1"}},
      {{{{"Thread_Count", "19"},
         {"After_Done", "7"},
         {"Thread_Priority", "9"},
         {"Overwrite_File", "x"},
         {"Show_Preview", "2"}}},
       "19",
       0,
       3,
       false,
       false,
       {"19", "0", "3", "1", "0"}},
      {{{{"Thread_Count", "0"}, {"After_Done", "3"}, {"Thread_Priority", "0"}}},
       "1",
       3,
       0,
       false,
       false,
       {"0", "3", "0", "1", "0"}},
      {{{{"Thread_Count", "20"}, {"After_Done", "1"}, {"Thread_Priority", "-1"}}},
       "1",
       1,
       3,
       false,
       false,
       {"0", "1", "3", "1", "0"}},
      {{{{"Thread_Count", "abc"}, {"After_Done", "01"}}},
       "1",
       0,
       3,
       false,
       false,
       {"0", "0", "3", "1", "0"}},
  };
  for (const auto &c : cases) {
    auto form = Create(c.Stored);
    SCOPED_TRACE(c.Count);
    EXPECT_EQ(form->cbThreadCount->currentText(), c.Count);
    EXPECT_EQ(form->AfterDone(), c.AfterDone);
    EXPECT_EQ(form->ThreadPriority(), c.Priority);
    EXPECT_EQ(form->OverwriteOutput(), c.Overwrite);
    EXPECT_EQ(form->ShowPreview(), c.Preview);
    EXPECT_EQ(FPreviews, std::vector<bool>{c.Preview}); // the task list is told once
    ExpectOneChecked(*form);
    for (size_t i = 0; i < c.File.size(); ++i)
      EXPECT_EQ(Stored(KKeys[i]), c.File[i]) << KKeys[i];
    EXPECT_EQ(FIni.ReadString("OutPath", "OutPath", "Error"), "/out");
  }
}

TEST_F(OptionsDialogTest, ControlsAreLiveAndOnlyOkSaves) {
  auto form = Create({});
  form->cbThreadCount->setCurrentIndex(3);
  form->rbPlaySound->setChecked(true);
  form->rbLower->setChecked(true);
  form->rbOverwrite->setChecked(true);
  form->chkPreview->setChecked(true);
  EXPECT_EQ(FPreviews, (std::vector<bool>{false, true})); // at once, before any button
  EXPECT_EQ(form->ThreadCount(), 4);
  EXPECT_EQ(form->AfterDone(), 2);
  EXPECT_EQ(form->ThreadPriority(), 2);

  form->btnCancel->click();
  EXPECT_EQ(Stored("Thread_Count"), "0");
  EXPECT_EQ(form->ThreadCount(), 4); // cancelling keeps what the user set for this run

  form->btnOK->click();
  EXPECT_EQ(Stored("Thread_Count"), "4");
  EXPECT_EQ(Stored("After_Done"), "2");
  EXPECT_EQ(Stored("Show_Preview"), "1");
  EXPECT_EQ(Stored("Thread_Priority"), "2");
  EXPECT_EQ(Stored("Overwrite_File"), "0");

  // The next start shows the saved count again.
  TForm5 next(FIni, nullptr);
  EXPECT_EQ(next.cbThreadCount->currentText(), "4");
  EXPECT_TRUE(next.rbPlaySound->isChecked());
}

} // namespace
