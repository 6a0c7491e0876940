// Snapshots: the picture on screen saved as a BMP, JPG, GIF or PNG file in a folder, under the
// file's base name and the first free number ("clip_1.bmp", "clip_2.bmp", ...).
#pragma once

#include <QIODevice>
#include <QImage>
#include <QString>

enum TPictureFormat : int { pfBMP, pfJPG, pfGIF, pfPNG };

// "BMP", "JPG", "GIF" or "PNG" (exactly); false for any other text.
bool PictureFormatFromText(const QString &AText, TPictureFormat &AFormat);
QString PictureFormatText(TPictureFormat AFormat);
// ".bmp", ".jpg", ".gif", ".png".
QString PictureFormatExtension(TPictureFormat AFormat);

// The name of a file without its folder and extension: the base of its snapshots.
QString SnapShotBaseName(const QString &AFileName);

// AFolder/ABase_n.ext for the smallest n from 1 with no such file.
QString NextSnapShotName(const QString &AFolder, const QString &ABase, TPictureFormat AFormat);

// Saves AImage as a new file AFolder/ABase_n.ext (the smallest free n; an existing file is never
// replaced), creating AFolder and its parents when missing. Returns the file written, or an
// empty text with the reason in AError. A null image writes nothing.
QString SaveSnapShot(const QImage &AImage, const QString &AFolder, const QString &ABase,
                     TPictureFormat AFormat, QString *AError = nullptr);

// Writes AImage as a GIF with a 256-colour palette chosen for the picture.
bool WriteGIF(const QImage &AImage, QIODevice &ADevice, QString *AError = nullptr);
