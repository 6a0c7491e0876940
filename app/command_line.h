// The window program's command line: files and folders to add, as a file manager's "Open with"
// passes them.
#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;
class TForm1;

// AArguments as absolute paths: relative names are taken from ACurrentFolder, "file:" URLs
// become local paths, other URLs and empty arguments are dropped. Order is kept.
QStringList CommandLinePaths(const QStringList &AArguments, const QString &ACurrentFolder);

// Reads the program's own options (--help and --version print and exit) and answers the paths
// given; names that do not exist are reported on standard error and left out.
QStringList ParseProgramArguments(QCoreApplication &AApp);

// Adds APaths to the job list once the event loop runs, as the add commands and a drop do.
void AddPathsAfterStart(TForm1 &AForm, const QStringList &APaths);
