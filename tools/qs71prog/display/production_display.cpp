#include "display/production_display.h"

#include <algorithm>
#include <cstdio>

#include "json_writer.h"
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
    {'F', {"#####", "#    ", "#### ", "#    ", "#    "}},
    {'I', {"#####", "  #  ", "  #  ", "  #  ", "#####"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#####"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#### ", "#    ", "#    "}},
    {'S', {" ####", "#    ", " ### ", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  "}},
};

constexpr const char* kBlank = "     ";

const char* Row(char letter, int row) {
  for (const Glyph& glyph : kGlyphs) {
    if (glyph.letter == letter) return glyph.rows[row];
  }
  return kBlank;
}

// A word in letters five lines high, built of '#' and spaces, so that the verdict on a part
// reads from across the bench on any terminal, with no font or colour to rely on. Knows the
// letters of the verdicts; any other character is a space.
std::vector<std::string> BigWord(const std::string& word) {
  std::vector<std::string> lines(kRows);
  for (int row = 0; row < kRows; ++row) {
    for (size_t index = 0; index < word.size(); ++index) {
      lines[row] += (index == 0 ? "" : "  ") + std::string(Row(word[index], row));
    }
  }
  return lines;
}

std::string Verdict(const PartRecord& record) {
  std::string text = "programmer " + std::to_string(record.programmer) + " part " +
                     std::to_string(record.part) + ": " + (record.passed ? "PASS" : "FAIL");
  if (!record.chipId.empty()) text += ", chip " + record.chipId;
  if (!record.passed) {
    text += ", exit " + std::to_string(record.exit) + " (" + record.status + ")";
  }
  std::string blocks;
  for (const std::string& block : record.blocks) blocks += (blocks.empty() ? "" : " ") + block;
  if (!blocks.empty()) text += ", blocks " + blocks;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, ", in %s", FormatDuration(record.seconds).c_str());
  return text + seconds;
}

JsonWriter Event(const char* name) {
  JsonWriter event(JsonLayout::kOneLine, JsonEscapes::kShort);
  event.BeginObject().String("event", name);
  return event;
}

void AddSeconds(JsonWriter& event, const char* key, double seconds) {
  if (seconds >= 0.0) event.Number(key, seconds);
}

// Passed parts per part made, "-" before the first.
std::string Yield(const ProgrammerCounters& counters) {
  const int parts = counters.passed + counters.failed;
  char text[32] = "-";
  if (parts > 0) std::snprintf(text, sizeof text, "%.1f%%", 100.0 * counters.passed / parts);
  return text;
}

double PartsPerHour(const ProgrammerCounters& counters, double hours) {
  return hours > 0.0 ? (counters.passed + counters.failed) / hours : 0.0;
}

std::string ShiftLine(const std::string& who, const ProgrammerCounters& counters, double hours) {
  return Format("shift: %s: passed %d, failed %d, yield %s, %.0f parts/hour%s\n", who.c_str(),
                counters.passed, counters.failed, Yield(counters).c_str(),
                PartsPerHour(counters, hours), counters.lost.empty() ? "" : ", LOST");
}

void AddCounters(JsonWriter& json, const ProgrammerCounters& counters, double hours) {
  json.Int("passed", counters.passed).Int("failed", counters.failed);
  const int parts = counters.passed + counters.failed;
  if (parts > 0) {
    json.Number("yield", static_cast<double>(counters.passed) / parts);
  } else {
    json.Null("yield");
  }
  json.Number("parts_per_hour", PartsPerHour(counters, hours));
}

}  // namespace

std::string CountersLine(const ProgrammerCounters& counters, double hours, bool activity) {
  const int parts = counters.passed + counters.failed;
  char rate[32] = "-";
  if (parts > 0 && hours > 0.0 && counters.lost.empty()) std::snprintf(rate, sizeof rate, "%.0f", parts / hours);
  std::string line = "programmer " + std::to_string(counters.programmer) + ": passed " +
                     std::to_string(counters.passed) + "  failed " +
                     std::to_string(counters.failed) + "  " + rate + " parts/hour";
  if (activity && !counters.lost.empty()) return line + "  | " + counters.lost;
  if (activity && !counters.activity.empty()) line += "  | " + counters.activity;
  return line;
}

ProductionDisplay::ProductionDisplay(DisplayKind kind, TextSink& sink,
                                     const std::vector<int>& programmers)
    : kind(kind), sink(sink), start(std::chrono::steady_clock::now()) {
  for (int programmer : programmers) counters.push_back({programmer, 0, 0, "", "", "", ""});
}

ProgrammerCounters& ProductionDisplay::Counters(int programmer) {
  for (ProgrammerCounters& entry : counters) {
    if (entry.programmer == programmer) return entry;
  }
  counters.push_back({programmer, 0, 0, "", "", "", ""});
  return counters.back();
}

double ProductionDisplay::Hours() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
         kSecondsPerHour;
}

