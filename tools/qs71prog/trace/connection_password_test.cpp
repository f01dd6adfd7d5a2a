// The password of a connection string is found in every form libpq takes, and taken out of the
// messages libpq makes of a string it cannot read, which repeat it.
#include "trace/connection_password.h"

#include <gtest/gtest.h>

namespace qs71prog {
namespace {

TEST(ConnectionPassword, FoundInEveryForm) {
  const struct {
    const char* connection;
    std::vector<std::string> passwords;
  } cases[] = {
      {"postgresql://line:s3cret@db/trace", {"s3cret"}},
      {"postgres://line:pa%40ss@db:5432/trace", {"pa%40ss", "pa@ss"}},
      {"postgresql://line:p?ss@db/trace?password=two", {"p?ss", "two"}},
      {"postgresql://line@db/trace?sslmode=require&password=in%20query",
       {"in%20query", "in query"}},
      {"postgresql://line:@db/trace", {}},
      {"postgresql:///trace?service=line", {}},
      {"postgresql://db/pass:word@x", {}},  // after the first '/', no user part
      {"host=db password=s3cret dbname=trace", {"s3cret"}},
      {"host=db password = 'se cr\\'et' dbname=trace", {"se cr\\'et"}},
      {"host=db password='unterminated", {"unterminated"}},
      {"host=db mypassword=x", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.connection);
    std::vector<std::string> found = ConnectionPasswords(c.connection);
    std::vector<std::string> expected = c.passwords;
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
  }
}

// libpq's own words for strings it could not read (libpq 15), each repeating the password.
TEST(ConnectionPassword, TakenOutOfLibpqsMessages) {
  const struct {
    const char* connection;
    const char* message;
    const char* shown;
  } cases[] = {
      {"postgresql://u:s3cr3t@[::1/db",
       "end of string reached when looking for matching \"]\" in IPv6 host address in URI: "
       "\"postgresql://u:s3cr3t@[::1/db\"",
       "end of string reached when looking for matching \"]\" in IPv6 host address in URI: "
       "\"postgresql://u:***@[::1/db\""},
      {"postgresql://u:s3%zzcr@h/db", "invalid percent-encoded token: \"s3%zzcr\"",
       "invalid percent-encoded token: \"***\""},
      {"postgresql://u:a%41b@h/db?x=1", "invalid URI query parameter: \"x\" in aAb and a%41b",
       "invalid URI query parameter: \"x\" in *** and ***"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.connection);
    EXPECT_EQ(WithoutPassword(c.message, c.connection), c.shown);
  }
}

}  // namespace
}  // namespace qs71prog
