#include "page_connections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// -1 on an error or when nothing came within ms, else 1.
int WaitFor(socket_t socket, short events, int ms) {
  pollfd p{socket, events, 0};
  for (;;) {
    const int n = poll(&p, 1, ms);
    if (n >= 0) return n == 0 ? -1 : 1;
    if (errno != EINTR) return -1;
  }
}

int MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

void Address(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  }
  ip = text;
}

}  // namespace

PageConnection* PageConnections::Admit(socket_t socket) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto live = std::count_if(open_.begin(), open_.end(), [](const PageConnection& c) { return !c.shut; });
  if (static_cast<size_t>(live) >= kMaxConnections) {
    const auto waiting = std::find_if(open_.begin(), open_.end(),
                                      [](const PageConnection& c) { return !c.answering && !c.shut; });
    if (waiting != open_.end()) {
      ::shutdown(waiting->socket, SHUT_RDWR);
      waiting->shut = true;
    }
  }
  open_.push_back({socket, std::chrono::steady_clock::now() + std::chrono::seconds(kRequestSeconds)});
  return &open_.back();
}

void PageConnections::Answering(PageConnection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  connection->answering = true;
}

void PageConnections::Leave(PageConnection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_.remove_if([connection](const PageConnection& c) { return &c == connection; });
}

void PageConnections::ShutAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (PageConnection& c : open_) {
    ::shutdown(c.socket, SHUT_RDWR);
    c.shut = true;
  }
}

bool PageConnectionStream::is_readable() const {
  return taken_ < buffered_ || WaitFor(connection_.socket, POLLIN, 0) > 0;
}

bool PageConnectionStream::is_writable() const { return WaitFor(connection_.socket, POLLOUT, 0) > 0; }

// Only the request's head is ever read, so every byte counts against its limits.
ssize_t PageConnectionStream::read(char* ptr, size_t size) {
  if (taken_ == buffered_) {
    if (read_ >= kMaxRequestHead) return -1;
    if (WaitFor(connection_.socket, POLLIN, MillisecondsUntil(connection_.deadline)) < 0) return -1;
    const ssize_t got = recv(connection_.socket, buffer_, std::min(sizeof buffer_, kMaxRequestHead - read_), 0);
    if (got <= 0) return got < 0 ? -1 : 0;
    buffered_ = static_cast<size_t>(got);
    taken_ = 0;
    read_ += buffered_;
  }
  const size_t n = std::min(size, buffered_ - taken_);
  std::memcpy(ptr, buffer_ + taken_, n);
  taken_ += n;
  return static_cast<ssize_t>(n);
}

ssize_t PageConnectionStream::write(const char* ptr, size_t size) {
  if (WaitFor(connection_.socket, POLLOUT, kWriteStallSeconds * 1000) < 0) return -1;
  return send(connection_.socket, ptr, size, MSG_NOSIGNAL);
}

void PageConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  port = 0;
  if (getpeername(connection_.socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) Address(address, ip, port);
}

void PageConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  port = 0;
  if (getsockname(connection_.socket, reinterpret_cast<sockaddr*>(&address), &size) == 0) Address(address, ip, port);
}

void ThreadPerConnection::enqueue(std::function<void()> task) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    JoinFinished(lock);
    if (workers_.size() < 2 * kMaxConnections) break;
    ended_.wait(lock);
  }
  Worker* worker = &workers_.emplace_back();
  // The worker marks itself done under the lock, which this call holds until it has its thread.
  worker->thread = std::thread([this, worker, task = std::move(task)] {
    task();
    std::lock_guard<std::mutex> done(mutex_);
    worker->done = true;
    ended_.notify_all();
  });
}

void ThreadPerConnection::shutdown() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    JoinFinished(lock);
    if (workers_.empty()) return;
    ended_.wait(lock);
  }
}

// A worker marked done has let go of the lock for good: joining it here waits for nothing else.
void ThreadPerConnection::JoinFinished(std::unique_lock<std::mutex>&) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (!it->done) {
      ++it;
      continue;
    }
    it->thread.join();
    it = workers_.erase(it);
  }
}

void ClosePageConnection(socket_t socket) {
  ::shutdown(socket, SHUT_WR);
  // What the client still sends is read and dropped for a moment, up to a bound.
  char sink[4096];
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  for (size_t dropped = 0; dropped < 65536;) {
    if (WaitFor(socket, POLLIN, MillisecondsUntil(until)) < 0) break;
    const ssize_t got = recv(socket, sink, sizeof sink, 0);
    if (got <= 0) break;
    dropped += static_cast<size_t>(got);
  }
  close(socket);
}
