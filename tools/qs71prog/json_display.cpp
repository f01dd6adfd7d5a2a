#include "json_display.h"

#include "json_text.h"
#include "voltage_settings.h"

#ifndef QS71PROG_VERSION
#define QS71PROG_VERSION "unknown"
#endif

namespace qs71prog {

namespace {

std::string VoltsObject(const JobDescription& job) {
  JsonObject volts;
  for (const VoltageSetting& setting : VoltageSettings()) {
    // "--blank-check-vdd" becomes "blank_check_vdd".
    std::string key = std::string(setting.option).substr(2);
    for (char& c : key) c = c == '-' ? '_' : c;
    volts.Add(key.c_str(), job.volts[static_cast<size_t>(setting.voltage)]);
  }
  std::string line = volts.Line();
  line.pop_back();
  return line;
}

JsonObject StageEvent(const ProgressPoint& point, const char* state) {
  JsonObject event;
  event.Add("event", "stage").Add("stage", StageName(point.stage)).Add("state", state);
  return event;
}

}  // namespace

void JsonDisplay::Begin(const JobDescription& job) {
  JsonObject event;
  event.Add("event", "start")
      .Add("version", QS71PROG_VERSION)
      .Add("library", job.library)
      .Add("emulated", job.emulated)
      .Add("operations", OperationNames(job.selection))
      .Add("image", job.image)
      .AddRaw("volts", VoltsObject(job));
  sink.Out(event.Line());
}

void JsonDisplay::Progress(const ProgressEvent& event) {
  const ProgressPoint& point = event.point;
  if (event.kind == ProgressEventKind::kBegan) {
    sink.Out(StageEvent(point, "began").Line());
    return;
  }
  if (event.kind == ProgressEventKind::kDone) {
    sink.Out(StageEvent(point, "done").Add("seconds", point.elapsed).Line());
    return;
  }
  const bool last = point.position == point.size - 1;
  if (point.percent == lastPercent[point.stage] && !last) return;
  lastPercent[point.stage] = point.percent;
  JsonObject progress;
  progress.Add("event", "progress")
      .Add("stage", StageName(point.stage))
      .Add("progress", int64_t{point.position})
      .Add("size", int64_t{point.size})
      .Add("percent", point.percent);
  if (point.remaining >= 0) progress.Add("eta_seconds", point.remaining);
  sink.Out(progress.Line());
}

void JsonDisplay::LibraryLine(const std::string& text, bool onStderr) {
  JsonObject event;
  event.Add("event", "message")
      .Add("source", "library")
      .Add("stream", onStderr ? "stderr" : "stdout")
      .Add("text", text);
  sink.Out(event.Line());
}

void JsonDisplay::Note(const std::string& text) {
  JsonObject event;
  event.Add("event", "message").Add("source", "qs71prog").Add("text", text);
  sink.Out(event.Line());
}

void JsonDisplay::Finish(const JobDescription& job, const JobOutcome& outcome) {
  const ExitCodeInfo& exit = DescribeExit(outcome.exit);
  JsonObject event;
  event.Add("event", "result").Add("ok", outcome.exit == ExitCode::kOk);
  if (outcome.called) event.Add("result", int64_t{outcome.result});
  event.Add("stage", PhaseName(outcome.phase))
      .Add("exit", static_cast<int>(exit.code))
      .Add("status", exit.name)
      .Add("otp_size", int64_t{outcome.otpSize})
      .Add("seconds", outcome.seconds);
  std::string message = SummaryLine(job, outcome);
  message.pop_back();
  event.Add("message", message);
  sink.Out(event.Line());
}

}  // namespace qs71prog
