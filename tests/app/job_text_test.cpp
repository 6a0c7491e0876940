#include "qt_print.h"
#include "job_text.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

TEST(SecToDateTest, FormatsHoursMinutesSecondsWithoutWrappingHours) {
  const struct {
    int64_t Sec;
    const char *Text;
  } cases[] = {
      {0, "00:00:00"},     {59, "00:00:59"},    {60, "00:01:00"},      {3725, "01:02:05"},
      {86399, "23:59:59"}, {90000, "25:00:00"}, {360000, "100:00:00"}, {-5, "00:00:00"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(SecToDate(c.Sec), c.Text) << c.Sec;
}

TEST(JobSizeTextTest, MegabytesRoundedToTwoDecimalsHalvesToEven) {
  const struct {
    int64_t Bytes;
    const char *Text;
  } cases[] = {
      {1572864, "1.5MB"}, {10485760, "10MB"}, {387973, "0.37MB"},
      {0, "0MB"},         {131072, "0.12MB"}, // exactly 0.125: to even
      {393216, "0.38MB"},                     // exactly 0.375: to even
      {5242, "0MB"},                          // 0.004999...: down
      {5243, "0.01MB"},                       // 0.0050003...: up
      {1048575, "1MB"},                       // 0.99999...: up to a whole number
      {-1, "N/A"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(JobSizeText(c.Bytes), c.Text) << c.Bytes;
}

TEST(JobSizeTextTest, UsesTheLocaleDecimalSeparator) {
  QLocale::setDefault(QLocale(QLocale::German));
  EXPECT_EQ(JobSizeText(1572864), "1,5MB");
  QLocale::setDefault(QLocale::c());
}

TEST(OpenDialogFilterTest, HoldsTheFortyTwoPairsInOrder) {
  const QString filter = OpenDialogFilter();
  ASSERT_TRUE(filter.endsWith('|'));
  const QStringList parts = filter.left(filter.size() - 1).split('|');
  ASSERT_EQ(parts.size(), 84);
  EXPECT_EQ(parts[0], "所有文件格式 (*.*)");
  EXPECT_EQ(parts[1], "*.*");
  EXPECT_TRUE(parts[3].startsWith("*.AVI;*.ASF;*.asx;"));
  EXPECT_TRUE(parts[3].endsWith(";*.3gpp;*.3gp2;*.qt"));
  EXPECT_EQ(parts[3].count(';') + 1, 56);
  EXPECT_EQ(parts[7].count(';') + 1, 19); // the audio formats
  EXPECT_EQ(parts[52], "微软数字视频格式( *.dvr-ms)");
  EXPECT_EQ(parts[74], QString("Flac无损压缩音频格式") + QChar(0x3000) + "(*.flac)");
  EXPECT_EQ(parts[82], "AIFF音频编码格式(*.aif; *.aiff)");
  EXPECT_EQ(parts[83], "*.aif; *.aiff");
}

TEST(OpenDialogFilterTest, DialogFiltersCarryMatchablePatterns) {
  const QStringList filters = OpenDialogNameFilters(OpenDialogFilter());
  ASSERT_EQ(filters.size(), 42);
  EXPECT_EQ(filters[0], "所有文件格式 (*.*) (*)");
  EXPECT_EQ(filters[5], "Real视频文件格式 (*.rm;*.rmvb) (*.rm *.rmvb)");
  EXPECT_EQ(filters[41], "AIFF音频编码格式(*.aif; *.aiff) (*.aif *.aiff)");
}

TEST(GetFilenamesTest, ListsFilesDirectlyInTheFolderOnly) {
  QTemporaryDir dir;
  const QString root = dir.path();
  for (const char *name : {"b.avi", "A.mp4", "noext", ".hidden", "中文 名称 \"引号\".mkv"}) {
    QFile f(root + "/" + name);
    f.open(QIODevice::WriteOnly);
  }
  QDir().mkpath(root + "/sub");
  QFile(root + "/sub/inner.mp4").open(QIODevice::WriteOnly);
  ASSERT_EQ(mkfifo(QFile::encodeName(root + "/pipe.mp4").constData(), 0600), 0);

  const QStringList want = {root + "/.hidden", root + "/A.mp4", root + "/b.avi", root + "/noext",
                            root + "/中文 名称 \"引号\".mkv"};
  EXPECT_EQ(GetFilenames(root, "*.*"), want);
  EXPECT_EQ(GetFilenames(root + "/", "*.*"), want);
  EXPECT_EQ(GetFilenames(root, "*.avi"), QStringList{root + "/b.avi"});
  EXPECT_TRUE(GetFilenames("", "*.*").isEmpty());
  EXPECT_TRUE(GetFilenames(root + "/missing", "*.*").isEmpty());
}

TEST(ValidOutputBaseNameTest, RefusesEmptyNamesAndFolders) {
  EXPECT_FALSE(ValidOutputBaseName(""));
  EXPECT_FALSE(ValidOutputBaseName("../clip"));
  EXPECT_FALSE(ValidOutputBaseName("sub/clip"));
  EXPECT_TRUE(ValidOutputBaseName("clip"));
  EXPECT_TRUE(ValidOutputBaseName("中文 名称 \"引号\" a.b"));
}

} // namespace
