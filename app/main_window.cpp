#include "main_window.h"

#include "about_box.h"
#include "app_icon.h"
#include "av_probe.h"
#include "change_combo_box.h"
#include "ff_logger.h"
#include "ff_player.h"
#include "options_dialog.h"
#include "player_screen.h"
#include "position_slider.h"
#include "system_actions.h"
#include "task_list_link.h"
#include "window_dialogs.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QMimeData>
#include <QStyleOptionProgressBar>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

// Resources of a static library are only linked when something names them.
static void InitAppResources() {
  Q_INIT_RESOURCE(app);
}

namespace {

const QString KTitle = QStringLiteral("凌川安卓手机格式转换器");

// An icon whose disabled state shows its own greyed picture.
QIcon GlyphPair(const QString &AName) {
  QIcon icon;
  icon.addPixmap(QPixmap(QStringLiteral(":/glyphs/%1.png").arg(AName)), QIcon::Normal);
  icon.addPixmap(QPixmap(QStringLiteral(":/glyphs/%1_disabled.png").arg(AName)), QIcon::Disabled);
  return icon;
}

QIcon Glyph(const QString &AName) {
  return QIcon(QPixmap(QStringLiteral(":/glyphs/%1.png").arg(AName)));
}

// Grid lines between the cells of the job list, and the progress cell drawn as a bar with its
// text ("N/A" and empty cells stay text).
class TGridDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

protected:
  void initStyleOption(QStyleOptionViewItem *AOption, const QModelIndex &AIndex) const override {
    QStyledItemDelegate::initStyleOption(AOption, AIndex);
    // A narrow input column shows the end of the path: the file's name.
    if (AIndex.column() == Col(jcInputFile))
      AOption->textElideMode = Qt::ElideLeft;
  }

public:
  void paint(QPainter *APainter, const QStyleOptionViewItem &AOption,
             const QModelIndex &AIndex) const override {
    const QString text = AIndex.data().toString();
    bool percent = false;
    const int value = AIndex.column() == Col(jcProgress) && text.endsWith(QLatin1Char('%'))
                          ? text.chopped(1).toInt(&percent)
                          : 0;
    if (percent) {
      QStyleOptionViewItem background = AOption;
      initStyleOption(&background, AIndex);
      background.text.clear();
      QStyle *style = AOption.widget ? AOption.widget->style() : QApplication::style();
      style->drawControl(QStyle::CE_ItemViewItem, &background, APainter, AOption.widget);
      QStyleOptionProgressBar bar;
      bar.rect = AOption.rect.adjusted(2, 2, -3, -3);
      bar.minimum = 0;
      bar.maximum = 100;
      bar.progress = std::clamp(value, 0, 100);
      bar.text = text;
      bar.textVisible = true;
      bar.textAlignment = Qt::AlignCenter;
      bar.state = AOption.state | QStyle::State_Horizontal;
      bar.palette = AOption.palette;
      bar.fontMetrics = AOption.fontMetrics;
      style->drawControl(QStyle::CE_ProgressBar, &bar, APainter, AOption.widget);
    } else {
      QStyledItemDelegate::paint(APainter, AOption, AIndex);
    }
    APainter->save();
    APainter->setPen(QColor(0xd5, 0xdc, 0xe4));
    const QRect r = AOption.rect;
    APainter->drawLine(r.bottomLeft(), r.bottomRight());
    APainter->drawLine(r.topRight(), r.bottomRight());
    APainter->restore();
  }
};

// The profile picker's items are 60 pixels high.
class TTallItemDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem &AOption, const QModelIndex &AIndex) const override {
    QSize size = QStyledItemDelegate::sizeHint(AOption, AIndex);
    size.setHeight(60);
    return size;
  }
};

TChangeComboBox *ChoiceList(const char *AName, QWidget *AParent) {
  auto *box = new TChangeComboBox(AParent);
  box->setObjectName(QString::fromLatin1(AName));
  return box;
}

} // namespace

TForm1::TForm1(const TWindowContext &AContext, QWidget *AParent)
    : QMainWindow(AParent), FPaths(AContext.Paths), FIni(AContext.Paths.IniFile),
      FActions(AContext.Actions), FDialogs(AContext.Dialogs), FTasks(AContext.Tasks),
      FAVProbe(std::make_unique<TAVProbe>(this)) {
  setObjectName(QStringLiteral("Form1"));
  InitAppResources();
  CreateWidgets();
  FormCreate();
}

