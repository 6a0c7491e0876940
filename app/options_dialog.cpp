#include "options_dialog.h"

#include "stored_options.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString KSection = QStringLiteral("Options");

QGroupBox *Group(const QString &ACaption, std::initializer_list<QWidget *> AControls,
                 QWidget *AParent) {
  auto *box = new QGroupBox(ACaption, AParent);
  auto *layout = new QVBoxLayout(box);
  for (QWidget *w : AControls)
    layout->addWidget(w);
  layout->addStretch(1);
  return box;
}

} // namespace

TForm5::TForm5(const TIniFile &AIni, std::function<void(bool)> AOnPreview, QWidget *AParent)
    : QDialog(AParent), FIni(AIni), FOnPreview(std::move(AOnPreview)) {
  setObjectName(QStringLiteral("Form5"));
  setWindowTitle(QStringLiteral("选项"));

  rbOpenFolder = new QRadioButton(QStringLiteral("自动打开输出文件夹"), this);
  rbShutDown = new QRadioButton(QStringLiteral("自动关闭计算机"), this);
  rbPlaySound = new QRadioButton(QStringLiteral(" 播放提示音乐"), this);
  rbDoNothing = new QRadioButton(QStringLiteral("不进行任何操作"), this);
  rbOverwrite = new QRadioButton(QStringLiteral("直接覆盖输出文件"), this);
  rbAutoRename = new QRadioButton(QStringLiteral("自动重命名输出文件"), this);
  cbThreadCount = new QComboBox(this);
  for (int i = 1; i <= KMaxThreadCount; ++i)
    cbThreadCount->addItem(QString::number(i));
  chkPreview = new QCheckBox(QStringLiteral("转换时进行实时视频预览"), this);
  rbIdle = new QRadioButton(QStringLiteral("系统空闲时进行"), this);
  rbLowest = new QRadioButton(QStringLiteral("最低优先级进行"), this);
  rbLower = new QRadioButton(QStringLiteral("较低优先级进行"), this);
  rbNormal = new QRadioButton(QStringLiteral("正常优先级进行"), this);
  btnOK = new QPushButton(QStringLiteral("确定"), this);
  btnCancel = new QPushButton(QStringLiteral("取消"), this);

  auto *afterDone = Group(QStringLiteral("转换工作完成后"),
                          {rbOpenFolder, rbShutDown, rbPlaySound, rbDoNothing}, this);
  auto *existing = Group(QStringLiteral("如果输出文件存在时"), {rbOverwrite, rbAutoRename}, this);
  auto *countRow = new QWidget(this);
  auto *countLayout = new QHBoxLayout(countRow);
  countLayout->setContentsMargins(0, 0, 0, 0);
  countLayout->addWidget(new QLabel(QStringLiteral("同时进行转换的文件个数"), countRow));
  countLayout->addWidget(cbThreadCount);
  countLayout->addStretch(1);
  auto *params = Group(QStringLiteral("转换参数"), {countRow, chkPreview}, this);
  auto *cpu =
      Group(QStringLiteral("转换时CPU利用方式"), {rbIdle, rbLowest, rbLower, rbNormal}, this);

  // Each panel is one group of radios: exactly one is checked.
  rbOpenFolder->setChecked(true);
  rbAutoRename->setChecked(true);
  rbNormal->setChecked(true);

  auto *grid = new QGridLayout;
  grid->addWidget(afterDone, 0, 0);
  grid->addWidget(existing, 0, 1);
  grid->addWidget(params, 1, 0);
  grid->addWidget(cpu, 1, 1);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, [this] {
    WriteOptions();
    accept();
  });
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(chkPreview, &QCheckBox::toggled, this, [this](bool AOn) {
    if (FOnPreview)
      FOnPreview(AOn);
  });

  ReadOptions();
}

std::array<QRadioButton *, 4> TForm5::AfterDoneRadios() const {
  return {rbOpenFolder, rbShutDown, rbPlaySound, rbDoNothing};
}

std::array<QRadioButton *, 4> TForm5::PriorityRadios() const {
  return {rbIdle, rbLowest, rbLower, rbNormal};
}

void TForm5::ReadOptions() {
  const TStoredOptions stored = ReadStoredOptions(FIni);
  cbThreadCount->setCurrentIndex(stored.ThreadCount > 0 ? stored.ThreadCount - 1 : 0);
  AfterDoneRadios()[stored.AfterDone]->setChecked(true);
  PriorityRadios()[stored.ThreadPriority]->setChecked(true);
  (stored.Overwrite ? rbOverwrite : rbAutoRename)->setChecked(true);
  const QSignalBlocker quiet(chkPreview);
  chkPreview->setChecked(stored.ShowPreview);
  if (FOnPreview)
    FOnPreview(stored.ShowPreview);
}

void TForm5::WriteOptions() {
  FIni.WriteString(KSection, QStringLiteral("Thread_Count"), cbThreadCount->currentText());
  FIni.WriteString(KSection, QStringLiteral("After_Done"), QString::number(AfterDone()));
  FIni.WriteString(KSection, QStringLiteral("Show_Preview"),
                   ShowPreview() ? QStringLiteral("1") : QStringLiteral("0"));
  FIni.WriteString(KSection, QStringLiteral("Thread_Priority"), QString::number(ThreadPriority()));
  FIni.WriteString(KSection, QStringLiteral("Overwrite_File"),
                   OverwriteOutput() ? QStringLiteral("0") : QStringLiteral("1"));
}

int TForm5::ThreadCount() const {
  bool ok = false;
  const int n = cbThreadCount->currentText().toInt(&ok);
  return ok && n > 0 ? n : 1;
}

int TForm5::AfterDone() const {
  const auto radios = AfterDoneRadios();
  for (size_t i = 0; i < radios.size(); ++i)
    if (radios[i]->isChecked())
      return static_cast<int>(i);
  return 0;
}

int TForm5::ThreadPriority() const {
  const auto radios = PriorityRadios();
  for (size_t i = 0; i < radios.size(); ++i)
    if (radios[i]->isChecked())
      return static_cast<int>(i);
  return 3;
}

bool TForm5::OverwriteOutput() const {
  return rbOverwrite->isChecked();
}

bool TForm5::ShowPreview() const {
  return chkPreview->isChecked();
}
