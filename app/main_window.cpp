#include "main_window.h"

#include <QLabel>

TForm1::TForm1(QWidget *AParent) : QMainWindow(AParent) {
  setWindowTitle(QStringLiteral("凌川安卓手机格式转换器"));
  resize(803, 541);
  auto *caption = new QLabel(windowTitle(), this);
  caption->setAlignment(Qt::AlignCenter);
  QFont font = caption->font();
  font.setPointSize(20);
  caption->setFont(font);
  setCentralWidget(caption);
}
