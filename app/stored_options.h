// The section "Options" of "option.ini" as the options dialog keeps it. Qt Core only, so the
// settings fuzz target builds it without widgets.
#pragma once

#include "ini_file.h"

struct TStoredOptions {
  int ThreadCount = 0;    // 0 the untouched default (shown as 1), else 1 to KMaxThreadCount
  int AfterDone = 0;      // 0 open folder, 1 shut down, 2 play sound, 3 nothing
  int ThreadPriority = 3; // 0 idle, 1 lowest, 2 lower, 3 normal
  bool Overwrite = false; // Overwrite_File "0"; "1" renames the new output
  bool ShowPreview = false;
};

constexpr int KMaxThreadCount = 19;

// Reads the section; a missing or unrecognised value takes its default, which is written back.
TStoredOptions ReadStoredOptions(const TIniFile &AIni);
