#include "display/display.h"

#include <gtest/gtest.h>

#include "terminal_screen.h"

namespace qs71prog {
namespace {

class StringSink : public TextSink {
 public:
  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override { err += text; }
  std::string out;
  std::string err;
};

constexpr int32_t kSize = 262144;

ProgressEvent Event(ProgressEventKind kind, int stage, int percent) {
  ProgressPoint point;
  point.stage = stage;
  point.size = kSize;
  point.percent = percent;
  point.position = static_cast<int32_t>(int64_t{kSize} * percent / 100) - 1;
  if (point.position < 0) point.position = 0;
  return {kind, point};
}

JobDescription Job() {
  JobDescription job;
  job.selection = Selection{false, true, false};
  job.image = "door\"bell.bin";
  job.library = "libqs71_usb_writer_emulated.so";
  job.emulated = true;
  job.volts = {5.0, 5.5, 6.5, 5.0};
  return job;
}

JobOutcome Success() {
  JobOutcome outcome;
  outcome.called = true;
  outcome.phase = Phase::kWrite;
  outcome.otpSize = kSize;
  outcome.seconds = 2.0;
  return outcome;
}

JobOutcome WriteFailure() {
  JobOutcome outcome = Success();
  outcome.result = -59;
  outcome.exit = ExitCode::kWriteFailed;
  return outcome;
}

// Drives a display through a write with library lines arriving while the bar is shown.
void PlayWrite(Display& display) {
  display.Begin(Job());
  display.LibraryLine("OTP test started @ VDD=3.30V, VPP=3.30V.", false);
  display.Progress(Event(ProgressEventKind::kBegan, 2, 0));
  display.LibraryLine("Import File: door.bin", false);
  for (int percent : {3, 4, 9, 27, 51, 99})
    display.Progress(Event(ProgressEventKind::kAdvanced, 2, percent));
  display.LibraryLine("qs71 emulator: a complaint", true);
  display.Progress(Event(ProgressEventKind::kAdvanced, 2, 100));
  display.LibraryLine("Write OTP complete.", false);
  display.Progress(Event(ProgressEventKind::kDone, 2, 100));
  display.LibraryLine("The OTP test stopped.", false);
}

TEST(TerminalDisplay, LibraryLinesStayWholeAboveTheBar) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kTerminal, sink, 60);
  PlayWrite(*display);
  display->Finish(Job(), Success());
  const std::vector<std::string> expected = {
      "OTP test started @ VDD=3.30V, VPP=3.30V.",
      "Import File: door.bin",
      "Write OTP complete.",
      "write       [##########################] 100%  in 0:00",
      "The OTP test stopped.",
      "qs71prog: done: write on a 262144-byte chip in 0:02",
      ""};
  EXPECT_EQ(TerminalScreen(sink.out), expected);
  EXPECT_EQ(sink.err, "qs71 emulator: a complaint\n");
}

TEST(TerminalDisplay, TheBarIsWipedBeforeEveryLine) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kTerminal, sink, 60);
  display->Progress(Event(ProgressEventKind::kBegan, 1, 0));
  display->Progress(Event(ProgressEventKind::kAdvanced, 1, 40));
  sink.out.clear();
  display->LibraryLine("[ERROR] OTP NOT blank!", false);
  // Spaces over the whole bar, back to the first column, the line, then the bar again.
  ASSERT_EQ(sink.out.substr(0, 1), "\r");
  const size_t line = sink.out.find("\r[ERROR] OTP NOT blank!\n");
  ASSERT_NE(line, std::string::npos) << sink.out;
  EXPECT_EQ(sink.out.find_first_not_of(' ', 1), line);
  EXPECT_NE(sink.out.find("blank check [##########.", line), std::string::npos);
}

TEST(TerminalDisplay, FailureSummaryGoesToStandardError) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kTerminal, sink, 60);
  display->Progress(Event(ProgressEventKind::kBegan, 2, 0));
  display->Finish(Job(), WriteFailure());
  EXPECT_EQ(TerminalScreen(sink.out), std::vector<std::string>{""});
  EXPECT_EQ(sink.err,
            "qs71prog: failed in write: the programmer's reply has an unexpected status byte "
            "(-59); exit 7 (write-failed)\n");
}

TEST(PlainDisplay, OneLinePerFivePercentAndADoneLine) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kPlain, sink, 0);
  PlayWrite(*display);
  EXPECT_EQ(sink.out,
            "OTP test started @ VDD=3.30V, VPP=3.30V.\n"
            "Import File: door.bin\n"
            "write   9%  address 0x005C27 of 0x03FFFF\n"
            "write  27%  address 0x011479 of 0x03FFFF\n"
            "write  51%  address 0x020A3C of 0x03FFFF\n"
            "write  99%  address 0x03F5C1 of 0x03FFFF\n"
            "Write OTP complete.\n"
            "write 100%  address 0x03FFFF of 0x03FFFF  done in 0:00\n"
            "The OTP test stopped.\n");
  EXPECT_EQ(sink.out.find('\r'), std::string::npos);
}

