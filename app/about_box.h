// The about box, shown modally by 关于软件.
#pragma once

#include <QDialog>

class TForm2 : public QDialog {
  Q_OBJECT
public:
  explicit TForm2(QWidget *AParent = nullptr);
};
