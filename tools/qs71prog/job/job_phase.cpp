#include "job/job_phase.h"

#include "job/plain_words.h"

namespace qs71prog {

namespace {

struct PhaseText {
  Phase phase;
  const char* name;
};

constexpr PhaseText kPhaseNames[] = {
    {Phase::kConnect, "connect"},        {Phase::kIdentify, "identify"},
    {Phase::kBlankCheck, "blank-check"}, {Phase::kWrite, "write"},
    {Phase::kVerify, "verify"},
};

struct StageText {
  const char* name;
  const char* title;
  Phase phase;
};

// Index = the value of the library's stage cell.
constexpr StageText kStages[] = {
    {"idle", "", Phase::kIdentify},
    {"blank-check", "blank check", Phase::kBlankCheck},
    {"write", "write", Phase::kWrite},
    {"verify", "verify", Phase::kVerify},
};

bool ValidStage(int stage) { return stage >= kFirstStage && stage <= kLastStage; }

// The lines the library prints when a step has succeeded, and only then. Identification
// prints the chip's ID after the system area has passed its check.
struct CompletionLine {
  const char* prefix;
  int stage;
};

constexpr int kIdentification = 0;
constexpr CompletionLine kCompletionLines[] = {
    {"OTP ID: ", kIdentification},
    {"OTP blank check complete.", 1},
    {"Write OTP complete.", 2},
    {"Verify OTP complete.", 3},
};

}  // namespace

const char* PhaseName(Phase phase) {
  for (const PhaseText& entry : kPhaseNames) {
    if (entry.phase == phase) return entry.name;
  }
  return "unknown";
}

Phase PhaseOfStage(int stage) {
  return ValidStage(stage) ? kStages[stage].phase : Phase::kIdentify;
}

int StageOfPhase(Phase phase) {
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (kStages[stage].phase == phase) return stage;
  }
  return 0;
}

const char* StageTitle(int stage) { return ValidStage(stage) ? kStages[stage].title : ""; }

const char* StageName(int stage) { return ValidStage(stage) ? kStages[stage].name : "idle"; }

bool Selection::Selected(int stage) const {
  switch (stage) {
    case 1:
      return blankCheck;
    case 2:
      return write;
    case 3:
      return verify;
    default:
      return false;
  }
}

Phase Selection::LastPhase() const {
  for (int stage = kLastStage; stage >= kFirstStage; --stage) {
    if (Selected(stage)) return PhaseOfStage(stage);
  }
  return Phase::kIdentify;
}

int PhaseEvidence::NoteLine(const std::string& line) {
  if (IsChipIdComplaint(line)) rejectedId = line;
  for (const CompletionLine& entry : kCompletionLines) {
    if (!line.starts_with(entry.prefix)) continue;
    if (entry.stage == kIdentification) {
      identified = true;
      return 0;
    }
    completed[entry.stage] = true;
    return entry.stage;
  }
  return 0;
}

void PhaseEvidence::NoteStage(int stage) {
  if (ValidStage(stage) && stage > highestStage) highestStage = stage;
}

// The library moves the stage cell on only after the previous operation succeeded.
bool PhaseEvidence::StageCompleted(int stage) const {
  return ValidStage(stage) && (completed[stage] || highestStage > stage);
}

Phase PhaseEvidence::FailingPhase(const Selection& selection, bool otpTestStarted) const {
  if (!otpTestStarted) return Phase::kConnect;
  if (!identified && highestStage == 0) return Phase::kIdentify;
  Phase last = Phase::kIdentify;
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (!selection.Selected(stage)) continue;
    last = PhaseOfStage(stage);
    if (!StageCompleted(stage)) return last;
  }
  return last;
}

}  // namespace qs71prog