TEST(JsonDisplay, OneEventPerLine) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kJson, sink, 0);
  PlayWrite(*display);
  display->Finish(Job(), WriteFailure());
  const std::string expectedStart =
      "{\"event\":\"start\",\"version\":\"" QS71PROG_TEST_VERSION
      "\","
      "\"library\":\"libqs71_usb_writer_emulated.so\",\"emulated\":true,"
      "\"operations\":[\"write\"],\"image\":\"door\\\"bell.bin\",\"volts\":{\"blank_check_vdd\":5."
      "000,"
      "\"write_vdd\":5.500,\"vpp\":6.500,\"verify_vdd\":5.000}}\n";
  ASSERT_EQ(sink.out.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(sink.out.find("{\"event\":\"stage\",\"stage\":\"write\",\"state\":\"began\"}\n"),
            std::string::npos);
  EXPECT_NE(sink.out.find("{\"event\":\"progress\",\"stage\":\"write\",\"progress\":10484,"
                          "\"size\":262144,\"percent\":4}\n"),
            std::string::npos);
  EXPECT_NE(sink.out.find("{\"event\":\"message\",\"source\":\"library\",\"stream\":\"stderr\","
                          "\"text\":\"qs71 emulator: a complaint\"}\n"),
            std::string::npos);
  EXPECT_NE(sink.out.find("{\"event\":\"result\",\"ok\":false,\"result\":-59,\"stage\":\"write\","
                          "\"exit\":7,\"status\":\"write-failed\",\"otp_size\":262144,"
                          "\"seconds\":2.000,\"message\":\"qs71prog: failed in write: "),
            std::string::npos);
  EXPECT_EQ(sink.err, "");
}

TEST(JsonDisplay, ProgressOnlyWhenThePercentageMovesOrTheStageEnds) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kJson, sink, 0);
  display->Progress(Event(ProgressEventKind::kAdvanced, 3, 40));
  auto same = Event(ProgressEventKind::kAdvanced, 3, 40);
  same.point.position += 16;
  display->Progress(same);
  auto last = Event(ProgressEventKind::kAdvanced, 3, 100);
  display->Progress(last);
  display->Progress(last);
  size_t events = 0;
  for (char c : sink.out) events += c == '\n';
  EXPECT_EQ(events, 3u);
}

TEST(Summary, LibraryThatDidNotLoad) {
  JobOutcome outcome;
  outcome.problem = "cannot load the programmer library: nope";
  outcome.exit = ExitCode::kLibraryMissing;
  EXPECT_EQ(SummaryLine(Job(), outcome),
            "qs71prog: cannot load the programmer library: nope; exit 10 (library-missing)\n");
}

// Two runs raced for a chip file not made yet: the loser learns it after its first call
// succeeded, and must read as busy, not as a call that failed with "success".
TEST(Summary, AChipFileTakenAfterTheFirstCallIsBusy) {
  JobOutcome outcome;
  outcome.called = true;
  outcome.phase = Phase::kIdentify;
  outcome.problem = "the chip file new.otp is in use by another qs71prog (process 4711)";
  outcome.exit = ExitCode::kBusy;
  const std::string line =
      "qs71prog: the chip file new.otp is in use by another qs71prog (process 4711); exit 14 "
      "(busy)";
  EXPECT_EQ(SummaryLine(Job(), outcome), line + "\n");
  StringSink sink;
  MakeDisplay(DisplayKind::kJson, sink, 0)->Finish(Job(), outcome);
  EXPECT_EQ(sink.out.find("\"result\":0"), std::string::npos) << sink.out;
  EXPECT_NE(sink.out.find("\"message\":\"" + line + "\""), std::string::npos) << sink.out;
}

ProgressPoint Point(int stage, int percent, double remaining, double elapsed = 0.0) {
  ProgressPoint point;
  point.stage = stage;
  point.size = 262144;
  point.position = static_cast<int32_t>(int64_t{point.size} * percent / 100) - 1;
  point.percent = percent;
  point.remaining = remaining;
  point.elapsed = elapsed;
  return point;
}

TEST(FormatDuration, MinutesSecondsAndHours) {
  EXPECT_EQ(FormatDuration(-1), "--:--");
  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(7.4), "0:07");
  EXPECT_EQ(FormatDuration(59.6), "1:00");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(RenderBar, NeverReachesTheLastColumn) {
  EXPECT_EQ(RenderBar(Point(2, 50, 7), 60),
            "write       [#############.............]  50%  0:07 left");
  // The longest time left fills the line but for the last column, where a terminal wraps.
  const std::string longest = RenderBar(Point(2, 1, 3600), 60);
  EXPECT_EQ(longest, "write       [..........................]   1%  1:00:00 left");
  EXPECT_EQ(longest.size(), 59u);
}

TEST(RenderBar, UnknownTimeAndEveryStageTitle) {
  EXPECT_EQ(RenderBar(Point(1, 0, -1), 60),
            "blank check [..........................]   0%  --:-- left");
  EXPECT_EQ(RenderBar(Point(3, 100, 0), 60),
            "verify      [##########################] 100%  0:00 left");
}

TEST(RenderBar, DropsTheGaugeOnANarrowTerminal) {
  EXPECT_EQ(RenderBar(Point(2, 42, 65), 30), "write         42%  1:05 left");
}

TEST(RenderDoneLine, KeepsTheGaugeOfTheBar) {
  const std::string done = RenderDoneLine(Point(2, 100, 0, 3.2), 60);
  EXPECT_EQ(done, "write       [##########################] 100%  in 0:03");
  EXPECT_EQ(done.find(']'), RenderBar(Point(2, 10, 5), 60).find(']'));
}

TEST(RenderPlainLine, NamesTheAddress) {
  EXPECT_EQ(RenderPlainLine(Point(2, 50, 1)), "write  50%  address 0x01FFFF of 0x03FFFF");
}

}  // namespace
}  // namespace qs71prog
