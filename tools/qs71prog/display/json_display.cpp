#include "display/json_display.h"

#include "cli/voltage_settings.h"
#include "json_writer.h"

#ifndef QS71PROG_VERSION
#define QS71PROG_VERSION "unknown"
#endif

namespace qs71prog {

namespace {

// One event to a line, as the header of json_display.h lists them.
JsonWriter Event(const char* name) {
  JsonWriter event(JsonLayout::kOneLine, JsonEscapes::kShort);
  event.BeginObject().String("event", name);
  return event;
}

void Send(TextSink& sink, JsonWriter event) { sink.Out(event.EndObject().Text()); }

void AddVolts(JsonWriter& event, const JobDescription& job) {
  event.BeginObject("volts");
  for (const VoltageSetting& setting : VoltageSettings()) {
    // "--blank-check-vdd" becomes "blank_check_vdd".
    std::string key = std::string(setting.option).substr(2);
    for (char& c : key) c = c == '-' ? '_' : c;
    event.Number(key, job.volts[static_cast<size_t>(setting.voltage)]);
  }
  event.EndObject();
}

JsonWriter StageEvent(const ProgressPoint& point, const char* state) {
  JsonWriter event = Event("stage");
  event.String("stage", StageName(point.stage)).String("state", state);
  return event;
}

}  // namespace

void JsonDisplay::Begin(const JobDescription& job) {
  JsonWriter event = Event("start");
  event.String("version", QS71PROG_VERSION)
      .String("library", job.library)
      .Bool("emulated", job.emulated)
      .BeginArray("operations");
  for (const std::string& name : OperationNames(job.selection)) event.String({}, name);
  event.EndArray().String("image", job.image);
  if (!job.sha256.empty()) event.String("sha256", job.sha256);
  AddVolts(event, job);
  Send(sink, event);
}

void JsonDisplay::Progress(const ProgressEvent& event) {
  const ProgressPoint& point = event.point;
  if (event.kind == ProgressEventKind::kBegan) {
    Send(sink, StageEvent(point, "began"));
    return;
  }
  if (event.kind == ProgressEventKind::kDone) {
    Send(sink, StageEvent(point, "done").Number("seconds", point.elapsed));
    return;
  }
  if (event.kind == ProgressEventKind::kFailed) {
    JsonWriter failed = StageEvent(point, "failed");
    failed.Int("progress", point.position).Int("percent", point.percent);
    Send(sink, failed.Number("seconds", point.elapsed));
    return;
  }
  const bool last = point.position == point.size - 1;
  if (point.percent == lastPercent[point.stage] && !last) return;
  lastPercent[point.stage] = point.percent;
  JsonWriter progress = Event("progress");
  progress.String("stage", StageName(point.stage))
      .Int("progress", point.position)
      .Int("size", point.size)
      .Int("percent", point.percent);
  if (point.remaining >= 0) progress.Number("eta_seconds", point.remaining);
  Send(sink, progress);
}

void JsonDisplay::LibraryLine(const std::string& text, bool onStderr) {
  JsonWriter event = Event("message");
  event.String("source", "library").String("stream", onStderr ? "stderr" : "stdout");
  Send(sink, event.String("text", text));
}

void JsonDisplay::Note(const std::string& text) {
  JsonWriter event = Event("message");
  Send(sink, event.String("source", "qs71prog").String("text", text));
}

void JsonDisplay::Finish(const JobDescription& job, const JobOutcome& outcome) {
  const ExitCodeInfo& exit = DescribeExit(outcome.exit);
  JsonWriter event = Event("result");
  event.Bool("ok", outcome.exit == ExitCode::kOk);
  if (outcome.called && outcome.problem.empty()) event.Int("result", outcome.result);
  event.String("stage", PhaseName(outcome.phase))
      .Int("exit", static_cast<int>(exit.code))
      .String("status", exit.name)
      .Int("otp_size", outcome.otpSize)
      .Number("seconds", outcome.seconds);
  if (!job.sha256.empty()) event.String("sha256", job.sha256);
  if (outcome.located) {
    event.BeginArray("blocks");
    for (const std::string& block : outcome.failingBlocks) event.String({}, block);
    event.EndArray().Bool("blocks_complete", outcome.allBlocksSearched);
  }
  std::string message = SummaryLine(job, outcome);
  message.pop_back();
  Send(sink, event.String("message", message));
}

}  // namespace qs71prog
