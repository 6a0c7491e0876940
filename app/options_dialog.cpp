#include "options_dialog.h"

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
constexpr int KMaxThreads = 19;

QGroupBox *Group(const QString &ACaption, std::initializer_list<QWidget *> AControls,
                 QWidget *AParent) {
  auto *box = new QGroupBox(ACaption, AParent);
  auto *layout = new QVBoxLayout(box);
  for (QWidget *w : AControls)
    layout->addWidget(w);
  layout->addStretch(1);
  return box;
}

// The index of a stored "0".."AMax" value, or -1 for anything else.
int Choice(const QString &AValue, int AMax) {
  bool ok = false;
  const int n = AValue.toInt(&ok);
  return ok && n >= 0 && n <= AMax && AValue == QString::number(n) ? n : -1;
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
  for (int i = 1; i <= KMaxThreads; ++i)
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
  auto read = [this](const char *AKey) {
    return FIni.ReadString(KSection, QString::fromLatin1(AKey), KMissingValue);
  };
  auto write = [this](const char *AKey, const QString &AValue) {
    FIni.WriteString(KSection, QString::fromLatin1(AKey), AValue);
  };

  // A count saved from the list (1 to 19) is restored; "0" is the untouched default.
  const QString count = read("Thread_Count");
  const int n = Choice(count, KMaxThreads);
  if (n < 0)
    write("Thread_Count", QStringLiteral("0"));
  cbThreadCount->setCurrentIndex(n > 0 ? n - 1 : 0);

  int afterDone = Choice(read("After_Done"), 3);
  if (afterDone < 0) {
    write("After_Done", QStringLiteral("0"));
    afterDone = 0;
  }
  AfterDoneRadios()[afterDone]->setChecked(true);

  int priority = Choice(read("Thread_Priority"), 3);
  if (priority < 0) {
    write("Thread_Priority", QStringLiteral("3"));
    priority = 3;
  }
  PriorityRadios()[priority]->setChecked(true);

  const int overwrite = Choice(read("Overwrite_File"), 1);
  if (overwrite < 0)
    write("Overwrite_File", QStringLiteral("1"));
  (overwrite == 0 ? rbOverwrite : rbAutoRename)->setChecked(true);

  int preview = Choice(read("Show_Preview"), 1);
  if (preview < 0) {
    write("Show_Preview", QStringLiteral("0"));
    preview = 0;
  }
  const QSignalBlocker quiet(chkPreview);
  chkPreview->setChecked(preview == 1);
  if (FOnPreview)
    FOnPreview(preview == 1);
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
