#include "position_slider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

TPositionSlider::TPositionSlider(QWidget *AParent) : QSlider(Qt::Horizontal, AParent) {
  setFocusPolicy(Qt::NoFocus);
}

void TPositionSlider::mousePressEvent(QMouseEvent *AEvent) {
  if (AEvent->button() != Qt::LeftButton || FPressed) {
    AEvent->ignore();
    return;
  }
  FPressed = true;
  emit MouseDown();
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect handle =
      style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  if (!handle.contains(AEvent->position().toPoint())) {
    // Jump so that the handle lies under the pointer; the press below then drags it.
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int span = groove.width() - handle.width();
    const int x = AEvent->position().toPoint().x() - groove.x() - handle.width() / 2;
    setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), x, span, option.upsideDown));
  }
  QSlider::mousePressEvent(AEvent);
}

void TPositionSlider::mouseReleaseEvent(QMouseEvent *AEvent) {
  if (AEvent->button() != Qt::LeftButton || !FPressed) {
    AEvent->ignore();
    return;
  }
  QSlider::mouseReleaseEvent(AEvent);
  FPressed = false;
  emit MouseUp();
}

void TPositionSlider::wheelEvent(QWheelEvent *AEvent) {
  AEvent->ignore();
}

void TPositionSlider::keyPressEvent(QKeyEvent *AEvent) {
  AEvent->ignore();
}