TForm1::~TForm1() {
  // The player's waits serve queued calls: none may reach a window that is going away.
  DetachPlayerEvents();
  FFPlayer.reset();
  if (!FClosing)
    GetLogger()->SetOnLog(nullptr);
}

void TForm1::SetForms(TForm2 *AForm2, TForm5 *AForm5) {
  FForm2 = AForm2;
  FForm5 = AForm5;
}

void TForm1::CreateWidgets() {
  setWindowTitle(KTitle);
  setWindowIcon(AppIcon());
  // Minimise and close, no maximise: the layout is made for one size.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  CreateMenus();
  CreateToolBar();

  auto *central = new QWidget(this);
  auto *columns = new QHBoxLayout(central);
  columns->setContentsMargins(6, 4, 6, 4);
  columns->setSpacing(6);

  auto *left = new QVBoxLayout;
  left->setSpacing(4);
  left->addWidget(CreateJobArea(), 1);
  left->addWidget(CreateOutputArea());
  auto *right = new QVBoxLayout;
  right->setSpacing(4);
  right->addWidget(CreateChoiceArea());
  right->addWidget(CreatePreviewArea(), 1);
  columns->addLayout(left, 1);
  columns->addLayout(right);
  setCentralWidget(central);

  statusBar()->showMessage(QStringLiteral("就绪"));
  CreateLogPanel();

  setFixedSize(803, 541);
  if (QScreen *screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void TForm1::CreateMenus() {
  auto action = [this](QMenu *AMenu, const char *AName, const QString &AText, auto ASlot) {
    QAction *a = AMenu->addAction(AText);
    a->setObjectName(QString::fromLatin1(AName));
    connect(a, &QAction::triggered, this, ASlot);
    return a;
  };

  QMenu *file = menuBar()->addMenu(QStringLiteral("文件"));
  mnuAddFile = action(file, "mnuAddFile", QStringLiteral("添加一个文件"), &TForm1::btnAddClick);
  mnuAddFiles = action(file, "mnuAddFiles", QStringLiteral("添加多个文件"), &TForm1::AddFiles);
  mnuAddFolder = action(file, "mnuAddFolder", QStringLiteral("添加整个目录"), &TForm1::AddFolder);
  file->addSeparator();
  mnuExit = action(file, "mnuExit", QStringLiteral("退出"), &QWidget::close);

  QMenu *edit = menuBar()->addMenu(QStringLiteral("编辑"));
  mnuMoveUp = action(edit, "mnuMoveUp", QStringLiteral("上移文件"), &TForm1::MoveJobUp);
  mnuMoveDown = action(edit, "mnuMoveDown", QStringLiteral("下移文件"), &TForm1::MoveJobDown);
  edit->addSeparator();
  mnuRemove = action(edit, "mnuRemove", QStringLiteral("删除选择"), &TForm1::btnRemoveClick);
  mnuClear = action(edit, "mnuClear", QStringLiteral("清空文件"), &TForm1::btnClearClick);
  edit->addSeparator();
  mnuRename = action(edit, "mnuRename", QStringLiteral("重新命名"), &TForm1::BeginRename);

  QMenu *run = menuBar()->addMenu(QStringLiteral("动作"));
  mnuStart = action(run, "mnuStart", QStringLiteral("开始转换"), &TForm1::btnStartClick);
  mnuStop = action(run, "mnuStop", QStringLiteral("停止转换"), &TForm1::btnStopClick);
  mnuPause = action(run, "mnuPause", QStringLiteral("暂停转换"), &TForm1::btnPauseClick);
  mnuResume = action(run, "mnuResume", QStringLiteral("继续继续"), &TForm1::btnResumeClick);
  run->addSeparator();
  mnuOptions = action(run, "mnuOptions", QStringLiteral("选项设置"), &TForm1::ShowOptions);

  QMenu *view = menuBar()->addMenu(QStringLiteral("查看"));
  mnuShowLog = view->addAction(QStringLiteral("日志窗口"));
  mnuShowLog->setObjectName(QStringLiteral("mnuShowLog"));
  mnuShowLog->setCheckable(true);

  QMenu *help = menuBar()->addMenu(QStringLiteral("帮助"));
  mnuHelp = action(help, "mnuHelp", QStringLiteral("帮助系统"), &TForm1::ShowHelp);
  mnuHelp->setShortcut(QKeySequence(Qt::Key_F1));
  mnuHelp->setShortcutContext(Qt::ApplicationShortcut);
  help->addSeparator();
  mnuAbout = action(help, "mnuAbout", QStringLiteral("关于软件"), &TForm1::ShowAbout);
}

void TForm1::CreateToolBar() {
  QToolBar *bar = addToolBar(QStringLiteral("工具栏"));
  bar->setObjectName(QStringLiteral("tbMain"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(32, 32));
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->toggleViewAction()->setEnabled(false);
  setContextMenuPolicy(Qt::NoContextMenu);

  auto button = [this, bar](const char *AName, const QString &AText, const QString &AGlyph,
                            auto ASlot) {
    auto *b = new QToolButton(bar);
    b->setObjectName(QString::fromLatin1(AName));
    b->setText(AText);
    b->setToolTip(AText);
    b->setIcon(GlyphPair(AGlyph));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);
    b->setMinimumWidth(56);
    if constexpr (!std::is_same_v<decltype(ASlot), std::nullptr_t>)
      connect(b, &QToolButton::clicked, this, ASlot);
    return b;
  };

  btnAdd = button("btnAdd", QStringLiteral("添加"), QStringLiteral("add"), nullptr);
  auto *addMenu = new QMenu(btnAdd);
  addMenu->addAction(mnuAddFile);
  addMenu->addAction(mnuAddFiles);
  addMenu->addAction(mnuAddFolder);
  btnAdd->setMenu(addMenu);
  btnAdd->setPopupMode(QToolButton::InstantPopup);
  btnRemove = button("btnRemove", QStringLiteral("删除"), QStringLiteral("remove"),
                     &TForm1::btnRemoveClick);
  btnClear =
      button("btnClear", QStringLiteral("清空"), QStringLiteral("clear"), &TForm1::btnClearClick);
  btnStart =
      button("btnStart", QStringLiteral("开始"), QStringLiteral("start"), &TForm1::btnStartClick);
  btnStop =
      button("btnStop", QStringLiteral("停止"), QStringLiteral("stop"), &TForm1::btnStopClick);
  btnPause =
      button("btnPause", QStringLiteral("暂停"), QStringLiteral("pause"), &TForm1::btnPauseClick);
  btnResume = button("btnResume", QStringLiteral("继续"), QStringLiteral("resume"),
                     &TForm1::btnResumeClick);
  btnOptions =
      button("btnOptions", QStringLiteral("选项"), QStringLiteral("options"), &TForm1::ShowOptions);

  // A toolbar widget takes its enabled state from its place, so both are kept in step.
  auto place = [this, bar](QToolButton *AButton) {
    QAction *a = bar->addWidget(AButton);
    FToolPlaces.insert(AButton, a);
    return a;
  };
  place(btnAdd);
  bar->addSeparator();
  place(btnRemove);
  place(btnClear);
  bar->addSeparator();
  place(btnStart);
  place(btnStop);
  FPausePlace = place(btnPause);
  FResumePlace = place(btnResume);
  bar->addSeparator();
  place(btnOptions);
}

QWidget *TForm1::CreateJobArea() {
  auto *area = new QWidget(this);
  auto *layout = new QVBoxLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(3);

  // The list and the picture over it share one cell, the picture on top.
  auto *stack = new QWidget(area);
  auto *stackLayout = new QGridLayout(stack);
  stackLayout->setContentsMargins(0, 0, 0, 0);

  lvFiles = new QTreeWidget(stack);
  lvFiles->setObjectName(QStringLiteral("lvFiles"));
  lvFiles->setColumnCount(JobColumnCount);
  QStringList captions;
  for (const TJobColumnInfo &column : JobColumns())
    captions << QString::fromUtf8(column.Caption.data(),
                                  static_cast<qsizetype>(column.Caption.size()));
  lvFiles->setHeaderLabels(captions);
  for (int i = 0; i < JobColumnCount; ++i) {
    const int width = JobColumns()[i].Width;
    lvFiles->setColumnHidden(i, width == 0);
    if (width > 0)
      lvFiles->setColumnWidth(i, width);
  }
  lvFiles->header()->setStretchLastSection(false);
  lvFiles->header()->setSectionsMovable(false);
  lvFiles->setRootIsDecorated(false);
  lvFiles->setItemsExpandable(false);
  lvFiles->setUniformRowHeights(true);
  lvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
  lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFiles->setAllColumnsShowFocus(true);
  lvFiles->setItemDelegate(new TGridDelegate(lvFiles));
  lvFiles->setTextElideMode(Qt::ElideMiddle);
  lvFiles->viewport()->installEventFilter(this);
  lvFiles->viewport()->setAcceptDrops(true);
  connect(lvFiles, &QTreeWidget::itemSelectionChanged, this, [this] {
    if (FRowSurgery == 0 && SelectedJob() != nullptr)
      lvFilesSelectItem();
  });
  connect(lvFiles, &QTreeWidget::itemDoubleClicked, this, [this] { lvFilesDblClick(); });

  edt = new QLineEdit(lvFiles->viewport());
  edt->setObjectName(QStringLiteral("edt"));
  edt->hide();
  edt->installEventFilter(this);

  auto *empty = new QLabel(stack);
  empty->setObjectName(QStringLiteral("pnlEmptyList"));
  empty->setAlignment(Qt::AlignCenter);
  empty->setAutoFillBackground(true);
  empty->setFrameShape(QFrame::StyledPanel);
  empty->setTextFormat(Qt::RichText);
  empty->setText(QStringLiteral("<img src=\":/glyphs/placeholder.png\"><br><br>"
                                "<span style=\"color:#5a6b7d\">点击工具栏上的“添加”按钮，"
                                "添加需要转换的视频或音频文件</span>"));
  QPalette palette = empty->palette();
  palette.setColor(QPalette::Window, Qt::white);
  empty->setPalette(palette);
  empty->setAcceptDrops(true);
  empty->installEventFilter(this);
  pnlEmptyList = empty;

  stackLayout->addWidget(lvFiles, 0, 0);
  stackLayout->addWidget(pnlEmptyList, 0, 0);
  pnlEmptyList->raise();
  layout->addWidget(stack, 1);

  auto *buttons = new QHBoxLayout;
  buttons->setSpacing(4);
  auto button = [area](const char *AName, const QString &AText, const QIcon &AIcon) {
    auto *b = new QPushButton(AIcon, AText, area);
    b->setObjectName(QString::fromLatin1(AName));
    b->setToolTip(AText);
    b->setIconSize(QSize(16, 16));
    return b;
  };
  btnMoveUp = button("btnMoveUp", QStringLiteral("上移"), Glyph(QStringLiteral("up")));
  btnMoveDown = button("btnMoveDown", QStringLiteral("下移"), Glyph(QStringLiteral("down")));
  btnRename = button("btnRename", QStringLiteral("重命名"), GlyphPair(QStringLiteral("rename")));
  connect(btnMoveUp, &QPushButton::clicked, this, &TForm1::MoveJobUp);
  connect(btnMoveDown, &QPushButton::clicked, this, &TForm1::MoveJobDown);
  connect(btnRename, &QPushButton::clicked, this, &TForm1::BeginRename);
  buttons->addWidget(btnMoveUp);
  buttons->addWidget(btnMoveDown);
  buttons->addWidget(btnRename);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  return area;
}

QWidget *TForm1::CreateOutputArea() {
  auto *area = new QWidget(this);
  auto *layout = new QVBoxLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);

  auto *format = new QGroupBox(QStringLiteral("输出格式"), area);
  auto *formatLayout = new QHBoxLayout(format);
  formatLayout->setContentsMargins(6, 2, 6, 4);
  bsSkinOfficeComboBox2 = ChoiceList("bsSkinOfficeComboBox2", format);
  bsSkinOfficeComboBox1 = ChoiceList("bsSkinOfficeComboBox1", format);
  bsSkinOfficeComboBox2->setIconSize(QSize(24, 24));
  bsSkinOfficeComboBox1->setIconSize(QSize(32, 32));
  bsSkinOfficeComboBox1->setView(new QListView(bsSkinOfficeComboBox1));
  bsSkinOfficeComboBox1->view()->setItemDelegate(new TTallItemDelegate(bsSkinOfficeComboBox1));
  bsSkinOfficeComboBox1->view()->setIconSize(QSize(32, 32));
  bsSkinOfficeComboBox1->setMaxVisibleItems(4);
  // A list under the box, as tall as four items: the style's own popup would show them all.
  bsSkinOfficeComboBox1->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  bsSkinOfficeComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  bsSkinOfficeComboBox2->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  bsSkinOfficeComboBox1->setMinimumContentsLength(16);
  bsSkinOfficeComboBox2->setMinimumContentsLength(8);
  formatLayout->addWidget(bsSkinOfficeComboBox2, 2);
  formatLayout->addWidget(bsSkinOfficeComboBox1, 5);
  connect(bsSkinOfficeComboBox2, &TChangeComboBox::Change, this,
          &TForm1::bsSkinOfficeComboBox2Change);
  connect(bsSkinOfficeComboBox1, &TChangeComboBox::Change, this,
          &TForm1::bsSkinOfficeComboBox1Change);

  auto *folder = new QGroupBox(QStringLiteral("输出目录"), area);
  auto *folderLayout = new QHBoxLayout(folder);
  folderLayout->setContentsMargins(6, 2, 6, 4);
  Video_OutPut_Folder_Edit = new QLineEdit(folder);
  Video_OutPut_Folder_Edit->setObjectName(QStringLiteral("Video_OutPut_Folder_Edit"));
  Video_OutPut_Folder_Edit->setReadOnly(true);
  Video_OutPut_Folder_Edit->setFocusPolicy(Qt::NoFocus);
  Video_OutPut_Folder_Edit->installEventFilter(this);
  btnBrowse = new QPushButton(QStringLiteral("浏览..."), folder);
  btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
  btnBrowse->setIcon(Glyph(QStringLiteral("folder")));
  btnOpenFolder = new QPushButton(QStringLiteral("打开"), folder);
  btnOpenFolder->setObjectName(QStringLiteral("btnOpenFolder"));
  connect(btnBrowse, &QPushButton::clicked, this, &TForm1::ChooseOutputFolder);
  connect(btnOpenFolder, &QPushButton::clicked, this, [this] {
    OpenOutputFolder();
    lvFiles->setFocus();
  });
  folderLayout->addWidget(Video_OutPut_Folder_Edit, 1);
  folderLayout->addWidget(btnBrowse);
  folderLayout->addWidget(btnOpenFolder);

  layout->addWidget(format);
  layout->addWidget(folder);
  return area;
}

QWidget *TForm1::CreateChoiceArea() {
  auto *group = new QGroupBox(QStringLiteral("预置选项"), this);
  group->setFixedWidth(250);
  auto *outer = new QVBoxLayout(group);
  outer->setContentsMargins(6, 2, 6, 4);
  pnlChoices = new QWidget(group);
  pnlChoices->setObjectName(QStringLiteral("pnlChoices"));
  auto *grid = new QGridLayout(pnlChoices);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setVerticalSpacing(3);

  bsSkinComboBox1 = ChoiceList("bsSkinComboBox1", pnlChoices);
  bsSkinComboBox2 = ChoiceList("bsSkinComboBox2", pnlChoices);
  bsSkinComboBox3 = ChoiceList("bsSkinComboBox3", pnlChoices);
  bsSkinComboBox4 = ChoiceList("bsSkinComboBox4", pnlChoices);
  bsSkinComboBox9 = ChoiceList("bsSkinComboBox9", pnlChoices);
  bsSkinComboBox10 = ChoiceList("bsSkinComboBox10", pnlChoices);
  const std::pair<const char *, TChangeComboBox *> rows[] = {
      {"视频分辨率：", bsSkinComboBox1}, {"视频比特率：", bsSkinComboBox2},
      {"音频比特率：", bsSkinComboBox3}, {"视频缩放：", bsSkinComboBox4},
      {"视频帧率：", bsSkinComboBox9},   {"音频采样率：", bsSkinComboBox10}};
  int row = 0;
  for (const auto &[label, box] : rows) {
    grid->addWidget(new QLabel(QString::fromUtf8(label), pnlChoices), row, 0);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(8);
    grid->addWidget(box, row, 1);
    ++row;
  }
  grid->setColumnStretch(1, 1);
  connect(bsSkinComboBox1, &TChangeComboBox::Change, this, &TForm1::bsSkinComboBox1Change);
  connect(bsSkinComboBox2, &TChangeComboBox::Change, this, &TForm1::bsSkinComboBox2Change);
  connect(bsSkinComboBox3, &TChangeComboBox::Change, this, &TForm1::bsSkinComboBox3Change);
  connect(bsSkinComboBox4, &TChangeComboBox::Change, this, &TForm1::bsSkinComboBox4Change);
  connect(bsSkinComboBox9, &TChangeComboBox::Change, this, &TForm1::bsSkinComboBox9Change);
  connect(bsSkinComboBox10, &TChangeComboBox::Change, this, &TForm1::bsSkinComboBox10Change);
  outer->addWidget(pnlChoices);
  return group;
}

QWidget *TForm1::CreatePreviewArea() {
  auto *group = new QGroupBox(QStringLiteral("视频预览"), this);
  group->setFixedWidth(250);
  auto *layout = new QVBoxLayout(group);
  layout->setContentsMargins(6, 2, 6, 4);
  layout->setSpacing(3);
  Panel6 = new TPlayerScreen(group);
  Panel6->setObjectName(QStringLiteral("Panel6"));
  Panel6->setAutoFillBackground(true);
  QPalette palette = Panel6->palette();
  palette.setColor(QPalette::Window, QColor(0x1e, 0x25, 0x2d));
  Panel6->setPalette(palette);
  bsSkinSlider1 = new TPositionSlider(group);
  bsSkinSlider1->setObjectName(QStringLiteral("bsSkinSlider1"));
  pnlPlayerButtons = new QWidget(group);
  pnlPlayerButtons->setObjectName(QStringLiteral("pnlPlayerButtons"));
  pnlPlayerButtons->setMinimumHeight(28);
  auto *buttonLayout = new QHBoxLayout(pnlPlayerButtons);
  buttonLayout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Panel6, 1);
  layout->addWidget(bsSkinSlider1);
  layout->addWidget(pnlPlayerButtons);
  CreatePlayerControls();
  return group;
}

