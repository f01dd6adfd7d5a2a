#include "cell_poller.h"

namespace qs71prog {

void CellPoller::Start() {
  if (thread.joinable()) return;
  stopping = false;
  thread = std::thread(&CellPoller::Loop, this);
}

void CellPoller::Stop() {
  if (!thread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  wake.notify_all();
  thread.join();
}

void CellPoller::Loop() {
  std::unique_lock<std::mutex> lock(mutex);
  while (!stopping) {
    lock.unlock();
    sample();
    lock.lock();
    wake.wait_for(lock, interval, [this] { return stopping; });
  }
}

}  // namespace qs71prog
