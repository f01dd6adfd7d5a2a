// libqs71gen_http: qs71gen --serve's HTTP server on cpp-httplib. It knows nothing of pages or
// files; qs71gen's handlers give it the bytes.
#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <type_traits>

#include "page_http.h"

struct PageHttpServer {
  httplib::Server http;
  std::thread thread;
  PageHttpHandlers handlers;
  int port = 0;

  // Only the names this server is reached by: a page of another site whose name was made to
  // lead to 127.0.0.1 sends its own name and gets nothing.
  bool OwnHost(const httplib::Request& request) const {
    const std::string host = request.get_header_value("Host");
    const std::string suffix = ":" + std::to_string(port);
    return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
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
      if (OwnHost(request)) return httplib::Server::HandlerResponse::Unhandled;
      response.status = 403;
      return httplib::Server::HandlerResponse::Handled;
    });
    http.Get("/", [this](const httplib::Request&, httplib::Response& response) {
      std::string bytes;
      if (!handlers.page(&bytes)) {
        response.status = 503;
        response.set_content("qs71gen: no page yet\n", "text/plain; charset=utf-8");
        return;
      }
      response.set_content(bytes, "text/html; charset=utf-8");
    });
    http.Get("/generation", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content(std::to_string(handlers.generation()), "text/plain");
    });
    http.Get(R"(/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
      std::string bytes;
      const char* type = nullptr;
      if (!handlers.file(request.matches[1], &bytes, &type)) {
        response.status = 404;
        return;
      }
      response.set_content(bytes, type);
    });
  }
};

extern "C" __attribute__((visibility("default"))) PageHttpServer* Qs71PageHttpStart(
    int port, const PageHttpHandlers* handlers, std::string* reason) {
  auto server = std::make_unique<PageHttpServer>();
  server->handlers = *handlers;
  server->port = port;
  server->Route();
  errno = 0;
  if (!server->http.bind_to_port("127.0.0.1", port)) {
    const int error = errno;
    *reason = error != 0 ? std::strerror(error) : "the port cannot be bound";
    return nullptr;
  }
  PageHttpServer* started = server.release();
  started->thread = std::thread([started] { started->http.listen_after_bind(); });
  return started;
}

extern "C" __attribute__((visibility("default"))) void Qs71PageHttpStop(PageHttpServer* server) {
  if (server == nullptr) return;
  server->http.stop();
  if (server->thread.joinable()) server->thread.join();
  delete server;
}

static_assert(std::is_same_v<decltype(&Qs71PageHttpStart), PageHttpStart>);
static_assert(std::is_same_v<decltype(&Qs71PageHttpStop), PageHttpStop>);
