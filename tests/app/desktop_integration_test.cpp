// The program as an installed desktop program: its bundled files in a build tree and in an
// installed tree, its desktop entry, icon, command line and help page.
#include "app_test_support.h"

#include "app_icon.h"
#include "command_line.h"
#include "data_paths.h"
#include "job_text.h"
#include "profile_catalog.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSet>

namespace {

QString ReadText(const QString &APath) {
  QFile file(APath);
  if (!file.open(QIODevice::ReadOnly))
    return QString();
  return QString::fromUtf8(file.readAll());
}

void WriteFile(const QString &APath) {
  QDir().mkpath(QFileInfo(APath).absolutePath());
  QFile file(APath);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << APath.toStdString();
  file.write("x");
}

// Where a layout puts the bundled files, relative to the program folder.
struct TLayoutCase {
  const char *Name;
  std::vector<const char *> DataFolders; // folders that get both files
  const char *Expected;                  // the folder the window must use
  bool Installed;
};

TEST(DesktopIntegrationTest, BundledFilesAreFoundBesideTheProgramOrInTheInstalledTree) {
  const std::vector<TLayoutCase> cases = {
      {"build tree", {""}, "", false},
      {"installed", {"../share/lingchuan-converter/"}, "../share/lingchuan-converter/", true},
      {"both: the copy beside the program wins", {"", "../share/lingchuan-converter/"}, "", false},
  };
  for (const TLayoutCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TWindowFixture f([&c](const QString &AAppFolder) {
      for (const char *folder : c.DataFolders) {
        WriteFile(AAppFolder + folder + "docs/help.html");
        WriteFile(AAppFolder + folder + "sounds/ring001.wav");
      }
    });
    const QString data = QDir::cleanPath(f.AppFolder + c.Expected) + "/";
    EXPECT_EQ(IsInstalledLayout(f.AppFolder), c.Installed);

    f.Form->mnuHelp->trigger();
    f.Form->PlayDoneSound();
    EXPECT_EQ(f.Actions.Calls,
              (QStringList{"url:" + QUrl::fromLocalFile(data + "docs/help.html").toString(),
                           "sound:" + data + "sounds/ring001.wav"}));
  }
}

TEST(DesktopIntegrationTest, MissingFilesAreLookedForBesideTheProgram) {
  TWindowFixture f;
  EXPECT_FALSE(IsInstalledLayout(f.AppFolder));
  EXPECT_EQ(DataFile(f.AppFolder, "docs/help.html"), f.AppFolder + "docs/help.html");
  f.Form->PlayDoneSound();
  EXPECT_TRUE(f.Actions.Calls.isEmpty()) << f.Actions.Calls.join(", ").toStdString();
}

// The extensions of the open dialog's filter, lower case, without "*.*".
QSet<QString> FilterExtensions() {
  QSet<QString> extensions;
  const QStringList parts = OpenDialogFilter().split(QLatin1Char('|'));
  for (int i = 1; i < parts.size(); i += 2)
    for (QString pattern : parts[i].split(QLatin1Char(';'))) {
      pattern = pattern.trimmed();
      if (pattern.startsWith(QStringLiteral("*.")) && pattern != QStringLiteral("*.*"))
        extensions.insert(pattern.mid(2).toLower());
    }
  return extensions;
}

QString DesktopEntryPath() {
  return SourceFolder() + "/resources/desktop/lingchuan-converter.desktop";
}

QString DesktopKey(const QString &AKey) {
  const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(AKey),
                                QRegularExpression::MultilineOption);
  return line.match(ReadText(DesktopEntryPath())).captured(1);
}

