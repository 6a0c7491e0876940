// The preview group: the player on Panel6, its buttons and slider, and snapshots.
#include "main_window.h"

#include "av_probe.h"
#include "ff_player.h"
#include "player_screen.h"
#include "position_slider.h"
#include "snapshot.h"
#include "snapshot_settings.h"
#include "sync_call.h"
#include "system_actions.h"
#include "window_dialogs.h"

#include <QActionGroup>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>

namespace {

const QString KUp = QStringLiteral("UP");
const QString KDown = QStringLiteral("Down");

QIcon PlayerGlyph(const QString &AName, bool AWithDisabled) {
  QIcon icon;
  icon.addPixmap(QPixmap(QStringLiteral(":/glyphs/%1.png").arg(AName)), QIcon::Normal);
  if (AWithDisabled)
    icon.addPixmap(QPixmap(QStringLiteral(":/glyphs/%1_disabled.png").arg(AName)), QIcon::Disabled);
  return icon;
}

const char *StateName(TPlayState AState) {
  switch (AState) {
  case psPlay:
    return "Play";
  case psPause:
    return "Pause";
  case psResume:
    return "Resume";
  case psStep:
    return "Step";
  case psStop:
    return "Stop";
  case psEnd:
    return "End";
  }
  return "";
}

} // namespace

void TForm1::CreatePlayerControls() {
  auto *layout = static_cast<QHBoxLayout *>(pnlPlayerButtons->layout());
  layout->setSpacing(1);
  auto button = [this, layout](const char *AName, const QString &AHint, const QString &AGlyph,
                               bool AWithDisabled) {
    auto *b = new QToolButton(pnlPlayerButtons);
    b->setObjectName(QString::fromLatin1(AName));
    b->setToolTip(AHint);
    b->setIcon(PlayerGlyph(AGlyph, AWithDisabled));
    b->setIconSize(QSize(20, 20));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(b);
    return b;
  };
  bsSkinButton13 = button("bsSkinButton13", QStringLiteral("播放"), "preview_play", true);
  bsSkinButton14 = button("bsSkinButton14", QStringLiteral("暂停"), "preview_pause", true);
  bsSkinButton15 = button("bsSkinButton15", QStringLiteral("停止"), "preview_stop", true);
  bsSkinButton16 = button("bsSkinButton16", QStringLiteral("静音"), "preview_sound", false);
  bsSkinButton20 = button("bsSkinButton20", QStringLiteral("静音"), "preview_muted", false);
  bsSkinButton20->hide();
  layout->addStretch(1);
  bsSkinButton22 = button("bsSkinButton22", QStringLiteral("快照"), "preview_snapshot", true);
  bsSkinButton23 = button("bsSkinButton23", QStringLiteral("设置"), "preview_settings", false);

  connect(bsSkinButton13, &QToolButton::clicked, this, &TForm1::bsSkinButton13Click);
  connect(bsSkinButton14, &QToolButton::clicked, this, &TForm1::bsSkinButton14Click);
  connect(bsSkinButton15, &QToolButton::clicked, this, &TForm1::bsSkinButton15Click);
  connect(bsSkinButton16, &QToolButton::clicked, this, &TForm1::bsSkinButton16Click);
  connect(bsSkinButton20, &QToolButton::clicked, this, &TForm1::bsSkinButton20Click);
  connect(bsSkinButton22, &QToolButton::clicked, this, &TForm1::bsSkinButton22Click);

  bsSkinPopupMenu2 = new QMenu(bsSkinButton23);
  bsSkinPopupMenu2->setObjectName(QStringLiteral("bsSkinPopupMenu2"));
  MenuItem1 =
      bsSkinPopupMenu2->addAction(QStringLiteral("打开快照目录"), this, &TForm1::MenuItem1Click);
  MenuItem2 =
      bsSkinPopupMenu2->addAction(QStringLiteral("设置快照目录"), this, &TForm1::MenuItem2Click);
  bsSkinPopupMenu2->addSeparator();
  QMenu *types = bsSkinPopupMenu2->addMenu(QStringLiteral("快照保存类型"));
  auto *group = new QActionGroup(types);
  auto type = [types, group](const QString &AText, const char *AName) {
    QAction *a = types->addAction(AText);
    a->setObjectName(QString::fromLatin1(AName));
    a->setCheckable(true);
    group->addAction(a);
    return a;
  };
  BMP1 = type(QStringLiteral("BMP文件"), "BMP1");
  JPG1 = type(QStringLiteral("JPG文件"), "JPG1");
  GIF1 = type(QStringLiteral("GIF文件"), "GIF1");
  PNG1 = type(QStringLiteral("PNG文件"), "PNG1");
  BMP1->setChecked(true);
  connect(BMP1, &QAction::triggered, this, &TForm1::BMP1Click);
  connect(JPG1, &QAction::triggered, this, &TForm1::JPG1Click);
  connect(GIF1, &QAction::triggered, this, &TForm1::GIF1Click);
  connect(PNG1, &QAction::triggered, this, &TForm1::PNG1Click);
  // The menu drops down on the press and shows the stored choice.
  bsSkinButton23->setMenu(bsSkinPopupMenu2);
  bsSkinButton23->setPopupMode(QToolButton::InstantPopup);
  bsSkinButton23->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
  connect(bsSkinPopupMenu2, &QMenu::aboutToShow, this, &TForm1::bsSkinButton23Click);

  bsSkinSlider1->setSingleStep(5);
  connect(bsSkinSlider1, &TPositionSlider::MouseDown, this, &TForm1::bsSkinSlider1MouseDown);
  connect(bsSkinSlider1, &TPositionSlider::MouseUp, this, &TForm1::bsSkinSlider1MouseUp);
  connect(bsSkinSlider1, &QSlider::valueChanged, this, [this] {
    // While held, the picture follows the slider; a move made while the last seek is still
    // under way is skipped, the release seeks to where the slider ends.
    if (bsSkinSlider1_down_UP == KDown && !FTrackChanging && FFPlayer)
      FFPlayer->Seek(SliderTime(), {}, false);
  });
}

