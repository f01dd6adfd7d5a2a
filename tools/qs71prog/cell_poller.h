#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace qs71prog {

// The second thread of a run: reads the library's stage and progress cells at a fixed
// interval while the call runs on the main thread.
class CellPoller {
 public:
  CellPoller(std::function<void()> sample, std::chrono::milliseconds interval)
      : sample(std::move(sample)), interval(interval) {}
  ~CellPoller() { Stop(); }
  CellPoller(const CellPoller&) = delete;
  CellPoller& operator=(const CellPoller&) = delete;

  void Start();
  void Stop();

 private:
  void Loop();

  std::function<void()> sample;
  std::chrono::milliseconds interval;
  std::mutex mutex;
  std::condition_variable wake;
  bool stopping = false;
  std::thread thread;
};

}  // namespace qs71prog
