#include "app_test_support.h"
#include "sound_player.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(SoundPlayerTest, PlaysTheShippedChimeWithoutBlockingAndReleasesTheDevice) {
  const QString chime = SourceFolder() + "/sounds/ring001.wav";
  ASSERT_TRUE(QFileInfo(chime).isFile()) << chime.toStdString();
  TSoundPlayer player;
  ASSERT_TRUE(player.Play(chime));
  EXPECT_TRUE(player.Playing());
  // The chime lasts 1.3 s; the device is closed once it has been played out.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !player.Playing(); }, 10000));
}

TEST(SoundPlayerTest, FilesThatAreNoWaveSoundPlayNothing) {
  QTemporaryDir dir;
  QFile text(dir.path() + "/ring001.wav");
  text.open(QIODevice::WriteOnly);
  text.write("not a wave file");
  text.close();
  TSoundPlayer player;
  EXPECT_FALSE(player.Play(dir.path() + "/missing.wav"));
  EXPECT_FALSE(player.Play(text.fileName()));
  EXPECT_FALSE(player.Playing());
}

} // namespace
