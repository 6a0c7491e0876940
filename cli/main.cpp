// Command-line converter over the same catalog and engine as the window.
#include "cli_options.h"
#include "convert_command.h"
#include "profile_catalog.h"
#include "signal_watch.h"

#include "ff_utils.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

namespace {

int PrintList() {
  const auto categories = Categories();
  for (size_t c = 0; c < categories.size(); ++c)
    for (size_t p = 0; p < categories[c].Profiles.size(); ++p)
      std::printf("%zu.%zu\t%.*s\t%.*s\n", c, p, int(categories[c].Caption.size()),
                  categories[c].Caption.data(), int(categories[c].Profiles[p].Caption.size()),
                  categories[c].Profiles[p].Caption.data());
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitConverted : ExitFailed;
}

int UsageError(const std::string &AReason) {
  std::fprintf(stderr, "lingchuan-cli: %s\n", AReason.c_str());
  return ExitUsage;
}

} // namespace

int main(int argc, char *argv[]) {
  // A closed pipe on the output must not end a conversion half-way.
  std::signal(SIGPIPE, SIG_IGN);
  TCliOptions options;
  try {
    options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsageError &e) {
    return UsageError(e.what());
  }
  try {
    switch (options.Command) {
    case TCliCommand::ccUsage:
      std::fputs(UsageText().c_str(), stderr);
      return ExitUsage;
    case TCliCommand::ccHelp:
      std::fputs(UsageText().c_str(), stdout);
      return ExitConverted;
    case TCliCommand::ccList:
      return PrintList();
    case TCliCommand::ccInfo:
      return RunInfo(options.Files.front());
    case TCliCommand::ccConvert: {
      RaiseOpenFileLimit();
      // Before any thread exists, so that every thread leaves the signals to the main loop.
      TSignalWatch signals;
      return RunConvert(options, signals);
    }
    }
  } catch (const EUsageError &e) {
    return UsageError(e.what());
  } catch (const std::exception &e) {
    std::fprintf(stderr, "lingchuan-cli: %s\n", e.what());
    return ExitFailed;
  }
  return ExitFailed;
}
