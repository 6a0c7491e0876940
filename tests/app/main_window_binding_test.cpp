// The window bound to the prober and the catalog: what an add writes into its row and task,
// what the pickers and lists do to the selected row, and the records a start builds.
#include "window_checks.h"

#include "job_text.h"
#include "options_dialog.h"
#include "profile_catalog.h"

#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStatusBar>

#include <sstream>

namespace {

using enum TWindowState;

// The fields the window sets in an output record, as one line.
std::string RecordText(const TOutputOptions &R) {
  std::ostringstream s;
  s << "vcodec=" << R.VideoCodec << " vpre=" << R.VideoPreset << " tag=" << R.VideoTag
    << " s=" << R.FrameSize << " vb=" << R.VideoBitrate << " r=" << R.FrameRate
    << " aspect=" << R.FrameAspectRatio << " acodec=" << R.AudioCodec << " ac=" << R.AudioChannels
    << " ar=" << R.AudioSampleRate << " ab=" << R.AudioBitrate << " vol=" << R.AudioVolume
    << " novideo=" << R.DisableVideo << " target=" << R.TargetType << " norm=" << R.NormType
    << " ext=" << R.FileExt;
  return s.str();
}

QStringList RowTexts(const QTreeWidgetItem *AItem) {
  QStringList texts;
  for (int i = 0; i < JobColumnCount; ++i)
    texts << AItem->text(i);
  return texts;
}

QString DefaultChoiceCode(int ACategory, int AProfile) {
  return QString::fromStdString(ChoiceCode(DefaultSelection(*FindProfile(ACategory, AProfile))));
}

class WindowBindingTest : public MainWindowTest {
protected:
  void ChooseProfile(int ACategory, int AProfile) {
    Form().bsSkinOfficeComboBox2->SetItemIndex(ACategory);
    Form().bsSkinOfficeComboBox1->SetItemIndex(AProfile);
  }
  // Adds one file through 添加一个文件; the new row.
  QTreeWidgetItem *AddOne(const QString &AFile) {
    F->Dialogs.Files << AFile;
    Form().btnAddClick();
    return Form().Job(Form().JobCount() - 1);
  }
  // A PCM wave file of exactly ABytes bytes: 44.1 kHz, stereo, 16 bits, silence.
  QString MakeWav(const QString &AName, qint64 ABytes) {
    const qint64 data = ABytes - 44;
    QByteArray header;
    auto u32 = [&header](quint32 v) {
      for (int i = 0; i < 4; ++i)
        header.append(char((v >> (8 * i)) & 0xff));
    };
    auto u16 = [&header](quint16 v) {
      header.append(char(v & 0xff));
      header.append(char(v >> 8));
    };
    header.append("RIFF");
    u32(quint32(ABytes - 8));
    header.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    header.append("data");
    u32(quint32(data));
    return F->MakeTextFile(AName, header + QByteArray(data, '\0'));
  }
  // A still picture: the prober opens it but finds no duration.
  QString MakeJpeg(const QString &AName) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = F->InPath(AName);
    image.save(path, "JPG");
    return path;
  }
  void EndRun() {
    Form().ShowTaskTermination(-1, true, false, QString());
    ASSERT_EQ(Form().WindowState(), wsEnded);
  }
};

