#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/output_streams.h"
#include "qs71_usb_writer.h"

namespace qs71prog {

// The text one library call prints, handed over as whole lines. The calls every build has
// print to the process's standard output, so their text is taken by lending descriptors 1
// and 2 to a pipe (OutputCapture); that works for one call at a time only. The calls that
// name a programmer hand their text to a function instead (Receive), which lets calls on
// several programmers run at once, each with its own lines. Either way the lines wait until
// Deliver, so that the thread drawing the progress hands them over in order with the cells.
class CallText {
 public:
  using LineHandler = std::function<void(const std::string& line, bool onStderr)>;

  // captureDescriptors: the call prints to standard output; otherwise it hands its text to
  // Receive with this object as the context.
  CallText(bool captureDescriptors, LineHandler handler);
  ~CallText();
  CallText(const CallText&) = delete;
  CallText& operator=(const CallText&) = delete;

  void Start();
  void Deliver();
  // Hands over the rest, a last line without its newline included.
  void Stop();

  static void QS71_CDECL Receive(void* context, const char* text);

 private:
  LineHandler handler;
  std::unique_ptr<OutputCapture> out;
  std::unique_ptr<OutputCapture> err;
  std::mutex mutex;  // Receive on the calling thread, Deliver on the poller's
  LineSplitter splitter;
  std::string received;
};

}  // namespace qs71prog
