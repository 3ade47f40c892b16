#include "cli/console/LiveLine.h"

#include <algorithm>
#include <cstdio>

#include "cli/terminal/TerminalText.h"
#include "device/SendBlock.h"

namespace brintel::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr int kMinBarWidth = 10;
constexpr int kStatusColumns = 400;

}  // namespace

std::string BlockCount(const BlockEstimate& progress, bool withPercent) {
  const int blocks = progress.blocks();
  char text[64];
  if (withPercent) {
    std::snprintf(text, sizeof text, "%d/%d %d%%", blocks, BLOCK_COUNT, blocks * 100 / BLOCK_COUNT);
  } else {
    std::snprintf(text, sizeof text, "%d/%d", blocks, BLOCK_COUNT);
  }
  return text + progress.LeftText();
}

std::string LiveLine(const std::string& statusText, const BlockEstimate& progress, int width) {
  const int room = std::max(width - 1, 1);
  // The status may hold a program's name, which is the server's text.
  std::string status = ShownText(statusText, kStatusColumns);
  if (progress.blocks() == 0) {
    return CutToColumns(status, room);
  }
  const auto fits = [&](const std::string& text, int tailColumns) {
    return TerminalColumns(text) + 2 + tailColumns <= room;
  };
  const int shortestTail = 1 + kMinBarWidth + 2 + TerminalColumns(BlockCount(progress, true));
  if (!fits(status, shortestTail) && status.find("(sn=") != std::string::npos) {
    status.erase(status.find("(sn="));
  }
  const bool percentInStatus =
      status.find('%') != std::string::npos &&
      CutToColumns(status, room - shortestTail - 2).find('%') != std::string::npos;
  if (!percentInStatus && status.find('%') != std::string::npos) {
    std::size_t digits = status.find('%');
    while (digits > 0 && status[digits - 1] >= '0' && status[digits - 1] <= '9') {
      --digits;
    }
    status.erase(digits);  // "COM3 transferring... ": the percent follows the bar
  }
  // Built by appending: GCC 12 at -O3 warns falsely of overlap for "] " + text.
  std::string counts = "] ";
  counts += BlockCount(progress, !percentInStatus);
  const int fixed = 2 + 1 + TerminalColumns(counts);  // "  [" ... counts
  const int bar = std::clamp(room - TerminalColumns(status) - fixed, kMinBarWidth, kBarWidth);
  std::string tail = "[";
  tail += ProgressBar(progress.blocks(), bar);
  tail += counts;
  const int tailColumns = TerminalColumns(tail);
  if (tailColumns + 2 > room) {
    return CutToColumns(tail, room);
  }
  return CutToColumns(status, room - tailColumns - 2) + "  " + tail;
}

}  // namespace brintel::cli
