#include "csv_log.h"

#include "file_contents.h"
#include "output_lines.h"

namespace qs71prog::test {

std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

CsvLog ReadLog(const std::filesystem::path& path) {
  CsvLog log;
  for (const std::string& line : Lines(ReadFileText(path))) {
    const std::vector<std::string> fields = CsvFields(line);
    if (fields.front() == "time") {
      log.header = fields;
      ++log.headers;
      continue;
    }
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < fields.size() && i < log.header.size(); ++i) {
      row[log.header[i]] = fields[i];
    }
    const std::string event = row["event"];
    (event == "part" || event == "already" ? log.rows
     : event == "started"                  ? log.started
                                           : log.events)
        .push_back(row);
  }
  return log;
}

}  // namespace qs71prog::test
