#include "page_server.h"

#include <httplib.h>
#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "file_system.h"
#include "text_format.h"

namespace {

// The private page's names, in fixed arrays: a signal handler removes them.
char g_privatePage[4096];
char g_privateFolder[4096];

// Polls rather than holding a request open: a reload then never waits on a request the server
// is still answering, and a server that went away costs the page nothing but failed polls.
// The scroll position goes across the reload in sessionStorage, this tab's alone.
constexpr char kReloadScript[] = R"(<script>(function(){
var key='qs71gen-scroll',seen=%llu;
addEventListener('load',function(){var y=sessionStorage.getItem(key);if(y!==null){sessionStorage.removeItem(key);scrollTo(0,+y);}});
setInterval(function(){fetch('/generation',{cache:'no-store'}).then(function(r){return r.text();}).then(function(t){
if(+t!==seen){sessionStorage.setItem(key,String(scrollY));location.reload();}}).catch(function(){});},250);
})();</script>)";

// The page allows nothing from outside it; the served copy must also reach the server.
constexpr char kPolicy[] = "default-src 'none';";
constexpr char kLivePolicy[] = "default-src 'none'; connect-src 'self';";

struct ContentType {
  const char* extension;
  const char* type;
};

const ContentType kContentTypes[] = {
    {".html", "text/html; charset=utf-8"}, {".wav", "audio/wav"}, {".png", "image/png"},
    {".svg", "image/svg+xml"}, {".txt", "text/plain; charset=utf-8"}, {".map", "text/plain; charset=utf-8"},
    {".json", "application/json"},
};

const char* TypeOf(const std::string& name) {
  for (const ContentType& row : kContentTypes) {
    const size_t n = std::strlen(row.extension);
    if (name.size() > n && name.compare(name.size() - n, n, row.extension) == 0) return row.type;
  }
  return "application/octet-stream";
}

// A name of a file beside the page: one plain component, so neither "..", a folder nor an
// absolute name (also no Windows drive or backslash) leads anywhere else.
bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Only the names this server is reached by: a page of another site whose name was made to lead
// to 127.0.0.1 sends its own name and gets nothing.
bool OwnHost(const httplib::Request& request, int port) {
  const std::string host = request.get_header_value("Host");
  const std::string suffix = ":" + std::to_string(port);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
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

}  // namespace

struct PageServer::Server {
  httplib::Server http;
  std::thread thread;
  std::atomic<uint64_t> generation{0};
  std::string page;    // the page file
  std::string folder;  // and the folder of the files beside it
  int port = 0;

  void SendPage(httplib::Response& response) {
    const uint64_t seen = generation.load();  // before the read: a newer page reloads once more
    std::string bytes;
    if (!ReadFileBytes(page, &bytes)) {
      response.status = 503;
      response.set_content("qs71gen: no page yet\n", "text/plain; charset=utf-8");
      return;
    }
    response.set_content(LivePage(bytes, seen), "text/html; charset=utf-8");
  }

  void SendFile(const std::string& name, httplib::Response& response) {
    namespace fs = std::filesystem;
    std::error_code error;
    const std::string path = PathFrom(folder, name);
    std::string bytes;
    if (!PlainName(name) || fs::symlink_status(path, error).type() != fs::file_type::regular ||
        !ReadFileBytes(path, &bytes)) {
      response.status = 404;
      return;
    }
    response.set_content(bytes, TypeOf(name));
  }

  void Route() {
    // The library's own choice, SO_REUSEPORT, would let a second qs71gen share the port and
    // take half of the requests; SO_REUSEADDR alone still lets a stopped one be started again
    // at once.
    http.set_socket_options([](socket_t socket) {
      int yes = 1;
      setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.set_default_headers({{"Cache-Control", "no-store"}});
    http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
      if (OwnHost(request, port)) return httplib::Server::HandlerResponse::Unhandled;
      response.status = 403;
      return httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/", [this](const httplib::Request&, httplib::Response& response) { SendPage(response); });
    http.Get("/generation", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(std::to_string(generation.load()), "text/plain");
    });
    http.Get(R"(/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
      SendFile(request.matches[1], response);
    });
  }
};

bool PageServingAvailable() { return true; }

PageServer::PageServer() = default;

PageServer::~PageServer() {
  if (server_ != nullptr && server_->thread.joinable()) {
    server_->http.stop();
    server_->thread.join();
  }
  RemovePrivatePage();
}

bool PageServer::Start(std::string* page, int port, std::string* reason) {
  if (page->empty() && !MakePrivatePage(page, reason)) return false;
  server_ = std::make_unique<Server>();
  server_->page = *page;
  server_->folder = FolderOf(*page);
  server_->port = port;
  server_->Route();
  errno = 0;
  if (!server_->http.bind_to_port("127.0.0.1", port)) {
    *reason = errno != 0 ? LastSystemError() : "the port cannot be bound";
    return false;
  }
  server_->thread = std::thread([this] { server_->http.listen_after_bind(); });
  return true;
}

void PageServer::Published() {
  if (server_ != nullptr) ++server_->generation;
}

void RemovePrivatePage() {
  if (g_privatePage[0] != '\0') std::remove(g_privatePage);
  if (g_privateFolder[0] != '\0') std::remove(g_privateFolder);
  g_privatePage[0] = g_privateFolder[0] = '\0';
}

std::string LivePage(const std::string& page, uint64_t generation) {
  std::string live = page;
  const size_t policy = live.find(kPolicy);
  if (policy != std::string::npos) live.replace(policy, std::strlen(kPolicy), kLivePolicy);
  const std::string script = Format(kReloadScript, static_cast<unsigned long long>(generation));
  const size_t end = live.rfind("</body>");
  live.insert(end == std::string::npos ? live.size() : end, script);
  return live;
}
