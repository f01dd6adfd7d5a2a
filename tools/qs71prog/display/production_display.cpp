#include "display/production_display.h"

#include <algorithm>
#include <cstdio>

#include "json_writer.h"
#include "platform/host_system.h"
#include "text_format.h"

namespace qs71prog {

namespace {

constexpr double kSecondsPerHour = 3600.0;

constexpr int kRows = 5;

struct Glyph {
  char letter;
  const char* rows[kRows];
};

constexpr Glyph kGlyphs[] = {
    {'A', {" ### ", "#   #", "#####", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#### ", "#   #", "#### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#### ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#### ", "#    ", "#    "}},
    {'I', {"#####", "  #  ", "  #  ", "  #  ", "#####"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#####"}},
    {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#### ", "#    ", "#    "}},
    {'R', {"#### ", "#   #", "#### ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", " ### ", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "# # #", "## ##", "#   #"}},
    {'Y', {"#   #", " # # ", "  #  ", "  #  ", "  #  "}},
};

constexpr const char* kBlank = "     ";

// The big letters start this far in, and their widest row must end before the 80th column of
// the narrowest terminal a bench has: a row that wraps would push every tile below it down.
constexpr size_t kIndent = 4;
constexpr size_t kWidest = 80 - kIndent - 1;

const char* Row(char letter, int row) {
  for (const Glyph& glyph : kGlyphs) {
    if (glyph.letter == letter) return glyph.rows[row];
  }
  return kBlank;
}

std::vector<std::string> BigRow(const std::string& text, const std::string& gap) {
  std::vector<std::string> lines(kRows);
  for (int row = 0; row < kRows; ++row) {
    for (size_t index = 0; index < text.size(); ++index) {
      lines[row] += (index == 0 ? "" : gap) + std::string(Row(text[index], row));
    }
  }
  return lines;
}

// Each word the tiles show, in letters five lines high built of '#' and spaces, so that it
// reads from across the bench on any terminal with no font or colour to rely on. A word too
// long for one row of big letters comes in several, and closer together when one of them
// would still not fit.
struct BigWord {
  const char* word;
  std::vector<const char*> rows;
  const char* paint;
};

// Green is for a part to take out and put with the good ones; red for one to reject; yellow
// for a person needed at the programmer; cyan for a programmer at work, not to be touched.
constexpr const char* kGreen = "\033[1;32m";
constexpr const char* kRed = "\033[1;31m";
constexpr const char* kYellow = "\033[1;33m";
constexpr const char* kCyan = "\033[1;36m";

const BigWord kBigWords[] = {
    {"PASS", {"PASS"}, kGreen},
    {"ALREADY", {"ALREADY"}, kGreen},
    {"FAIL", {"FAIL"}, kRed},
    {"WRITTEN, NOT VERIFIED", {"WRITTEN", "NOT VERIFIED"}, kYellow},
    {"RESEAT", {"RESEAT"}, kYellow},
    {"LOST", {"LOST"}, kYellow},
    {"BUSY", {"BUSY"}, kCyan},
};

const BigWord* FindBigWord(const std::string& word) {
  for (const BigWord& big : kBigWords) {
    if (word == big.word) return &big;
  }
  return nullptr;
}

std::vector<std::string> BigLines(const BigWord& big) {
  std::string gap = "  ";
  for (const char* row : big.rows) {
    if (BigRow(row, gap).front().size() > kWidest) gap = " ";
  }
  std::vector<std::string> lines;
  for (const char* row : big.rows) {
    const std::vector<std::string> part = BigRow(row, gap);
    lines.insert(lines.end(), part.begin(), part.end());
  }
  return lines;
}

// What each result of a part means at the bench: the word on its tile (none for a part to be
// used again, which needs no one's attention), what to do with it, whether the bell calls
// someone, and the words for a line that names it.
struct Verdict {
  const char* result;
  const char* word;
  const char* todo;
  bool rings;
  bool statusOnTile;  // its exit status says more than todo: why it failed
  bool statusInLine;  // the line that scrolls away says why, for the record
  const char* told;
  int ProgrammerCounters::*count;
};

constexpr Verdict kVerdicts[] = {
    {"pass", "PASS", "take it out", false, false, false, "passed", &ProgrammerCounters::passed},
    {"fail", "FAIL", "reject it", true, true, true, "failed", &ProgrammerCounters::failed},
    {"aborted", "FAIL", "reject it", true, true, true, "aborted", &ProgrammerCounters::aborted},
    {"unverified", "WRITTEN, NOT VERIFIED", "take it out, not verified", false, false, false,
     "written, not verified", &ProgrammerCounters::unverified},
    {"already", "ALREADY", "take it out: it held this image already", false, false, false,
     "held this image already", &ProgrammerCounters::already},
    {"untouched", "", "untouched: put it through again", false, false, true, "untouched",
     &ProgrammerCounters::untouched},
};

const Verdict& VerdictOf(const PartRecord& record) {
  for (const Verdict& verdict : kVerdicts) {
    if (record.result == verdict.result) return verdict;
  }
  return kVerdicts[1];
}

// The counts in the order every line and document gives them.
struct Count {
  const char* name;
  int ProgrammerCounters::*count;
};

constexpr Count kCounts[] = {
    {"passed", &ProgrammerCounters::passed},         {"failed", &ProgrammerCounters::failed},
    {"unverified", &ProgrammerCounters::unverified}, {"already", &ProgrammerCounters::already},
    {"aborted", &ProgrammerCounters::aborted},       {"untouched", &ProgrammerCounters::untouched},
};

// Parts that got a verdict word: the pace of the bench.
int JudgedParts(const ProgrammerCounters& counters) {
  return counters.passed + counters.failed + counters.unverified + counters.already +
         counters.aborted;
}

// The parts this run made and judged: one held already, aborted or untouched says nothing of
// how well the chips take the image.
int YieldParts(const ProgrammerCounters& counters) {
  return counters.passed + counters.failed + counters.unverified;
}

std::string PartName(int part) { return part > 0 ? "part " + std::to_string(part) : "part"; }

// The counts after passed and failed that a line names only when they happened, so that the
// usual shift reads as it always did.
std::string RareCounts(const ProgrammerCounters& counters, const char* before, const char* between,
                       bool nameFirst) {
  std::string text;
  for (const Count& count : kCounts) {
    const int value = counters.*count.count;
    if (count.count == &ProgrammerCounters::passed || count.count == &ProgrammerCounters::failed ||
        value == 0) {
      continue;
    }
    text += before + (nameFirst ? Format("%s%s%d", count.name, between, value)
                                : Format("%d%s%s", value, between, count.name));
  }
  return text;
}

// The bench's wall clock at a moment the log gives in UTC ("2026-12-07T19:40:00.123Z"), as
// "20:40:00"; empty when the text is no such moment.
std::string LocalClock(const std::string& utc) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &hour, &minute,
                  &second) != 6) {
    return "";
  }
  const std::chrono::year_month_day date{std::chrono::year{year},
                                         std::chrono::month{static_cast<unsigned>(month)},
                                         std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok()) return "";
  const auto moment = std::chrono::sys_days{date} + std::chrono::hours{hour} +
                      std::chrono::minutes{minute} + std::chrono::seconds{second};
  const std::tm local = LocalCalendar(std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(moment)));
  return Format("%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
}

std::string VerdictLine(const PartRecord& record, const Verdict& verdict) {
  std::string text = "programmer " + std::to_string(record.programmer) + " " +
                     PartName(record.part) + ": " +
                     (*verdict.word != '\0' ? verdict.word : verdict.told);
  if (verdict.statusOnTile && !record.failedStep.empty()) text += " (" + record.failedStep + ")";
  if (!record.chipId.empty()) text += ", chip " + record.chipId;
  if (verdict.statusInLine) text += ", exit " + std::to_string(record.exit) + " (" + record.status + ")";
  std::string blocks;
  for (const std::string& block : record.blocks) blocks += (blocks.empty() ? "" : " ") + block;
  if (!blocks.empty()) text += ", blocks " + blocks;
  return text + ", in " + FormatDuration(record.seconds);
}

// The tile's line under a verdict: which part, its chip, when, and what to do with it; for a
// failure, the step it failed in and why.
std::string VerdictDetail(const PartRecord& record, const Verdict& verdict) {
  std::string detail = PartName(record.part);
  if (!record.chipId.empty()) detail += "  chip " + record.chipId;
  const std::string clock = LocalClock(record.time);
  if (!clock.empty()) detail += "  " + clock;
  if (!verdict.statusOnTile || record.status.empty()) return detail + "  " + verdict.todo;
  const std::string step = record.failedStep.empty() ? "" : record.failedStep + " failed: ";
  return detail + "  " + step + record.status;
}

JsonWriter Event(const char* name) {
  JsonWriter event(JsonLayout::kOneLine, JsonEscapes::kShort);
  event.BeginObject().String("event", name);
  return event;
}

void AddSeconds(JsonWriter& event, const char* key, double seconds) {
  if (seconds >= 0.0) event.Number(key, seconds);
}

// Passed parts per part made and judged, "-" before the first.
std::string Yield(const ProgrammerCounters& counters) {
  const int parts = YieldParts(counters);
  char text[32] = "-";
  if (parts > 0) std::snprintf(text, sizeof text, "%.1f%%", 100.0 * counters.passed / parts);
  return text;
}

double PartsPerHour(const ProgrammerCounters& counters, double hours) {
  return hours > 0.0 ? JudgedParts(counters) / hours : 0.0;
}

std::string ShiftLine(const std::string& who, const ProgrammerCounters& counters, double hours) {
  return Format("shift: %s: passed %d, failed %d%s, yield %s, %.0f parts/hour%s\n", who.c_str(),
                counters.passed, counters.failed, RareCounts(counters, ", ", " ", true).c_str(),
                Yield(counters).c_str(), PartsPerHour(counters, hours),
                counters.lost.empty() ? "" : ", LOST");
}

void AddCounters(JsonWriter& json, const ProgrammerCounters& counters, double hours) {
  json.Int("passed", counters.passed).Int("failed", counters.failed);
  const int parts = YieldParts(counters);
  if (parts > 0) {
    json.Number("yield", static_cast<double>(counters.passed) / parts);
  } else {
    json.Null("yield");
  }
  json.Number("parts_per_hour", PartsPerHour(counters, hours));
  for (const Count& count : kCounts) {
    if (count.count != &ProgrammerCounters::passed && count.count != &ProgrammerCounters::failed) {
      json.Int(count.name, counters.*count.count);
    }
  }
}

void StringOrNull(JsonWriter& json, const char* key, bool known, const std::string& value) {
  if (known) {
    json.String(key, value);
  } else {
    json.Null(key);
  }
}

// The terminal rows that text ending in a line feed takes: a line longer than the width wraps
// onto more; one of exactly the width leaves the cursor at its end, and its line feed ends it.
int TerminalRows(const std::string& text, int width) {
  int rows = 0;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    const int columns = VisibleColumns(text.substr(start, end - start));
    rows += width > 0 && columns > width ? (columns + width - 1) / width : 1;
    start = end + 1;
  }
  return rows;
}

}  // namespace

std::string CountersLine(const ProgrammerCounters& counters, double hours, bool activity) {
  const int parts = JudgedParts(counters);
  char rate[32] = "-";
  if (parts > 0 && hours > 0.0 && counters.lost.empty()) std::snprintf(rate, sizeof rate, "%.0f", parts / hours);
  std::string line = "programmer " + std::to_string(counters.programmer) + ": passed " +
                     std::to_string(counters.passed) + "  failed " +
                     std::to_string(counters.failed) + RareCounts(counters, "  ", " ", true) +
                     "  " + rate + " parts/hour";
  if (activity && !counters.lost.empty()) return line + "  | " + counters.lost;
  if (activity && !counters.activity.empty()) line += "  | " + counters.activity;
  return line;
}

ProductionDisplay::ProductionDisplay(DisplayKind kind, TextSink& sink,
                                     const std::vector<int>& programmers)
    : kind(kind), start(std::chrono::steady_clock::now()) {
  for (int programmer : programmers) Counters(programmer);
  ScreenWriter::DrawTiles tiles;
  if (kind == DisplayKind::kTerminal) tiles = [this] { return DrawnTiles(); };
  writer = std::make_unique<ScreenWriter>(sink, std::move(tiles));
}

ProductionDisplay::~ProductionDisplay() { writer.reset(); }

ProgrammerCounters& ProductionDisplay::Counters(int programmer) {
  for (ProgrammerCounters& entry : counters) {
    if (entry.programmer == programmer) return entry;
  }
  counters.emplace_back();
  counters.back().programmer = programmer;
  return counters.back();
}

double ProductionDisplay::Hours() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
         kSecondsPerHour;
}

// A programmer's tile: its number and name with the word and its line, the word in big letters
// (in its colour), and its counters. BUSY is left out of the line: the big letters say it, and
// the line is the part's.
std::string ProductionDisplay::Tile(const ProgrammerCounters& entry) const {
  std::string tile = "programmer " + std::to_string(entry.programmer);
  if (!entry.key.empty()) tile += " (" + entry.key + ")";
  if (!entry.word.empty() && entry.word != "BUSY") tile += "  " + entry.word;
  if (!entry.detail.empty()) tile += "  " + entry.detail;
  if (!entry.note.empty()) tile += "  — " + entry.note;
  tile += "\n";
  const BigWord* big = FindBigWord(entry.word);
  if (big != nullptr) {
    const std::string indent(kIndent, ' ');
    for (const std::string& line : BigLines(*big)) {
      tile += colour ? indent + big->paint + line + "\033[0m\n" : indent + line + "\n";
    }
  }
  return tile + CountersLine(entry, Hours(), true) + "\n";
}

// The writer's thread draws the tiles as they are when the terminal takes them.
ScreenWriter::Tiles ProductionDisplay::DrawnTiles() {
  std::lock_guard<std::mutex> lock(mutex);
  std::string block = status.empty() ? "" : status + "\n";
  for (const ProgrammerCounters& entry : counters) block += Tile(entry);
  return {block, TerminalRows(block, width)};
}

void ProductionDisplay::Redraw() {
  if (kind == DisplayKind::kTerminal) writer->Redraw();
}

void ProductionDisplay::Above(const std::string& text) { writer->Above(text); }

void ProductionDisplay::Out(const std::string& text) { writer->Out(text); }

void ProductionDisplay::Err(const std::string& text) { writer->Err(text); }

void ProductionDisplay::Ring() {
  if (bell && kind == DisplayKind::kTerminal) writer->Above("\a");
}

void ProductionDisplay::Flush() { writer->Flush(); }

void ProductionDisplay::SetWidth(int columns) {
  std::lock_guard<std::mutex> lock(mutex);
  width = columns;
}

void ProductionDisplay::SetLook(bool colourOn, bool bellOn) {
  std::lock_guard<std::mutex> lock(mutex);
  colour = colourOn;
  bell = bellOn;
}

void ProductionDisplay::SetRun(const RunFacts& run) {
  std::lock_guard<std::mutex> lock(mutex);
  facts = run;
}

void ProductionDisplay::Name(int programmer, const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex);
  Counters(programmer).key = key;
  Redraw();
}

