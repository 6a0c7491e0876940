// Where the program's own files (sound, help page) lie: beside the executable in a build tree,
// in <prefix>/share/lingchuan-converter/ once installed with the executable in <prefix>/bin/.
#pragma once

#include <QString>
#include <QStringList>

// The folders searched for a bundled file, in order, each with a trailing "/".
QStringList DataFolders(const QString &AAppFolder);

// The first of DataFolders that holds ARelativeName; the path beside the executable when none
// does, so a missing file is looked for where a build tree keeps it.
QString DataFile(const QString &AAppFolder, const QString &ARelativeName);

// True when the executable runs from an installed tree: its data folder under share/ exists and
// no bundled files lie beside it. Such a program keeps its settings in the user's folder, never
// in the system's program folder, even when run by an administrator.
bool IsInstalledLayout(const QString &AAppFolder);
