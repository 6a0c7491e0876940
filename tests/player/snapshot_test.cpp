#include "snapshot.h"

#include "player_fixture.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>

namespace {

QImage TestPicture(int AWidth, int AHeight) {
  QImage image(AWidth, AHeight, QImage::Format_RGB888);
  for (int y = 0; y < AHeight; y++)
    for (int x = 0; x < AWidth; x++)
      image.setPixel(x, y, qRgb(x * 255 / AWidth, y * 255 / AHeight, (x + y) % 256));
  return image;
}

class SnapShotTest : public ::testing::Test {
protected:
  void SetUp() override {
    FRoot = MakeTempFolder();
    FFolder = QString::fromStdString(FRoot) + "/快照/sub";
  }
  void TearDown() override { RemoveFolder(FRoot); }
  std::string FRoot;
  QString FFolder;
};

} // namespace

TEST(PictureFormat, OnlyTheFourNamesAreKnown) {
  const struct {
    const char *Text;
    bool Known;
    TPictureFormat Format;
  } cases[] = {{"BMP", true, pfBMP}, {"JPG", true, pfJPG},   {"GIF", true, pfGIF},
               {"PNG", true, pfPNG}, {"TIFF", false, pfBMP}, {"bmp", false, pfBMP},
               {"", false, pfBMP},   {"Error", false, pfBMP}};
  for (const auto &c : cases) {
    TPictureFormat f = pfBMP;
    EXPECT_EQ(PictureFormatFromText(c.Text, f), c.Known) << c.Text;
    if (c.Known) {
      EXPECT_EQ(f, c.Format) << c.Text;
      EXPECT_EQ(PictureFormatExtension(f), "." + QString(c.Text).toLower());
    }
  }
  EXPECT_EQ(SnapShotBaseName("/v/clip.avi"), "clip");
  EXPECT_EQ(SnapShotBaseName("/v/my.clip.mp4"), "my.clip");
}

TEST_F(SnapShotTest, NumbersGrowPerFormatAndNothingIsOverwritten) {
  const QImage image = TestPicture(64, 36);
  QString error;
  EXPECT_EQ(SaveSnapShot(image, FFolder, "clip", pfBMP, &error), FFolder + "/clip_1.bmp")
      << error.toStdString();
  EXPECT_EQ(SaveSnapShot(image, FFolder, "clip", pfBMP), FFolder + "/clip_2.bmp");
  EXPECT_EQ(SaveSnapShot(image, FFolder, "clip", pfPNG), FFolder + "/clip_1.png");
  // A gap is filled, and a file that is there already is kept as it was.
  QFile::remove(FFolder + "/clip_1.bmp");
  QFile keep(FFolder + "/clip_2.png");
  ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
  keep.write("mine");
  keep.close();
  EXPECT_EQ(SaveSnapShot(image, FFolder, "clip", pfBMP), FFolder + "/clip_1.bmp");
  EXPECT_EQ(SaveSnapShot(image, FFolder, "clip", pfPNG), FFolder + "/clip_3.png");
  ASSERT_TRUE(keep.open(QIODevice::ReadOnly));
  EXPECT_EQ(keep.readAll(), "mine");
}

TEST_F(SnapShotTest, EveryFormatIsAValidPictureOfTheRightSize) {
  const QImage image = TestPicture(321, 241);
  for (TPictureFormat f : {pfBMP, pfJPG, pfGIF, pfPNG}) {
    QString error;
    const QString name = SaveSnapShot(image, FFolder, "clip", f, &error);
    ASSERT_FALSE(name.isEmpty()) << PictureFormatText(f).toStdString() << ": "
                                 << error.toStdString();
    EXPECT_EQ(ProbePictureSize(name.toStdString()), "321x241") << name.toStdString();
    QImage back(name);
    EXPECT_EQ(back.size(), image.size()) << name.toStdString();
  }
}

TEST_F(SnapShotTest, GifPaletteFollowsThePicture) {
  // A smooth picture with many colours: a fixed or broken palette shows as a large error.
  QImage image(200, 120, QImage::Format_RGB888);
  for (int y = 0; y < image.height(); y++)
    for (int x = 0; x < image.width(); x++)
      image.setPixel(x, y, qRgb(x * 255 / 200, y * 255 / 120, 96));
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(WriteGIF(image, buffer));
  QImage back;
  ASSERT_TRUE(back.loadFromData(buffer.data(), "GIF"));
  ASSERT_EQ(back.size(), image.size());
  double error = 0;
  for (int y = 0; y < image.height(); y++)
    for (int x = 0; x < image.width(); x++) {
      const QRgb a = image.pixel(x, y), b = back.pixel(x, y);
      error += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
               std::abs(qBlue(a) - qBlue(b));
    }
  error /= 3.0 * image.width() * image.height();
  EXPECT_LT(error, 6.0);
}

TEST_F(SnapShotTest, NothingWithoutPictureAndErrorsWhenTheFolderCannotBeMade) {
  QString error;
  EXPECT_TRUE(SaveSnapShot(QImage(), FFolder, "clip", pfBMP, &error).isEmpty());
  EXPECT_FALSE(QFileInfo::exists(FFolder + "/clip_1.bmp"));
  // A file where the folder should be.
  ASSERT_TRUE(QDir().mkpath(QFileInfo(FFolder).path()));
  QFile blocker(FFolder);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_TRUE(SaveSnapShot(TestPicture(8, 8), FFolder, "clip", pfPNG, &error).isEmpty());
  EXPECT_FALSE(error.isEmpty());
}