void TForm1::CreateLogPanel() {
  frmLog = new QDialog(this, Qt::Tool);
  frmLog->setObjectName(QStringLiteral("frmLog"));
  frmLog->setWindowTitle(QStringLiteral("日志"));
  frmLog->resize(640, 360);
  mmoLog = new QPlainTextEdit(frmLog);
  mmoLog->setObjectName(QStringLiteral("mmoLog"));
  mmoLog->setReadOnly(true);
  mmoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  // Library output can run to many lines over a long session; keep the latest.
  mmoLog->setMaximumBlockCount(50000);
  auto *clear = new QPushButton(QStringLiteral("清空日志"), frmLog);
  auto *close = new QPushButton(QStringLiteral("关闭"), frmLog);
  connect(clear, &QPushButton::clicked, mmoLog, &QPlainTextEdit::clear);
  connect(close, &QPushButton::clicked, frmLog, &QDialog::close);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(clear);
  buttons->addWidget(close);
  auto *layout = new QVBoxLayout(frmLog);
  layout->addWidget(mmoLog, 1);
  layout->addLayout(buttons);
  connect(mnuShowLog, &QAction::toggled, frmLog, &QWidget::setVisible);
  connect(frmLog, &QDialog::finished, this, [this] { mnuShowLog->setChecked(false); });
}

