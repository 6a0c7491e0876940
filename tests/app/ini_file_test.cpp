#include "qt_print.h"
#include "app_paths.h"
#include "ini_file.h"
#include "snapshot_settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString ReadAll(const QString &AFileName) {
  QFile file(AFileName);
  file.open(QIODevice::ReadOnly);
  return QString::fromUtf8(file.readAll());
}

void WriteAll(const QString &AFileName, const QString &AText) {
  QFile file(AFileName);
  file.open(QIODevice::WriteOnly);
  file.write(AText.toUtf8());
}

class IniFileTest : public ::testing::Test {
protected:
  QTemporaryDir FDir;
  QString FName = FDir.path() + QStringLiteral("/conf/option.ini");
  TIniFile FIni{FName};
};

TEST_F(IniFileTest, MissingFileOrKeyGivesTheDefaultAndCreatesNothing) {
  EXPECT_EQ(FIni.ReadString("OutPath", "OutPath", "Error"), "Error");
  EXPECT_FALSE(FIni.Exists());
  EXPECT_FALSE(QFile::exists(FName));
}

TEST_F(IniFileTest, FirstWriteCreatesFileAndFolder) {
  ASSERT_TRUE(FIni.WriteString("OutPath", "OutPath", "/home/u/凌川视频软件/输出"));
  EXPECT_TRUE(FIni.Exists());
  EXPECT_EQ(ReadAll(FName), "[OutPath]\nOutPath=/home/u/凌川视频软件/输出\n");
  EXPECT_EQ(FIni.ReadString("OutPath", "OutPath", "Error"), "/home/u/凌川视频软件/输出");
}

TEST_F(IniFileTest, WritesKeepEveryOtherLineAndAddKeysToTheirSection) {
  QDir().mkpath(FDir.path() + "/conf");
  WriteAll(FName, "; kept comment\r\n[Skin]\r\nSetSkin=0\r\n\r\n[Options]\r\nAfter_Done=1\r\n"
                  "Other=x\r\n\r\n[SnapShot]\r\nDir=/snap\r\n");
  ASSERT_TRUE(FIni.WriteString("options", "after_done", "3")); // names match in any case
  ASSERT_TRUE(FIni.WriteString("Options", "Thread_Count", "4"));
  ASSERT_TRUE(FIni.WriteString("New", "Key", "v"));
  EXPECT_EQ(ReadAll(FName), "; kept comment\n[Skin]\nSetSkin=0\n\n[Options]\nafter_done=3\n"
                            "Other=x\nThread_Count=4\n\n[SnapShot]\nDir=/snap\n[New]\nKey=v\n");
}

TEST_F(IniFileTest, ReadsTrimAndMatchWithoutCaseAndSeeOtherWriters) {
  QDir().mkpath(FDir.path() + "/conf");
  WriteAll(FName,
           "\xEF\xBB\xBF[ Options ]\n  Thread_Count =  7  \nEmpty=\n[Other]\nThread_Count=9\n");
  EXPECT_EQ(FIni.ReadString("OPTIONS", "thread_count", "Error"), "7");
  EXPECT_EQ(FIni.ReadString("Options", "Empty", "Error"), "");
  EXPECT_EQ(FIni.ReadString("Options", "Missing", "Error"), "Error");
  EXPECT_EQ(FIni.ReadString("Missing", "Thread_Count", "Error"), "Error");
  // No copy is kept between calls: another writer's change is seen by the next read.
  WriteAll(FName, "[Options]\nThread_Count=2\n");
  EXPECT_EQ(FIni.ReadString("Options", "Thread_Count", "Error"), "2");
}

TEST_F(IniFileTest, ValueWithLineBreakIsRefusedAndFileUntouched) {
  ASSERT_TRUE(FIni.WriteString("OutPath", "OutPath", "/a"));
  EXPECT_FALSE(FIni.WriteString("OutPath", "OutPath", "/a\n[Skin]\nSetSkin=5"));
  EXPECT_EQ(ReadAll(FName), "[OutPath]\nOutPath=/a\n");
}

TEST_F(IniFileTest, UnwritableLocationFailsWithoutThrowing) {
  QDir().mkpath(FDir.path() + "/conf");
  WriteAll(FDir.path() + "/conf/blocker", "x");
  TIniFile ini(FDir.path() + "/conf/blocker/option.ini"); // a file where the folder should be
  EXPECT_FALSE(ini.WriteString("Skin", "SetSkin", "0"));
  EXPECT_EQ(ini.ReadString("Skin", "SetSkin", "Error"), "Error");
}

TEST(IniLocationTest, BesideTheProgramWhenWritableElseInTheConfigFolder) {
  QTemporaryDir dir;
  EXPECT_EQ(IniFileLocation(dir.path() + "/", "/cfg"), dir.path() + "/option.ini");
  EXPECT_EQ(IniFileLocation(dir.path() + "/no/such/folder/", "/cfg"), "/cfg/option.ini");
}

TEST(SnapShotSettingsTest, MissingOrUnknownValuesAreReplacedAndWritten) {
  QTemporaryDir dir;
  TIniFile ini(dir.path() + "/option.ini");
  const struct {
    const char *Dir, *Picture;         // stored; nullptr = missing
    const char *WantDir, *WantPicture; // read and then stored
  } cases[] = {
      {nullptr, nullptr, "/def", "BMP"}, {"", "gif", "/def", "BMP"},
      {"Error", "TIFF", "/def", "BMP"},  {"/mine", "PNG", "/mine", "PNG"},
      {"/mine", "JPG", "/mine", "JPG"},
  };
  for (const auto &c : cases) {
    QFile::remove(ini.FileName());
    if (c.Dir)
      ini.WriteString("SnapShot", "Dir", c.Dir);
    if (c.Picture)
      ini.WriteString("SnapShot", "Picture", c.Picture);
    EXPECT_EQ(ReadSnapShotDir(ini, "/def"), c.WantDir) << (c.Dir ? c.Dir : "missing");
    EXPECT_EQ(ReadSnapShotPicture(ini), c.WantPicture) << (c.Picture ? c.Picture : "missing");
    EXPECT_EQ(ini.ReadString("SnapShot", "Dir", "Error"), c.WantDir);
    EXPECT_EQ(ini.ReadString("SnapShot", "Picture", "Error"), c.WantPicture);
  }
}

} // namespace
