#include "ffmpeg_loader.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Every test leaves the process loader as it found it: no path, table names, nothing loaded.
class LoaderTest : public ::testing::Test {
protected:
  void TearDown() override {
    TFFmpegLoader &l = FFLoader();
    for (int i = 0; i < LibraryCount; ++i) {
      l.Unload(static_cast<TLibrary>(i));
      l.SetLibraryFileName(static_cast<TLibrary>(i), "");
    }
    l.SetLibraryPath("");
  }
};

TEST_F(LoaderTest, ComponentSetsLoadAndUnload) {
  TFFmpegLoader &l = FFLoader();
  for (TLibraries set : {TaskListLibraries, ProbeLibraries, PlayerLibraries}) {
    ASSERT_TRUE(l.Load(set)) << l.LastErrMsg();
    EXPECT_TRUE(l.Loaded(set));
    l.Unload(set);
    EXPECT_FALSE(l.Loaded(set));
  }
  EXPECT_FALSE(l.Loaded(avDevice));
  ASSERT_TRUE(l.Load(avDevice));
  // Loading again succeeds without reloading.
  EXPECT_TRUE(l.Load(avDevice));
  EXPECT_TRUE(l.Loaded(avDevice));
}

TEST_F(LoaderTest, EmptySetIsRefused) {
  EXPECT_THROW(FFLoader().Load(TLibraries{}), std::invalid_argument);
  EXPECT_THROW(FFLoader().Unload(TLibraries{}), std::invalid_argument);
}

TEST_F(LoaderTest, FileNamesFollowTheTableUnlessReplaced) {
  TFFmpegLoader &l = FFLoader();
  EXPECT_EQ(l.LibraryFileName(avCodec), "libavcodec.so.59");
  EXPECT_EQ(l.LibraryFileName(avUtil), "libavutil.so.57");
  EXPECT_EQ(l.LibraryFileName(swScale), "libswscale.so.6");
  EXPECT_EQ(l.LibraryFileName(myUtil), "libc.so.6");
  EXPECT_EQ(l.LibraryFileName(lbSDL), "libSDL2-2.0.so.0");
  l.SetLibraryFileName(avCodec, "/opt/x/libavcodec.so.59");
  EXPECT_EQ(l.LibraryFileName(avCodec), "/opt/x/libavcodec.so.59");
}

// A folder without the file falls back to the standard search.
TEST_F(LoaderTest, LibraryPathWithoutTheFileUsesTheStandardSearch) {
  TFFmpegLoader &l = FFLoader();
  l.SetLibraryPath(fs::temp_directory_path().string());
  EXPECT_TRUE(l.Load(ProbeLibraries)) << l.LastErrMsg();
}

TEST_F(LoaderTest, CopyInTheLibraryPathIsChecked) {
  TFFmpegLoader &l = FFLoader();
  l.SetLibraryPath(LC_FAKELIB_DIR);
  // The folder's libavcodec reports another major version.
  EXPECT_FALSE(l.Load(avCodec));
  EXPECT_EQ(l.LastErrMsg().rfind("Load library libavcodec.so.59 error: version 58 found, 59 "
                                 "expected",
                                 0),
            0u)
      << l.LastErrMsg();
  EXPECT_FALSE(l.Loaded(avCodec));
}

TEST_F(LoaderTest, MissingFunctionFailsTheWholeSet) {
  TFFmpegLoader &l = FFLoader();
  l.SetLibraryPath(LC_FAKELIB_DIR);
  // The folder's libswscale lacks the scaler functions; the others come from the system.
  const TLibraries set{avFormat, avUtil, swScale, myUtil};
  EXPECT_FALSE(l.Load(set));
  EXPECT_EQ(l.LastErrMsg().rfind("Load function sws_getCachedContext@libswscale.so.6 error: ", 0),
            0u)
      << l.LastErrMsg();
  for (TLibrary lib : {avFormat, avUtil, swScale, myUtil})
    EXPECT_FALSE(l.Loaded(lib)) << lib;
}

TEST_F(LoaderTest, UnloadableFileNamesTheFolder) {
  TFFmpegLoader &l = FFLoader();
  const fs::path dir = fs::temp_directory_path() / "lc_loader_test";
  fs::create_directories(dir);
  {
    FILE *f = std::fopen((dir / "libswscale.so.6").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a shared object", f);
    std::fclose(f);
  }
  l.SetLibraryPath(dir.string());
  EXPECT_FALSE(l.Load(ProbeLibraries));
  const std::string expected = "Load library " + (dir / "libswscale.so.6").string() + " error: ";
  EXPECT_EQ(l.LastErrMsg().rfind(expected, 0), 0u) << l.LastErrMsg();
  for (TLibrary lib : {avCodec, avFormat, avUtil, swScale, myUtil})
    EXPECT_FALSE(l.Loaded(lib)) << lib;
  fs::remove_all(dir);
}

TEST_F(LoaderTest, MissingLibraryByBareName) {
  TFFmpegLoader &l = FFLoader();
  l.SetLibraryFileName(lbSDL, "libno-such-library.so.1");
  EXPECT_FALSE(l.Load(lbSDL));
  EXPECT_EQ(l.LastErrMsg().rfind("Load library libno-such-library.so.1 error: ", 0), 0u)
      << l.LastErrMsg();
}

} // namespace
