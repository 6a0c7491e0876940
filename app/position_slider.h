// The preview's position slider: a press anywhere on it grabs the handle there, and the press
// and the release are reported apart, so the window can hold the preview while it is dragged.
#pragma once

#include <QSlider>

class TPositionSlider : public QSlider {
  Q_OBJECT
public:
  explicit TPositionSlider(QWidget *AParent = nullptr);

signals:
  // Before the value follows the press.
  void MouseDown();
  // After the value has settled.
  void MouseUp();

protected:
  void mousePressEvent(QMouseEvent *AEvent) override;
  void mouseReleaseEvent(QMouseEvent *AEvent) override;
  // The wheel and the keys would move the value without a press; the position only changes by
  // the mouse.
  void wheelEvent(QWheelEvent *AEvent) override;
  void keyPressEvent(QKeyEvent *AEvent) override;

private:
  bool FPressed = false;
};
