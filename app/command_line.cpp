#include "command_line.h"

#include "main_window.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <cstdio>

QStringList CommandLinePaths(const QStringList &AArguments, const QString &ACurrentFolder) {
  QStringList paths;
  const QDir current(ACurrentFolder);
  for (const QString &argument : AArguments) {
    if (argument.isEmpty())
      continue;
    QString path = argument;
    if (argument.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) {
      const QUrl url(argument);
      if (!url.isLocalFile())
        continue;
      path = url.toLocalFile();
    } else if (!argument.startsWith(QLatin1Char('/')) && argument.contains(QStringLiteral("://"))) {
      continue;
    }
    paths << QDir::cleanPath(current.absoluteFilePath(path));
  }
  return paths;
}

QStringList ParseProgramArguments(QCoreApplication &AApp) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("凌川安卓手机格式转换器: batch converter for video and audio files."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("files"),
                               QStringLiteral("Files or folders to add to the job list."),
                               QStringLiteral("[FILE...]"));
  parser.process(AApp);
  QStringList paths;
  for (const QString &path : CommandLinePaths(parser.positionalArguments(), QDir::currentPath())) {
    if (QFileInfo::exists(path))
      paths << path;
    else
      std::fprintf(stderr, "%s: %s: No such file or directory\n",
                   qPrintable(QCoreApplication::applicationName()), qPrintable(path));
  }
  return paths;
}

void AddPathsAfterStart(TForm1 &AForm, const QStringList &APaths) {
  if (APaths.isEmpty())
    return;
  // The window as context: a window closed before the loop runs adds nothing.
  QTimer::singleShot(0, &AForm, [&AForm, APaths] { AForm.DropPaths(APaths); });
}