void TForm1::PreparePreviewPlayer() {
  FPreviewProbe = std::make_unique<TAVProbe>(this);
  FFPlayer = std::make_unique<TFFPlayer>(this);
  // The settings in force for the preview.
  FFPlayer->SetAudioDriver(adDefault);
  FFPlayer->SetVideoDriver(vdDefault);
  FFPlayer->SetAspectRatio(0);
  FFPlayer->SetAudioVolume(128);
  FFPlayer->SetHook(false);
  FFPlayer->SetTriggerEventInMainThread(true);
  FFPlayer->SetOnFileOpen([this](TCustomPlayer *ASender, int64_t ADuration, int AWidth, int AHeight,
                                 int &AScreenWidth, int &AScreenHeight) {
    FFPlayerFileOpen(ASender, ADuration, AWidth, AHeight, AScreenWidth, AScreenHeight);
  });
  FFPlayer->SetOnPosition(
      [this](TCustomPlayer *ASender, int64_t APTS) { FFPlayerPosition(ASender, APTS); });
  FFPlayer->SetOnState(
      [this](TCustomPlayer *ASender, TPlayState AState) { FFPlayerState(ASender, AState); });
  Panel6->SetPlaceholder(QPixmap(QStringLiteral(":/glyphs/preview_screen.png")));
  bsSkinSlider1_down_UP = KUp;
  UpdatePlayerButtons();
}

void TForm1::PreviewOpen(const QString &) {
  Button31Click();
}

void TForm1::PreviewStop() {
  if (FFPlayer)
    FFPlayer->Stop(true);
  FPreviewing = false;
  FPreviewPicture = false;
  UpdatePlayerButtons();
}

void TForm1::PreviewSliderReset() {
  SetSliderPosition(0);
}

void TForm1::DetachPlayerEvents() {
  if (!FFPlayer)
    return;
  FFPlayer->SetOnFileOpen(nullptr);
  FFPlayer->SetOnPosition(nullptr);
  FFPlayer->SetOnState(nullptr);
  FFPlayer->SetOnHook(nullptr);
}

