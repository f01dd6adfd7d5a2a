#include "production/production_log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <string_view>
#include <tuple>
#include <utility>

#include "file_lock.h"
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

// Every field but the first after a comma, even after empty ones (a host without a name).
std::string Row(const std::vector<std::string>& fields) {
  std::string row;
  for (size_t index = 0; index < fields.size(); ++index) {
    row += (index == 0 ? "" : ",") + CsvField(Neutralised(fields[index]));
  }
  return row + "\n";
}

// The next record of a log: a line, and the lines after it while a quoted field (an image
// path with a line end in it) is still open. ended is false for a last record that the file
// ends inside of, as a crash or a full disk left it.
bool NextRecord(std::istream& file, std::string& record, bool& ended) {
  if (!std::getline(file, record)) return false;
  const auto open = [&] { return std::count(record.begin(), record.end(), '"') % 2 != 0; };
  std::string line;
  while (open() && !file.eof() && std::getline(file, line)) record += "\n" + line;
  ended = !file.eof() && !open();
  if (!record.empty() && record.back() == '\r') record.pop_back();
  return true;
}

std::vector<std::string> Fields(const std::string& record) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t index = 0; index < record.size(); ++index) {
    const char c = record[index];
    if (c == '"' && quoted && index + 1 < record.size() && record[index + 1] == '"') {
      fields.back() += '"';
      ++index;
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

// A cell as it was before Neutralised put a quote before it.
std::string Restored(const std::string& cell) {
  const bool guarded = cell.size() > 1 && cell.front() == '\'' &&
                       std::string_view("=+-@\t\r").find(cell[1]) != std::string_view::npos;
  return guarded ? cell.substr(1) : cell;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A row as the history reads it; part is -1 where the row has no whole part number.
struct HistoryRow {
  std::string key, event, run, chipId, time, sha256;
  int part = -1;
};

HistoryRow ReadRow(const std::vector<std::string>& header, const std::vector<std::string>& fields) {
  const auto field = [&](const char* name) {
    const auto found = std::find(header.begin(), header.end(), name);
    const size_t column = found - header.begin();
    return found != header.end() && column < fields.size() ? Restored(fields[column])
                                                           : std::string();
  };
  HistoryRow row{field("programmer"), field("event"), field("run"), field("chip_id"),
                 field("time"), field("sha256")};
  const std::string part = field("part");
  if (AllDigits(part) && part.size() < 10) row.part = std::stoi(part);
  // Earlier versions numbered the programmers in the order a run took them; the serial, else
  // the path, is what a number stood for then and what the key is now.
  if (AllDigits(row.key) && !field("programmer_serial").empty()) {
    row.key = field("programmer_serial");
  } else if (AllDigits(row.key) && !field("programmer_path").empty()) {
    row.key = field("programmer_path");
  }
  // Before the event column every row was a part's.
  if (std::find(header.begin(), header.end(), "event") == header.end()) row.event = "part";
  return row;
}

// The started rows still waiting for their end, by run, programmer key and part, each with
// its place in the log.
using PendingParts =
    std::map<std::tuple<std::string, std::string, int>, std::pair<size_t, UnfinishedPart>>;

void TakeRow(const HistoryRow& row, size_t place, LogHistory& history, PendingParts& pending) {
  if (row.key.empty() || row.part < 0) return;
  int& last = history.lastPart[row.key];
  last = std::max(last, row.part);
  int& ofImage = history.lastOfImage[row.sha256];
  ofImage = std::max(ofImage, row.part);
  const auto id = std::make_tuple(row.run, row.key, row.part);
  if (row.event == "started") {
    pending.emplace(id, std::make_pair(place, UnfinishedPart{row.run, row.key, row.chipId,
                                                              row.time, row.part}));
  } else if (row.event == "part" || row.event == "already") {
    pending.erase(id);
  }
}

std::vector<UnfinishedPart> InLogOrder(const PendingParts& pending) {
  std::vector<std::pair<size_t, UnfinishedPart>> waiting;
  for (const auto& entry : pending) waiting.push_back(entry.second);
  std::sort(waiting.begin(), waiting.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<UnfinishedPart> parts;
  for (const auto& entry : waiting) parts.push_back(entry.second);
  return parts;
}

}  // namespace

LogHistory ReadLogHistory(const std::string& path) {
  LogHistory history;
  std::ifstream file(path, std::ios::binary);
  std::string record;
  bool ended = false;
  if (!NextRecord(file, record, ended)) return history;
  const std::vector<std::string> header = Fields(record);
  PendingParts pending;
  for (size_t place = 0; NextRecord(file, record, ended); ++place) {
    std::vector<std::string> fields = Fields(record);
    // The field that a torn line ends in may be any beginning of what was meant.
    if (!ended) fields.pop_back();
    TakeRow(ReadRow(header, fields), place, history, pending);
  }
  history.unfinished = InLogOrder(pending);
  return history;
}

int LogFloor(const LogHistory& history, const std::string& imageSha256) {
  int floor = 0;
  for (const std::string& image : {imageSha256, std::string()}) {
    const auto found = history.lastOfImage.find(image);
    if (found != history.lastOfImage.end()) floor = std::max(floor, found->second);
  }
  return floor;
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
  const bool verdict = record.event == "part" || record.event == "already";
  return Row({record.time, record.host, record.programmerKey, std::to_string(record.part),
              record.chipId, std::to_string(record.otpSize), record.image, record.sha256,
              verdict ? record.result : "", std::to_string(record.exit),
              Seconds(record.stepSeconds[1]), Seconds(record.stepSeconds[2]),
              Seconds(record.stepSeconds[3]), BlocksText(record.blocks), record.programmerPath,
              record.programmerSerial, record.status, Seconds(record.seconds), record.run,
              record.station, record.operatorName, std::to_string(record.code), record.event});
}

ProductionLog::~ProductionLog() { CloseFd(fd); }

bool ProductionLog::Open(const std::string& name, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  CloseFd(fd);
  std::string reason;
  fd = OpenForAppend(name, reason);
  if (fd < 0) {
    problem = "cannot open the log " + name + " to append to it: " + reason;
    return false;
  }
  path = name;
  if (WriteLocked("", problem)) return true;
  CloseFd(fd);
  fd = -1;
  return false;
}

bool ProductionLog::Append(const PartRecord& record, std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  if (fd < 0) {
    problem = "no log is open";
    return false;
  }
  return WriteLocked(CsvRow(record), problem);
}

// Without a log there is nothing a part could fail to reach.
bool ProductionLog::StillInPlace(std::string& problem) {
  std::lock_guard<std::mutex> lock(mutex);
  return fd < 0 || InPlace(problem);
}

bool ProductionLog::InPlace(std::string& problem) const {
  std::string reason;
  switch (CompareWithPath(fd, path, reason)) {
    case FileAtPath::kSame:
      return true;
    case FileAtPath::kGone:
      problem = "the log " + path + " is gone: it was deleted or its folder removed";
      return false;
    case FileAtPath::kNotThisOne:
      problem = "the log " + path + " was renamed or replaced by another file";
      return false;
    case FileAtPath::kUnknown:
      break;
  }
  problem = "cannot look the log " + path + " up: " + reason;
  return false;
}

bool ProductionLog::WriteLocked(const std::string& row, std::string& problem) {
  std::string reason;
  // Every qs71prog appending to the log takes this lock around a row, so that one process's
  // row never lands between another's size and its cut-back. It belongs to the open log,
  // which all of a run's threads share, so it does not keep them apart; the log's mutex does.
  // On Windows it lies on a byte far beyond the end (base/file_lock.h): a lock over the rows
  // would refuse a spreadsheet that reads the log while a row goes in.
  if (!LockWaiting(fd, &reason)) {
    problem = "cannot lock the log " + path + ": " + reason;
    return false;
  }
  const bool written = InPlace(problem) && WriteAtEnd(row, problem);
  Unlock(fd);
  return written;
}

// The size read here is where a failed row is cut back to: under the lock, nobody else's
// row can come after it.
bool ProductionLog::WriteAtEnd(const std::string& row, std::string& problem) {
  std::string reason;
  const long long before = FileSize(fd, reason);
  const int last = before > 0 ? LastByte(fd, before, reason) : '\n';
  if (before < 0 || last < 0) {
    problem = "cannot read the log " + path + ": " + reason;
    return false;
  }
  // A line that a crash or a full disk left without its end would swallow the row.
  const std::string text = (before == 0 ? CsvHeader() : last != '\n' ? "\n" : "") + row;
  if (text.empty()) return true;
  if (!AppendWhole(fd, text, before, reason)) {
    problem = "cannot write the log " + path + ": " + reason;
    return false;
  }
  if (SyncFd(fd, reason)) return true;
  problem = "cannot write the log " + path + " to the disk: " + reason;
  if (!CutBack(fd, before, reason)) problem += "; cutting the row back failed too: " + reason;
  return false;
}

}  // namespace qs71prog