TEST(DesktopIntegrationTest, DesktopEntryOffersEveryMediaTypeOfTheOpenDialog) {
  // Types that share an extension with media but are not media: Qt translations (.ts),
  // playlists and cue sheets (.asx, .ram, .cue) only name other files.
  const QSet<QString> notMedia = {"text/vnd.trolltech.linguist", "audio/x-ms-asx",
                                  "application/ram", "application/x-cue"};
  QMimeDatabase db;
  QSet<QString> expected;
  for (const QString &ext : FilterExtensions())
    for (const QMimeType &type : db.mimeTypesForFileName("x." + ext))
      if (!notMedia.contains(type.name()))
        expected.insert(type.name());
  ASSERT_GT(expected.size(), 30);

  QSet<QString> listed;
  for (const QString &name : DesktopKey("MimeType").split(';', Qt::SkipEmptyParts)) {
    EXPECT_FALSE(listed.contains(name)) << "listed twice: " << name.toStdString();
    listed.insert(name);
  }
  for (const QString &name : expected - listed)
    ADD_FAILURE() << "missing from the desktop entry: " << name.toStdString();
  for (const QString &name : listed - expected)
    ADD_FAILURE() << "not a type of the open dialog: " << name.toStdString();

  // The file manager passes local paths, which the command line takes.
  EXPECT_TRUE(DesktopKey("Exec").endsWith(" %F"));
  EXPECT_EQ(DesktopKey("Icon"), QStringLiteral("lingchuan-converter"));
}

TEST(DesktopIntegrationTest, WindowCarriesTheApplicationIconAtEverySize) {
  TWindowFixture f;
  for (const QIcon &icon : {AppIcon(), f.Form->windowIcon()}) {
    QList<int> sizes;
    for (const QSize &s : icon.availableSizes())
      sizes << s.width();
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, AppIconSizes());
  }
}

TEST(DesktopIntegrationTest, CommandLineArgumentsBecomeAbsolutePaths) {
  struct TCase {
    QStringList Arguments;
    QStringList Paths;
  };
  const std::vector<TCase> cases = {
      {{"a.avi", "sub/b.mp4", "../c.wav"}, {"/work/in/a.avi", "/work/in/sub/b.mp4", "/work/c.wav"}},
      {{"/abs/x.mkv", "/abs//y/../z.ts"}, {"/abs/x.mkv", "/abs/z.ts"}},
      {{"file:///media/%E4%B8%AD%E6%96%87%20%E5%90%8D.mp4"}, {"/media/中文 名.mp4"}},
      {{"", "https://example.invalid/v.mp4", "smb://host/share/v.mp4"}, {}},
      {{"中文 名称.mp4"}, {"/work/in/中文 名称.mp4"}},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(CommandLinePaths(c.Arguments, "/work/in"), c.Paths)
        << c.Arguments.join(" ").toStdString();
}

TEST(DesktopIntegrationTest, CommandLinePathsAreAddedOnceTheEventLoopRuns) {
  TWindowFixture f;
  const QString a = f.MakeFile("a.avi");
  const QString b = f.MakeFile("folder/b.avi");
  AddPathsAfterStart(*f.Form, {a, QFileInfo(b).absolutePath()});
  EXPECT_TRUE(f.Form->Examined.isEmpty());
  QApplication::processEvents();
  EXPECT_EQ(f.Form->Examined, (QStringList{a, b}));
  EXPECT_EQ(f.Form->JobCount(), 2);
}

// The visible commands of the menus and of the window's choice lists, as the help page names
// them.
QStringList MenuCommands(QMenuBar *ABar) {
  QStringList texts;
  for (QAction *menu : ABar->actions()) {
    texts << menu->text();
    for (QAction *a : menu->menu()->actions())
      if (!a->isSeparator())
        texts << a->text();
  }
  return texts;
}

TEST(DesktopIntegrationTest, HelpPageDescribesEveryCommandAndCategoryAndStandsAlone) {
  const QString page = ReadText(SourceFolder() + "/docs/help.html");
  ASSERT_FALSE(page.isEmpty());
  TWindowFixture f;
  for (const QString &command : MenuCommands(f.Form->menuBar()))
    EXPECT_TRUE(page.contains(command)) << command.toStdString();
  for (const TCategory &category : Categories())
    EXPECT_TRUE(page.contains(QString::fromUtf8(category.Caption.data(),
                                                static_cast<qsizetype>(category.Caption.size()))))
        << category.Caption;
  // Opened from disk, possibly offline: only links within the page.
  const QRegularExpression reference(QStringLiteral(R"((?:src|href)\s*=\s*["']?([^"'\s>]*))"));
  for (const QRegularExpressionMatch &m : reference.globalMatch(page))
    EXPECT_TRUE(m.captured(1).startsWith('#')) << m.captured(0).toStdString();
  EXPECT_FALSE(page.contains(QStringLiteral("url("))) << "a style that loads a file";
}

} // namespace