void ProductionDisplay::PartStarted(int programmer, int part) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  entry.word = "BUSY";
  entry.detail = PartName(part) + "  do not touch";
  entry.note.clear();
  entry.activity = PartName(part);
  Redraw();
}

void ProductionDisplay::PartNumbered(int programmer, int part) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  entry.detail = PartName(part) + "  do not touch";
  entry.activity = PartName(part) + " in the socket";
  if (kind == DisplayKind::kPlain) {
    Out("programmer " + std::to_string(programmer) + ": " + entry.activity + "\n");
  }
  Redraw();
}

void ProductionDisplay::Checking(int programmer, int part) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  entry.word = "BUSY";
  entry.detail = PartName(part) + ": checking which blocks differ  do not touch";
  Redraw();
}

void ProductionDisplay::Reseat(int programmer) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  entry.word = "RESEAT";
  entry.detail = "no chip answers — reseat the part";
  entry.activity = "reseat the part";
  entry.note.clear();
  if (kind == DisplayKind::kPlain) {
    Out("programmer " + std::to_string(programmer) + ": " + entry.detail + "\n");
  }
  Ring();
  Redraw();
}

void ProductionDisplay::SocketEmpty(int programmer) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  // A part that did not answer is gone: the wait for a part goes on, and its counters say so.
  if (entry.word == "RESEAT") entry.activity = "waiting for a part";
  entry.word.clear();
  entry.detail = "waiting for a part";
  entry.note.clear();
  Redraw();
}

