#pragma once
// A production run's CSV log as a test reads it: the columns by name, one map per line after
// the header, sorted into the parts' verdicts, the rows written before a part's first write,
// and the rows of the run's and the programmers' events (start, end, lost, ...).

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qs71prog::test {

struct CsvLog {
  std::vector<std::string> header;
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::map<std::string, std::string>> started;
  std::vector<std::map<std::string, std::string>> events;
  int headers = 0;  // lines that are the header
};

// Fields as the log writes them: quoted when they hold a comma or a quote, quotes doubled.
std::vector<std::string> CsvFields(const std::string& line);

CsvLog ReadLog(const std::filesystem::path& path);

}  // namespace qs71prog::test
