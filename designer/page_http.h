#pragma once
// The HTTP side of qs71gen --serve. cpp-httplib comes with OpenSSL, zlib and brotli: linked into
// qs71gen, they were loaded by every compile (4.8 MiB more memory and 1.7 ms more at each
// start). So the server is a module of its own, libqs71gen_http.so, which qs71gen opens only
// when --serve is given; this header is all that the two share. Both are built in one build,
// by one compiler, so the C++ types below cross the boundary as they are.

#include <cstdint>
#include <functional>
#include <string>

// What the server answers with; each is called on a thread of the server's.
struct PageHttpHandlers {
  // The copy of the page served for "/"; false when there is no page yet.
  std::function<bool(std::string* bytes)> page;
  // The compile's number, for "/generation".
  std::function<uint64_t()> generation;
};

// Whom the server answers: requests addressed to 127.0.0.1 or localhost at port that carry
// token, in the address's query or in the cookie the server sets (page_access.h).
struct PageHttpSettings {
  int port = 0;
  std::string token;
};

struct PageHttpServer;

// The module's two functions, found by these names.
constexpr char kPageHttpStart[] = "Qs71PageHttpStart";
constexpr char kPageHttpStop[] = "Qs71PageHttpStop";

// Serves the page and its reload endpoint on 127.0.0.1 and nothing else; null with the system's
// reason when the port cannot be bound.
using PageHttpStart = PageHttpServer* (*)(const PageHttpSettings* settings, const PageHttpHandlers* handlers,
                                          std::string* reason);
// Stops serving, ends every connection, waits for the threads, and frees the server.
using PageHttpStop = void (*)(PageHttpServer* server);
