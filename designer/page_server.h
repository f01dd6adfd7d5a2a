#pragma once
// qs71gen --serve: the page of a watched compile, served to the designer's browser and to no
// one else (127.0.0.1 only, and only with the token of the printed address: the page shows and
// plays a customer's sounds, see http/page_access.h). Only the page and its reload endpoint are
// served, never another file. The page file is read afresh for each request, so a browser
// always gets the last compile's page, and the copy it gets carries a small script that reloads
// it after the next compile at the place it was scrolled to. The page file itself stays as a
// plain compile writes it.

#include <cstdint>
#include <memory>
#include <string>

// The port when --serve names none.
constexpr int kDefaultServePort = 8071;

// False in a build without the HTTP library (Windows).
bool PageServingAvailable();

class PageServer {
 public:
  PageServer();
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  // Serves *page on 127.0.0.1:port from threads of its own, under a new random token. An
  // empty *page becomes a page in a private folder of the temporary folder, which goes with
  // the server (or with RemovePrivatePage). False with the reason, the system's for a port in
  // use.
  bool Start(std::string* page, int port, std::string* reason);

  // After each compile, whether it wrote a page or a FAILED one: the browsers reload.
  void Published();

  // The address to open, with the token; empty before Start.
  std::string Address() const;

 private:
  struct Server;
  std::unique_ptr<Server> server_;
};

// Removes the private page and its folder; safe in a signal handler.
void RemovePrivatePage();

// The copy of a page that the server gives a browser: the page, allowed to ask the server for
// the compile's number, with the script that reloads it when the number is no longer
// generation.
std::string LivePage(const std::string& page, uint64_t generation);
