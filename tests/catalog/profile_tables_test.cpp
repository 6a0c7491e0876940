// The compiled catalog against its reference tables, category by category.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "catalog_printers.h"
#include "catalog_reference.h"
#include "choice_lists.h"
#include "profile_catalog.h"
#include "working_parameters.h"

namespace {

std::string Trim(const std::string &S) {
  const size_t B = S.find_first_not_of(' ');
  if (B == std::string::npos)
    return {};
  return S.substr(B, S.find_last_not_of(' ') - B + 1);
}

// The cells of every "| a | b |" line of a block.
std::vector<std::vector<std::string>> TableRows(const std::string &ABlock) {
  std::vector<std::vector<std::string>> Rows;
  std::istringstream In(ABlock);
  std::string Line;
  while (std::getline(In, Line)) {
    if (Line.rfind("| ", 0) != 0)
      continue;
    std::vector<std::string> Cells;
    size_t Start = 1;
    for (size_t Bar = Line.find('|', Start); Bar != std::string::npos;
         Bar = Line.find('|', Start)) {
      Cells.push_back(Trim(Line.substr(Start, Bar - Start)));
      Start = Bar + 1;
    }
    Rows.push_back(Cells);
  }
  return Rows;
}

std::string Cell(const std::string &S) {
  return S == "–" ? std::string() : S;
}

struct TRefProfile {
  std::string Caption, Ext, VideoCodec, Tag, Size;
  int VideoBitrate;
  std::string Rate, Aspect, AudioCodec, Channels, SampleRate;
  int AudioBitrate;
  bool NoVideo = false;
  std::string Target = {}, Norm = {}, OutputEnding = {};
};

TRefProfile ReadProfile(const std::vector<std::string> &C) {
  EXPECT_EQ(C.size(), 14u);
  TRefProfile P{C[1],       Cell(C[2]), Cell(C[3]), Cell(C[4]),  Cell(C[5]),  std::stoi(C[6]),
                Cell(C[7]), Cell(C[8]), Cell(C[9]), Cell(C[10]), Cell(C[11]), std::stoi(C[12])};
  std::string Notes = C[13];
  std::smatch M;
  if (std::regex_search(Notes, M, std::regex("no video")))
    P.NoVideo = true;
  if (std::regex_search(Notes, M, std::regex(R"re(target "(\w+)", norm "(\w+)")re"))) {
    P.Target = M[1];
    P.Norm = M[2];
  }
  if (std::regex_search(Notes, M, std::regex(R"re(output name ends "([^"]+)")re")))
    P.OutputEnding = M[1];
  return P;
}

std::map<std::string, std::vector<std::string>> ReferenceLists() {
  std::map<std::string, std::vector<std::string>> Lists;
  std::istringstream In(ListRows);
  std::string Line;
  const std::regex Head(R"re(^(\w+) \((\d+)\): (.*)$)re");
  const std::regex Item(R"re("([^"]*)")re");
  while (std::getline(In, Line)) {
    std::smatch M;
    if (!std::regex_match(Line, M, Head))
      continue;
    std::vector<std::string> Items;
    const std::string Rest = M[3];
    for (std::sregex_iterator It(Rest.begin(), Rest.end(), Item), End; It != End; ++It)
      Items.push_back((*It)[1]);
    EXPECT_EQ(Items.size(), std::stoul(M[2])) << M[1];
    Lists[M[1]] = Items;
  }
  return Lists;
}

std::vector<std::string> Strings(std::span<const std::string_view> AItems) {
  return {AItems.begin(), AItems.end()};
}

class CategoryTable : public ::testing::TestWithParam<int> {};

TEST_P(CategoryTable, MatchesReference) {
  const int Cat = GetParam();
  const auto CatRows = TableRows(CategoryRows);
  ASSERT_EQ(CatRows.size(), Categories().size());
  const TCategory &Category = Categories()[Cat];
  EXPECT_EQ("\"" + std::string(Category.Caption) + "\"", CatRows[Cat][1]);
  EXPECT_EQ(Category.IconIndex, std::stoi(CatRows[Cat][2]));

  const auto Rows = TableRows(ProfileRows[Cat]);
  const auto Choices = TableRows(ChoiceRows[Cat]);
  ASSERT_EQ(Category.Profiles.size(), Rows.size());
  ASSERT_EQ(Choices.size(), Rows.size());
  const auto Lists = ReferenceLists();

  for (size_t I = 0; I < Rows.size(); ++I) {
    SCOPED_TRACE(std::string(Category.Caption) + " #" + std::to_string(I));
    ASSERT_EQ(std::stoul(Rows[I][0]), I);
    const TRefProfile Ref = ReadProfile(Rows[I]);
    const TProfile &P = Category.Profiles[I];
    EXPECT_EQ(P.Caption, Ref.Caption);
    EXPECT_EQ(P.FileExt, Ref.Ext);
    EXPECT_EQ(P.OutputExt, Ref.OutputEnding);
    EXPECT_EQ(ProfileOutputExt(P), Ref.OutputEnding.empty() ? Ref.Ext : Ref.OutputEnding);

    // Applying the profile is how the rest of the program sees these values.
    TWorkingParameters W;
    W.Video_AddFileName = "/in/clip.rmvb";
    ApplyProfileParameters(W, P);
    TWorkingParameters Expected;
    Expected.Video_AddFileName = "/in/clip.rmvb";
    Expected.Video_FileExt = Ref.Ext;
    Expected.Video_VideoCodec = Ref.VideoCodec;
    Expected.Video_VideoTag = Ref.Tag;
    Expected.Video_FrameSize = Ref.Size;
    Expected.Video_VideoBitrate = Ref.VideoBitrate;
    Expected.Video_FrameRate = Ref.Rate;
    Expected.Video_FrameAspectRatio = Ref.Aspect;
    Expected.Video_AudioCodec = Ref.AudioCodec;
    Expected.Video_AudioChannels = Ref.Channels;
    Expected.Video_AudioSampleRate = Ref.SampleRate;
    Expected.Video_AudioBitrate = Ref.AudioBitrate;
    Expected.Video_DisableVideo = Ref.NoVideo;
    Expected.Video_TargetType = Ref.Target;
    Expected.Video_NormType = Ref.Norm;
    EXPECT_EQ(W, Expected);
    EXPECT_EQ(W.Video_AudioVolume, "256");

    // The six lists: contents by name and item, and the default selection.
    ASSERT_EQ(Choices[I].size(), 7u);
    for (TChoiceList L : AllChoiceLists) {
      const std::string &RefCell = Choices[I][1 + ListIndex(L)];
      const size_t Colon = RefCell.find(": ");
      const std::string ListName = RefCell.substr(0, Colon);
      const std::string Default = RefCell.substr(Colon + 2);
      SCOPED_TRACE(ListName);
      EXPECT_EQ(P.Choices[ListIndex(L)].Contents->Name, ListName);
      ASSERT_TRUE(Lists.count(ListName));
      EXPECT_EQ(Strings(ChoiceItems(P, L)), Lists.at(ListName));
      EXPECT_EQ(ChoiceItemText(P, L, DefaultIndex(P, L)), Default);
    }

    // Audio-only: the no-video flag, the "no video" resolution list and the disabled lists go
    // together.
    EXPECT_EQ(IsAudioOnly(P), Ref.NoVideo);
    for (TChoiceList L : AllChoiceLists) {
      const bool AudioList = L == TChoiceList::clAudioBitrate || L == TChoiceList::clSampleRate;
      EXPECT_EQ(ChoiceListEnabled(P, L), AudioList || !Ref.NoVideo);
    }

    EXPECT_EQ(ProfileIconIndex(static_cast<int>(I)), static_cast<int>(I % 2));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCategory, CategoryTable, ::testing::Range(0, 11));

TEST(ProfileCatalog, Counts) {
  const int Expected[] = {12, 15, 13, 16, 8, 11, 15, 14, 5, 7, 7};
  ASSERT_EQ(Categories().size(), std::size(Expected));
  for (size_t C = 0; C < Categories().size(); ++C)
    EXPECT_EQ(static_cast<int>(Categories()[C].Profiles.size()), Expected[C]) << C;
  EXPECT_EQ(ProfileCount(), 123);
  EXPECT_EQ(AllListContents().size(), 54u);
}

TEST(ProfileCatalog, EveryListContentMatchesReference) {
  const auto Lists = ReferenceLists();
  ASSERT_EQ(Lists.size(), AllListContents().size());
  for (const TListContents &C : AllListContents()) {
    ASSERT_TRUE(Lists.count(std::string(C.Name))) << C.Name;
    EXPECT_EQ(Strings(C.Items), Lists.at(std::string(C.Name))) << C.Name;
    // Two digits per field of the choice code.
    EXPECT_LE(C.Items.size(), 28u) << C.Name;
  }
}

TEST(ProfileCatalog, FindProfileRange) {
  EXPECT_EQ(FindProfile(0, 0), &Categories()[0].Profiles[0]);
  EXPECT_EQ(FindProfile(8, 4)->Caption, "MP4 H264编码视频(*.mp4)");
  for (auto [C, P] : {std::pair{-1, 0}, {11, 0}, {0, -1}, {8, 5}, {0, 12}})
    EXPECT_EQ(FindProfile(C, P), nullptr) << C << "." << P;
}

TEST(ProfileCatalog, ExtFromCaption) {
  const std::pair<const char *, const char *> Cases[] = {
      {"RM - REAL视频格式(*.rm)", ".rm"},
      {"FLAC-音频格式(*.flac)", ".flac"},
      {"AIFF - 音频交换文件格式(*.aiff)", ".aiff"},
      {"RA - RealAudio音频格式(*.ra)", ".ra"},
      {"Android手机AVI视频(*.avi)", ".avi"},
      {"3GP - 视频格式(*.3gp)", ".3gp"},
      {"iPad MPEG-4视频格式 XviD编码 (*.mp4)", ".mp4"},
      {"abc", ""},
      {"", ""},
  };
  for (auto [Caption, Ext] : Cases)
    EXPECT_EQ(ExtFromCaption(Caption), Ext) << Caption;
}

TEST(ProfileCatalog, CaptionExtensionIsTheOutputExtensionButForOneProfile) {
  // Profile 0 of "智能手机" writes .avi under a caption that shows (*.mp4).
  for (size_t C = 0; C < Categories().size(); ++C)
    for (size_t P = 0; P < Categories()[C].Profiles.size(); ++P) {
      const TProfile &Profile = Categories()[C].Profiles[P];
      if (C == 3 && P == 0) {
        EXPECT_EQ(ExtFromCaption(Profile.Caption), ".mp4");
        EXPECT_EQ(ProfileOutputExt(Profile), ".avi");
      } else {
        EXPECT_EQ(ExtFromCaption(Profile.Caption), ProfileOutputExt(Profile)) << Profile.Caption;
      }
    }
}

TEST(ProfileCatalog, CategoryCodes) {
  EXPECT_EQ(CategoryCode(1, 11), 211);
  EXPECT_EQ(CategoryCode(0, 0), 100);
  EXPECT_EQ(CategoryCode(10, 6), 1106);
  struct {
    const char *Text;
    int Category, Profile; // -1: refused
  } const Cases[] = {
      {"211", 1, 11},  {"100", 0, 0},    {"1106", 10, 6},
      {" 305 ", 2, 5}, {"1107", -1, -1}, // SWF has 7 profiles
      {"99", -1, -1},  {"1200", -1, -1}, {"", -1, -1},
      {"2x1", -1, -1}, {"-100", -1, -1},
  };
  for (const auto &C : Cases) {
    const auto Pos = ParseCategoryCode(C.Text);
    if (C.Category < 0) {
      EXPECT_FALSE(Pos) << C.Text;
    } else {
      ASSERT_TRUE(Pos) << C.Text;
      EXPECT_EQ(Pos->Category, C.Category) << C.Text;
      EXPECT_EQ(Pos->Profile, C.Profile) << C.Text;
    }
  }
}

} // namespace
