#include "about_box.h"

#include "app_icon.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TForm2::TForm2(QWidget *AParent) : QDialog(AParent) {
  setObjectName(QStringLiteral("Form2"));
  setWindowTitle(QStringLiteral("关于软件"));

  auto *picture = new QLabel(this);
  picture->setPixmap(AppIcon().pixmap(64, 64));
  picture->setAlignment(Qt::AlignTop);

  auto *name = new QLabel(QStringLiteral("凌川安卓手机格式转换器"), this);
  QFont font = name->font();
  font.setPointSizeF(font.pointSizeF() * 1.4);
  font.setBold(true);
  name->setFont(font);
  auto *version = new QLabel(QStringLiteral("版本 ") + QStringLiteral(LC_VERSION), this);
  auto *text = new QLabel(QStringLiteral("把视频和音频文件批量转换成手机、播放器和电脑可以播放的"
                                         "格式。\n添加文件，选择输出格式，点击“开始”即可。"),
                          this);
  text->setWordWrap(true);

  auto *texts = new QVBoxLayout;
  texts->addWidget(name);
  texts->addWidget(version);
  texts->addSpacing(8);
  texts->addWidget(text);
  texts->addStretch(1);
  auto *top = new QHBoxLayout;
  top->addWidget(picture);
  top->addSpacing(12);
  top->addLayout(texts, 1);

  auto *buttons = new QDialogButtonBox(this);
  buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setFixedSize(380, 180);
}
