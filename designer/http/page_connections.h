#pragma once
// The connections of qs71gen --serve, held to limits that keep the reload going whoever else
// connects. cpp-httplib alone gives each connection a thread of a pool of eight and waits up to
// five seconds for each byte, for as long as bytes come: eight connections that send their
// request a byte at a time took every thread, and the page's poll of /generation waited behind
// them for good. Here:
//  - each connection has its own thread, and at most kMaxConnections are open at once; a new
//    one beyond that shuts the oldest connection that has not yet sent its whole request, so a
//    browser's request, which comes at once, is always answered;
//  - a request's head (its line and headers) must arrive whole within kRequestSeconds of the
//    connection, in at most kMaxRequestHead bytes;
//  - no body is ever read, and one request is answered per connection;
//  - a reader that takes nothing for kWriteStallSeconds is dropped.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>
#include <thread>

constexpr size_t kMaxConnections = 32;
constexpr int kRequestSeconds = 5;
constexpr size_t kMaxRequestHead = 8192;
constexpr int kWriteStallSeconds = 5;

// One open connection, from its accept to its close.
struct PageConnection {
  socket_t socket = INVALID_SOCKET;
  std::chrono::steady_clock::time_point deadline;  // for the request's head
  bool answering = false;                          // the head is in: never shut to make room
  bool shut = false;
};

class PageConnections {
 public:
  // Registers a new connection, shutting the oldest one still waiting for its head when
  // kMaxConnections are open.
  PageConnection* Admit(socket_t socket);
  // The request's head is in, and the connection is answered.
  void Answering(PageConnection* connection);
  void Leave(PageConnection* connection);
  // Shuts every connection, at the server's stop.
  void ShutAll();

 private:
  std::mutex mutex_;
  std::list<PageConnection> open_;
};

// A connection's bytes as cpp-httplib reads and writes them, within the limits above.
class PageConnectionStream : public httplib::Stream {
 public:
  explicit PageConnectionStream(const PageConnection& connection) : connection_(connection) {}

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return connection_.socket; }

 private:
  const PageConnection& connection_;
  char buffer_[1024];
  size_t buffered_ = 0;
  size_t taken_ = 0;
  size_t read_ = 0;  // bytes of the request so far
};

// A thread for each connection, so that none waits for another to end; at most twice
// kMaxConnections at once (those shut to make room end at once).
class ThreadPerConnection : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> task) override;
  void shutdown() override;

 private:
  struct Worker {
    std::thread thread;
    bool done = false;
  };
  void JoinFinished(std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable ended_;
  std::list<Worker> workers_;
};

// Closes a connection once its answer is written: the answer is left to the client to read
// before the socket goes, so that what it still sends (a body that was not read) resets nothing
// it has not seen.
void ClosePageConnection(socket_t socket);
