#include "http/page_access.h"

#include <gtest/gtest.h>

namespace {

const char kToken[] = "0123456789abcdef0123456789abcdef";

struct AccessCase {
  const char* name;
  int port;
  PageRequest request;
  PageAnswer answer;
  int status;
};

PageRequest Get(const char* path, const char* host, std::vector<std::string> cookies = {}, const char* query = "") {
  return {"GET", path, query, {host}, std::move(cookies), false};
}

const std::string kCookie = "qs71gen-8071=" + std::string(kToken);

const AccessCase kCases[] = {
    {"page by cookie", 8071, Get("/", "127.0.0.1:8071", {kCookie}), PageAnswer::kPage, 200},
    {"page by cookie among others", 8071, Get("/", "localhost:8071", {"a=1; " + kCookie + "; b=2"}), PageAnswer::kPage, 200},
    {"host in capitals", 8071, Get("/", "LOCALHOST:8071", {kCookie}), PageAnswer::kPage, 200},
    {"the printed address", 8071, Get("/", "127.0.0.1:8071", {}, kToken), PageAnswer::kKeepToken, 303},
    {"generation", 8071, Get("/generation", "127.0.0.1:8071", {kCookie}), PageAnswer::kGeneration, 200},
    {"generation by query", 8071, Get("/generation", "127.0.0.1:8071", {}, kToken), PageAnswer::kGeneration, 200},
    {"HEAD", 8071, {"HEAD", "/", "", {"127.0.0.1:8071"}, {kCookie}, false}, PageAnswer::kPage, 200},
    // Another user of the machine, who has no token.
    {"no token", 8071, Get("/", "127.0.0.1:8071"), PageAnswer::kRefused, 403},
    {"a file beside the page", 8071, Get("/signing.key", "127.0.0.1:8071"), PageAnswer::kRefused, 403},
    {"a wrong token", 8071, Get("/", "127.0.0.1:8071", {}, "0123456789abcdef0123456789abcdee"), PageAnswer::kRefused, 403},
    {"a token cut short", 8071, Get("/", "127.0.0.1:8071", {}, "0123456789abcdef"), PageAnswer::kRefused, 403},
    {"an empty token", 8071, Get("/", "127.0.0.1:8071", {"qs71gen-8071="}), PageAnswer::kRefused, 403},
    {"another port's cookie", 8071, Get("/", "127.0.0.1:8071", {"qs71gen-8072=" + std::string(kToken)}), PageAnswer::kRefused, 403},
    // The designer, asking for something else than the page.
    {"a file with the token", 8071, Get("/signing.key", "127.0.0.1:8071", {kCookie}), PageAnswer::kRefused, 404},
    {"a dotfile with the token", 8071, Get("/.profile", "127.0.0.1:8071", {kCookie}), PageAnswer::kRefused, 404},
    {"POST", 8071, {"POST", "/", "", {"127.0.0.1:8071"}, {kCookie}, true}, PageAnswer::kRefused, 405},
    {"a GET with a body", 8071, {"GET", "/", "", {"127.0.0.1:8071"}, {kCookie}, true}, PageAnswer::kRefused, 413},
    // A page of another site whose name was made to lead to 127.0.0.1, even one holding the token.
    {"a rebound name", 8071, Get("/", "evil.example:8071", {kCookie}), PageAnswer::kRefused, 403},
    {"a rebound name with the token", 8071, Get("/", "evil.example:8071", {}, kToken), PageAnswer::kRefused, 403},
    {"another port", 8071, Get("/", "127.0.0.1:8072", {kCookie}), PageAnswer::kRefused, 403},
    {"no port on 8071", 8071, Get("/", "127.0.0.1", {kCookie}), PageAnswer::kRefused, 403},
    {"two hosts", 8071, {"GET", "/", "", {"127.0.0.1:8071", "evil.example"}, {kCookie}, false}, PageAnswer::kRefused, 403},
    {"no host", 8071, {"GET", "/", "", {}, {kCookie}, false}, PageAnswer::kRefused, 403},
    // Port 80, which browsers leave out of the name.
    {"port 80 without the port", 80, Get("/", "127.0.0.1", {"qs71gen-80=" + std::string(kToken)}), PageAnswer::kPage, 200},
    {"port 80 as localhost", 80, Get("/", "localhost", {"qs71gen-80=" + std::string(kToken)}), PageAnswer::kPage, 200},
    {"port 80 with the port", 80, Get("/", "127.0.0.1:80", {"qs71gen-80=" + std::string(kToken)}), PageAnswer::kPage, 200},
};

TEST(PageAccessTest, AnswersTheDesignerAlone) {
  for (const AccessCase& c : kCases) {
    SCOPED_TRACE(c.name);
    const PageVerdict verdict = JudgeRequest(c.request, {c.port, kToken});
    EXPECT_EQ(verdict.answer, c.answer);
    EXPECT_EQ(verdict.status, c.status);
  }
}

TEST(PageAccessTest, CookieAndAddress) {
  EXPECT_EQ(TokenCookie({8071, kToken}), kCookie + "; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_EQ(PageAddress({8071, kToken}), "http://127.0.0.1:8071/?token=" + std::string(kToken));
  EXPECT_EQ(PageAddress({80, kToken}), "http://127.0.0.1/?token=" + std::string(kToken));
}

}  // namespace
