// The live preview window of one task: a small tool window, always on top, that shows the
// task's encoded pictures while it converts and can be dragged by any point of its picture.
#pragma once

#include "previewer.h"

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>

// The window itself; lives on the main thread.
class TPreviewForm : public QWidget {
  Q_OBJECT
public:
  // AOnClose runs when the user closes the window.
  explicit TPreviewForm(std::function<void()> AOnClose);
  void SetPicture(const QImage &APicture);
  const QImage &Picture() const { return FPicture; }

protected:
  void paintEvent(QPaintEvent *AEvent) override;
  void closeEvent(QCloseEvent *AEvent) override;
  void mousePressEvent(QMouseEvent *AEvent) override;
  void mouseMoveEvent(QMouseEvent *AEvent) override;
  void mouseReleaseEvent(QMouseEvent *AEvent) override;

private:
  std::function<void()> FOnClose;
  QImage FPicture;
  bool FDragging = false;
  QPoint FDragOffset; // from the window's top-left corner to the pressed point
};

class TPreviewer : public TPreviewerBase {
public:
  TPreviewer();
  // Removes the window on the main thread.
  ~TPreviewer() override;
  TPreviewer(const TPreviewer &) = delete;
  TPreviewer &operator=(const TPreviewer &) = delete;

  // Shows ABitmap on the main thread and returns after it was shown; false once the user has
  // closed the window. The first picture makes the window, of its size.
  bool PaintFrame(const QImage &ABitmap, int AFrameNumber, int64_t APTS) override;
  bool Closed() const { return FClosed.load(); }
  // The window, or null before the first picture; main thread only.
  TPreviewForm *Form() const { return FForm; }

private:
  void ShowFrame();
  void ClosePreviewForm();

  TPreviewForm *FForm = nullptr; // main thread only
  std::atomic<bool> FClosed{false};
  // The picture being painted: set by the worker, read by ShowFrame while the worker waits.
  const QImage *FBitmap = nullptr;
  int FFrameNumber = 0;
  int64_t FPTS = 0;
  std::function<void()> FShowFrame; // made once, so a picture allocates no call
};

// Makes a TPreviewer for each task that shows previews.
TPreviewerFactory PreviewWindowFactory();
