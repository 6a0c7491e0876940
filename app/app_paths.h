// Where the program finds its settings file, its bundled files and its default folders.
#pragma once

#include "data_paths.h"

#include <QString>

struct TAppPaths {
  QString AppFolder;           // the executable's folder, with a trailing "/"
  QString IniFile;             // "option.ini"
  QString DefaultOutPath;      // output folder when none is stored
  QString DefaultSnapShotPath; // snapshot folder when none is stored

  // Bundled files: beside the executable, or in the installed data folder.
  QString SoundFile() const { return DataFile(AppFolder, QStringLiteral("sounds/ring001.wav")); }
  QString HelpFile() const { return DataFile(AppFolder, QStringLiteral("docs/help.html")); }
  QString LibraryFolder() const { return AppFolder + QStringLiteral("LibAV"); }
};

// "option.ini" beside the executable when that folder is writable, else in AConfigFolder.
QString IniFileLocation(const QString &AAppFolder, const QString &AConfigFolder);

// The paths of the running program: settings beside the executable or in
// the user's configuration folder (~/.config/lingchuan-converter/), default folders under
// ~/凌川视频软件/.
TAppPaths DefaultAppPaths();
