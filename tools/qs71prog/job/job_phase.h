#pragma once

#include <array>
#include <string>

namespace qs71prog {

// Where a programming job stands. The library's stage cell knows only its three operations;
// the two steps before them matter as much on a bench: a programmer that never answered is
// a cable or permission problem, a chip that does not identify is a socket problem.
enum class Phase { kConnect, kIdentify, kBlankCheck, kWrite, kVerify };

// "connect", "identify", "blank-check", "write", "verify": JSON events and summaries.
const char* PhaseName(Phase phase);
// The operation a stage value (1..3) stands for.
Phase PhaseOfStage(int stage);
// The stage value (1..3) of an operation, 0 for the steps before the operations.
int StageOfPhase(Phase phase);
// "blank check", "write", "verify" for stages 1..3: the label of the progress bar.
const char* StageTitle(int stage);
// "blank-check", "write", "verify" for stages 1..3.
const char* StageName(int stage);

constexpr int kFirstStage = 1;
constexpr int kLastStage = 3;

// The operations a job asks of the library, by stage value.
struct Selection {
  bool blankCheck = false;
  bool write = false;
  bool verify = false;

  bool Selected(int stage) const;
  // The last step a successful job runs: the last selected operation, or identification.
  Phase LastPhase() const;
};

// What the job showed of its own course: the stages the poller saw and the lines the library
// printed when a step was done. The stage cell alone cannot tell which operation failed, since
// a failing step may begin and end between two polls; the library's completion lines are
// fixed texts of its interface and arrive whole through the captured output.
class PhaseEvidence {
 public:
  // Takes one line of the library's output; returns the stage (1..3) that it reports as
  // complete, 0 for any other line.
  int NoteLine(const std::string& line);
  // Takes a stage value seen in the cell.
  void NoteStage(int stage);
  bool StageCompleted(int stage) const;
  // The step that failed. otpTestStarted is false when the library never wrote the OTP size
  // cell, which it skips only when the OTP test could not be started.
  Phase FailingPhase(const Selection& selection, bool otpTestStarted) const;
  // The library's line that rejected the chip's ID, empty when none came.
  const std::string& RejectedId() const { return rejectedId; }

 private:
  bool identified = false;
  std::string rejectedId;
  int highestStage = 0;
  std::array<bool, kLastStage + 1> completed{};
};

}  // namespace qs71prog
