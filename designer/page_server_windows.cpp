#include "page_server.h"

// Windows builds go without the HTTP library: qs71gen --watch works, --serve says it is not
// available.

struct PageServer::Server {};

bool PageServingAvailable() { return false; }

PageServer::PageServer() = default;
PageServer::~PageServer() = default;

bool PageServer::Start(std::string*, int, std::string* reason) {
  *reason = "not available in this build";
  return false;
}

void PageServer::Published() {}

std::string PageServer::Address() const { return ""; }

void RemovePrivatePage() {}
