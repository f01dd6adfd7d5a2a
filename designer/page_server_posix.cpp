#include "page_server.h"

#include <stdlib.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "file_system.h"
#include "hex.h"
#include "http/page_access.h"
#include "page_http.h"
#include "shared_library.h"
#include "text_format.h"

namespace {

// The private page's names, in fixed arrays: a signal handler removes them.
char g_privatePage[4096];
char g_privateFolder[4096];

// The token of the printed address: 128 bits from the system's generator, as hex.
bool MakeToken(std::string* token, std::string* reason) {
  uint8_t bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return *reason = "no random token: " + LastSystemError(), false;
    got += static_cast<size_t>(n);
  }
  *token = HexBytes(bytes, sizeof bytes);
  return true;
}

bool MakePrivatePage(std::string* page, std::string* reason) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qs71gen-page-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) return *reason = pattern + ": " + LastSystemError(), false;
  *page = pattern + "/page.html";
  if (page->size() >= sizeof g_privatePage) return *reason = "the temporary folder's name is too long", false;
  std::snprintf(g_privateFolder, sizeof g_privateFolder, "%s", pattern.c_str());
  std::snprintf(g_privatePage, sizeof g_privatePage, "%s", page->c_str());
  return true;
}

// The HTTP module: beside the program in the build tree, in the library folder beside bin/ of
// an installed or unpacked tree, and by its bare name in the system's folders (where a package
// puts it, found even when /proc is not there to say where the program is).
bool OpenHttpModule(SharedLibrary* module, std::string* reason) {
  const std::string name = SharedLibraryFileName("qs71gen_http");
  const std::string here = ExecutableDirectory();
  std::vector<std::string> paths;
  if (!here.empty()) paths = {here + "/" + name, here + "/" QS71_BIN_TO_LIB "/" + name};
  paths.push_back(name);
  // The reason given is the loader's for the first module found, say a library it needs.
  std::string error, found;
  for (const std::string& path : paths) {
    if (module->Open(path, error)) return true;
    if (found.empty() && (path == name || IdentifyFile(path.c_str()).exists)) found = error;
  }
  return *reason = "its HTTP module cannot be loaded: " + found, false;
}

}  // namespace

struct PageServer::Server {
  SharedLibrary module;
  PageHttpStop stop = nullptr;
  PageHttpServer* http = nullptr;
  std::atomic<uint64_t> generation{0};
  std::string page;  // the page file
  std::string address;

  bool SendPage(std::string* bytes) const {
    const uint64_t seen = generation.load();  // before the read: a newer page reloads once more
    std::string read;
    if (!ReadFileBytes(page, &read)) return false;
    *bytes = LivePage(read, seen);
    return true;
  }
};

bool PageServingAvailable() { return true; }

PageServer::PageServer() = default;

PageServer::~PageServer() {
  if (server_ != nullptr && server_->http != nullptr) server_->stop(server_->http);
  RemovePrivatePage();
}

bool PageServer::Start(std::string* page, int port, std::string* reason) {
  auto server = std::make_unique<Server>();
  if (!OpenHttpModule(&server->module, reason)) return false;
  const auto start = server->module.Find<PageHttpStart>(kPageHttpStart);
  server->stop = server->module.Find<PageHttpStop>(kPageHttpStop);
  if (start == nullptr || server->stop == nullptr) return *reason = "its HTTP module is not this build's", false;
  PageHttpSettings settings;
  settings.port = port;
  if (!MakeToken(&settings.token, reason)) return false;
  if (page->empty() && !MakePrivatePage(page, reason)) return false;
  server->page = *page;
  server->address = PageAddress({port, settings.token});
  Server* own = server.get();
  const PageHttpHandlers handlers{
      [own](std::string* bytes) { return own->SendPage(bytes); },
      [own] { return own->generation.load(); },
  };
  server->http = start(&settings, &handlers, reason);
  if (server->http == nullptr) return false;
  server_ = std::move(server);
  return true;
}

std::string PageServer::Address() const { return server_ != nullptr ? server_->address : ""; }

void PageServer::Published() {
  if (server_ != nullptr) ++server_->generation;
}

void RemovePrivatePage() {
  if (g_privatePage[0] != '\0') std::remove(g_privatePage);
  if (g_privateFolder[0] != '\0') std::remove(g_privateFolder);
  g_privatePage[0] = g_privateFolder[0] = '\0';
}
