#include "probe_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

TEST(SizeText, UnitsSwitchAboveEachPowerOf1024) {
  const struct {
    int64_t Size;
    const char *Text;
  } cases[] = {{-1, "-1 Byte"},
               {0, "0 Byte"},
               {1024, "1024 Byte"},
               {1025, "1.00 KB"},
               {1048576, "1024.00 KB"},
               {1048577, "1.00 MB"},
               {1073741824LL, "1024.00 MB"},
               {1073741825LL, "1.00 GB"},
               {5LL * 1073741824 + 536870912, "5.50 GB"},
               {4LL * 1024 * 1073741824, "4096.00 GB"}};
  for (const auto &c : cases)
    EXPECT_EQ(SizeText(c.Size), c.Text) << c.Size;
}

TEST(RateText, DecimalsOnlyWhereNeededAndThousandsAsK) {
  const struct {
    double Value;
    const char *Unit;
    const char *Text;
  } cases[] = {{25, "fps", ", 25 fps"},
               {30000.0 / 1001, "fps", ", 29.97 fps"},
               {24000.0 / 1001, "tbr", ", 23.98 tbr"},
               {90000, "tbn", ", 90k tbn"},
               {1000, "tbn", ", 1k tbn"},
               {12800, "tbn", ", 12800 tbn"},
               {0.5, "fps", ", 0.50 fps"},
               {59.94, "fps", ", 59.94 fps"},
               {1.005, "fps", ", 1 fps"}, // 100.49999...: rounds to a whole number
               {100000, "tbn", ", 100k tbn"}};
  for (const auto &c : cases)
    EXPECT_EQ(RateText(c.Value, c.Unit), c.Text) << c.Value;
}

TEST(TagDisplayName, KnownKeysAreRenamedExactly) {
  const struct {
    const char *Key;
    const char *Name;
  } cases[] = {{"TALB", "album"}, {"TAL", "album"},       {"TPE1", "artist"},     {"TIT2", "title"},
               {"TYER", "year"},  {"TSOP", "authorsort"}, {"TLAN", "language"},   {"TRK", "track"},
               {"tit2", "tit2"},  {"TIT2 ", "TIT2 "},     {"encoder", "encoder"}, {"", ""}};
  for (const auto &c : cases)
    EXPECT_EQ(TagDisplayName(c.Key), c.Name) << c.Key;
}

class MetadataListingTest : public ::testing::Test {
protected:
  void TearDown() override { av_dict_free(&FDict); }
  std::vector<std::string> List(const std::string &AIndent) {
    std::vector<std::string> lines;
    MetadataListing(FDict, AIndent, lines);
    return lines;
  }
  AVDictionary *FDict = nullptr;
};

TEST_F(MetadataListingTest, AbsentOrLoneLanguagePrintsNothing) {
  EXPECT_TRUE(List("").empty());
  av_dict_set(&FDict, "language", "chi", 0);
  EXPECT_TRUE(List("  ").empty());
}

TEST_F(MetadataListingTest, TagsInOrderWithDisplayNamesAndNoLanguage) {
  av_dict_set(&FDict, "TIT2", "Song", 0);
  av_dict_set(&FDict, "language", "eng", 0);
  av_dict_set(&FDict, "a_rather_long_key_name", "v", 0);
  const std::vector<std::string> expected = {"  Metadata:", "    title           : Song",
                                             "    a_rather_long_key_name: v"};
  EXPECT_EQ(List("  "), expected);
}

TEST(StartTimeText, SecondsAndMicroseconds) {
  EXPECT_EQ(StartTimeText(0), "0.000000");
  EXPECT_EQ(StartTimeText(1500000), "1.500000");
  EXPECT_EQ(StartTimeText(3723000001LL), "3723.000001");
  // A negative start (audio priming) keeps its sign in front.
  EXPECT_EQ(StartTimeText(-21333), "-0.021333");
  EXPECT_EQ(StartTimeText(-1500000), "-1.500000");
}

// Sets TZ for one test and puts the old value back.
class ZoneTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char *old = std::getenv("TZ");
    FHadTZ = old != nullptr;
    if (old)
      FOldTZ = old;
  }
  void TearDown() override {
    if (FHadTZ)
      setenv("TZ", FOldTZ.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  bool FHadTZ = false;
  std::string FOldTZ;
};

TEST_F(ZoneTest, TimeStampIsShownInStandardLocalTime) {
  const int64_t noonUTC = 1272715200; // 2010-05-01 12:00:00 UTC
  setenv("TZ", "CST-8", 1);
  EXPECT_EQ(TimeStampText(noonUTC), "2010-05-01 20:00:00");
  // Daylight saving is not applied: summer in a zone with DST still shows the standard offset.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  EXPECT_EQ(TimeStampText(noonUTC), "2010-05-01 13:00:00");
  setenv("TZ", "UTC0", 1);
  EXPECT_EQ(TimeStampText(0), "1970-01-01 00:00:00");
}

TEST(CodecDisplayName, DecoderNamesAndFallbacks) {
  AVCodecParameters *par = avcodec_parameters_alloc();
  ASSERT_NE(par, nullptr);
  const struct {
    AVCodecID Id;
    uint32_t Tag;
    const char *Text;
  } cases[] = {
      {AV_CODEC_ID_H264, 0, "h264(H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10)"},
      {AV_CODEC_ID_MP3, 0, "mp3float(MP3 (MPEG audio layer 3))"},
      {AV_CODEC_ID_MPEG2TS, 0, "mpeg2ts"},
      {AV_CODEC_ID_NONE, MKTAG('X', 'V', 'I', 'D'), "XVID / 0x44495658"},
      {AV_CODEC_ID_NONE, 0x0055, "0x0055"},
      {AV_CODEC_ID_NONE, MKTAG('a', 'b', '\n', 'd'), "0x640a6261"},
  };
  for (const auto &c : cases) {
    par->codec_id = c.Id;
    par->codec_tag = c.Tag;
    EXPECT_EQ(CodecDisplayName(par), c.Text) << c.Id;
  }
  avcodec_parameters_free(&par);
}

} // namespace
