#include "display.h"

#include "json_display.h"
#include "plain_display.h"
#include "terminal_display.h"

namespace qs71prog {

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
