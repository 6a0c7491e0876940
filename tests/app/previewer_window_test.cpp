// The live preview window: made on the first picture with that picture's size, captioned with
// the picture's time, painted from a worker while the main thread serves, closed for good by the
// user, dragged by its picture, removed on the main thread.
#include "previewer_window.h"
#include "sync_call.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

QImage Picture(int AWidth, int AHeight, QColor AColor) {
  QImage image(AWidth, AHeight, QImage::Format_RGB888);
  image.fill(AColor);
  return image;
}

// PaintFrame on a worker, as the task's video path calls it, while the main thread serves.
bool PaintFromWorker(TPreviewer &APreviewer, const QImage &APicture, int AFrame, int64_t APTS) {
  bool shown = false;
  bool done = false;
  std::thread worker([&] {
    shown = APreviewer.PaintFrame(APicture, AFrame, APTS);
    SyncCall([&] { done = true; });
  });
  EXPECT_TRUE(WaitServing([&] { return done; }, 10s));
  worker.join();
  return shown;
}

// A mouse event at AGlobal, in the widget's coordinates of the moment (the window may move).
void SendMouse(QWidget *AWidget, QEvent::Type AType, QPoint AGlobal, Qt::MouseButtons AButtons) {
  const QPointF local = AWidget->mapFromGlobal(QPointF(AGlobal));
  QMouseEvent event(AType, local, QPointF(AGlobal),
                    AType == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, AButtons,
                    Qt::NoModifier);
  QApplication::sendEvent(AWidget, &event);
}

TEST(PreviewerWindow, FirstPictureMakesAWindowOfItsSizeCaptionedWithItsTime) {
  TPreviewer previewer;
  EXPECT_EQ(previewer.Form(), nullptr); // nothing before the first picture
  ASSERT_TRUE(PaintFromWorker(previewer, Picture(160, 90, Qt::red), 0, 0));
  TPreviewForm *form = previewer.Form();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->size(), QSize(160, 90));
  EXPECT_EQ(form->windowTitle(), "00:00:00.000");
  EXPECT_TRUE(form->windowFlags() & Qt::Tool);
  EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMinMaxButtonsHint);
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE((form->geometry().center() - area.center()).manhattanLength(), 2);
  EXPECT_EQ(form->Picture().pixelColor(5, 5), QColor(Qt::red));

  // Later pictures keep the window's size; the caption follows their time.
  ASSERT_TRUE(PaintFromWorker(previewer, Picture(320, 240, Qt::blue), 7, 65'120'000));
  EXPECT_EQ(previewer.Form(), form);
  EXPECT_EQ(form->size(), QSize(160, 90));
  EXPECT_EQ(form->windowTitle(), "00:01:05.120");
  EXPECT_EQ(form->Picture().pixelColor(5, 5), QColor(Qt::blue));
}

TEST(PreviewerWindow, AClosedWindowRefusesEveryLaterPicture) {
  TPreviewer previewer;
  ASSERT_TRUE(PaintFromWorker(previewer, Picture(64, 48, Qt::green), 0, 0));
  QPointer<TPreviewForm> form = previewer.Form();
  ASSERT_TRUE(form->close());
  EXPECT_TRUE(previewer.Closed());
  EXPECT_FALSE(PaintFromWorker(previewer, Picture(64, 48, Qt::green), 1, 40'000));
  EXPECT_FALSE(form->isVisible()); // not shown again
  EXPECT_EQ(form->windowTitle(), "00:00:00.000");
}

TEST(PreviewerWindow, DraggingThePictureMovesTheWindow) {
  TPreviewer previewer;
  ASSERT_TRUE(PaintFromWorker(previewer, Picture(200, 100, Qt::gray), 0, 0));
  TPreviewForm *form = previewer.Form();
  const QPoint start = form->pos();
  const QPoint grip = form->mapToGlobal(QPoint(50, 40));
  SendMouse(form, QEvent::MouseButtonPress, grip, Qt::LeftButton);
  SendMouse(form, QEvent::MouseMove, grip + QPoint(30, -20), Qt::LeftButton);
  SendMouse(form, QEvent::MouseMove, grip + QPoint(40, 20), Qt::LeftButton);
  EXPECT_EQ(form->pos() - start, QPoint(40, 20));
  SendMouse(form, QEvent::MouseButtonRelease, grip + QPoint(40, 20), Qt::NoButton);
  const QPoint dropped = form->pos();
  SendMouse(form, QEvent::MouseMove, grip, Qt::NoButton); // no button held: no drag
  EXPECT_EQ(form->pos(), dropped);
}

TEST(PreviewerWindow, EachTaskHasItsOwnWindowRemovedOnTheMainThread) {
  auto first = std::make_unique<TPreviewer>();
  auto second = std::make_unique<TPreviewer>();
  ASSERT_TRUE(PaintFromWorker(*first, Picture(64, 48, Qt::red), 0, 0));
  ASSERT_TRUE(PaintFromWorker(*second, Picture(80, 60, Qt::blue), 0, 0));
  QPointer<TPreviewForm> a = first->Form();
  QPointer<TPreviewForm> b = second->Form();
  ASSERT_TRUE(a && b);
  EXPECT_NE(a.data(), b.data());
  // Freed on a worker, as the video path frees it: the window goes on the main thread.
  bool done = false;
  std::thread worker([&] {
    first.reset();
    SyncCall([&] { done = true; });
  });
  EXPECT_TRUE(WaitServing([&] { return done; }, 10s));
  worker.join();
  EXPECT_TRUE(a.isNull());
  EXPECT_FALSE(b.isNull());
  second.reset();
  EXPECT_TRUE(b.isNull());
}

} // namespace
