#pragma once
// The HTTP side of qs71gen --serve. cpp-httplib comes with OpenSSL, zlib and brotli: linked into
// qs71gen, they were loaded by every compile (4.8 MiB more memory and 1.7 ms more at each
// start). So the server is a module of its own, libqs71gen_http.so, which qs71gen opens only
// when --serve is given; this header is all that the two share. Both are built in one build,
// by one compiler, so the C++ types below cross the boundary as they are.

#include <cstdint>
#include <functional>
#include <string>

// What the server answers with; each is called on the server's thread.
struct PageHttpHandlers {
  // The copy of the page served for "/"; false when there is no page yet.
  std::function<bool(std::string* bytes)> page;
  // The compile's number, for "/generation".
  std::function<uint64_t()> generation;
  // A file beside the page by its name, with its content type; false when there is none.
  std::function<bool(const std::string& name, std::string* bytes, const char** type)> file;
};

struct PageHttpServer;

// The module's two functions, found by these names.
constexpr char kPageHttpStart[] = "Qs71PageHttpStart";
constexpr char kPageHttpStop[] = "Qs71PageHttpStop";

// Serves on 127.0.0.1:port from a thread of its own, answering only requests addressed to
// 127.0.0.1 or localhost at that port; null with the system's reason when the port cannot be
// bound.
using PageHttpStart = PageHttpServer* (*)(int port, const PageHttpHandlers* handlers, std::string* reason);
// Stops serving, waits for the thread, and frees the server.
using PageHttpStop = void (*)(PageHttpServer* server);
