#include "production/production_log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "platform/host_system.h"

namespace qs71prog {

namespace {

// The columns, in order. The first fourteen are the ones a line's readers rely on; later
// versions add columns at the end only.
constexpr const char* kColumns[] = {"time",     "host",     "programmer",      "part",
                                    "chip_id",  "otp_size", "image",           "sha256",
                                    "result",   "exit",     "blank_check_s",   "write_s",
                                    "verify_s", "blocks",   "programmer_path", "programmer_serial",
                                    "status",   "seconds",         "run",
                                    "station",  "operator",        "code",
                                    "event"};

std::string Seconds(double seconds) {
  if (seconds < 0.0) return "";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

std::string Row(const std::vector<std::string>& fields) {
  std::string row;
  for (const std::string& field : fields) {
    row += (row.empty() ? "" : ",") + CsvField(Neutralised(field));
  }
  return row + "\n";
}

// One line's fields as CsvRow wrote them (its rows hold no line ends).
std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t index = 0; index < line.size(); ++index) {
    const char c = line[index];
    if (c == '"' && quoted && index + 1 < line.size() && line[index + 1] == '"') {
      fields.back() += '"';
      ++index;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else if (c != '\r') {
      fields.back() += c;
    }
  }
  return fields;
}

int ColumnOf(const std::vector<std::string>& header, const char* name) {
  const auto found = std::find(header.begin(), header.end(), name);
  return found == header.end() ? -1 : static_cast<int>(found - header.begin());
}

}  // namespace

std::map<int, int> LastPartNumbers(const std::string& path) {
  std::map<int, int> last;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  if (!std::getline(file, line)) return last;
  const std::vector<std::string> header = Fields(line);
  const int programmer = ColumnOf(header, "programmer");
  const int part = ColumnOf(header, "part");
  const int event = ColumnOf(header, "event");
  if (programmer < 0 || part < 0) return last;
  while (std::getline(file, line)) {
    const std::vector<std::string> fields = Fields(line);
    const auto field = [&](int column) {
      return column >= 0 && column < static_cast<int>(fields.size()) ? fields[column] : "";
    };
    // A log from before the event column holds parts only (and lost rows, which repeat a
    // part's number and so change nothing).
    if (!field(event).empty() && field(event) != "part") continue;
    const int id = std::atoi(field(programmer).c_str());
    last[id] = std::max(last[id], std::atoi(field(part).c_str()));
  }
  return last;
}

std::string Neutralised(const std::string& text) {
  // A negative number (a library's result code) is a number to a spreadsheet, not a formula.
  const bool number = text.size() > 1 && text.front() == '-' &&
                      text.find_first_not_of("0123456789", 1) == std::string::npos;
  if (text.empty() || number || std::string_view("=+-@\t\r").find(text.front()) == std::string_view::npos) {
    return text;
  }
  return "'" + text;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvHeader() {
  std::string row;
  for (const char* column : kColumns) row += (row.empty() ? "" : ",") + std::string(column);
  return row + "\n";
}

std::string CsvRow(const PartRecord& record) {
  return Row(
      {record.time, record.host, std::to_string(record.programmer), std::to_string(record.part),
       record.chipId, std::to_string(record.otpSize), record.image, record.sha256,
       record.event != "part" ? "" : record.passed ? "pass" : "fail", std::to_string(record.exit), Seconds(record.stepSeconds[1]),
       Seconds(record.stepSeconds[2]), Seconds(record.stepSeconds[3]), Joined(record.blocks, " "),
       record.programmerPath, record.programmerSerial, record.status, Seconds(record.seconds),
       record.run, record.station, record.operatorName, std::to_string(record.code),
       record.event});
}

ProductionLog::~ProductionLog() { CloseFd(fd); }

bool ProductionLog::Open(const std::string& path, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  fd = OpenForAppend(path);
  if (fd < 0) {
    problem = "cannot open the log " + path + " to append to it";
    return false;
  }
  // A line that a crash or a full disk left without its end would swallow the next row.
  const long long size = FileSize(fd);
  const bool torn = size > 0 && LastByte(fd) != '\n';
  if ((size == 0 && !Write(CsvHeader())) || (torn && !Write("\n"))) {
    problem = "cannot write the log " + path;
    return false;
  }
  return true;
}

bool ProductionLog::Append(const PartRecord& record) {
  std::lock_guard<std::mutex> lock(mutex);
  return fd >= 0 && Write(CsvRow(record));
}

bool ProductionLog::Write(const std::string& line) {
  return AppendWhole(fd, line) && SyncFd(fd);
}

}  // namespace qs71prog
