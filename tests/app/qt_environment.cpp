// One application object for all window tests, on a display-less platform with silent audio.
#include <QApplication>
#include <QLocale>

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace {

class TQtEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    static int argc = 1;
    static char name[] = "app_tests";
    static char *argv[] = {name, nullptr};
    FApp = std::make_unique<QApplication>(argc, argv);
    // Decimal points in sizes: the tests name the locale they expect.
    QLocale::setDefault(QLocale::c());
  }
  void TearDown() override { FApp.reset(); }

private:
  std::unique_ptr<QApplication> FApp;
};

[[maybe_unused]] ::testing::Environment *const GQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

} // namespace
