#include "player_screen.h"

#include <QPainter>
#include <QResizeEvent>

QSize TScreenSurface::Size() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FSize;
}

void TScreenSurface::RequestUpdate() {
  if (FWidget == nullptr || FUpdatePosted)
    return;
  FUpdatePosted = true;
  // Posted while FLock is held: the widget detaches under the same lock before it goes away.
  // By name, so that nothing of ours crosses the threads inside the library's queue.
  QMetaObject::invokeMethod(FWidget, "update", Qt::QueuedConnection);
}

void TScreenSurface::Present(const QImage &AImage, const QRect &ARect) {
  std::lock_guard<std::mutex> lock(FLock);
  FImage = AImage;
  FRect = ARect;
  FImageScreen = FSize;
  FGeneration++;
  RequestUpdate();
}

void TScreenSurface::Clear() {
  std::lock_guard<std::mutex> lock(FLock);
  FImage = QImage();
  FRect = QRect();
  FGeneration++;
  RequestUpdate();
}

QImage TScreenSurface::Picture() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FImage;
}

QRect TScreenSurface::PictureRect() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FRect;
}

uint64_t TScreenSurface::Generation() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FGeneration;
}

void TScreenSurface::Attach(QWidget *AWidget, QSize ASize) {
  std::lock_guard<std::mutex> lock(FLock);
  FWidget = AWidget;
  FSize = ASize;
}

void TScreenSurface::Detach() {
  std::lock_guard<std::mutex> lock(FLock);
  FWidget = nullptr;
}

void TScreenSurface::SetSize(QSize ASize) {
  std::lock_guard<std::mutex> lock(FLock);
  FSize = ASize;
}

void TScreenSurface::Painted() {
  std::lock_guard<std::mutex> lock(FLock);
  FUpdatePosted = false;
}

TPlayerScreen::TPlayerScreen(QWidget *AParent)
    : QWidget(AParent), FSurface(std::make_shared<TScreenSurface>()) {
  setFocusPolicy(Qt::ClickFocus); // a click on the picture gives the screen the keyboard focus
  FSurface->Attach(this, size());
}

TPlayerScreen::~TPlayerScreen() {
  FSurface->Detach();
}

void TPlayerScreen::SetPlaceholder(const QPixmap &APixmap) {
  FPlaceholder = APixmap;
  update();
}

void TPlayerScreen::resizeEvent(QResizeEvent *AEvent) {
  FSurface->SetSize(AEvent->size());
  QWidget::resizeEvent(AEvent);
}

void TPlayerScreen::paintEvent(QPaintEvent *) {
  FSurface->Painted();
  QImage image;
  QRect target;
  QSize made;
  {
    std::lock_guard<std::mutex> lock(FSurface->FLock);
    image = FSurface->FImage;
    target = FSurface->FRect;
    made = FSurface->FImageScreen;
  }
  QPainter p(this);
  if (image.isNull()) {
    if (!FPlaceholder.isNull()) {
      QSize s = FPlaceholder.size().scaled(size(), Qt::KeepAspectRatio);
      QRect r(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s);
      p.drawPixmap(r, FPlaceholder);
    }
    return;
  }
  p.fillRect(rect(), Qt::black);
  // Made for another size: stretch until the player converts the next picture for this one.
  if (made.isValid() && made != size() && made.width() > 0 && made.height() > 0) {
    const double sx = double(width()) / made.width();
    const double sy = double(height()) / made.height();
    target = QRect(int(target.x() * sx), int(target.y() * sy), int(target.width() * sx),
                   int(target.height() * sy));
  }
  p.drawImage(target, image);
}
