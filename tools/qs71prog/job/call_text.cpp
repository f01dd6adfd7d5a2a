#include "job/call_text.h"

#include <optional>
#include <vector>

namespace qs71prog {

void CallText::Deliver() {
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(mutex);
    lines = splitter.Feed(received.data(), received.size());
    received.clear();
  }
  for (const std::string& line : lines) handler(line);
}

void CallText::Stop() {
  Deliver();
  std::optional<std::string> rest;
  {
    std::lock_guard<std::mutex> lock(mutex);
    rest = splitter.Finish();
  }
  if (rest) handler(*rest);
}

void QS71_CDECL CallText::Receive(void* context, const char* text) {
  auto* self = static_cast<CallText*>(context);
  if (self == nullptr || text == nullptr) return;
  std::lock_guard<std::mutex> lock(self->mutex);
  self->received += text;
}

}  // namespace qs71prog