void TForm1::FormCreate() {
  GetLogger()->SetOnLog(
      [this](const void *, uint32_t AThreadID, TLogLevel ALevel, const std::string &AMessage) {
        FFLoggerLog(AThreadID, ALevel, QString::fromStdString(AMessage));
      });
  ReadOutputFolder();
  BuildOpenFilters();
  ReadSkinSetting();
  FillCategoryPicker();
  Button2Click();
  PreparePreviewPlayer();
  SetWindowState(TWindowState::wsEmpty);
  UpdateEmptyListPicture();
}

void TForm1::SetChoicesEnabled(bool AEnabled) {
  bsSkinOfficeComboBox2->setEnabled(AEnabled);
  bsSkinOfficeComboBox1->setEnabled(AEnabled);
  // The lists keep their own state (an audio profile switches some off); their panel
  // switches them all.
  pnlChoices->setEnabled(AEnabled);
  btnBrowse->setEnabled(AEnabled);
}

void TForm1::SetWindowState(TWindowState AState) {
  FWindowState = AState;
  ApplyCommandStates();
}

void TForm1::ApplyCommandStates() {
  using enum TWindowState;
  const TWindowState s = FWindowState;
  auto set = [this](std::initializer_list<QObject *> ACommands, bool AOn) {
    for (QObject *c : ACommands) {
      if (auto *a = qobject_cast<QAction *>(c)) {
        a->setEnabled(AOn);
      } else if (auto *w = qobject_cast<QWidget *>(c)) {
        if (QAction *place = FToolPlaces.value(w))
          place->setEnabled(AOn);
        w->setEnabled(AOn);
      }
    }
  };
  const bool idle = s == wsEmpty || s == wsReady;
  set({btnAdd, mnuAddFile, mnuAddFiles, mnuAddFolder}, idle);
  set({btnRemove, mnuRemove, btnRename, mnuRename}, s == wsReady);
  set({btnClear, mnuClear}, s == wsReady || s == wsEnded);
  // After a stop the toolbar's 开始 stays on; the menu's only in the ready state.
  set({btnStart}, s == wsReady || s == wsStopping || (s == wsEnded && FStoppedByUser));
  set({mnuStart}, s == wsReady);
  set({btnStop, mnuStop}, s == wsConverting || s == wsPaused);
  set({btnPause, mnuPause}, s == wsConverting);
  set({btnResume, mnuResume}, s == wsPaused);
  // One place: 继续 while paused, 暂停 otherwise, so a new run always offers 暂停.
  FPausePlace->setVisible(s != wsPaused);
  FResumePlace->setVisible(s == wsPaused);
  SetChoicesEnabled(s != wsConverting && s != wsPaused);
}

