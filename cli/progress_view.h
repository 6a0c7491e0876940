// What lingchuan-cli shows while it converts: on a terminal one redrawn progress bar per running
// file, otherwise plain lines, at most one per file and second. Only the main thread uses it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

struct TFileProgress {
  int Task = -1;
  std::string Name;        // shown for the file
  bool Reported = false;   // a progress report has arrived
  int Reports = 0;         // reports so far; a new one is worth a new line
  int Percent = -1;        // -1: the length of the input is unknown
  int FPS = -1;            // -1: no video output
  int64_t Position_us = 0; // output time reached
  int64_t Size = 0;        // bytes written

  bool operator==(const TFileProgress &) const = default;
};

// "hh:mm:ss" of a time in microseconds (hours not wrapped).
std::string ClockText(int64_t ATime_us);
// Columns that a UTF-8 text takes on a terminal (East Asian wide characters take two).
int DisplayWidth(const std::string &AText);
// AText cut to at most AWidth columns, with "…" where it was cut.
std::string FitWidth(const std::string &AText, int AWidth);

class TProgressView {
public:
  // AOut receives progress and results; ATerminal draws bars with cursor movements.
  TProgressView(FILE *AOut, bool ATerminal);

  bool Terminal() const { return FTerminal; }

  // A whole line above the bars: to AOut, or to stderr when AError.
  void Message(const std::string &ALine, bool AError = false);
  // The running files now. Redraws the bars, or prints the files with a new report whose last
  // line is at least a second old.
  void Update(const std::vector<TFileProgress> &AFiles);
  // Removes the bars.
  void Clear();

private:
  std::string BarLine(const TFileProgress &AFile, int AWidth) const;
  void Draw();
  int TerminalWidth() const;

  FILE *FOut;
  bool FTerminal;
  std::vector<TFileProgress> FShown; // the bars on screen
  int FDrawn = 0;                    // lines the bars take
  struct TLastLine {
    int Reports = 0;
    std::chrono::steady_clock::time_point At;
  };
  std::map<int, TLastLine> FLastLines; // by task, in line mode
};
