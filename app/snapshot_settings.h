// The section "SnapShot" of "option.ini": where snapshots go and which picture type they get.
#pragma once

#include "ini_file.h"

#include <QString>

// The snapshot folder; a missing, empty or "Error" value is replaced by ADefault and written.
QString ReadSnapShotDir(const TIniFile &AIni, const QString &ADefault);
void WriteSnapShotDir(const TIniFile &AIni, const QString &AFolder);

// "BMP", "JPG", "GIF" or "PNG"; anything else is replaced by "BMP" and written.
QString ReadSnapShotPicture(const TIniFile &AIni);
void WriteSnapShotPicture(const TIniFile &AIni, const QString &AType);