void TForm1::Button31Click() {
  if (!FFPlayer->AVLibLoaded() && !FFPlayer->LoadAVLib(FPaths.LibraryFolder().toStdString())) {
    AppendLog(QString::fromStdString(FFPlayer->LastErrMsg()));
    return;
  }
  FScreenControl = Panel6;
  FFPlayer->SetAudioDriver(adDefault);
  FFPlayer->SetVideoDriver(vdDefault);
  OpenPreview(T_Movie_PLayer_FileName);
}

void TForm1::OpenPreview(const QString &AFileName) {
  FPreviewPicture = false;
  FPreviewing = FFPlayer->Open(AFileName.toStdString(), Panel6, true);
  if (!FPreviewing)
    AppendLog(QString::fromStdString(FFPlayer->LastErrMsg()));
  UpdatePlayerButtons();
}

void TForm1::FFPlayerFileOpen(TCustomPlayer *, int64_t ADuration, int AFrameWidth, int AFrameHeight,
                              int &AScreenWidth, int &AScreenHeight) {
  // The player reads the file on its own threads; the facts for the log come from a prober
  // of the window's, which holds the file only for this.
  try {
    if (FPreviewProbe->LoadFile(FFPlayer->FileName())) {
      QString info = QString::fromStdString(FPreviewProbe->FileInfoText());
      info.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      if (info.endsWith(QLatin1Char('\n')))
        info.chop(1);
      AppendLog(info);
    }
  } catch (const std::exception &e) {
    AppendLog(QString::fromStdString(e.what()));
  }
  FPreviewProbe->CloseFile();
  AppendLog(QString::asprintf("duration: %f, frame size: %dx%d", double(ADuration) / 1000000.0,
                              AFrameWidth, AFrameHeight));
  if (FScreenControl) {
    AScreenWidth = FScreenControl->width();
    AScreenHeight = FScreenControl->height();
  } else if (QScreen *screen = QGuiApplication::primaryScreen()) {
    AScreenWidth = screen->size().width();
    AScreenHeight = screen->size().height();
  }
  FDuration = ADuration;
  FPreviewPicture = AFrameWidth > 0 && AFrameHeight > 0;
  FTrackChanging = true;
  bsSkinSlider1->setSingleStep(5);
  bsSkinSlider1->setMaximum(std::max(1, bsSkinSlider1->width()));
  bsSkinSlider1->setValue(0);
  FTrackChanging = false;
}

void TForm1::FFPlayerPosition(TCustomPlayer *, int64_t APTS) {
  if (bsSkinSlider1_down_UP == KDown)
    return;
  if (APTS >= 0 && FDuration > 0)
    SetSliderPosition(int(std::min<int64_t>(int64_t(bsSkinSlider1->maximum()) * APTS / FDuration,
                                            bsSkinSlider1->maximum())));
}

void TForm1::FFPlayerState(TCustomPlayer *, TPlayState AState) {
  AppendLog(QString::fromLatin1(StateName(AState)));
  switch (AState) {
  case psStop:
    FPreviewing = false;
    FPreviewPicture = false;
    // The panel shows its own picture again.
    Panel6->update();
    break;
  case psEnd:
    // A finished preview stands at its first picture.
    FFPlayer->Seek(int64_t(0), {sfAny}, false);
    FFPlayer->Pause();
    break;
  default:
    // The window never stays on top: the setting that would ask for it is off.
    break;
  }
  UpdatePlayerButtons();
}

void TForm1::UpdatePlayerButtons() {
  const bool paused = !FFPlayer || FFPlayer->Paused();
  bsSkinButton13->setEnabled(FPreviewing && paused);
  bsSkinButton14->setEnabled(FPreviewing && !paused);
  bsSkinButton15->setEnabled(FPreviewing);
  bsSkinButton22->setEnabled(FPreviewing && FPreviewPicture);
  bsSkinSlider1->setEnabled(FPreviewing && FDuration > 0);
}

void TForm1::bsSkinButton13Click() {
  FFPlayer->Resume();
  UpdatePlayerButtons();
  lvFiles->setFocus();
}

void TForm1::bsSkinButton14Click() {
  FFPlayer->Pause();
  UpdatePlayerButtons();
  lvFiles->setFocus();
}