void ProductionDisplay::Title(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (kind == DisplayKind::kJson) {
    Out(Event("job").String("text", text).EndObject().Text());
  } else if (kind == DisplayKind::kTerminal) {
    Above(text + "\n");
  } else {
    Out(text + "\n");
  }
}

void ProductionDisplay::Status(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (status == text) return;
  status = text;
  if (kind == DisplayKind::kJson) {
    Out(Event("status").String("text", text).EndObject().Text());
  } else if (kind == DisplayKind::kTerminal) {
    Redraw();
  } else if (!text.empty()) {
    Out(text + "\n");
  }
}

void ProductionDisplay::Activity(int programmer, const std::string& text, bool transient) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  if (entry.activity == text) return;
  entry.activity = text;
  if (kind == DisplayKind::kTerminal) {
    Redraw();
  } else if (kind == DisplayKind::kPlain && !transient) {
    Out("programmer " + std::to_string(programmer) + ": " + text + "\n");
  }
}

void ProductionDisplay::ShowPart(const PartRecord& record, const std::vector<std::string>& story) {
  const Verdict& verdict = VerdictOf(record);
  std::string text;
  const std::string prefix = "programmer " + std::to_string(record.programmer) + ": ";
  for (const std::string& line : story) text += prefix + line + "\n";
  ProgrammerCounters& entry = Counters(record.programmer);
  if (kind == DisplayKind::kPlain) {
    if (!text.empty()) Err(text);
    Out(VerdictLine(record, verdict) + "\n" + CountersLine(entry, Hours(), false) + "\n");
    return;
  }
  // The verdict stays on its programmer's tile until the part is taken out or the next one
  // starts; the story and a line for the record scroll above the tiles.
  entry.word = verdict.word;
  entry.detail = VerdictDetail(record, verdict);
  entry.note.clear();
  if (verdict.rings) Ring();
  Above(text + VerdictLine(record, verdict) + "\n");
}

