#include "job/call_text.h"

#include <vector>

#include "platform/host_system.h"

namespace qs71prog {

CallText::CallText(bool captureDescriptors, LineHandler handler) : handler(std::move(handler)) {
  if (!captureDescriptors) return;
  out = std::make_unique<OutputCapture>(
      kStdoutFd, [this](const std::string& line) { this->handler(line, false); });
  err = std::make_unique<OutputCapture>(
      kStderrFd, [this](const std::string& line) { this->handler(line, true); });
}

CallText::~CallText() { Stop(); }

void CallText::Start() {
  if (!out) return;
  out->Start();
  err->Start();
}

void CallText::Deliver() {
  if (out) {
    out->Deliver();
    err->Deliver();
    return;
  }
  std::vector<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(mutex);
    lines = splitter.Feed(received.data(), received.size());
    received.clear();
  }
  for (const std::string& line : lines) handler(line, false);
}

void CallText::Stop() {
  if (out) {
    err->Stop();
    out->Stop();
    return;
  }
  Deliver();
  std::optional<std::string> rest;
  {
    std::lock_guard<std::mutex> lock(mutex);
    rest = splitter.Finish();
  }
  if (rest) handler(*rest, false);
}

void QS71_CDECL CallText::Receive(void* context, const char* text) {
  auto* self = static_cast<CallText*>(context);
  if (self == nullptr || text == nullptr) return;
  std::lock_guard<std::mutex> lock(self->mutex);
  self->received += text;
}

}  // namespace qs71prog