void TForm1::closeEvent(QCloseEvent *AEvent) {
  if (!FClosing) {
    FClosing = true;
    CancelRename();
    DetachPlayerEvents();
    PreviewStop();
    FTasks->DetachEvents();
    FTasks->Stop();
    FActions->InhibitSleep(false);
    GetLogger()->SetOnLog(nullptr);
    frmLog->hide();
  }
  AEvent->accept();
}

bool TForm1::eventFilter(QObject *AObject, QEvent *AEvent) {
  if ((AObject == lvFiles->viewport() || AObject == pnlEmptyList) &&
      (AEvent->type() == QEvent::DragEnter || AEvent->type() == QEvent::DragMove ||
       AEvent->type() == QEvent::Drop)) {
    auto *drop = static_cast<QDropEvent *>(AEvent);
    if (!drop->mimeData()->hasUrls() || !mnuAddFile->isEnabled())
      return false;
    drop->acceptProposedAction();
    if (AEvent->type() == QEvent::Drop) {
      QStringList paths;
      for (const QUrl &url : drop->mimeData()->urls())
        if (url.isLocalFile())
          paths << url.toLocalFile();
      DropPaths(paths);
    }
    return true;
  }
  if (AObject == edt) {
    if (AEvent->type() == QEvent::FocusOut) {
      const auto reason = static_cast<QFocusEvent *>(AEvent)->reason();
      // Switching to another window or opening a menu is no end of the edit.
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        edtExit();
    } else if (AEvent->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent *>(AEvent)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        lvFiles->setFocus();
        return true;
      }
      if (key == Qt::Key_Escape) {
        CancelRename();
        lvFiles->setFocus();
        return true;
      }
    }
  } else if (AObject == Video_OutPut_Folder_Edit) {
    if (AEvent->type() == QEvent::MouseButtonPress) {
      lvFiles->setFocus();
      return true;
    }
  } else if (AObject == lvFiles->viewport()) {
    if (AEvent->type() == QEvent::MouseButtonPress) {
      // A click beside the rows leaves no row selected, as in a report list.
      const auto *mouse = static_cast<QMouseEvent *>(AEvent);
      if (lvFiles->itemAt(mouse->position().toPoint()) == nullptr) {
        lvFiles->clearSelection();
        lvFiles->setCurrentItem(nullptr);
      }
    } else if (AEvent->type() == QEvent::MouseButtonRelease) {
      lvFilesClick();
    }
  }
  return QMainWindow::eventFilter(AObject, AEvent);
}

void TForm1::ShowOptions() {
  if (FForm5)
    FDialogs->ShowModal(FForm5);
}

void TForm1::ShowAbout() {
  if (FForm2)
    FDialogs->ShowModal(FForm2);
}

void TForm1::ShowHelp() {
  FActions->OpenUrl(QUrl::fromLocalFile(FPaths.HelpFile()));
}

void TForm1::AppendLog(const QString &ALine) {
  mmoLog->appendPlainText(ALine);
}

QString TForm1::LogText() const {
  return mmoLog->toPlainText();
}

void TForm1::FFLoggerLog(uint32_t AThreadID, int ALogLevel, const QString &AMessage) {
  AppendLog(QStringLiteral("#%1.%2: %3").arg(AThreadID).arg(ALogLevel).arg(AMessage));
}
