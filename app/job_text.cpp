#include "job_text.h"

#include <QDir>
#include <QLocale>

QString SecToDate(int64_t ASec) {
  if (ASec < 0)
    ASec = 0;
  const int64_t s = ASec % 60;
  const int64_t m = (ASec / 60) % 60;
  const int64_t h = ASec / 3600;
  return QStringLiteral("%1:%2:%3")
      .arg(h, 2, 10, QLatin1Char('0'))
      .arg(m, 2, 10, QLatin1Char('0'))
      .arg(s, 2, 10, QLatin1Char('0'));
}

QString JobSizeText(int64_t ABytes) {
  if (ABytes < 0)
    return QStringLiteral("N/A");
  // Hundredths of a megabyte in integers, so that halves are exact and round to even.
  constexpr int64_t KMega = 1024 * 1024;
  const unsigned __int128 scaled = static_cast<unsigned __int128>(ABytes) * 100;
  uint64_t hundredths = static_cast<uint64_t>(scaled / KMega);
  const uint64_t rest = static_cast<uint64_t>(scaled % KMega);
  if (rest * 2 > KMega || (rest * 2 == KMega && hundredths % 2 == 1))
    ++hundredths;
  QString text = QString::number(hundredths / 100);
  const uint64_t fraction = hundredths % 100;
  if (fraction != 0) {
    QString digits = QStringLiteral("%1").arg(fraction, 2, 10, QLatin1Char('0'));
    if (digits.endsWith(QLatin1Char('0')))
      digits.chop(1);
    text += QLocale().decimalPoint() + digits;
  }
  return text + QStringLiteral("MB");
}

QString OpenDialogFilter() {
  static const char *const KPairs[][2] = {
      {"所有文件格式 (*.*)", "*.*"},
      {"支持的视频/音频文件格式",
       "*.AVI;*.ASF;*.asx;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*."
       "VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.SWF;*.FLAC;*.M4A;*."
       "MID;*.MKA;*.MP2;*.MPA;*.MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3;*.DTS;*.DV;*.m4v;*."
       "3g2;*.mkv;*.dv;*.yuv;*.h261;*.h264;*.mjpeg;*.dif;*.m4v;*.3gpp;*.3gp2;*.qt"},
      {"支持的视频文件格式",
       "*.AVI;*.ASF;*.asx;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;*."
       "VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.SWF;*.WV;*.TTA;*.AC3;*.DTS;*.DV;*.m4v;*.3g2;*."
       "mkv;*.dv;*.yuv;*.h261;*.h264;*.mjpeg;*.dif;*.m4v;*.3gpp;*.3gp2;*.qt"},
      {"支持的音频文件格式", "*.MP3;*.AAC;*.WAV;*.WMA;*.CDA;*.FLAC;*.M4A;*.MID;*.MKA;*.MP2;*.MPA;*."
                             "MPC;*.APE;*.OFR;*.OGG;*.RA;*.WV;*.TTA;*.AC3"},
      {"AVI文件 (*.avi)", "*.avi"},
      {"Real视频文件格式 (*.rm;*.rmvb)", "*.rm;*.rmvb"},
      {"MP4视频格式 (*.mp4;*.m4v)", "*.mp4;*.m4v"},
      {"MPEG视频格式 (*.mpg;*.mpeg)", "*.mpg;*.mpeg"},
      {"DVD视频格式 (*.vob)", "*.vob"},
      {"VCD/SVCD视频格式 (*.dat;*.mpg)", "*.dat;*.mpg"},
      {"ASF微软视频格式 (*.asf)", "*.asf"},
      {"WMV微软视频格式 (*.wmv)", "*.wmv"},
      {"手机3GPP文件格式 (*.3gp;*.3gpp)", "*.3gp;*.3gpp"},
      {"手机3GPP2文件格式 (*.3g2;*.3gp2)", "*.3g2;*.3gp2"},
      {"Flash动画格式 (*.swf)", "*.swf"},
      {"Flash视频格式 (*.flv)", "*.flv"},
      {"MKV视频媒体格式 (*.mkv)", "*.mkv"},
      {"Quick Time视频文件格式 (*.mov;*.qt)", "*.mov;*.qt"},
      {"DV数字视频文件格式 (*.dv;*.dif)", "*.dv;*.dif"},
      {"Raw h261类型文件 (*.h261)", "*.h261"},
      {"Raw h264类型文件 (*.h264)", "*.h264"},
      {"YUV类型文件 (*.yuv)", "*.yuv"},
      {"GIF图片动画格式 (*.gif)", "*.gif"},
      {"MJPEG视频格式(*.mjpg;*.mjpeg)", "*.mjpg;*.mjpeg"},
      {"TS视频格式 (*.ts)", "*.ts"},
      {"WMV高清HD视频格式 (*.xwmv)", "*.xwmv"},
      {"微软数字视频格式( *.dvr-ms)", "*.dvr-ms"},
      {"iTunes视频格式 (*.m4v)", "*.m4v"},
      {"MP3音频格式 (*.mp3)", "*.mp3"},
      {"CD音频格式 (*.cda)", "*.cda"},
      {"WMA微软音频格式 (*.wma)", "*.wma"},
      {"WAVE音频格式 (*.wav)", "*.wav"},
      {"REAL音频格式 (*.ra;*.ram)", "*.ra;*.ram"},
      {"MP4音频格式 (*.m4a;*.mp4)", "*.m4a;*.mp4"},
      {"AAC高级音频格式 (*.aac)", "*.aac"},
      {"AC3音频格式 (*.ac3)", "*.ac3"},
      {"Monkey音频格式 (*.ape;*.cue)", "*.ape;*.cue"},
      {"Flac无损压缩音频格式\u3000(*.flac)", "*.flac"},
      {"MPEG音频编码格式(*.mpa)", "*.mpa"},
      {"MPEG 2音频编码格式(*.mp2)", "*.mp2"},
      {"OGG音频编码格式(*.ogg)", "*.ogg"},
      {"AIFF音频编码格式(*.aif; *.aiff)", "*.aif; *.aiff"},
  };
  QString filter;
  for (const auto &pair : KPairs)
    filter += QString::fromUtf8(pair[0]) + QLatin1Char('|') + QString::fromUtf8(pair[1]) +
              QLatin1Char('|');
  return filter;
}

QStringList OpenDialogNameFilters(const QString &AFilter) {
  const QStringList parts = AFilter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns;
    for (const QString &p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString t = p.trimmed();
      // "*.*" keeps files without a dot in their name, as on the system the mask comes from.
      if (!t.isEmpty())
        patterns << (t == QStringLiteral("*.*") ? QStringLiteral("*") : t);
    }
    filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

QStringList GetFilenames(const QString &AFilePath, const QString &AExtMask) {
  if (AFilePath.isEmpty())
    return {};
  QString folder = AFilePath;
  if (!folder.endsWith(QLatin1Char('/')))
    folder += QLatin1Char('/');
  const QString mask = AExtMask == QStringLiteral("*.*") ? QStringLiteral("*") : AExtMask;
  const QDir dir(folder);
  const QStringList names =
      dir.entryList(QStringList{mask}, QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
  QStringList files;
  files.reserve(names.size());
  for (const QString &name : names)
    files << folder + name;
  return files;
}

bool ValidOutputBaseName(const QString &ABaseName) {
  return !ABaseName.isEmpty() && !ABaseName.contains(QLatin1Char('/'));
}
