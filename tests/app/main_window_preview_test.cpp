// The preview group of the window over the real player: opening the selected row, the buttons,
// the slider, the end of a file, snapshots and their settings, and closing while previewing.
#include "window_checks.h"

#include "ff_player.h"
#include "player_screen.h"
#include "position_slider.h"
#include "sync_call.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>

#include <chrono>
#include <cstdio>
#include <dirent.h>

using namespace std::chrono_literals;

namespace {

int ThreadCount() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/task")) {
    while (dirent *e = readdir(d))
      n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// "WxH" of a picture file as ffprobe reads it; empty when it cannot.
QString ProbedSize(const QString &AFileName) {
  const QString command = QStringLiteral("ffprobe -v error -select_streams v:0 -show_entries "
                                         "stream=width,height -of csv=s=x:p=0 '%1' 2>/dev/null")
                              .arg(AFileName);
  FILE *p = popen(command.toLocal8Bit().constData(), "r");
  if (p == nullptr)
    return {};
  QByteArray out;
  char buf[128];
  while (fgets(buf, sizeof(buf), p))
    out += buf;
  pclose(p);
  return QString::fromUtf8(out).trimmed();
}

bool WaitFor(const std::function<bool()> &APredicate, std::chrono::milliseconds ATimeout = 15s) {
  return WaitServing(APredicate, ATimeout);
}

class PreviewTest : public MainWindowTest {
protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // The preview as the program has it: with sound.
    Form().FFPlayer->SetDisableAudio(false);
  }
  TFFPlayer &Player() { return *Form().FFPlayer; }
  // Adds a copy of ASample named AName through 添加一个文件; the add selects its row.
  QString AddFile(const QString &AName, const char *ASample = "h264_aac_640x360.mp4") {
    const QString path = F->MakeFile(AName, ASample);
    F->Dialogs.Files << path;
    Form().btnAddClick();
    return path;
  }
  // The play states the window wrote to its log, in order.
  QStringList States() const {
    static const QStringList names = {"Play", "Pause", "Resume", "Step", "Stop", "End"};
    QStringList states;
    for (const QString &line : F->Form->LogText().split(QLatin1Char('\n')))
      if (names.contains(line))
        states << line;
    return states;
  }
  // Waits until the preview has opened AOpens files and stands paused at a picture.
  bool WaitPausedPicture(int AOpens = 1) {
    return WaitFor([this, AOpens] {
      const QStringList s = States();
      const qsizetype play = s.lastIndexOf(QStringLiteral("Play"));
      return s.count(QStringLiteral("Play")) == AOpens &&
             s.indexOf(QStringLiteral("Pause"), play) > play && !Form().Panel6->Picture().isNull();
    });
  }
  // Play, pause, stop and snapshot enabled, and the slider, as one text.
  QString Buttons() {
    TForm1 &f = Form();
    return QStringLiteral("play=%1 pause=%2 stop=%3 snapshot=%4 slider=%5")
        .arg(f.bsSkinButton13->isEnabled())
        .arg(f.bsSkinButton14->isEnabled())
        .arg(f.bsSkinButton15->isEnabled())
        .arg(f.bsSkinButton22->isEnabled())
        .arg(f.bsSkinSlider1->isEnabled());
  }
  void Mouse(QEvent::Type AType, double AFraction) {
    TPositionSlider *s = Form().bsSkinSlider1;
    const QPointF at(s->width() * AFraction, s->height() / 2.0);
    QMouseEvent e(
        AType, at, s->mapToGlobal(at), AType == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
        AType == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(s, &e);
  }
  QString SnapShotFolder() const { return F->Context.Paths.DefaultSnapShotPath; }
  QStringList SnapShots(const QString &AFolder) const {
    return QDir(AFolder).entryList(QDir::Files, QDir::Name);
  }
  QString IniValue(const QString &AKey) const {
    return F->Form->Ini().ReadString(QStringLiteral("SnapShot"), AKey, QStringLiteral("Error"));
  }
  void SetIniValue(const QString &AKey, const QString &AValue) const {
    F->Form->Ini().WriteString(QStringLiteral("SnapShot"), AKey, AValue);
  }
  QAction *CheckedType() {
    for (QAction *a : {Form().BMP1, Form().JPG1, Form().GIF1, Form().PNG1})
      if (a->isChecked())
        return a;
    return nullptr;
  }
};

TEST_F(PreviewTest, SelectingARowOpensItPausedAtItsFirstPicture) {
  EXPECT_EQ(Buttons(), "play=0 pause=0 stop=0 snapshot=0 slider=0");
  const QString clip = AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture()) << Form().LogText().toStdString();
  EXPECT_EQ(States(), QStringList({"Play", "Pause"}));
  EXPECT_TRUE(Player().Paused());
  int64_t pts = -1;
  EXPECT_EQ(Player().CurrentFrame(pts).size(), QSize(640, 360));
  EXPECT_EQ(pts, 0);
  EXPECT_EQ(Buttons(), "play=1 pause=0 stop=1 snapshot=1 slider=1");
  EXPECT_EQ(Form().bsSkinSlider1->maximum(), Form().bsSkinSlider1->width());
  EXPECT_EQ(Form().bsSkinSlider1->value(), 0);
  // The file's facts, once from the add and once from the preview, and the open's line.
  const QString log = Form().LogText();
  EXPECT_EQ(log.count(QStringLiteral("File Name: ") + clip), 2) << log.toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("duration: 3.0")) &&
              log.contains(QStringLiteral(", frame size: 640x360")))
      << log.toStdString();

  // A sound-only file: no picture to take.
  AddFile(QStringLiteral("song.wav"), "audio.wav");
  ASSERT_TRUE(WaitFor([this] { return States().size() == 5; })) << States().join(' ').toStdString();
  EXPECT_EQ(States().mid(2), QStringList({"Stop", "Play", "Pause"}));
  EXPECT_TRUE(Form().LogText().contains(QStringLiteral("frame size: -1x-1")));
  EXPECT_EQ(Buttons(), "play=1 pause=0 stop=1 snapshot=0 slider=1");

  // Back to the first row.
  Select(0);
  ASSERT_TRUE(WaitPausedPicture(3));
  EXPECT_EQ(Form().T_Movie_PLayer_FileName, clip);
  EXPECT_EQ(Buttons(), "play=1 pause=0 stop=1 snapshot=1 slider=1");

  // An empty list previews nothing.
  Form().btnClearClick();
  EXPECT_EQ(States().last(), "Stop");
  EXPECT_TRUE(Player().Paused());
  EXPECT_TRUE(Form().Panel6->Picture().isNull());
  EXPECT_EQ(Buttons(), "play=0 pause=0 stop=0 snapshot=0 slider=0");
}