void ProductionDisplay::SendPartEvent(const PartRecord& record, const std::string& result,
                                      const ProgrammerCounters& entry) {
  JsonWriter event = Event("part");
  event.Int("programmer", record.programmer)
      .String("programmer_key", record.programmerKey)
      .String("programmer_path", record.programmerPath)
      .Int("part", record.part)
      .String("result", result)
      .Int("exit", record.exit)
      .String("status", record.status)
      .String("chip_id", record.chipId)
      .Int("otp_size", record.otpSize)
      .String("time", record.time)
      .Number("seconds", record.seconds);
  AddSeconds(event, "blank_check_s", record.stepSeconds[1]);
  AddSeconds(event, "write_s", record.stepSeconds[2]);
  AddSeconds(event, "verify_s", record.stepSeconds[3]);
  event.BeginArray("blocks");
  for (const std::string& block : record.blocks) event.String({}, block);
  event.EndArray();
  for (const Count& count : kCounts) event.Int(count.name, entry.*count.count);
  const double hours = Hours();
  if (hours > 0.0) event.Number("parts_per_hour", JudgedParts(entry) / hours);
  Out(event.EndObject().Text());
}

void ProductionDisplay::PartDone(const PartRecord& record, const std::vector<std::string>& story) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(record.programmer);
  const Verdict& verdict = VerdictOf(record);
  ++(entry.*verdict.count);
  if (kind == DisplayKind::kJson) {
    SendPartEvent(record, verdict.result, entry);
  } else {
    ShowPart(record, story);
  }
}

