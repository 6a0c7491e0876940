#include "snapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gif_lib.h>

#include <vector>

namespace {

int WriteToDevice(GifFileType *AGif, const GifByteType *ABuffer, int ALength) {
  auto *device = static_cast<QIODevice *>(AGif->UserData);
  return int(device->write(reinterpret_cast<const char *>(ABuffer), ALength));
}

void SetError(QString *AError, const QString &AText) {
  if (AError)
    *AError = AText;
}

} // namespace

bool PictureFormatFromText(const QString &AText, TPictureFormat &AFormat) {
  static const TPictureFormat formats[] = {pfBMP, pfJPG, pfGIF, pfPNG};
  for (TPictureFormat f : formats) {
    if (AText == PictureFormatText(f)) {
      AFormat = f;
      return true;
    }
  }
  return false;
}

QString PictureFormatText(TPictureFormat AFormat) {
  switch (AFormat) {
  case pfJPG:
    return QStringLiteral("JPG");
  case pfGIF:
    return QStringLiteral("GIF");
  case pfPNG:
    return QStringLiteral("PNG");
  default:
    return QStringLiteral("BMP");
  }
}

QString PictureFormatExtension(TPictureFormat AFormat) {
  return QLatin1Char('.') + PictureFormatText(AFormat).toLower();
}

QString SnapShotBaseName(const QString &AFileName) {
  return QFileInfo(AFileName).completeBaseName();
}

QString NextSnapShotName(const QString &AFolder, const QString &ABase, TPictureFormat AFormat) {
  const QString ext = PictureFormatExtension(AFormat);
  for (int n = 1;; n++) {
    const QString name =
        AFolder + QLatin1Char('/') + ABase + QLatin1Char('_') + QString::number(n) + ext;
    if (!QFileInfo::exists(name))
      return name;
  }
}

bool WriteGIF(const QImage &AImage, QIODevice &ADevice, QString *AError) {
  const QImage rgb = AImage.convertToFormat(QImage::Format_RGB888);
  const int w = rgb.width(), h = rgb.height();
  if (rgb.isNull() || w > 65535 || h > 65535) {
    SetError(AError, QStringLiteral("The picture cannot be stored as GIF"));
    return false;
  }
  const size_t count = size_t(w) * size_t(h);
  std::vector<GifByteType> red(count), green(count), blue(count), indices(count);
  for (int y = 0; y < h; y++) {
    const uchar *line = rgb.constScanLine(y);
    for (int x = 0; x < w; x++) {
      const size_t i = size_t(y) * size_t(w) + size_t(x);
      red[i] = line[3 * x];
      green[i] = line[3 * x + 1];
      blue[i] = line[3 * x + 2];
    }
  }
  int colours = 256;
  std::vector<GifColorType> palette(256, GifColorType{0, 0, 0});
  if (GifQuantizeBuffer(unsigned(w), unsigned(h), &colours, red.data(), green.data(), blue.data(),
                        indices.data(), palette.data()) == GIF_ERROR) {
    SetError(AError, QStringLiteral("GIF palette error"));
    return false;
  }
  ColorMapObject *map = GifMakeMapObject(256, palette.data());
  int err = 0;
  GifFileType *gif = map ? EGifOpen(&ADevice, WriteToDevice, &err) : nullptr;
  bool ok = gif != nullptr;
  if (ok)
    ok = EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK &&
         EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < h; y++)
    ok = EGifPutLine(gif, indices.data() + size_t(y) * size_t(w), w) == GIF_OK;
  if (gif) {
    if (!ok)
      err = gif->Error;
    int closeErr = 0;
    if (EGifCloseFile(gif, &closeErr) == GIF_ERROR && ok) {
      ok = false;
      err = closeErr;
    }
  }
  GifFreeMapObject(map);
  if (!ok) {
    const char *text = GifErrorString(err);
    SetError(AError,
             QStringLiteral("GIF write error: ") + QString::fromUtf8(text ? text : "unknown"));
  }
  return ok;
}

QString SaveSnapShot(const QImage &AImage, const QString &AFolder, const QString &ABase,
                     TPictureFormat AFormat, QString *AError) {
  if (AImage.isNull() || AImage.width() <= 0) {
    SetError(AError, QString());
    return QString();
  }
  if (!QDir().mkpath(AFolder)) {
    SetError(AError, QStringLiteral("Cannot create the folder ") + AFolder);
    return QString();
  }
  for (;;) {
    const QString name = NextSnapShotName(AFolder, ABase, AFormat);
    QFile file(name);
    // NewOnly: a file made by someone else between the look and the open is left alone.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
      if (QFileInfo::exists(name))
        continue;
      SetError(AError, file.errorString());
      return QString();
    }
    bool ok;
    QString error;
    switch (AFormat) {
    case pfGIF:
      ok = WriteGIF(AImage, file, &error);
      break;
    case pfJPG:
      ok = AImage.save(&file, "JPG");
      break;
    case pfPNG:
      ok = AImage.save(&file, "PNG");
      break;
    default:
      ok = AImage.save(&file, "BMP");
      break;
    }
    if (ok && !file.flush())
      ok = false;
    if (!ok) {
      if (error.isEmpty())
        error = file.errorString().isEmpty() ? QStringLiteral("Cannot write ") + name
                                             : file.errorString();
      file.close();
      file.remove(); // no half-written picture left behind
      SetError(AError, error);
      return QString();
    }
    file.close();
    SetError(AError, QString());
    return name;
  }
}