TEST_F(PreviewTest, AFileThatCannotBePlayedLeavesThePreviewClosedWithTheReasonLogged) {
  AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture());
  const QString gone = AddFile(QStringLiteral("gone.mp4"));
  ASSERT_TRUE(WaitPausedPicture(2));
  // The file goes away after it was added; selecting its row again tries to open it.
  ASSERT_TRUE(QFile::remove(gone));
  Select(0);
  ASSERT_TRUE(WaitPausedPicture(3));
  Select(1);
  EXPECT_EQ(States().last(), "Stop");
  EXPECT_EQ(Buttons(), "play=0 pause=0 stop=0 snapshot=0 slider=0");
  EXPECT_TRUE(Form().Panel6->Picture().isNull());
  const QString reason = QString::fromStdString(Player().LastErrMsg());
  EXPECT_TRUE(reason.contains(QStringLiteral("gone.mp4"))) << reason.toStdString();
  EXPECT_TRUE(Form().LogText().split('\n').contains(reason));
  // The window goes on previewing other rows.
  Select(0);
  ASSERT_TRUE(WaitPausedPicture(4));
}

TEST_F(PreviewTest, PlayPauseStopAndMuteUpdateTheButtons) {
  AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture());

  Form().bsSkinButton13->click();
  EXPECT_FALSE(Player().Paused());
  EXPECT_EQ(Buttons(), "play=0 pause=1 stop=1 snapshot=1 slider=1");
  ASSERT_TRUE(WaitFor([this] { return Form().bsSkinSlider1->value() > 0; }))
      << "positions move the slider";
  EXPECT_EQ(States().last(), "Resume");

  Form().bsSkinButton14->click();
  EXPECT_TRUE(Player().Paused());
  EXPECT_EQ(Buttons(), "play=1 pause=0 stop=1 snapshot=1 slider=1");
  ASSERT_TRUE(WaitFor([this] { return States().last() == "Pause"; }));

  // Stop goes back to the first picture, paused.
  Form().bsSkinButton15->click();
  ASSERT_TRUE(WaitPausedPicture(2));
  EXPECT_EQ(States(), QStringList({"Play", "Pause", "Resume", "Pause", "Stop", "Play", "Pause"}));
  int64_t pts = -1;
  Player().CurrentFrame(pts);
  EXPECT_EQ(pts, 0);
  EXPECT_EQ(Form().bsSkinSlider1->value(), 0);
  EXPECT_EQ(Buttons(), "play=1 pause=0 stop=1 snapshot=1 slider=1");

  // Without a selected row stop does nothing.
  Form().lvFiles->clearSelection();
  Form().lvFiles->setCurrentItem(nullptr);
  const qsizetype before = States().size();
  Form().bsSkinButton15->click();
  WaitFor([] { return false; }, 100ms);
  EXPECT_EQ(States().size(), before);
  EXPECT_FALSE(Player().CurrentFrame().isNull());

  // Mute and sound share one place.
  EXPECT_TRUE(Form().bsSkinButton16->isVisible());
  EXPECT_FALSE(Form().bsSkinButton20->isVisible());
  Form().bsSkinButton16->click();
  EXPECT_TRUE(Player().Mute());
  EXPECT_FALSE(Form().bsSkinButton16->isVisible());
  EXPECT_TRUE(Form().bsSkinButton20->isVisible());
  Form().bsSkinButton20->click();
  EXPECT_FALSE(Player().Mute());
  EXPECT_TRUE(Form().bsSkinButton16->isVisible());
  EXPECT_FALSE(Form().bsSkinButton20->isVisible());
}