void ProductionDisplay::NotLogged(const PartRecord& record, const std::string& missed) {
  std::lock_guard<std::mutex> lock(mutex);
  notLogged.emplace_back(record, missed);
  const std::string text = "programmer " + std::to_string(record.programmer) + " " +
                           PartName(record.part) + ": " + VerdictOf(record).told + ", not in " +
                           missed;
  if (kind == DisplayKind::kJson) {
    JsonWriter event = Event("message");
    Out(event.Int("programmer", record.programmer).String("text", text).EndObject().Text());
  } else if (kind == DisplayKind::kTerminal) {
    Counters(record.programmer).note = "not in " + missed;
    Above(text + "\n");
  } else {
    Err(text + "\n");
  }
}

void ProductionDisplay::Lost(int programmer, const std::string& hint) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  if (entry.lost.empty()) {
    entry.wordBeforeLoss = entry.word;
    entry.detailBeforeLoss = entry.detail;
  }
  entry.lost = hint;
  entry.word = "LOST";
  const std::string dash = "— ";
  const size_t cut = hint.find(dash);
  entry.detail = cut == std::string::npos ? hint : hint.substr(cut + dash.size());
  entry.note.clear();
  Ring();
  Redraw();
}

void ProductionDisplay::Back(int programmer, const std::string& holds) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  if (entry.lost.empty()) return;
  entry.lost.clear();
  entry.word = holds.empty() ? entry.wordBeforeLoss : "";
  entry.detail = holds.empty() ? entry.detailBeforeLoss : holds;
  entry.note = "programmer back";
  Redraw();
}

