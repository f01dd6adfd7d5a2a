#include "job/job_report.h"

#include <cstdio>

#include "display/display.h"
#include "job/interruption.h"
#include "qs71_usb_writer.h"

namespace qs71prog {

namespace {

struct ResultText {
  int32_t result;
  const char* text;
};

constexpr ResultText kResults[] = {
    {QS71_OK, "success"},
    {QS71_E_ECHO_60, "the programmer did not echo command 0x60"},
    {QS71_E_ECHO_62, "the programmer did not echo command 0x62"},
    {QS71_E_ECHO_64, "the programmer did not echo command 0x64"},
    {QS71_E_ECHO_66, "the programmer did not echo command 0x66"},
    {QS71_E_ECHO_68, "the programmer did not echo command 0x68"},
    {QS71_E_TRANSPORT, "the programmer is not open, or a report was not sent or not answered"},
    {QS71_E_ECHO, "the programmer's reply does not echo the command"},
    {QS71_E_CHECK_WORDS, "the programmer's reply to 0x01 lacks its check words"},
    {QS71_E_FILE, "the image file cannot be opened"},
    {QS71_E_OTP_ID, "the chip's ID is not 6D 61"},
    {QS71_E_SIZE_CODE, "the chip's size code is unknown"},
    {QS71_E_FILE_SIZE, "the image file's size differs from the chip's OTP size"},
    {QS71_E_READ_SIZE, "invalid read range size"},
    {QS71_E_VERIFY_SIZE, "invalid verify range size"},
    {QS71_E_WRITE_SIZE, "invalid write range size"},
    {QS71_E_MISMATCH, "the system area is not blank, or the data does not match"},
    {QS71_E_NOT_BLANK, "the main area is not blank"},
    {QS71_E_SYSTEM_AREA, "the chip's system area is invalid"},
    {QS71_E_STATUS, "the programmer's reply has an unexpected status byte"},
    {QS71_E_REPLACED,
     "another device stands where the programmer was: it was unplugged or replaced; check the "
     "USB cable"},
};

// A short explanation of a job call's result code for the summary line; the library's
// own message above it says the same in its words.
const char* DescribeLibraryResult(int32_t result) {
  for (const ResultText& entry : kResults) {
    if (entry.result == result) return entry.text;
  }
  return "a result code this qs71prog does not know";
}

std::string DoneText(const JobDescription& job, const JobOutcome& outcome) {
  std::string steps;
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (!job.selection.Selected(stage)) continue;
    steps += (steps.empty() ? "" : ", ") + std::string(StageTitle(stage));
  }
  char text[200];
  if (steps.empty()) {
    std::snprintf(text, sizeof text, "qs71prog: done: identified a %d-byte chip in %s",
                  static_cast<int>(outcome.otpSize), FormatDuration(outcome.seconds).c_str());
  } else {
    std::snprintf(text, sizeof text, "qs71prog: done: %s on a %d-byte chip in %s",
                  steps.c_str(), static_cast<int>(outcome.otpSize),
                  FormatDuration(outcome.seconds).c_str());
  }
  return text;
}

std::string ExitText(ExitCode exit) {
  const ExitCodeInfo& info = DescribeExit(exit);
  return "exit " + std::to_string(static_cast<int>(info.code)) + " (" + info.name + ")";
}

// The selected operations after `phase`, which an interruption kept from running.
std::string NotRun(const JobDescription& job, Phase phase) {
  std::string steps;
  for (int stage = StageOfPhase(phase) + 1; stage <= kLastStage; ++stage) {
    if (!job.selection.Selected(stage)) continue;
    steps += (steps.empty() ? "" : ", ") + std::string(StageTitle(stage));
  }
  return steps.empty() ? "" : "; not run: " + steps;
}

// "by SIGHUP ": a person who pressed Ctrl-C knows it; a closed terminal or a service manager's
// signal must be named.
std::string By(const JobOutcome& outcome) {
  return outcome.signal.empty() ? "" : "by " + outcome.signal + " ";
}

std::string InterruptedText(const JobDescription& job, const JobOutcome& outcome) {
  if (!outcome.called) return "qs71prog: interrupted before the programmer was opened; ";
  return "qs71prog: interrupted " + By(outcome) + "after the " + StepTitle(outcome.phase) +
         NotRun(job, outcome.phase) + "; ";
}

std::string AbortedText(const JobOutcome& outcome) {
  const std::string consequence =
      outcome.phase == Phase::kWrite ? ": the part is partly written, scrap it" : "";
  return "qs71prog: aborted " + By(outcome) + "during the " + StepTitle(outcome.phase) +
         consequence + "; ";
}

std::string Body(const JobDescription& job, const JobOutcome& outcome) {
  if (outcome.exit == ExitCode::kInterrupted) return InterruptedText(job, outcome);
  if (outcome.exit == ExitCode::kAborted) return AbortedText(outcome);
  if (!outcome.called || !outcome.problem.empty()) return "qs71prog: " + outcome.problem + "; ";
  return "qs71prog: failed in " + std::string(PhaseName(outcome.phase)) + ": " +
         DescribeLibraryResult(outcome.result) + " (" + std::to_string(outcome.result) + "); ";
}

std::string Trace(const JobDescription& job) {
  return job.sha256.empty() ? "" : "; image sha256 " + job.sha256;
}

}  // namespace

std::vector<std::string> OperationNames(const Selection& selection) {
  std::vector<std::string> names;
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (selection.Selected(stage)) names.push_back(StageName(stage));
  }
  return names;
}

std::string SummaryLine(const JobDescription& job, const JobOutcome& outcome) {
  if (outcome.exit == ExitCode::kOk) return DoneText(job, outcome) + Trace(job) + "\n";
  return Body(job, outcome) + ExitText(outcome.exit) + Trace(job) + "\n";
}

}  // namespace qs71prog