TEST_F(PreviewTest, TheSliderSeeksWhileHeldPlaysWhenReleasedAndTheEndRewindsPaused) {
  AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture());
  TPositionSlider *slider = Form().bsSkinSlider1;

  // A press beside the handle takes it there; the paused picture follows.
  Mouse(QEvent::MouseButtonPress, 0.7);
  EXPECT_TRUE(Player().Paused());
  EXPECT_GT(slider->value(), slider->maximum() / 2);
  ASSERT_TRUE(WaitFor([this] {
    int64_t pts = -1;
    Player().CurrentFrame(pts);
    return pts >= 1000000;
  })) << "the picture stays at the start";
  Mouse(QEvent::MouseMove, 0.85);
  Mouse(QEvent::MouseButtonRelease, 0.85);
  const int released = slider->value();
  EXPECT_GT(released, slider->maximum() * 3 / 4);
  EXPECT_FALSE(Player().Paused()) << "releasing plays";
  EXPECT_EQ(Buttons(), "play=0 pause=1 stop=1 snapshot=1 slider=1");

  // Played out from there: End once, then back to the first picture, paused.
  ASSERT_TRUE(WaitFor([this] { return States().contains("End"); }, 5s));
  ASSERT_TRUE(WaitFor([this, slider] {
    return Player().Paused() && Player().CurrentPTS() < 100000 && slider->value() == 0;
  })) << Player().CurrentPTS()
      << " " << slider->value();
  WaitFor([] { return false; }, 300ms);
  EXPECT_EQ(States().count("End"), 1);
  EXPECT_EQ(States().last(), "Pause");
  EXPECT_EQ(Buttons(), "play=1 pause=0 stop=1 snapshot=1 slider=1");
}

TEST_F(PreviewTest, SnapshotsCountUpPerTypeAndAreValidPictures) {
  AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture());
  const QString folder = SnapShotFolder();
  EXPECT_FALSE(QFileInfo::exists(folder));

  const struct {
    QAction *Type; // chosen before the shot; nullptr keeps the stored one
    const char *Stored;
    const char *Written;
  } shots[] = {
      {nullptr, "BMP", "clip_1.bmp"},     {nullptr, "BMP", "clip_2.bmp"},
      {Form().PNG1, "PNG", "clip_1.png"}, {Form().JPG1, "JPG", "clip_1.jpg"},
      {Form().GIF1, "GIF", "clip_1.gif"}, {Form().BMP1, "BMP", "clip_3.bmp"},
  };
  QStringList expected;
  for (const auto &shot : shots) {
    SCOPED_TRACE(shot.Written);
    if (shot.Type)
      shot.Type->trigger();
    Form().bsSkinButton22->click();
    EXPECT_EQ(IniValue(QStringLiteral("Picture")), shot.Stored);
    EXPECT_EQ(CheckedType()->text(), QString::fromLatin1(shot.Stored) + QStringLiteral("文件"));
    expected << shot.Written;
    expected.sort();
    EXPECT_EQ(SnapShots(folder), expected);
    EXPECT_EQ(ProbedSize(folder + '/' + shot.Written), "640x360");
  }
  EXPECT_EQ(IniValue(QStringLiteral("Dir")), folder);

  // A file without picture gives no snapshot.
  AddFile(QStringLiteral("song.wav"), "audio.wav");
  ASSERT_TRUE(WaitFor([this] { return States().size() == 5; }));
  Form().bsSkinButton22->click();
  EXPECT_EQ(SnapShots(folder), expected);
}

