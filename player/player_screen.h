// The screen the player shows its pictures on: a widget the window places where the preview goes.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <memory>
#include <mutex>

// What the player's threads and the widget share. The player converts each shown picture at the
// widget's size and hands it over here; the widget paints it as it stands.
class TScreenSurface {
public:
  // The widget's size as last laid out; any thread.
  QSize Size() const;
  // Makes AImage, placed at ARect inside a screen of the current size, the picture to paint, and
  // asks the widget to repaint. Any thread.
  void Present(const QImage &AImage, const QRect &ARect);
  // Nothing to paint: the widget shows its placeholder again.
  void Clear();
  QImage Picture() const;
  QRect PictureRect() const;
  // Counts Present calls, so a thread can tell a new picture from the one it saw.
  uint64_t Generation() const;

private:
  friend class TPlayerScreen;
  void Attach(QWidget *AWidget, QSize ASize);
  void Detach();
  void SetSize(QSize ASize);
  void Painted();
  void RequestUpdate(); // with FLock held

  mutable std::mutex FLock; // protects every field below
  QImage FImage;
  QRect FRect;
  QSize FImageScreen; // the screen size FRect was computed for
  QSize FSize;
  QWidget *FWidget = nullptr;
  bool FUpdatePosted = false;
  uint64_t FGeneration = 0;
};

class TPlayerScreen : public QWidget {
public:
  explicit TPlayerScreen(QWidget *AParent = nullptr);
  ~TPlayerScreen() override;

  std::shared_ptr<TScreenSurface> Surface() const { return FSurface; }
  // Painted, scaled with its aspect kept, while no picture is shown.
  void SetPlaceholder(const QPixmap &APixmap);
  // The picture painted now (null when none).
  QImage Picture() const { return FSurface->Picture(); }

protected:
  void paintEvent(QPaintEvent *AEvent) override;
  void resizeEvent(QResizeEvent *AEvent) override;

private:
  std::shared_ptr<TScreenSurface> FSurface;
  QPixmap FPlaceholder;
};
