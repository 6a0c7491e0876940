#include "ff_error.h"
#include "ff_utils.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/avutil.h>
}

namespace {

TEST(DurationText, Values) {
  const struct {
    int64_t Time_us;
    const char *Text;
  } cases[] = {{AV_NOPTS_VALUE, "N/A"},
               {0, "00:00:00.000"},
               {999, "00:00:00.000"},
               {1000, "00:00:00.001"},
               {3723456000LL, "01:02:03.456"},
               {100LL * 3600 * 1000000, "100:00:00.000"},
               {25LL * 3600 * 1000000 + 59999999, "25:00:59.999"}};
  for (const auto &c : cases)
    EXPECT_EQ(DurationText(c.Time_us), c.Text) << c.Time_us;
}

TEST(LibraryError, CodesBecomeTheirTexts) {
  const struct {
    int Code;
    const char *Text;
  } cases[] = {{AVERROR(ENOENT), "No such file or directory"},
               {AVERROR(EIO), "I/O error"},
               {AVERROR(ENOMEM), "Not enough memory"},
               {AVERROR(EINVAL), "Invalid data found when processing input"},
               {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
               {AVERROR_EOF, "End of file"},
               {AVERROR(EDOM), "Number syntax expected in filename"},
               {AVERROR(EILSEQ), "Unknown format"},
               {AVERROR_DEMUXER_NOT_FOUND, "Unknown format"},
               {AVERROR_PROTOCOL_NOT_FOUND, "Unsupported network protocol"},
               {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
               {-1163346256, "Not yet implemented in FFmpeg"},
               {AVERROR(ENOSYS), "Not yet implemented in FFmpeg"},
               {-99999, "Error number -99999 occurred"}};
  for (const auto &c : cases)
    EXPECT_EQ(FormatLibraryError("a.mp4", c.Code), std::string("a.mp4: ") + c.Text) << c.Code;
}

TEST(StreamTypeName, Names) {
  const char *names[] = {"Video", "Audio", "Data", "Subtitle", "Attachment", "Unknown"};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(StreamTypeName(i), names[i]);
  EXPECT_EQ(StreamTypeName(-1), "Unknown");
}

TEST(NumberText, StrictConversions) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt(" -7 "), -7);
  EXPECT_EQ(StrToInt("$1F"), 31);
  EXPECT_EQ(StrToInt64("9000000000"), 9000000000LL);
  EXPECT_DOUBLE_EQ(StrToFloat("29.97"), 29.97);
  EXPECT_DOUBLE_EQ(StrToFloat("+1e3"), 1000.0);
  for (const char *bad : {"", " ", "12a", "a12", "1.5", "2147483648", "--1"})
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  for (const char *bad : {"", "1,5", "nan", "inf", "1.2.3", "x"})
    EXPECT_THROW(StrToFloat(bad), EConvertError) << bad;
  EXPECT_THROW(StrToInt(std::string("1\0"
                                    "2",
                                    3)),
               EConvertError);
  EXPECT_EQ(StrToIntDef("x", -1), -1);
  try {
    StrToInt("12a");
  } catch (const EConvertError &e) {
    EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
  }
}

} // namespace