void ProductionDisplay::Message(int programmer, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (kind == DisplayKind::kJson) {
    JsonWriter event = Event("message");
    Out(event.Int("programmer", programmer).String("text", text).EndObject().Text());
    return;
  }
  const std::string line = "qs71prog: programmer " + std::to_string(programmer) + ": " + text;
  if (kind == DisplayKind::kTerminal) {
    Above(line + "\n");
  } else {
    Err(line + "\n");
  }
}

void ProductionDisplay::RunMessage(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (kind == DisplayKind::kJson) {
    Out(Event("message").String("text", text).EndObject().Text());
  } else if (kind == DisplayKind::kTerminal) {
    Above("qs71prog: " + text + "\n");
  } else {
    Err("qs71prog: " + text + "\n");
  }
}

ProgrammerCounters ProductionDisplay::Total() const {
  ProgrammerCounters total;
  for (const ProgrammerCounters& entry : counters) {
    for (const Count& count : kCounts) total.*count.count += entry.*count.count;
  }
  return total;
}

std::string ProductionDisplay::SummaryJson() {
  std::lock_guard<std::mutex> lock(mutex);
  const double hours = Hours();
  JsonWriter json;
  json.BeginObject()
      .String("run", facts.run)
      .String("station", facts.station)
      .String("operator", facts.operatorName)
      .String("image", facts.image)
      .String("image_sha256", facts.sha256)
      .String("start", facts.startUtc);
  if (!facts.policy.empty()) json.String("policy", facts.policy);
  StringOrNull(json, "end", ended, endUtc);
  if (ended) {
    json.Int("exit", exitCode);
  } else {
    json.Null("exit");
  }
  StringOrNull(json, "ended", ended, endedHow);
  json.Number("seconds", hours * kSecondsPerHour).BeginArray("programmers");
  for (const ProgrammerCounters& entry : counters) {
    json.BeginObject().Int("programmer", entry.programmer).String("key", entry.key);
    AddCounters(json, entry, hours);
    json.Bool("lost", !entry.lost.empty()).EndObject();
  }
  json.EndArray().BeginObject("all");
  AddCounters(json, Total(), hours);
  json.EndObject().BeginArray("lost");
  for (const ProgrammerCounters& entry : counters) {
    if (!entry.lost.empty()) json.Int({}, entry.programmer);
  }
  json.EndArray().Int("refused", refused).BeginArray("not_logged");
  for (const auto& [record, missed] : notLogged) {
    json.BeginObject().Int("programmer", record.programmer).Int("part", record.part);
    json.String("chip_id", record.chipId).String("missing_from", missed).EndObject();
  }
  return json.EndArray().EndObject().Text();
}

