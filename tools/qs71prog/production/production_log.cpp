#include "production/production_log.h"

#include <cstdio>
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
                                    "status",   "seconds"};

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

}  // namespace

std::string Neutralised(const std::string& text) {
  if (text.empty() || std::string_view("=+-@\t\r").find(text.front()) == std::string_view::npos) {
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
       record.passed ? "pass" : "fail", std::to_string(record.exit), Seconds(record.stepSeconds[1]),
       Seconds(record.stepSeconds[2]), Seconds(record.stepSeconds[3]), Joined(record.blocks, " "),
       record.programmerPath, record.programmerSerial, record.status, Seconds(record.seconds)});
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
