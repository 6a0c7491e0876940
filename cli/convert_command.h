// The commands of lingchuan-cli that use the media libraries: converting files with a profile,
// and printing a file's information.
#pragma once

#include "cli_options.h"
#include "signal_watch.h"

#include <string>

// Exit statuses.
inline constexpr int ExitConverted = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;
// A stop by a signal exits with 128 + the signal's number.

// Converts every file of AOptions (Command ccConvert) as the window's add path and start would,
// with the tasks running on worker threads, until all have ended or a signal from ASignals
// stops them. Usage errors found on the way (a choice the profile's list lacks, an output
// folder that cannot be written) raise EUsageError before anything is converted.
int RunConvert(const TCliOptions &AOptions, TSignalWatch &ASignals);

// Prints the information text of AFile.
int RunInfo(const std::string &AFile);
