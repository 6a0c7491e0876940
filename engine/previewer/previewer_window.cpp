#include "previewer_window.h"

#include "ff_utils.h"
#include "sync_call.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

TPreviewForm::TPreviewForm(std::function<void()> AOnClose)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FOnClose(std::move(AOnClose)) {
  setObjectName(QStringLiteral("PreviewForm"));
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPreviewForm::SetPicture(const QImage &APicture) {
  // A copy of its own: the task goes on writing into its bitmap once the paint returns.
  FPicture = APicture.copy();
  update();
}

void TPreviewForm::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  painter.drawImage(QPoint(0, 0), FPicture);
}

void TPreviewForm::closeEvent(QCloseEvent *AEvent) {
  if (FOnClose)
    FOnClose();
  AEvent->accept();
}

void TPreviewForm::mousePressEvent(QMouseEvent *AEvent) {
  if (AEvent->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(AEvent);
    return;
  }
  AEvent->accept();
  // The window system moves the window as if its caption were held, where it can.
  if (windowHandle() != nullptr && windowHandle()->startSystemMove())
    return;
  FDragging = true;
  FDragOffset = AEvent->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TPreviewForm::mouseMoveEvent(QMouseEvent *AEvent) {
  if (!FDragging || !(AEvent->buttons() & Qt::LeftButton)) {
    QWidget::mouseMoveEvent(AEvent);
    return;
  }
  AEvent->accept();
  move(AEvent->globalPosition().toPoint() - FDragOffset);
}

void TPreviewForm::mouseReleaseEvent(QMouseEvent *AEvent) {
  if (AEvent->button() == Qt::LeftButton)
    FDragging = false;
  QWidget::mouseReleaseEvent(AEvent);
}

TPreviewer::TPreviewer() : FShowFrame([this] { ShowFrame(); }) {}

TPreviewer::~TPreviewer() {
  SyncCall([this] { ClosePreviewForm(); });
}

bool TPreviewer::PaintFrame(const QImage &ABitmap, int AFrameNumber, int64_t APTS) {
  if (FClosed)
    return false;
  FBitmap = &ABitmap;
  FFrameNumber = AFrameNumber;
  FPTS = APTS;
  SyncCall(FShowFrame);
  FBitmap = nullptr;
  return !FClosed;
}

void TPreviewer::ShowFrame() {
  if (FClosed || FBitmap == nullptr)
    return;
  if (FForm == nullptr) {
    FForm = new TPreviewForm([this] { FClosed = true; });
    // The picture fills the window exactly; later pictures keep the first one's size.
    FForm->setFixedSize(FBitmap->size());
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      FForm->move(area.center() - QPoint(FBitmap->width() / 2, FBitmap->height() / 2));
    }
    FForm->show();
  }
  FForm->setWindowTitle(QString::fromStdString(DurationText(FPTS)));
  FForm->SetPicture(*FBitmap);
}

void TPreviewer::ClosePreviewForm() {
  delete FForm;
  FForm = nullptr;
}

TPreviewerFactory PreviewWindowFactory() {
  return [] { return std::make_unique<TPreviewer>(); };
}