void TForm1::bsSkinButton15Click() {
  if (SelectedJob() == nullptr)
    return;
  try {
    FFPlayer->Stop(true);
    OpenPreview(T_Movie_PLayer_FileName);
    lvFiles->setFocus();
  } catch (const std::exception &) {
    PreviewStop();
  }
}

void TForm1::bsSkinButton16Click() {
  FFPlayer->SetMute(true);
  bsSkinButton20->show();
  bsSkinButton16->hide();
}

void TForm1::bsSkinButton20Click() {
  FFPlayer->SetMute(false);
  bsSkinButton16->show();
  bsSkinButton20->hide();
}

void TForm1::SetSliderPosition(int AValue) {
  FTrackChanging = true;
  bsSkinSlider1->setValue(AValue);
  FTrackChanging = false;
}

int64_t TForm1::SliderTime() const {
  const int maximum = std::max(1, bsSkinSlider1->maximum());
  return FDuration * bsSkinSlider1->value() / maximum;
}

void TForm1::bsSkinSlider1MouseDown() {
  bsSkinSlider1_down_UP = KDown;
  FFPlayer->Pause();
  UpdatePlayerButtons();
}

void TForm1::bsSkinSlider1MouseUp() {
  FFPlayer->Pause();
  const int64_t target = SliderTime();
  // A seek made while dragging may still be under way; this one, the last, must not be lost.
  if (!FFPlayer->Seek(target, {}, false))
    WaitServing([&] { return FFPlayer->Seek(target, {}, false) || !FPreviewing; },
                std::chrono::seconds(1));
  FFPlayer->Resume();
  bsSkinSlider1_down_UP = KUp;
  UpdatePlayerButtons();
}

QString TForm1::SnapShotFolder() {
  const QString folder = ReadSnapShotDir(FIni, FPaths.DefaultSnapShotPath);
  // A folder that cannot be made shows when the picture is saved into it.
  QDir().mkpath(folder);
  return folder;
}

TPictureFormat TForm1::SnapShotFormat() {
  TPictureFormat format = pfBMP;
  PictureFormatFromText(ReadSnapShotPicture(FIni), format);
  QAction *items[] = {BMP1, JPG1, GIF1, PNG1};
  items[format]->setChecked(true);
  return format;
}

void TForm1::bsSkinButton22Click() {
  const QImage picture = FFPlayer->CurrentFrame().copy();
  const QString folder = SnapShotFolder();
  const TPictureFormat format = SnapShotFormat();
  if (picture.width() <= 0)
    return;
  QString error;
  const QString saved =
      SaveSnapShot(picture, folder, SnapShotBaseName(T_Movie_PLayer_FileName), format, &error);
  if (saved.isEmpty()) {
    // Nothing was written: the user is told why.
    AppendLog(error);
    FDialogs->Message(this, error);
    return;
  }
  statusBar()->showMessage(QStringLiteral("快照已保存：") + QDir::toNativeSeparators(saved), 5000);
}

void TForm1::bsSkinButton23Click() {
  SnapShotFormat();
}

void TForm1::MenuItem1Click() {
  FActions->OpenFolder(SnapShotFolder());
}

void TForm1::MenuItem2Click() {
  MenuItem2ClickCore(FDialogs->ChooseFolder(this, QStringLiteral("选择输出目录"),
                                            ReadSnapShotDir(FIni, FPaths.DefaultSnapShotPath)));
}

void TForm1::MenuItem2ClickCore(const QString &AFolder) {
  if (AFolder.isEmpty() || !QFileInfo(AFolder).isDir())
    return;
  WriteSnapShotDir(FIni, AFolder);
}

void TForm1::ChooseSnapShotFormat(TPictureFormat AFormat) {
  WriteSnapShotPicture(FIni, PictureFormatText(AFormat));
  QAction *items[] = {BMP1, JPG1, GIF1, PNG1};
  items[AFormat]->setChecked(true);
}

void TForm1::BMP1Click() {
  ChooseSnapShotFormat(pfBMP);
}

void TForm1::JPG1Click() {
  ChooseSnapShotFormat(pfJPG);
}

void TForm1::GIF1Click() {
  ChooseSnapShotFormat(pfGIF);
}

void TForm1::PNG1Click() {
  ChooseSnapShotFormat(pfPNG);
}