TEST_F(PreviewTest, UnknownPictureTypesAreRewrittenAsBmp) {
  AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture());
  Form().PNG1Click();
  int n = 0;
  for (const char *value : {"TIFF", "png", "", "Error"}) {
    SCOPED_TRACE(value);
    // Looking at the settings menu puts the stored type right...
    SetIniValue(QStringLiteral("Picture"), QString::fromLatin1(value));
    Form().JPG1->setChecked(true);
    emit Form().bsSkinPopupMenu2->aboutToShow();
    EXPECT_EQ(IniValue(QStringLiteral("Picture")), "BMP");
    EXPECT_EQ(CheckedType(), Form().BMP1);
    // ...and so does a snapshot.
    SetIniValue(QStringLiteral("Picture"), QString::fromLatin1(value));
    Form().bsSkinButton22->click();
    EXPECT_EQ(IniValue(QStringLiteral("Picture")), "BMP");
    EXPECT_TRUE(QFileInfo::exists(SnapShotFolder() + QStringLiteral("/clip_%1.bmp").arg(++n)));
  }
}

TEST_F(PreviewTest, SnapshotFolderIsMadeChosenAndOpened) {
  AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture());
  // A stored folder whose parents are missing is made.
  const QString nested = F->Dir.path() + QStringLiteral("/shots/a/b");
  SetIniValue(QStringLiteral("Dir"), nested);
  Form().bsSkinButton22->click();
  EXPECT_EQ(SnapShots(nested), QStringList({"clip_1.bmp"}));

  // A folder that cannot be made: nothing is saved and the user is told why.
  const QString blocked = F->MakeTextFile(QStringLiteral("blocked"));
  SetIniValue(QStringLiteral("Dir"), blocked + QStringLiteral("/shots"));
  Form().bsSkinButton22->click();
  ASSERT_EQ(F->Dialogs.Messages.size(), 1);
  EXPECT_TRUE(F->Dialogs.Messages[0].contains(blocked)) << F->Dialogs.Messages[0].toStdString();
  SetIniValue(QStringLiteral("Dir"), nested);

  // Choosing: a cancelled dialog or a missing folder changes nothing, also after the output
  // folder was chosen.
  const QString other = F->Dir.path() + QStringLiteral("/other");
  QDir().mkpath(other);
  Form().ChooseOutputFolderCore(other);
  F->Dialogs.Folders = QStringList({QString(), nested + QStringLiteral("/missing"), other});
  for (const char *expected : {"cancelled", "missing", "chosen"}) {
    SCOPED_TRACE(expected);
    Form().MenuItem2->trigger();
    EXPECT_EQ(F->Dialogs.Titles.last(), "选择输出目录");
    EXPECT_EQ(IniValue(QStringLiteral("Dir")),
              QString::fromLatin1(expected) == "chosen" ? other : nested);
  }

  // An empty value is replaced by the default folder, made and opened.
  SetIniValue(QStringLiteral("Dir"), QString());
  Form().MenuItem1->trigger();
  EXPECT_EQ(F->Actions.Calls.last(), QStringLiteral("open:") + SnapShotFolder());
  EXPECT_TRUE(QFileInfo(SnapShotFolder()).isDir());
  EXPECT_EQ(IniValue(QStringLiteral("Dir")), SnapShotFolder());
}

TEST_F(PreviewTest, ClosingWhilePreviewingLeavesNoThreadAndNoLateEvent) {
  // Once first, so that threads the libraries keep for the process are there already.
  AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture());
  Form().btnClearClick();
  const int threads = ThreadCount();

  AddFile(QStringLiteral("clip.mp4"));
  ASSERT_TRUE(WaitPausedPicture(2));
  Form().bsSkinButton13->click();
  ASSERT_TRUE(WaitFor([this] { return Form().bsSkinSlider1->value() > 0; }));
  const QString log = Form().LogText();
  Form().close();
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_TRUE(Player().Paused());
  WaitFor([] { return false; }, 100ms);
  EXPECT_EQ(Form().LogText(), log) << "no state reached the closing window";
  EXPECT_EQ(F->Tasks.Calls.filter("detach").size(), 1);
}

} // namespace