TEST_F(WindowBindingTest, PickersStartAtTheFirstProfileAndFollowTheCategory) {
  ASSERT_EQ(Form().bsSkinOfficeComboBox2->count(), 11);
  EXPECT_EQ(Form().bsSkinOfficeComboBox2->currentText(), "Android视频");
  EXPECT_EQ(Form().bsSkinOfficeComboBox1->count(), 12);
  EXPECT_EQ(Form().bsSkinOfficeComboBox1->currentText(), "Android手机AVI视频(*.avi)");
  // Two profile icons alternate down the list; each category has a picture of its own.
  auto picture = [](QComboBox *ABox, int AIndex) {
    return ABox->itemIcon(AIndex).pixmap(24, 24).toImage();
  };
  EXPECT_FALSE(picture(Form().bsSkinOfficeComboBox1, 0).isNull());
  EXPECT_NE(picture(Form().bsSkinOfficeComboBox1, 0), picture(Form().bsSkinOfficeComboBox1, 1));
  EXPECT_EQ(picture(Form().bsSkinOfficeComboBox1, 0), picture(Form().bsSkinOfficeComboBox1, 2));
  for (int i = 0; i < 11; ++i)
    for (int j = 0; j < i; ++j)
      EXPECT_NE(picture(Form().bsSkinOfficeComboBox2, i), picture(Form().bsSkinOfficeComboBox2, j))
          << i << " " << j;

  Form().bsSkinOfficeComboBox2->SetItemIndex(8); // MP4视频
  EXPECT_EQ(Form().bsSkinOfficeComboBox1->count(), 5);
  EXPECT_EQ(Form().bsSkinOfficeComboBox1->ItemIndex(), 0);

  // Android手机MPEG-4视频: the lists' defaults, confirmed into the working parameters.
  ChooseProfile(0, 1);
  Form().Button13Click();
  const TWorkingParameters &w = Form().WorkingParameters();
  EXPECT_EQ(Form().bsSkinComboBox1->currentText(), "640*480");
  EXPECT_EQ(Form().bsSkinComboBox4->currentText(), "宽屏视频16:9模式");
  EXPECT_EQ(w.Video_FrameSize, "640*480");
  EXPECT_EQ(w.Video_VideoBitrate, 768000);
  EXPECT_EQ(w.Video_FrameRate, "25.00");
  EXPECT_EQ(w.Video_AudioBitrate, 128000);
  EXPECT_EQ(w.Video_AudioSampleRate, "48000");
  EXPECT_EQ(w.Video_FrameAspectRatio, "16:9");

  // An audio profile offers no video choices and switches those lists off.
  ChooseProfile(2, 0);
  for (TChoiceList list : AllChoiceLists) {
    const bool video = list != TChoiceList::clAudioBitrate && list != TChoiceList::clSampleRate;
    EXPECT_EQ(Form().ChoiceBox(list)->isEnabled(), !video) << ListIndex(list);
    if (video) {
      EXPECT_EQ(Form().ChoiceBox(list)->count(), 1) << ListIndex(list);
    }
  }
  EXPECT_EQ(Form().bsSkinComboBox1->currentText(), "该格式无视频");
  ExpectCommands(Form(), wsEmpty, false);
}

TEST_F(WindowBindingTest, AddedSampleFilesFillTheirRowsAndTasks) {
  const QString clip = F->MakeFile("clip.mp4", "h264_aac_640x360.mp4");
  const QString still = MakeJpeg("still.jpg");
  const QString small = MakeWav("small.wav", 1572864);
  const QString large = MakeWav("large.wav", 10485760);
  F->Dialogs.FileLists.push_back({clip, still, small, large});
  Form().AddFiles();

  const struct {
    QString File;
    const char *Duration, *Size; // nullptr: not checked
  } want[] = {
      {large, "00:00:59", "10MB"}, // added first: the dialog's list runs from its end
      {small, "00:00:08", "1.5MB"},
      {still, "N/A", nullptr},
      {clip, "00:00:03", nullptr},
  };
  ASSERT_EQ(Form().JobCount(), 4);
  const QString out = Form().FileOutPutPath;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(want[i].File.toStdString());
    const QTreeWidgetItem *row = Form().Job(i);
    const QString output = QFileInfo(want[i].File).completeBaseName() + ".avi";
    EXPECT_EQ(row->text(Col(jcInputFile)), want[i].File);
    EXPECT_EQ(row->text(Col(jcDuration)), want[i].Duration);
    if (want[i].Size) {
      EXPECT_EQ(row->text(Col(jcFileSize)), want[i].Size);
    }
    EXPECT_EQ(row->text(Col(jcOutputFile)), output);
    for (TJobColumn progress : {jcProgress, jcFPS, jcPosition, jcConvertedSize})
      EXPECT_EQ(row->text(Col(progress)), "");
    EXPECT_EQ(row->text(Col(jcTaskNumber)), QString::number(i + 1));
    EXPECT_EQ(row->text(Col(jcCategoryCode)), "100");
    EXPECT_EQ(row->text(Col(jcChoiceCode)), DefaultChoiceCode(0, 0));
    // The selected (last) row has been through the profile change, which fills FileExt.
    const QStringList params = {"mpeg4", "libmp3lame", "2", "",       i == 3 ? ".avi" : "",
                                "",      "816000",     "",  "128000", "48000",
                                "",      "False",      "",  ""};
    for (int c = 0; c < params.size(); ++c)
      EXPECT_EQ(row->text(Col(jcVideoCodec) + c), params[c]) << "column " << Col(jcVideoCodec) + c;

    const TFakeTask &task = F->Tasks.Tasks[i];
    EXPECT_EQ(task.File, want[i].File);
    EXPECT_EQ(QString::fromStdString(task.Output.FileName), out + "/" + output);
    EXPECT_EQ(RecordText(task.Output),
              "vcodec=mpeg4 vpre= tag= s= vb=816000 r= aspect= acodec=libmp3lame ac=2 ar=48000 "
              "ab=128000 vol=256 novideo=0 target=0 norm=0 ext=");
  }
  EXPECT_EQ(Form().SelectedJob(), Form().Job(3));
  EXPECT_EQ(Form().LogText().count("***Can do convert."), 4);
  EXPECT_TRUE(Form().LogText().contains("File Name: " + clip));
  EXPECT_TRUE(Form().statusBar()->currentMessage().startsWith("已添加 4 个文件"));
  ExpectRowsMatchTasks(Form(), F->Tasks);
  ExpectCommands(Form(), wsReady, true);
}

