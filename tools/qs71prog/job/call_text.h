#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "platform/output_streams.h"
#include "qs71_usb_writer.h"

namespace qs71prog {

// The text one library call hands to its output function (Receive), passed on as whole
// lines. The lines wait until Deliver, so that the thread drawing the progress hands them
// over in order with the cells; calls on several programmers at once each have their own.
class CallText {
 public:
  using LineHandler = std::function<void(const std::string& line)>;

  explicit CallText(LineHandler handler) : handler(std::move(handler)) {}
  ~CallText() { Stop(); }
  CallText(const CallText&) = delete;
  CallText& operator=(const CallText&) = delete;

  void Deliver();
  // Hands over the rest, a last line without its newline included.
  void Stop();

  static void QS71_CDECL Receive(void* context, const char* text);

 private:
  LineHandler handler;
  std::mutex mutex;  // Receive on the calling thread, Deliver on the poller's
  LineSplitter splitter;
  std::string received;
};

}  // namespace qs71prog