// The last lines of a run, after the tiles: the shift, the parts the log lacks, and the end.
std::string ProductionDisplay::EndLines(const std::string& how) const {
  std::string lines;
  const double hours = Hours();
  std::string lost;
  for (const ProgrammerCounters& entry : counters) {
    if (!entry.lost.empty()) lost += (lost.empty() ? "" : ", ") + std::to_string(entry.programmer);
    lines += ShiftLine("programmer " + std::to_string(entry.programmer), entry, hours);
  }
  const ProgrammerCounters total = Total();
  lines += ShiftLine("all", total, hours);
  for (const auto& [record, missed] : notLogged) {
    lines += "qs71prog: not in " + missed + ": programmer " + std::to_string(record.programmer) + " " +
             PartName(record.part) + (record.chipId.empty() ? "" : ", chip " + record.chipId) +
             "\n";
  }
  if (refused > 0) lines += "qs71prog: " + refusedText + "\n";
  if (!facts.policy.empty()) lines += "qs71prog: " + facts.policy + "\n";
  const ExitCodeInfo& info = DescribeExit(static_cast<ExitCode>(exitCode));
  return lines + "qs71prog: production ended" + (how.empty() ? "" : " (" + how + ")") + ": " +
         std::to_string(total.passed) + " passed, " + std::to_string(total.failed) + " failed" +
         RareCounts(total, ", ", " ", false) + "; exit " + std::to_string(exitCode) + " (" +
         info.name + ")" + (lost.empty() ? "" : "; lost: programmer " + lost) + "\n";
}

// The run's last words are on the terminal before End returns; the lock is not held while
// the terminal takes them, since the writer draws the tiles under it.
void ProductionDisplay::LineRefused(int count, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  refused = count;
  refusedText = text;
}

void ProductionDisplay::End(ExitCode exit, const std::string& how) {
  ShowEnd(exit, how);
  writer->Flush();
}

void ProductionDisplay::ShowEnd(ExitCode exit, const std::string& how) {
  std::lock_guard<std::mutex> lock(mutex);
  ended = true;
  exitCode = static_cast<int>(exit);
  endedHow = how;
  endUtc = UtcTimestamp(std::chrono::system_clock::now());
  if (kind == DisplayKind::kJson) {
    JsonWriter event = Event("end");
    for (const Count& count : kCounts) event.Int(count.name, Total().*count.count);
    event.Int("exit", exitCode).String("status", DescribeExit(exit).name);
    Out(event.String("ended", how).EndObject().Text());
    return;
  }
  for (ProgrammerCounters& entry : counters) {
    if (entry.lost.empty()) entry.activity = "stopped";
  }
  if (kind == DisplayKind::kTerminal) {
    Redraw();
  } else {
    for (const ProgrammerCounters& entry : counters) {
      Out(CountersLine(entry, Hours(), false) + "\n");
    }
  }
  const std::string lines = EndLines(how);
  // The shift's lines are the run's output; the end goes where a failure is told.
  const size_t last = lines.rfind("qs71prog: production ended");
  Out(lines.substr(0, last));
  if (exit == ExitCode::kOk) {
    Out(lines.substr(last));
  } else {
    Err(lines.substr(last));
  }
}

}  // namespace qs71prog
