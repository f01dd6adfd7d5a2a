// libqs71gen_http: qs71gen --serve's HTTP server on cpp-httplib. It knows nothing of pages or
// files; qs71gen's handlers give it the bytes. Whom it answers is page_access.h's to say, and how
// long and how many connections may stay open page_connections.h's.
#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <type_traits>

#include "http/page_access.h"
#include "http/page_connections.h"
#include "page_http.h"

namespace {

// The connection a server thread answers: the handlers learn from it that the request's head
// is in.
thread_local PageConnection* t_connection = nullptr;

PageRequest RequestFacts(const httplib::Request& request) {
  PageRequest facts;
  facts.method = request.method;
  facts.path = request.path;
  facts.queryToken = request.get_param_value("token");
  for (auto [at, end] = request.headers.equal_range("Host"); at != end; ++at) facts.hosts.push_back(at->second);
  for (auto [at, end] = request.headers.equal_range("Cookie"); at != end; ++at) facts.cookies.push_back(at->second);
  const std::string length = request.get_header_value("Content-Length");
  facts.hasBody = request.has_header("Transfer-Encoding") || (!length.empty() && length != "0");
  return facts;
}

// cpp-httplib's server with connections of our own: each is held to page_connections.h's
// limits and answers one request.
class GuardedServer : public httplib::Server {
 public:
  PageConnections connections;

 private:
  bool process_and_close_socket(socket_t socket) override {
    PageConnection* connection = connections.Admit(socket);
    t_connection = connection;
    PageConnectionStream stream(*connection);
    bool closed = false;
    const bool answered = process_request(stream, true, closed, nullptr);
    t_connection = nullptr;
    connections.Leave(connection);
    ClosePageConnection(socket);
    return answered;
  }
};

}  // namespace

struct PageHttpServer {
  GuardedServer http;
  std::thread thread;
  PageHttpHandlers handlers;
  PageAccess access;

  // Every request is judged here, before cpp-httplib would read a body.
  PageVerdict Judge(const httplib::Request& request, httplib::Response& response) {
    if (t_connection != nullptr) http.connections.Answering(t_connection);
    const PageVerdict verdict = JudgeRequest(RequestFacts(request), access);
    if (verdict.answer == PageAnswer::kRefused) {
      response.status = verdict.status;
      if (verdict.status == 405) response.set_header("Allow", "GET, HEAD");
      response.set_content(verdict.reason, "text/plain; charset=utf-8");
    }
    return verdict;
  }

  void Answer(const PageVerdict& verdict, httplib::Response& response) {
    std::string bytes;
    switch (verdict.answer) {
      case PageAnswer::kKeepToken:
        response.set_header("Set-Cookie", TokenCookie(access));
        response.set_redirect("/", 303);
        return;
      case PageAnswer::kGeneration:
        response.set_content(std::to_string(handlers.generation()), "text/plain");
        return;
      case PageAnswer::kPage:
        if (handlers.page(&bytes)) return response.set_content(bytes, "text/html; charset=utf-8");
        response.status = 503;
        response.set_content("qs71gen: no page yet\n", "text/plain; charset=utf-8");
        return;
      case PageAnswer::kRefused:
        return;
    }
  }

  void Route() {
    // The library's own choice, SO_REUSEPORT, would let a second qs71gen share the port and
    // take half of the requests; SO_REUSEADDR alone still lets a stopped one be started again
    // at once.
    http.set_socket_options([](socket_t socket) {
      int yes = 1;
      setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    http.new_task_queue = [] { return new ThreadPerConnection; };
    http.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"},
                              {"Referrer-Policy", "no-referrer"}, {"X-Frame-Options", "DENY"}});
    // A client that waits for "100 Continue" before it sends its body gets the refusal instead.
    http.set_expect_100_continue_handler([this](const httplib::Request& request, httplib::Response& response) {
      return Judge(request, response).answer == PageAnswer::kRefused ? response.status : 100;
    });
    http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
      Answer(Judge(request, response), response);
      return httplib::Server::HandlerResponse::Handled;
    });
  }
};

extern "C" __attribute__((visibility("default"))) PageHttpServer* Qs71PageHttpStart(
    const PageHttpSettings* settings, const PageHttpHandlers* handlers, std::string* reason) {
  auto server = std::make_unique<PageHttpServer>();
  server->handlers = *handlers;
  server->access = {settings->port, settings->token};
  server->Route();
  errno = 0;
  if (!server->http.bind_to_port("127.0.0.1", settings->port)) {
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
  server->http.connections.ShutAll();
  if (server->thread.joinable()) server->thread.join();
  delete server;
}

static_assert(std::is_same_v<decltype(&Qs71PageHttpStart), PageHttpStart>);
static_assert(std::is_same_v<decltype(&Qs71PageHttpStop), PageHttpStop>);
