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

// A verify that failed before the poller ever saw stage 3: the result structure and the
// cells after the call are all there is to go on.
TEST(Reporter, AFastFailureIsPlacedByTheResult) {
  RecordingDisplay display;
  JobCells cells = FreshCells();
  Reporter reporter(display, cells, Selection{true, true, true});
  reporter.Sample();  // stage 0, no size yet: nothing to show
  cells.otpSize = kSize;
  reporter.Line("OTP blank check complete.", false);
  reporter.Line("", false);
  reporter.Line("[ERROR] Data NOT match!", false);
  cells.progress = 4095;  // where the verify's transfer stopped
  cells.lastStep = cells.failedStep = QS71_STEP_VERIFY;
  EXPECT_EQ(reporter.Conclude(-56), Phase::kVerify);
  const std::vector<std::string> expected = {"'OTP blank check complete.'",
                                             "'[ERROR] Data NOT match!'",
                                             "beganblank-check",
                                             "atblank-check:262143",
                                             "doneblank-check",
                                             "beganwrite",
                                             "atwrite:262143",
                                             "donewrite",
                                             "beganverify",
                                             "failedverify:4095"};
  EXPECT_EQ(display.record, expected);
}

// A job makes a call per step: each call is placed on its own result, and the display
// follows the job across them.
TEST(Reporter, EachCallIsConcludedOnItsOwnResult) {
  RecordingDisplay display;
  JobCells cells = FreshCells();
  Reporter reporter(display, cells, Selection{true, false, true});
  reporter.BeginCall(Selection{true, false, false});
  cells.otpSize = kSize;
  cells.lastStep = QS71_STEP_STOP;
  EXPECT_EQ(reporter.Conclude(0), Phase::kBlankCheck);
  cells = FreshCells();
  reporter.BeginCall(Selection{false, false, true});
  cells.lastStep = cells.failedStep = QS71_STEP_IDENTIFY;
  EXPECT_EQ(reporter.Conclude(-50), Phase::kIdentify);
  const std::vector<std::string> expected = {"beganblank-check", "atblank-check:262143",
                                             "doneblank-check"};
  EXPECT_EQ(display.record, expected);
}

TEST(Reporter, AProgrammerNotOpenedIsTheConnection) {
  RecordingDisplay display;
  JobCells cells = FreshCells();
  Reporter reporter(display, cells, Selection{true, false, false});
  reporter.Line("Failed to start OTP test!! (-20)", false);
  cells.lastStep = cells.failedStep = QS71_STEP_OPEN;
  EXPECT_EQ(reporter.Conclude(-20), Phase::kConnect);
  EXPECT_EQ(display.record, std::vector<std::string>{"'Failed to start OTP test!! (-20)'"});
}

TEST(Reporter, SuccessEndsEverySelectedStageAtTheLastAddress) {
  RecordingDisplay display;
  JobCells cells = FreshCells();
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

// The lines the library handed over before a reading of the cells come out before the
// progress of that reading.
TEST(Reporter, LinesComeBeforeTheProgressReadWithThem) {
  RecordingDisplay display;
  JobCells cells = FreshCells();
  Reporter reporter(display, cells, Selection{false, true, false});
  std::vector<std::string> pending = {"OTP test started @ VDD=5.50V, VPP=6.50V."};
  const auto deliver = [&] {
    for (const std::string& line : pending) reporter.Line(line, false);
    pending.clear();
  };
  cells.otpSize = kSize;
  cells.stage = 2;
  cells.progress = 31;
  reporter.Sample(deliver);
  const std::vector<std::string> expected = {"'OTP test started @ VDD=5.50V, VPP=6.50V.'",
                                             "beganwrite", "atwrite:31"};
  EXPECT_EQ(display.record, expected);
}

}  // namespace
}  // namespace qs71prog
