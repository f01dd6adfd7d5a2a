#include "trace/trace_rows.h"

#include <cstdlib>
#include <sstream>

#include "trace/trace_schema.h"

namespace qs71prog {

namespace {

using V = TraceValue;

// A run of a trace of version 1 named its process in its ID: "20261207T194000Z-4711".
long LegacyPid(const std::string& id) {
  const size_t dash = id.rfind('-');
  if (id.size() < 18 || id[15] != 'Z' || dash != 16) return 0;
  return std::atol(id.c_str() + dash + 1);
}

std::string Said(const std::string& name, const std::string& value) {
  return value.empty() ? "" : ", " + name + " " + value;
}

}  // namespace

const char* const kPartColumns =
    "job, number, run, programmer, chip_id, result, status, exit, code, seconds, "
    "blank_check_s, write_s, verify_s, blocks, started_at, ended_at, step";
const char* const kRunColumns =
    "id, job, station, operator_name, host, version, started_at, ended_at, exit, how, pid";
const char* const kJobColumns = "hash, name, work_order, signer, image, image_sha256, lot";

std::string EventColumns(const std::string& prefix) {
  std::string columns = prefix + "id, " + prefix + "job, " + prefix + "seq";
  for (const std::string& column : TraceEventColumns()) columns += ", " + prefix + column;
  return columns;
}

TraceRow EventValues(const TraceEvent& event) {
  const PartRecord& row = event.row;
  return {V::Text(event.id), V::Text(event.job), V::Integer(event.seq), V::Text(row.time),
          V::Text(row.host), V::Integer(row.programmer), V::Text(row.programmerKey),
          V::Integer(row.part), V::Text(row.chipId), V::Integer(row.otpSize), V::Text(row.image),
          V::Text(row.sha256), V::Text(row.result), V::Integer(row.exit),
          V::Seconds(row.stepSeconds[1]), V::Seconds(row.stepSeconds[2]),
          V::Seconds(row.stepSeconds[3]), V::Text(BlocksText(row.blocks)),
          V::Text(row.programmerPath), V::Text(row.programmerSerial), V::Text(row.status),
          V::Real(row.seconds), V::Text(row.run), V::Text(row.station), V::Text(row.operatorName),
          V::Integer(row.code), V::Text(row.event)};
}

// An events row read back, in the order EventValues writes it.
TraceEvent EventOf(const TraceRow& values) {
  TraceEvent event;
  event.id = values[0].AsText();
  event.job = values[1].AsText();
  event.seq = static_cast<int>(values[2].AsInteger());
  PartRecord& row = event.row;
  row.time = values[3].AsText();
  row.host = values[4].AsText();
  row.programmer = static_cast<int>(values[5].AsInteger());
  row.programmerKey = values[6].AsText();
  row.part = static_cast<int>(values[7].AsInteger());
  row.chipId = values[8].AsText();
  row.otpSize = static_cast<int32_t>(values[9].AsInteger());
  row.image = values[10].AsText();
  row.sha256 = values[11].AsText();
  row.result = values[12].AsText();
  row.exit = static_cast<int>(values[13].AsInteger());
  for (int stage = 1; stage <= 3; ++stage) row.stepSeconds[stage] = values[13 + stage].AsReal();
  row.blocks = BlocksOf(values[17].AsText());
  row.programmerPath = values[18].AsText();
  row.programmerSerial = values[19].AsText();
  row.status = values[20].AsText();
  row.seconds = values[21].AsReal();
  row.run = values[22].AsText();
  row.station = values[23].AsText();
  row.operatorName = values[24].AsText();
  row.code = static_cast<int32_t>(values[25].AsInteger());
  row.event = values[26].AsText();
  return event;
}

TracePart PartOf(const TraceRow& values) {
  TracePart part;
  part.job = values[0].AsText();
  part.number = static_cast<int>(values[1].AsInteger());
  part.run = values[2].AsText();
  part.programmer = values[3].AsText();
  part.chipId = values[4].AsText();
  part.result = values[5].AsText();
  part.status = values[6].AsText();
  part.exit = static_cast<int>(values[7].AsInteger());
  part.code = static_cast<int>(values[8].AsInteger());
  part.seconds = values[9].AsReal();
  for (int stage = 1; stage <= 3; ++stage) part.stepSeconds[stage] = values[9 + stage].AsReal();
  part.blocks = BlocksOf(values[13].AsText());
  part.startedAt = values[14].AsText();
  part.endedAt = values[15].AsText();
  part.step = values[16].AsText();
  return part;
}

TraceRun RunOf(const TraceRow& values) {
  const TraceRun run{values[0].AsText(), values[1].AsText(), values[2].AsText(), values[3].AsText(),
               values[4].AsText(), values[5].AsText(), values[6].AsText(), values[7].AsText(),
               static_cast<int>(values[8].AsInteger()), values[9].AsText(),
               PidOf(values[10], values[0].AsText())};
  return run;
}

long PidOf(const TraceValue& pid, const std::string& runId) {
  return pid.kind == TraceValue::kNull ? LegacyPid(runId) : static_cast<long>(pid.AsInteger());
}

TraceJob JobOf(const TraceRow& values) {
  return {values[0].AsText(), values[1].AsText(), values[2].AsText(), values[3].AsText(),
          values[4].AsText(), values[5].AsText(), static_cast<int>(values[6].AsInteger())};
}

std::string NumbersText(const std::vector<int>& numbers) {
  std::string text;
  for (const int number : numbers) text += (text.empty() ? "" : " ") + std::to_string(number);
  return text;
}

std::vector<int> NumbersOf(const std::string& text) {
  std::vector<int> numbers;
  std::istringstream in(text);
  for (int number = 0; in >> number;) numbers.push_back(number);
  return numbers;
}

std::string EventText(const TraceEvent& event) {
  const PartRecord& row = event.row;
  return "\"" + row.event + (row.part > 0 ? " part " + std::to_string(row.part) : "") +
         Said("result", row.result) + Said("programmer", row.programmerKey) +
         Said("station", row.station) + Said("run", row.run) + Said("at", row.time) + "\"";
}

std::string PartText(const TracePart& part) {
  return "\"part " + std::to_string(part.number) + Said("result", part.result) +
         Said("programmer", part.programmer) + Said("run", part.run) +
         Said("started at", part.startedAt) + "\"";
}

std::string RunText(const TraceRun& run) {
  return "\"run " + run.id + Said("job", run.job) + Said("station", run.station) +
         Said("host", run.host) + Said("operator", run.operatorName) +
         Said("started at", run.startedAt) + "\"";
}

}  // namespace qs71prog
