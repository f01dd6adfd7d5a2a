#include "trace/connection_password.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace qs71prog {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// %XX as the byte; a broken escape stays as written, as it would be seen in a message.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (size_t at = 0; at < text.size(); ++at) {
    const int high = at + 2 < text.size() && text[at] == '%' ? HexValue(text[at + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[at + 2]) : -1;
    if (low < 0) {
      decoded += text[at];
      continue;
    }
    decoded += static_cast<char>(high * 16 + low);
    at += 2;
  }
  return decoded;
}

void Add(std::vector<std::string>& found, std::string_view raw, bool uri) {
  if (raw.empty()) return;
  found.emplace_back(raw);
  if (uri && PercentDecoded(raw) != raw) found.push_back(PercentDecoded(raw));
}

// libpq's reading: the user part ends at the first '@' before any '/', and the password is what
// follows its first ':'. Then "password=" among the parameters after '?'.
void UriPasswords(std::string_view uri, std::vector<std::string>& found) {
  const size_t start = uri.find("://") + 3;
  const size_t stop = uri.find_first_of("@/", start);
  const bool user = stop != std::string_view::npos && uri[stop] == '@';
  if (user) {
    const size_t colon = uri.find(':', start);
    if (colon < stop) Add(found, uri.substr(colon + 1, stop - colon - 1), true);
  }
  const size_t query = uri.find('?', user ? stop + 1 : start);
  for (size_t at = query; at != std::string_view::npos && at < uri.size();) {
    const size_t end = std::min(uri.find('&', at + 1), uri.size());
    const std::string_view pair = uri.substr(at + 1, end - at - 1);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && PercentDecoded(pair.substr(0, equals)) == "password") {
      Add(found, pair.substr(equals + 1), true);
    }
    at = end;
  }
}

// "password = 'se cret'" or "password=secret" among the words; a quoted value ends at its
// closing quote (a backslash keeps the next character), or at the string's end.
void WordPasswords(std::string_view words, std::vector<std::string>& found) {
  for (size_t at = words.find("password"); at != std::string_view::npos;
       at = words.find("password", at + 1)) {
    if (at > 0 && !std::isspace(static_cast<unsigned char>(words[at - 1]))) continue;
    size_t value = words.find_first_not_of(" \t\n\r", at + 8);
    if (value == std::string_view::npos || words[value] != '=') continue;
    value = words.find_first_not_of(" \t\n\r", value + 1);
    if (value == std::string_view::npos) return;
    const bool quoted = words[value] == '\'';
    size_t end = quoted ? value + 1 : value;
    while (end < words.size() &&
           (quoted ? words[end] != '\'' : !std::isspace(static_cast<unsigned char>(words[end])))) {
      end += quoted && words[end] == '\\' ? 2 : 1;
    }
    end = std::min(end, words.size());
    Add(found, words.substr(quoted ? value + 1 : value, end - value - (quoted ? 1 : 0)), false);
  }
}

}  // namespace

bool IsConnectionString(const std::string& trace) {
  return trace.starts_with("postgresql://") || trace.starts_with("postgres://");
}

bool IsLibpqKeywords(const std::string& trace) {
  size_t at = trace.find_first_not_of(" \t");
  const size_t word = at;
  while (at < trace.size() &&
         (std::islower(static_cast<unsigned char>(trace[at])) || trace[at] == '_')) {
    ++at;
  }
  if (at == word || at == std::string::npos) return false;
  at = trace.find_first_not_of(" \t", at);
  return at != std::string::npos && trace[at] == '=';
}

std::vector<std::string> ConnectionPasswords(const std::string& connection) {
  std::vector<std::string> found;
  if (IsConnectionString(connection))
    UriPasswords(connection, found);
  else
    WordPasswords(connection, found);
  // The longest first, so that no shorter spelling inside it is left half replaced.
  std::sort(found.begin(), found.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  return found;
}

std::string WithoutPassword(std::string text, const std::string& connection) {
  for (const std::string& password : ConnectionPasswords(connection)) {
    for (size_t at = text.find(password); at != std::string::npos;
         at = text.find(password, at + 3)) {
      text.replace(at, password.size(), "***");
    }
  }
  return text;
}

}  // namespace qs71prog
