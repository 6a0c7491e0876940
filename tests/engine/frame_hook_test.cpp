// The frame-hook chain with real modules: loading once per name, the entry points each module
// must have, the order of the chain, and its release.
#include "frame_hook.h"
#include "post_hook_context.h"
#include "transcode_test_util.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

std::string HookPath(const std::string &AName) {
  return std::string(LC_HOOK_DIR) + "/lib" + AName + "_hook.so";
}

struct THookCalls {
  int Configured = 0, Processed = 0, Released = 0;
  int64_t LastPts = -1;
};

// What the module's own counters say; the module is already loaded.
THookCalls Calls(const std::string &AName) {
  THookCalls c;
  void *module = dlopen(HookPath(AName).c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(module, nullptr) << AName << " is not loaded";
  if (module == nullptr)
    return c;
  using TCallsFn = void (*)(int *, int *, int *, int64_t *);
  auto fn = reinterpret_cast<TCallsFn>(dlsym(module, "HookCalls"));
  fn(&c.Configured, &c.Processed, &c.Released, &c.LastPts);
  dlclose(module);
  return c;
}

int Add(TFrameHookEntry **AHead, std::vector<std::string> AArgs) {
  std::vector<char *> argv;
  for (std::string &a : AArgs)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  return AddFrameHook(AHead, static_cast<int>(AArgs.size()), argv.data());
}

int ChainLength(const TFrameHookEntry *AHead) {
  int n = 0;
  for (; AHead != nullptr; AHead = AHead->next)
    ++n;
  return n;
}

std::string Upper(std::string S) {
  std::transform(S.begin(), S.end(), S.begin(), [](unsigned char c) { return std::toupper(c); });
  return S;
}

class FrameHookTest : public TranscodeTest {};

TEST_F(FrameHookTest, RefusedModulesReportWhyAndStayOutOfTheChain) {
  struct TCase {
    std::vector<std::string> Args;
    int Result;
    std::string Logged; // a part of the error line
  };
  const std::string noProcess = HookPath("no_process");
  const std::string processOnly = HookPath("process_only");
  const std::string invert = HookPath("invert");
  const TCase cases[] = {
      {{}, -2, ""},
      {{HookPath("missing")}, -1, "missing_hook.so"},
      {{noProcess}, -2, "Failed to find Process entrypoint in " + noProcess},
      {{processOnly, "arg"}, -2, "Failed to find Configure entrypoint in " + processOnly},
      {{invert, "fail"}, -22, "Failed to Configure " + invert},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Args.empty() ? std::string("no arguments") : c.Args.back());
    TFrameHookEntry *head = nullptr;
    EXPECT_EQ(Add(&head, c.Args), c.Result);
    EXPECT_EQ(head, nullptr);
    if (!c.Logged.empty()) {
      EXPECT_TRUE(LoggedContaining(c.Logged));
    }
  }
}

TEST_F(FrameHookTest, ChainProcessesEachPictureInOrderAndReleasesItsEntries) {
  TFrameHookEntry *head = nullptr;
  ASSERT_EQ(Add(&head, {HookPath("invert")}), 0);
  const THookCalls before = Calls("invert");
  // Another spelling of the same name is the cached module, not a second load: no file exists
  // under the upper-case name.
  ASSERT_EQ(Add(&head, {Upper(HookPath("invert"))}), 0);
  // Process only and no further arguments: added without a Configure.
  ASSERT_EQ(Add(&head, {HookPath("process_only")}), 0);
  const THookCalls processBefore = Calls("process_only");
  EXPECT_EQ(ChainLength(head), 3);
  EXPECT_EQ(Calls("invert").Configured, before.Configured + 1);

  // A 4x2 plane with a wider line: three inversions leave each pixel inverted once, and the
  // padding is never touched.
  uint8_t plane[2 * 6] = {0, 10, 20, 30, 99, 99, 40, 50, 60, 255, 99, 99};
  TFrameHookPicture picture{};
  picture.data[0] = plane;
  picture.linesize[0] = 6;
  ProcessFrameHooks(head, &picture, AV_PIX_FMT_GRAY8, 4, 2, 1234);
  const uint8_t expected[2 * 6] = {255, 245, 235, 225, 99, 99, 215, 205, 195, 0, 99, 99};
  EXPECT_TRUE(std::equal(std::begin(plane), std::end(plane), std::begin(expected)));
  const THookCalls after = Calls("invert");
  EXPECT_EQ(after.Processed, before.Processed + 2);
  EXPECT_EQ(after.LastPts, 1234);
  EXPECT_EQ(Calls("process_only").Processed, processBefore.Processed + 1);
  EXPECT_EQ(Calls("process_only").Configured, 0);

  ReleaseFrameHooks(&head);
  EXPECT_EQ(head, nullptr);
  EXPECT_EQ(Calls("invert").Released, before.Released + 2);
  ReleaseFrameHooks(&head); // an empty chain
}

TEST_F(FrameHookTest, VhookOptionBuildsTheTaskChainAndRefusesABadModule) {
  auto task = NewTask();
  task->ParseOption("vhook", HookPath("invert"));
  task->ParseOption("vhook", HookPath("process_only"));
  EXPECT_EQ(ChainLength(task->FFirstHook), 2);
  EXPECT_TRUE(task->Fusing_vhook);
  EXPECT_THROW(task->ParseOption("vhook", HookPath("invert") + " fail"), FFmpegException);
  EXPECT_EQ(ChainLength(task->FFirstHook), 2);
  // Closing the files ends the chain.
  task->CloseFiles();
  EXPECT_EQ(task->FFirstHook, nullptr);
}

// A preview window object that tells when it is freed.
class TRecordingPreviewer : public TPreviewerBase {
public:
  explicit TRecordingPreviewer(bool &AFreed) : FFreed(AFreed) {}
  ~TRecordingPreviewer() override { FFreed = true; }
  bool PaintFrame(const QImage &, int, int64_t) override { return true; }

private:
  bool &FFreed;
};

TEST(PostHookContext, ResetFreesThePreviewerAndTheBitmapAndZeroesTheClock) {
  TPostHookContext context;
  bool freed = false;
  context.Previewer = std::make_unique<TRecordingPreviewer>(freed);
  context.preview_last_time = 5;
  context.preview_cur_time = 7;
  uint8_t rgb[2 * 2 * 3] = {};
  TPicture picture;
  picture.data[0] = rgb;
  picture.linesize[0] = 6;
  ASSERT_TRUE(context.Context.PictureToBitmap(picture, AV_PIX_FMT_RGB24, 2, 2));
  ResetPostHookContext(context);
  EXPECT_TRUE(freed);
  EXPECT_EQ(context.Previewer, nullptr);
  EXPECT_TRUE(context.Context.Bitmap().isNull());
  EXPECT_EQ(context.preview_last_time, 0);
  EXPECT_EQ(context.preview_cur_time, 0);
}

} // namespace
