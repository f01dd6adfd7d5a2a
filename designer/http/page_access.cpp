#include "page_access.h"

#include "ascii_case.h"

namespace {

// The refusals, in the order they are judged: a request learns nothing of the page before it
// has shown it is addressed to this server and carries the token.
enum Refusal { kOtherHost, kMethod, kBody, kNoToken, kNotHere };

const PageVerdict kRefusals[] = {
    {PageAnswer::kRefused, 403, "qs71gen: this server answers only to 127.0.0.1 and localhost at its port\n"},
    {PageAnswer::kRefused, 405, "qs71gen: the page is only read here, with GET or HEAD\n"},
    {PageAnswer::kRefused, 413, "qs71gen: a request here carries no body\n"},
    {PageAnswer::kRefused, 403, "qs71gen: open the address qs71gen printed when it started: it carries the page's token\n"},
    {PageAnswer::kRefused, 404, "qs71gen: nothing is served here but the page\n"},
};

// The names a browser on this machine gives the server: with the port, and without it for 80,
// where browsers leave it out.
bool OwnHost(const std::string& host, int port) {
  const std::string lower = AsciiLowerCopy(host);
  const std::string suffix = ":" + std::to_string(port);
  for (const char* name : {"127.0.0.1", "localhost"}) {
    if (lower == name + suffix || (port == 80 && lower == name)) return true;
  }
  return false;
}

// Compares in a time that does not depend on where the two first differ.
bool SameToken(const std::string& given, const std::string& token) {
  if (given.size() != token.size() || token.empty()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < token.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ token[i]);
  return differ == 0;
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "a=1; qs71gen-8071=TOKEN; b=2"
bool CookieHoldsToken(const std::string& header, const PageAccess& access) {
  const std::string name = TokenCookieName(access.port) + "=";
  size_t start = 0;
  while (start <= header.size()) {
    size_t end = header.find(';', start);
    if (end == std::string::npos) end = header.size();
    const std::string pair = Trimmed(header.substr(start, end - start));
    if (pair.compare(0, name.size(), name) == 0 && SameToken(pair.substr(name.size()), access.token)) return true;
    start = end + 1;
  }
  return false;
}

bool CarriesToken(const PageRequest& request, const PageAccess& access) {
  if (SameToken(request.queryToken, access.token)) return true;
  for (const std::string& cookie : request.cookies) {
    if (CookieHoldsToken(cookie, access)) return true;
  }
  return false;
}

}  // namespace

PageVerdict JudgeRequest(const PageRequest& r, const PageAccess& access) {
  if (r.hosts.size() != 1 || !OwnHost(r.hosts[0], access.port)) return kRefusals[kOtherHost];
  if (r.method != "GET" && r.method != "HEAD") return kRefusals[kMethod];
  if (r.hasBody) return kRefusals[kBody];
  if (!CarriesToken(r, access)) return kRefusals[kNoToken];
  if (r.path == "/generation") return {PageAnswer::kGeneration, 200, ""};
  if (r.path != "/") return kRefusals[kNotHere];
  // The token leaves the address bar once the browser holds it in the cookie.
  if (SameToken(r.queryToken, access.token)) return {PageAnswer::kKeepToken, 303, ""};
  return {PageAnswer::kPage, 200, ""};
}

std::string TokenCookieName(int port) { return "qs71gen-" + std::to_string(port); }

std::string TokenCookie(const PageAccess& access) {
  return TokenCookieName(access.port) + "=" + access.token + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string PageAddress(const PageAccess& access) {
  const std::string port = access.port == 80 ? "" : ":" + std::to_string(access.port);
  return "http://127.0.0.1" + port + "/?token=" + access.token;
}
