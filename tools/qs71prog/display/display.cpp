#include "display/display.h"

#include <algorithm>
#include <cstdio>

#include "display/json_display.h"
#include "display/plain_display.h"
#include "display/terminal_display.h"

namespace qs71prog {

namespace {

constexpr int kTitleWidth = 12;  // "blank check" and a space
constexpr int kMinimumBar = 10;
// "  1:02:03 left": the live bar and the done line keep their gauges the same length.
constexpr size_t kTailWidth = 14;

std::string Title(int stage) {
  std::string title = StageTitle(stage);
  title.resize(kTitleWidth, ' ');
  return title;
}

std::string Gauge(int percent, int width) {
  const int filled = std::clamp(percent, 0, 100) * width / 100;
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

// Title, gauge, percentage and a tail, the gauge taking what the width leaves.
std::string Compose(const ProgressPoint& point, int columns, const std::string& tail) {
  char percent[8];
  std::snprintf(percent, sizeof percent, " %3d%%", std::clamp(point.percent, 0, 100));
  const size_t tailRoom = std::max(tail.size(), kTailWidth);
  const int fixed = kTitleWidth + 2 + static_cast<int>(std::string(percent).size() + tailRoom);
  const int width = columns - 1 - fixed;
  if (width < kMinimumBar) return Title(point.stage) + percent + tail;
  return Title(point.stage) + Gauge(point.percent, width) + percent + tail;
}

}  // namespace

std::string FormatDuration(double seconds) {
  if (seconds < 0) return "--:--";
  const long total = static_cast<long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

std::string RenderBar(const ProgressPoint& point, int columns) {
  return Compose(point, columns, "  " + FormatDuration(point.remaining) + " left");
}

std::string RenderDoneLine(const ProgressPoint& point, int columns) {
  return Compose(point, columns, "  in " + FormatDuration(point.elapsed));
}

std::string RenderFailedLine(const ProgressPoint& point, int columns) {
  return Compose(point, columns, "  failed");
}

std::string RenderPlainLine(const ProgressPoint& point) {
  char text[96];
  std::snprintf(text, sizeof text, "%s %3d%%  address 0x%06X of 0x%06X", StageTitle(point.stage),
                point.percent, static_cast<unsigned>(point.position),
                static_cast<unsigned>(point.size > 0 ? point.size - 1 : 0));
  return text;
}

std::unique_ptr<Display> MakeDisplay(DisplayKind kind, TextSink& sink, int columns) {
  switch (kind) {
    case DisplayKind::kTerminal:
      return std::make_unique<TerminalDisplay>(sink, columns);
    case DisplayKind::kJson:
      return std::make_unique<JsonDisplay>(sink);
    case DisplayKind::kPlain:
      break;
  }
  return std::make_unique<PlainDisplay>(sink);
}

}  // namespace qs71prog
