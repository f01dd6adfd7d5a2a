#pragma once
// Who gets what from qs71gen --serve. The page holds a customer's sounds, and any user of the
// machine can reach 127.0.0.1, so the server answers the designer alone, as notebook servers do:
// the address qs71gen prints carries a random token, the browser that opens it gets the token
// back in a cookie only that server's pages send (SameSite=Strict, out of reach of scripts:
// HttpOnly), and every request must carry one of the two. Nothing but the page and its reload
// endpoint is served, to GET and HEAD alone, and a request that carries a body is refused
// before the body is read. The Host header must name this server as the browser addresses it,
// so a page of another site whose name was made to lead to 127.0.0.1 gets nothing either.
//
// Plain data in, a verdict out: the HTTP module applies it, the tests judge it row by row.

#include <string>
#include <vector>

// What the server knows of a request once its head is read.
struct PageRequest {
  std::string method;
  std::string path;                  // without the query
  std::string queryToken;            // the query's token=, empty when there is none
  std::vector<std::string> hosts;    // every Host header
  std::vector<std::string> cookies;  // every Cookie header
  bool hasBody = false;              // a Content-Length other than 0, or a Transfer-Encoding
};

struct PageAccess {
  int port = 0;
  std::string token;
};

enum class PageAnswer {
  kPage,        // the page
  kGeneration,  // the compile's number
  kKeepToken,   // the printed address: the cookie, and a redirect to "/" without the token
  kRefused,     // status and reason
};

struct PageVerdict {
  PageAnswer answer = PageAnswer::kRefused;
  int status = 0;
  const char* reason = "";
};

PageVerdict JudgeRequest(const PageRequest& request, const PageAccess& access);

// The cookie's name holds the port: browsers keep cookies by host alone, and two servers on two
// ports must not take each other's.
std::string TokenCookieName(int port);

// The Set-Cookie value that gives the browser the token.
std::string TokenCookie(const PageAccess& access);

// The address to print: http://127.0.0.1:PORT/?token=... (no port for 80, as browsers write it).
std::string PageAddress(const PageAccess& access);