// The counters block sits below everything else; it is taken away before anything is
// printed and drawn again after.
void ProductionDisplay::EraseBlock() {
  if (drawnLines == 0) return;
  sink.Out("\033[" + std::to_string(drawnLines) + "A\r\033[J");
  drawnLines = 0;
}

// A programmer's tile: its number with the word and its line, the word in big letters (in
// its colour), and its counters.
std::string ProductionDisplay::Tile(const ProgrammerCounters& entry) const {
  std::string tile = "programmer " + std::to_string(entry.programmer);
  if (!entry.word.empty()) tile += "  " + entry.word;
  if (!entry.detail.empty()) tile += "  " + entry.detail;
  tile += "\n";
  const char* paint = entry.word == "PASS" ? "\033[1;32m" : entry.word == "FAIL" ? "\033[1;31m"
                                                                                : "\033[1;33m";
  for (const std::string& line : entry.word.empty() ? std::vector<std::string>()
                                                    : BigWord(entry.word)) {
    tile += colour ? "    " + std::string(paint) + line + "\033[0m\n" : "    " + line + "\n";
  }
  return tile + CountersLine(entry, Hours(), true) + "\n";
}

void ProductionDisplay::DrawBlock() {
  std::string block;
  for (const ProgrammerCounters& entry : counters) block += Tile(entry);
  sink.Out(block);
  drawnLines = static_cast<int>(std::count(block.begin(), block.end(), '\n'));
}

void ProductionDisplay::SetLook(bool colourOn, bool bellOn) {
  std::lock_guard<std::mutex> lock(mutex);
  colour = colourOn;
  bell = bellOn;
}

void ProductionDisplay::Checking(int programmer, int part) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  entry.word.clear();
  entry.detail = "part " + std::to_string(part) + ": checking which blocks differ";
  if (kind == DisplayKind::kTerminal) {
    EraseBlock();
    DrawBlock();
  }
}

void ProductionDisplay::Above(const std::string& text) {
  EraseBlock();
  sink.Out(text);
  DrawBlock();
}

void ProductionDisplay::Title(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (kind == DisplayKind::kJson) {
    sink.Out(Event("job").String("text", text).EndObject().Text());
  } else if (kind == DisplayKind::kTerminal) {
    Above(text + "\n");
  } else {
    sink.Out(text + "\n");
  }
}

void ProductionDisplay::Activity(int programmer, const std::string& text, bool transient) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  if (entry.activity == text) return;
  entry.activity = text;
  if (kind == DisplayKind::kTerminal) {
    EraseBlock();
    DrawBlock();
  } else if (kind == DisplayKind::kPlain && !transient) {
    sink.Out("programmer " + std::to_string(programmer) + ": " + text + "\n");
  }
}

void ProductionDisplay::ShowPart(const PartRecord& record, const std::vector<std::string>& story) {
  std::string text;
  const std::string prefix = "programmer " + std::to_string(record.programmer) + ": ";
  for (const std::string& line : story) text += prefix + line + "\n";
  if (kind == DisplayKind::kPlain) {
    if (!text.empty()) sink.Err(text);
    sink.Out(Verdict(record) + "\n" + CountersLine(Counters(record.programmer), Hours(), false) +
             "\n");
    return;
  }
  // The verdict stays on its programmer's tile until its next part's; the story and a line
  // for the record scroll above the tiles.
  ProgrammerCounters& entry = Counters(record.programmer);
  entry.word = record.passed ? "PASS" : "FAIL";
  entry.detail = "part " + std::to_string(record.part) +
                 (record.chipId.empty() ? "" : "  chip " + record.chipId) + "  " +
                 record.time.substr(11, 8) + (record.passed ? "" : "  " + record.status);
  if (bell && !record.passed) text += "\a";
  Above(text + Verdict(record) + "\n");
}

void ProductionDisplay::SendPartEvent(const PartRecord& record, const ProgrammerCounters& entry) {
  JsonWriter event = Event("part");
  event.Int("programmer", record.programmer)
      .String("programmer_path", record.programmerPath)
      .Int("part", record.part)
      .String("result", record.passed ? "pass" : "fail")
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
  event.EndArray().Int("passed", entry.passed).Int("failed", entry.failed);
  const int parts = entry.passed + entry.failed;
  const double hours = Hours();
  if (hours > 0.0) event.Number("parts_per_hour", parts / hours);
  sink.Out(event.EndObject().Text());
}

