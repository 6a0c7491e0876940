#include "progress_view.h"

#include "probe_text.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>

namespace {

// Decodes one UTF-8 sequence at AText[AAt]; a malformed byte counts as one character.
char32_t NextChar(const std::string &AText, size_t &AAt) {
  const auto b = static_cast<unsigned char>(AText[AAt]);
  const int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
  if (length == 1 || AAt + length > AText.size()) {
    ++AAt;
    return b;
  }
  char32_t c = b & (0x7F >> length);
  for (int i = 1; i < length; ++i)
    c = (c << 6) | (static_cast<unsigned char>(AText[AAt + i]) & 0x3F);
  AAt += length;
  return c;
}

int CharWidth(char32_t C) {
  const bool wide = (C >= 0x1100 && C <= 0x115F) || (C >= 0x2E80 && C <= 0xA4CF) ||
                    (C >= 0xAC00 && C <= 0xD7A3) || (C >= 0xF900 && C <= 0xFAFF) ||
                    (C >= 0xFE30 && C <= 0xFE4F) || (C >= 0xFF00 && C <= 0xFF60) ||
                    (C >= 0xFFE0 && C <= 0xFFE6) || (C >= 0x1F300 && C <= 0x1FAFF) ||
                    (C >= 0x20000 && C <= 0x3FFFD);
  return wide ? 2 : 1;
}

} // namespace

std::string ClockText(int64_t ATime_us) {
  const int64_t s = std::max<int64_t>(ATime_us, 0) / 1000000;
  char text[32];
  std::snprintf(text, sizeof(text), "%02" PRId64 ":%02d:%02d", s / 3600, int(s / 60 % 60),
                int(s % 60));
  return text;
}

int DisplayWidth(const std::string &AText) {
  int width = 0;
  for (size_t at = 0; at < AText.size();)
    width += CharWidth(NextChar(AText, at));
  return width;
}

std::string FitWidth(const std::string &AText, int AWidth) {
  if (DisplayWidth(AText) <= AWidth)
    return AText;
  if (AWidth <= 0)
    return {};
  std::string out;
  int width = 0;
  for (size_t at = 0; at < AText.size();) {
    const size_t start = at;
    const int w = CharWidth(NextChar(AText, at));
    if (width + w > AWidth - 1)
      break;
    out.append(AText, start, at - start);
    width += w;
  }
  return out + "…";
}

TProgressView::TProgressView(FILE *AOut, bool ATerminal) : FOut(AOut), FTerminal(ATerminal) {}

int TProgressView::TerminalWidth() const {
  winsize size{};
  if (ioctl(fileno(FOut), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
    return size.ws_col;
  return 80;
}

std::string TProgressView::BarLine(const TFileProgress &AFile, int AWidth) const {
  std::string facts;
  char text[64];
  if (AFile.Percent >= 0)
    std::snprintf(text, sizeof(text), "%3d%%", AFile.Percent);
  else
    std::snprintf(text, sizeof(text), " N/A");
  facts += text;
  if (AFile.FPS >= 0) {
    std::snprintf(text, sizeof(text), "  %4d fps", AFile.FPS);
    facts += text;
  }
  facts += "  " + ClockText(AFile.Position_us) + "  " + SizeText(AFile.Size);
  // Name, bar and facts share the line. The facts get a fixed room, so that the bar keeps its
  // length while their texts change.
  const int factsWidth = std::max(static_cast<int>(facts.size()), 36);
  facts.append(static_cast<size_t>(factsWidth) - facts.size(), ' ');
  const int nameWidth = std::clamp(AWidth / 4, 8, 40);
  const int barWidth = std::clamp(AWidth - nameWidth - factsWidth - 5, 5, 40);
  const int filled = AFile.Percent > 0 ? std::min(barWidth, AFile.Percent * barWidth / 100) : 0;
  std::string name = FitWidth(AFile.Name, nameWidth);
  name.append(static_cast<size_t>(nameWidth - DisplayWidth(name)), ' ');
  const std::string bar =
      "[" + std::string(static_cast<size_t>(filled), '#') +
      std::string(static_cast<size_t>(barWidth - filled), AFile.Reported ? '-' : ' ') + "]";
  std::string line = FitWidth(name + " " + bar + " " + facts, AWidth - 1);
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

void TProgressView::Clear() {
  if (!FTerminal || FDrawn == 0)
    return;
  std::fprintf(FOut, "\x1b[%dA\r\x1b[J", FDrawn);
  FDrawn = 0;
  std::fflush(FOut);
}

void TProgressView::Draw() {
  Clear();
  const int width = TerminalWidth();
  for (const TFileProgress &f : FShown)
    std::fprintf(FOut, "%s\n", BarLine(f, width).c_str());
  FDrawn = static_cast<int>(FShown.size());
  std::fflush(FOut);
}

void TProgressView::Message(const std::string &ALine, bool AError) {
  Clear();
  if (AError) {
    std::fflush(FOut);
    std::fprintf(stderr, "%s\n", ALine.c_str());
    std::fflush(stderr);
  } else {
    std::fprintf(FOut, "%s\n", ALine.c_str());
  }
  if (FTerminal)
    Draw();
  else
    std::fflush(FOut);
}

void TProgressView::Update(const std::vector<TFileProgress> &AFiles) {
  if (FTerminal) {
    if (AFiles != FShown || FDrawn != static_cast<int>(AFiles.size())) {
      FShown = AFiles;
      Draw();
    }
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  for (const TFileProgress &f : AFiles) {
    if (!f.Reported)
      continue;
    auto [last, fresh] = FLastLines.try_emplace(f.Task);
    if (!fresh &&
        (last->second.Reports == f.Reports || now - last->second.At < std::chrono::seconds(1)))
      continue;
    last->second = {f.Reports, now};
    std::string line = f.Name + ": ";
    line += f.Percent >= 0 ? std::to_string(f.Percent) + "%" : std::string("N/A");
    if (f.FPS >= 0)
      line += ", " + std::to_string(f.FPS) + " fps";
    line += ", " + ClockText(f.Position_us) + ", " + SizeText(f.Size);
    std::fprintf(FOut, "%s\n", line.c_str());
  }
  std::fflush(FOut);
}
