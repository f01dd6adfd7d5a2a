#include "job/reporter.h"

#include <gtest/gtest.h>

namespace qs71prog {
namespace {

constexpr int32_t kSize = 262144;

// Records what reaches the display, one word per call.
class RecordingDisplay : public Display {
 public:
  void Begin(const JobDescription&) override {}
  void Progress(const ProgressEvent& event) override {
    const char* kinds[] = {"began", "at", "done", "failed"};
    std::string entry =
        std::string(kinds[static_cast<int>(event.kind)]) + StageName(event.point.stage);
    if (event.kind == ProgressEventKind::kAdvanced || event.kind == ProgressEventKind::kFailed)
      entry += ":" + std::to_string(event.point.position);
    record.push_back(entry);
  }
  void LibraryLine(const std::string& text, bool) override { record.push_back("'" + text + "'"); }
  void Note(const std::string&) override {}
  void Finish(const JobDescription&, const JobOutcome&) override {}

  std::vector<std::string> record;
};

// A verify that failed before the poller ever saw stage 3: the lines and the cells after
// the call are all there is to go on.
TEST(Reporter, AFastFailureIsPlacedByTheLinesAndTheCells) {
  RecordingDisplay display;
  JobCells cells;
  Reporter reporter(display, cells, Selection{true, true, true});
  reporter.Sample();  // stage 0, size untouched: nothing to show
  cells.otpSize = kSize;
  reporter.Line("OTP ID: 0x6D, 0x61, 0x02, 0x00.", false);
  reporter.Line("", false);
  reporter.Line("OTP blank check complete.", false);
  reporter.Line("Write OTP complete.", false);
  reporter.Line("[ERROR] Data NOT match!", false);
  cells.progress = 4095;  // where the verify's transfer stopped
  EXPECT_EQ(reporter.Conclude(-56), Phase::kVerify);
  const std::vector<std::string> expected = {"'OTP ID: 0x6D, 0x61, 0x02, 0x00.'",
                                             "'OTP blank check complete.'",
                                             "beganblank-check",
                                             "atblank-check:262143",
                                             "doneblank-check",
                                             "'Write OTP complete.'",
                                             "beganwrite",
                                             "atwrite:262143",
                                             "donewrite",
                                             "'[ERROR] Data NOT match!'",
                                             "beganverify",
                                             "failedverify:4095"};
  EXPECT_EQ(display.record, expected);
}

// A job makes a call per step: each call is placed on its own evidence, and the display
// follows the job across them.
TEST(Reporter, EachCallIsConcludedOnItsOwnEvidence) {
  RecordingDisplay display;
  JobCells cells;
  Reporter reporter(display, cells, Selection{true, false, true});
  reporter.BeginCall(Selection{true, false, false});
  cells.otpSize = kSize;
  reporter.Line("OTP ID: 0x6D, 0x61, 0x02, 0x00.", false);
  reporter.Line("OTP blank check complete.", false);
  EXPECT_EQ(reporter.Conclude(0), Phase::kBlankCheck);
  cells = JobCells();
  reporter.BeginCall(Selection{false, false, true});
  reporter.Line("[ERROR] Invalid OTP ID! (0x12,0x34,0x02,0x00)", false);
  cells.otpSize = 0;
  EXPECT_EQ(reporter.Conclude(-50), Phase::kIdentify);
  EXPECT_EQ(reporter.RejectedId(), "[ERROR] Invalid OTP ID! (0x12,0x34,0x02,0x00)");
  const std::vector<std::string> expected = {
      "'OTP ID: 0x6D, 0x61, 0x02, 0x00.'", "'OTP blank check complete.'", "beganblank-check",
      "atblank-check:262143", "doneblank-check", "'[ERROR] Invalid OTP ID! (0x12,0x34,0x02,0x00)'"};
  EXPECT_EQ(display.record, expected);
}

TEST(Reporter, NoSizeMeansTheOtpTestNeverStarted) {
  RecordingDisplay display;
  JobCells cells;
  Reporter reporter(display, cells, Selection{true, false, false});
  reporter.Line("Failed to start OTP test!! (-20)", false);
  EXPECT_EQ(reporter.Conclude(-20), Phase::kConnect);
  EXPECT_EQ(display.record, std::vector<std::string>{"'Failed to start OTP test!! (-20)'"});
}

TEST(Reporter, SuccessEndsEverySelectedStageAtTheLastAddress) {
  RecordingDisplay display;
  JobCells cells;
  Reporter reporter(display, cells, Selection{false, true, true});
  cells.otpSize = kSize;
  cells.stage = 2;
  cells.progress = kSize - 1;  // still the identification's system-area read
  reporter.Sample();
  cells.progress = 8191;
  reporter.Sample();
  cells.stage = 0;
  EXPECT_EQ(reporter.Conclude(0), Phase::kVerify);
  const std::vector<std::string> expected = {"beganwrite", "atwrite:8191", "atwrite:262143",
                                             "donewrite",  "beganverify",  "atverify:262143",
                                             "doneverify"};
  EXPECT_EQ(display.record, expected);
}

// The library prints "complete" and only then moves the stage on. However late the poller
// looks, the message comes out before the end of the stage it announces.
TEST(Reporter, AStageSeenDoneComesAfterTheMessagesPrintedBeforeIt) {
  RecordingDisplay display;
  JobCells cells;
  Reporter reporter(display, cells, Selection{true, true, false});
  std::vector<std::string> pending;
  const auto deliver = [&] {
    for (const std::string& line : pending) reporter.Line(line, false);
    pending.clear();
  };
  cells.otpSize = kSize;
  cells.stage = 1;
  pending.push_back("OTP blank check complete.");
  cells.stage = 2;
  cells.progress = 31;
  reporter.Sample(deliver);
  const std::vector<std::string> expected = {"'OTP blank check complete.'", "beganblank-check",
                                             "atblank-check:262143", "doneblank-check",
                                             "beganwrite", "atwrite:31"};
  EXPECT_EQ(display.record, expected);
}

}  // namespace
}  // namespace qs71prog