TEST_F(WindowBindingTest, RefusedFilesLeaveNoRowNoTaskAndTheReasonInTheLog) {
  const struct {
    const char *Name;
    bool Media;
    const char *LogStart; // the line that names the reason
    bool Removed;         // the task made for it was removed again
  } cases[] = {
      {"words.mp4", false, "***File load error: ", false},
      {"notask.wav", true, "***File open error: ", false},
      {"noout.wav", true, "***Cannot do convert, error: ", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    F->Tasks.Calls.clear();
    const QString file = c.Media ? F->MakeFile(c.Name) : F->MakeTextFile(c.Name);
    AddOne(file);
    EXPECT_EQ(Form().JobCount(), 0);
    EXPECT_TRUE(F->Tasks.Tasks.empty());
    EXPECT_EQ(F->Tasks.Calls.contains("remove 0"), c.Removed);
    const QStringList log = Form().LogText().split('\n');
    const QString line = log[log.size() - 2];
    EXPECT_TRUE(line.startsWith(c.LogStart)) << line.toStdString();
    EXPECT_GT(line.size(), QString(c.LogStart).size()); // the reason follows
    EXPECT_EQ(log.last(), "");
    ExpectCommands(Form(), wsEmpty, false);
  }
  EXPECT_TRUE(Form().statusBar()->currentMessage().startsWith("已添加 0 个文件，1 个文件不能转换"));

  // Libraries that cannot be loaded: the reason is logged and no dialog is shown.
  F->Tasks.LibrariesLoad = false;
  F->Dialogs.Titles.clear();
  F->Dialogs.Files << F->MakeFile("fine.wav");
  Form().btnAddClick();
  EXPECT_TRUE(F->Dialogs.Titles.isEmpty());
  EXPECT_TRUE(Form().LogText().endsWith("Load library libavcodec.so.59 error: not found"));
  EXPECT_EQ(Form().JobCount(), 0);
}

TEST_F(WindowBindingTest, ProfilesReachRowsAndTheRecordsOfTheStart) {
  const struct {
    int Category, Profile;
    const char *Output, *NoVideo, *Target, *Norm;
    std::string Record;
  } cases[] = {
      {2, 0, "x.mp3", "True", "", "", // MP3 - MPEG Layer-3音频格式
       "vcodec= vpre= tag= s= vb=-1000 r= aspect= acodec=libmp3lame ac=2 ar=44100 ab=128000 "
       "vol=256 novideo=1 target=0 norm=0 ext=.mp3"},
      {2, 12, "x.amr", "True", "", "", // AMR-手机音频格式, 7.4 kbps
       "vcodec= vpre= tag= s= vb=-1000 r= aspect= acodec=libopencore_amrnb ac=1 ar=8000 ab=7400 "
       "vol=256 novideo=1 target=0 norm=0 ext=.amr"},
      {1, 11, "x.mpg", "False", "dvd", "PAL", // DVD - 视频格式
       "vcodec= vpre= tag= s=704*480 vb=1200000 r=29.97 aspect= acodec= ac=-1 ar=44100 ab=128000 "
       "vol=256 novideo=0 target=3 norm=1 ext="},
      {0, 4, "x.mp4", "False", "", "", // H.264高清的MP4视频: libx264 brings its preset
       "vcodec=libx264 vpre=libx264-default tag= s=1280*720 vb=1500000 r=29.97 aspect= "
       "acodec=libfaac ac=2 ar=48000 ab=128000 vol=256 novideo=0 target=0 norm=0 ext=.mp4"},
      {5, 10, "x.avi", "False", "", "", // iPad 高清AVI视频: a DivX tag
       "vcodec=mpeg4 vpre= tag=DX50 s=1280*720 vb=1200000 r=29.97 aspect= acodec=libfaac ac=2 "
       "ar=44100 ab=128000 vol=256 novideo=0 target=0 norm=0 ext=.avi"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Record);
    Form().btnClearClick();
    ChooseProfile(c.Category, c.Profile);
    QTreeWidgetItem *row = AddOne(F->MakeFile("x.wav"));
    EXPECT_EQ(row->text(Col(jcOutputFile)), c.Output);
    EXPECT_EQ(row->text(Col(jcDisableVideo)), c.NoVideo);
    EXPECT_EQ(row->text(Col(jcTargetType)), c.Target);
    EXPECT_EQ(row->text(Col(jcNormType)), c.Norm);
    EXPECT_EQ(row->text(Col(jcCategoryCode)), QString::number((c.Category + 1) * 100 + c.Profile));

    // Two starts without changes build the same records.
    F->Tasks.OnStop = [this] { Form().ShowTaskTermination(-1, true, false, QString()); };
    Form().btnStartClick();
    ASSERT_EQ(F->Tasks.Tasks.size(), 1u);
    EXPECT_EQ(RecordText(F->Tasks.Tasks[0].Output), c.Record);
    EXPECT_EQ(QString::fromStdString(F->Tasks.Tasks[0].Output.FileName),
              Form().FileOutPutPath + "/" + c.Output);
    Form().btnStopClick();
    Form().btnStart->click();
    ASSERT_EQ(F->Tasks.Tasks.size(), 1u);
    EXPECT_EQ(RecordText(F->Tasks.Tasks[0].Output), c.Record);
    EndRun();
  }
}

TEST_F(WindowBindingTest, ProfileChangeRewritesOnlyTheSelectedRow) {
  AddOne(F->MakeFile("other.wav"));
  QTreeWidgetItem *row = AddOne(F->MakeFile("clip.wav"));
  const QStringList other = RowTexts(Form().Job(0));
  ASSERT_EQ(Form().SelectedJob(), row);

  ChooseProfile(1, 11); // DVD - 视频格式
  EXPECT_EQ(row->text(Col(jcTargetType)), "dvd");
  EXPECT_EQ(row->text(Col(jcNormType)), "PAL");
  EXPECT_EQ(row->text(Col(jcOutputFile)), "clip.mpg");
  EXPECT_EQ(row->text(Col(jcCategoryCode)), "211");
  EXPECT_EQ(row->text(Col(jcChoiceCode)), DefaultChoiceCode(1, 11));
  EXPECT_EQ(row->text(Col(jcDisableVideo)), "False");
  EXPECT_EQ(RowTexts(Form().Job(0)), other);

  ChooseProfile(2, 0); // MP3: the row drops its video and its target
  EXPECT_EQ(row->text(Col(jcDisableVideo)), "True");
  EXPECT_EQ(row->text(Col(jcVideoBitrate)), "-1000");
  EXPECT_EQ(row->text(Col(jcFrameSize)), "");
  EXPECT_EQ(row->text(Col(jcTargetType)), "");
  EXPECT_EQ(row->text(Col(jcOutputFile)), "clip.mp3");

  // With no row selected a profile change touches no row.
  const QStringList before = RowTexts(row);
  Form().lvFiles->clearSelection();
  ChooseProfile(9, 1);
  EXPECT_EQ(RowTexts(row), before);
  EXPECT_EQ(RowTexts(Form().Job(0)), other);
  ExpectRowsMatchTasks(Form(), F->Tasks);
}

TEST_F(WindowBindingTest, SelectingARowRestoresItsProfileAndChoices) {
  // Row 0: Android手机MPEG-4视频 with the last item of every list.
  ChooseProfile(0, 1);
  TChoiceSelection chosen{};
  for (TChoiceList list : AllChoiceLists) {
    TChangeComboBox *box = Form().ChoiceBox(list);
    chosen[ListIndex(list)] = box->count() - 1;
    box->SetItemIndex(box->count() - 1);
  }
  QString chosenSize = Form().bsSkinComboBox1->currentText();
  if (chosenSize == "保持原分辨率")
    chosenSize.clear();
  AddOne(F->MakeFile("a.wav"));
  const QString code = QString::fromStdString(ChoiceCode(chosen));
  EXPECT_EQ(Form().Job(0)->text(Col(jcChoiceCode)), code);

  // Row 1: MP4视频's third profile with its defaults.
  Form().lvFiles->clearSelection();
  ChooseProfile(8, 2);
  AddOne(F->MakeFile("b.wav"));

  Select(0);
  EXPECT_EQ(Form().bsSkinOfficeComboBox2->ItemIndex(), 0);
  EXPECT_EQ(Form().bsSkinOfficeComboBox1->ItemIndex(), 1);
  for (TChoiceList list : AllChoiceLists)
    EXPECT_EQ(Form().ChoiceBox(list)->ItemIndex(), chosen[ListIndex(list)]) << ListIndex(list);
  EXPECT_EQ(Form().Job(0)->text(Col(jcChoiceCode)), code);
  EXPECT_EQ(Form().Job(0)->text(Col(jcFrameSize)), chosenSize);
  EXPECT_EQ(Form().Job(0)->text(Col(jcCategoryCode)), "101");
  EXPECT_EQ(Form().T_Movie_PLayer_FileName, Form().Job(0)->text(Col(jcInputFile)));

  Select(1);
  EXPECT_EQ(Form().bsSkinOfficeComboBox2->ItemIndex(), 8);
  EXPECT_EQ(Form().bsSkinOfficeComboBox1->ItemIndex(), 2);
  EXPECT_EQ(Form().Job(1)->text(Col(jcChoiceCode)), DefaultChoiceCode(8, 2));

  // A list change with a row selected rewrites that row's field of the code and its column.
  const QStringList row1 = RowTexts(Form().Job(1));
  Select(0);
  Form().bsSkinComboBox2->SetItemIndex(0); // video bit rate
  const QString text = Form().bsSkinComboBox2->currentText();
  EXPECT_EQ(Form().Job(0)->text(Col(jcVideoBitrate)),
            QString::number(KbpsTextToBitrate(text.toStdString())));
  EXPECT_EQ(Form().Job(0)->text(Col(jcChoiceCode)), code.left(2) + "00" + code.mid(4));
  EXPECT_EQ(RowTexts(Form().Job(1)), row1);

  // With no row selected it changes no row.
  Form().lvFiles->clearSelection();
  const QStringList row0 = RowTexts(Form().Job(0));
  Form().bsSkinComboBox9->SetItemIndex(0);
  Form().bsSkinComboBox3->SetItemIndex(0);
  EXPECT_EQ(RowTexts(Form().Job(0)), row0);
  EXPECT_EQ(RowTexts(Form().Job(1)), row1);
}

TEST_F(WindowBindingTest, StartGivesEveryRowAnOutputNothingElseWrites) {
  const QString out = Form().FileOutPutPath;
  AddOne(F->MakeFile("a/clip.wav"));
  // A file of the user's appears under that name after the add.
  QFile mine(out + "/clip.avi");
  ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
  mine.write("the user's");
  mine.close();
  QTreeWidgetItem *second = AddOne(F->MakeFile("b/clip.wav"));
  EXPECT_EQ(second->text(Col(jcOutputFile)), "clip_1.avi");
  // A rename is not checked: both rows now name the user's file.
  Select(1);
  Form().lvFilesDblClick();
  ASSERT_TRUE(Form().CommitRename("clip"));
  ASSERT_EQ(Column(Form(), jcOutputFile), (QStringList{"clip.avi", "clip.avi"}));

  Form().btnStartClick();
  EXPECT_EQ(Column(Form(), jcOutputFile), (QStringList{"clip_1.avi", "clip_2.avi"}));
  ASSERT_EQ(F->Tasks.Tasks.size(), 2u);
  EXPECT_EQ(QString::fromStdString(F->Tasks.Tasks[0].Output.FileName), out + "/clip_1.avi");
  EXPECT_EQ(QString::fromStdString(F->Tasks.Tasks[1].Output.FileName), out + "/clip_2.avi");
  EXPECT_EQ(Form().LogText().count("***Output file name in use, renamed: clip.avi -> "), 2);
  EndRun();
  Form().btnClearClick();

  // Overwriting may replace the user's file, but two jobs never share an output and no job
  // writes over its own input.
  Form().Form5()->rbOverwrite->setChecked(true);
  Form().ChooseOutputFolderCore(F->Dir.path() + "/in");
  const QString input = F->MakeFile("x.avi", "mpeg4_mp3_320x240.avi");
  AddOne(input);
  AddOne(F->MakeFile("a/clip.wav"));
  AddOne(F->MakeFile("b/clip.wav"));
  // The add already keeps clear of the input and of the other rows' outputs.
  EXPECT_EQ(Column(Form(), jcOutputFile), (QStringList{"x_1.avi", "clip.avi", "clip_1.avi"}));
  const QStringList names = {"x", "clip", "clip"};
  for (int i = 0; i < 3; ++i) {
    Select(i);
    Form().lvFilesDblClick();
    ASSERT_TRUE(Form().CommitRename(names[i]));
  }
  Form().btnStartClick();
  EXPECT_EQ(Column(Form(), jcOutputFile), (QStringList{"x_1.avi", "clip_1.avi", "clip.avi"}));
  ExpectRowsMatchTasks(Form(), F->Tasks);
  EndRun();
}

TEST_F(WindowBindingTest, StartStopsWhenTheOutputFolderCannotBeMade) {
  AddOne(F->MakeFile("a.wav"));
  const QString blocker = F->MakeTextFile("blocker");
  Form().FileOutPutPath = blocker + "/out";
  F->Tasks.Calls.clear();
  Form().btnStartClick();
  EXPECT_FALSE(F->Tasks.Calls.contains("start 1"));
  ExpectCommands(Form(), wsReady, true);
  ASSERT_EQ(F->Dialogs.Messages.size(), 1);
  EXPECT_TRUE(F->Dialogs.Messages[0].endsWith(blocker + "/out"));

  // A folder that vanished is made again.
  const QString gone = F->Dir.path() + "/gone/out";
  Form().FileOutPutPath = gone;
  Form().btnStartClick();
  EXPECT_TRUE(QFileInfo(gone).isDir());
  EXPECT_EQ(Form().WindowState(), wsConverting);
}

TEST_F(WindowBindingTest, RowsTasksAndCommandsStayInStepThroughASession) {
  auto check = [this](TWindowState AState, bool AToolbarStart) {
    ExpectRowsMatchTasks(Form(), F->Tasks);
    ExpectCommands(Form(), AState, AToolbarStart);
  };
  check(wsEmpty, false);
  F->Dialogs.FileLists.push_back(
      {F->MakeFile("1.wav"), F->MakeTextFile("junk.avi"), F->MakeFile("3.wav")});
  Form().AddFiles();
  check(wsReady, true);
  ChooseProfile(2, 10); // the selected row becomes FLAC
  check(wsReady, true);
  AddOne(F->MakeFile("4.mp3", "audio.mp3"));
  check(wsReady, true);
  Select(1);
  Form().btnRemoveClick();
  check(wsReady, true);
  Select(1);
  Form().MoveJobUp();
  check(wsReady, true);
  const QString folder = F->Dir.path() + "/folder";
  QDir().mkpath(folder);
  QFile::copy(QString::fromStdString(MediaPath("audio.flac")), folder + "/5.flac");
  F->Dialogs.Folders << folder;
  Form().AddFolder();
  check(wsReady, true);
  EXPECT_EQ(Form().JobCount(), 3);

  Form().btnStartClick();
  check(wsConverting, false);
  EXPECT_EQ(Column(Form(), jcTaskNumber), (QStringList{"1", "2", "3"}));
  Select(2);
  Form().MoveJobUp(); // moving during a run keeps each row's task
  check(wsConverting, false);
  Form().btnPauseClick();
  check(wsPaused, false);
  F->Tasks.OnStop = [this] {
    for (int i = 0; i < 3; ++i)
      Form().ShowTaskTermination(i, false, false, QString());
    Form().ShowTaskTermination(-1, true, false, QString());
  };
  Form().btnStopClick();
  check(wsEnded, true);
  Form().btnClearClick();
  check(wsEmpty, false);
}

} // namespace
