// The command line of lingchuan-cli: what to do, with which profile, choices and files.
#pragma once

#include "convert_thread.h"
#include "profile_catalog.h"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

enum class TCliCommand { ccUsage, ccHelp, ccList, ccInfo, ccConvert };

// A command line that cannot be carried out as written (exit status 2).
class EUsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TCliOptions {
  TCliCommand Command = TCliCommand::ccUsage;
  int Category = -1; // -p C.P, checked against the catalog
  int Profile = -1;
  std::string OutputFolder; // empty: the current folder
  // Item texts by TChoiceList; nullopt takes the profile's default.
  std::array<std::optional<std::string>, ChoiceListCount> Choices;
  int Jobs = 1;
  TThreadPriority Priority = tpNormal;
  bool Overwrite = false;
  bool Verbose = false;
  std::vector<std::string> ExtraOptions; // NAME=VALUE lines for the output's option text
  std::vector<std::string> Files;        // inputs, or the one file of --info
};

// Reads the arguments after the program name. Raises EUsageError with a one-line reason.
TCliOptions ParseCommandLine(const std::vector<std::string> &AArgs);

// The selection of the six lists for AOptions' choices on AProfile: each given text must be an
// item of that profile's list (EUsageError naming the list's items otherwise).
std::array<int, ChoiceListCount> ResolveChoices(const TCliOptions &AOptions,
                                                const TProfile &AProfile);

// The option that sets a list ("--resolution").
std::string ChoiceOptionName(TChoiceList AList);

// The help page of --help.
std::string UsageText();