void ProductionDisplay::PartDone(const PartRecord& record, const std::vector<std::string>& story) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(record.programmer);
  ++(record.passed ? entry.passed : entry.failed);
  if (kind == DisplayKind::kJson) {
    SendPartEvent(record, entry);
  } else {
    ShowPart(record, story);
  }
}

void ProductionDisplay::Lost(int programmer, const std::string& hint) {
  std::lock_guard<std::mutex> lock(mutex);
  ProgrammerCounters& entry = Counters(programmer);
  entry.lost = hint;
  entry.word = hint.empty() ? "" : "LOST";
  const std::string dash = "— ";
  const size_t cut = hint.find(dash);
  entry.detail = hint.empty() ? "back" : cut == std::string::npos ? hint : hint.substr(cut + dash.size());
  if (kind == DisplayKind::kTerminal) {
    EraseBlock();
    if (bell && !hint.empty()) sink.Out("\a");
    DrawBlock();
  }
}

void ProductionDisplay::Message(int programmer, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex);
  if (kind == DisplayKind::kJson) {
    JsonWriter event = Event("message");
    sink.Out(event.Int("programmer", programmer).String("text", text).EndObject().Text());
    return;
  }
  const std::string line = "qs71prog: programmer " + std::to_string(programmer) + ": " + text;
  if (kind == DisplayKind::kTerminal) {
    Above(line + "\n");
  } else {
    sink.Err(line + "\n");
  }
}

ProgrammerCounters ProductionDisplay::Total() const {
  ProgrammerCounters total;
  for (const ProgrammerCounters& entry : counters) {
    total.passed += entry.passed;
    total.failed += entry.failed;
  }
  return total;
}

std::string ProductionDisplay::SummaryJson() {
  std::lock_guard<std::mutex> lock(mutex);
  const double hours = Hours();
  JsonWriter json;
  json.BeginObject().Number("seconds", hours * kSecondsPerHour).BeginArray("programmers");
  for (const ProgrammerCounters& entry : counters) {
    json.BeginObject().Int("programmer", entry.programmer);
    AddCounters(json, entry, hours);
    json.Bool("lost", !entry.lost.empty()).EndObject();
  }
  json.EndArray().BeginObject("all");
  AddCounters(json, Total(), hours);
  json.EndObject().BeginArray("lost");
  for (const ProgrammerCounters& entry : counters) {
    if (!entry.lost.empty()) json.Int({}, entry.programmer);
  }
  return json.EndArray().EndObject().Text();
}

void ProductionDisplay::End(ExitCode exit) {
  std::lock_guard<std::mutex> lock(mutex);
  const ExitCodeInfo& info = DescribeExit(exit);
  const ProgrammerCounters total = Total();
  const int passed = total.passed;
  const int failed = total.failed;
  std::string lost;
  std::string shift;
  for (const ProgrammerCounters& entry : counters) {
    if (!entry.lost.empty()) lost += (lost.empty() ? "" : ", ") + std::to_string(entry.programmer);
    shift += ShiftLine("programmer " + std::to_string(entry.programmer), entry, Hours());
  }
  shift += ShiftLine("all", total, Hours());
  if (kind == DisplayKind::kJson) {
    JsonWriter event = Event("end");
    event.Int("passed", passed).Int("failed", failed).Int("exit", static_cast<int>(info.code));
    sink.Out(event.String("status", info.name).EndObject().Text());
    return;
  }
  for (ProgrammerCounters& entry : counters) {
    if (entry.lost.empty()) entry.activity = "stopped";
  }
  if (kind == DisplayKind::kTerminal) {
    EraseBlock();
    DrawBlock();
  } else {
    for (const ProgrammerCounters& entry : counters) {
      sink.Out(CountersLine(entry, Hours(), false) + "\n");
    }
  }
  sink.Out(shift);
  const std::string summary = "qs71prog: production ended: " + std::to_string(passed) +
                              " passed, " + std::to_string(failed) + " failed; exit " +
                              std::to_string(static_cast<int>(info.code)) + " (" + info.name +
                              ")" + (lost.empty() ? "" : "; lost: programmer " + lost) + "\n";
  if (exit == ExitCode::kOk) {
    sink.Out(summary);
  } else {
    sink.Err(summary);
  }
}

}  // namespace qs71prog
