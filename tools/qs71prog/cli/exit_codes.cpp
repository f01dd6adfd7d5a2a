#include "cli/exit_codes.h"

#include "qs71_usb_writer.h"

namespace qs71prog {

namespace {

// The meanings fit --help's 80 columns.
const std::vector<ExitCodeInfo> kExitCodes = {
    {ExitCode::kOk, "ok", "every selected step succeeded"},
    {ExitCode::kProgrammerError, "programmer-error",
     "the programmer answered wrongly or stopped answering"},
    {ExitCode::kUsage, "usage", "unknown option, voltage out of range, nothing to do"},
    {ExitCode::kNoProgrammer, "no-programmer", "no programmer found, or it cannot be opened"},
    {ExitCode::kChip, "chip", "wrong chip ID, unknown size code or invalid system area"},
    {ExitCode::kImageSize, "image-size",
     "the image's size is not the chip's OTP size, or no part's"},
    {ExitCode::kNotBlank, "not-blank", "the blank check found programmed cells"},
    {ExitCode::kWriteFailed, "write-failed", "writing failed; the part may be partly written"},
    {ExitCode::kVerifyMismatch, "verify-mismatch", "the OTP does not match the image"},
    {ExitCode::kFileError, "file-error", "the image file is missing, a folder, or cannot be read"},
    {ExitCode::kLibraryMissing, "library-missing",
     "library not loadable, or --emulate given a real one"},
    {ExitCode::kNotAnImage, "not-an-image",
     "no QS71 image or no job this station runs, or a key file refused; nothing sent"},
    {ExitCode::kInterrupted, "interrupted", "Ctrl-C: stopped after the step under way"},
    {ExitCode::kAborted, "aborted", "a second Ctrl-C: stopped at once, even mid-write"},
    {ExitCode::kBusy, "busy", "another process, of any user, holds the programmer"},
    {ExitCode::kLotComplete, "lot-complete", "the job's lot is made: no more parts of it"},
};

using PhaseSet = unsigned;

constexpr PhaseSet Bit(Phase phase) { return 1u << static_cast<unsigned>(phase); }
constexpr PhaseSet kAnyPhase = ~0u;
// No result code of the library is positive, so this stands for "any failure".
constexpr int32_t kAnyFailure = 1;

struct ExitRule {
  int32_t result;
  PhaseSet phases;
  ExitCode exit;
};

// First match wins. The image checks come before the write rule because the write step
// reads the image before it sends anything: a missing or mis-sized file leaves the part
// untouched, which the operator must be told apart from a write that broke off.
constexpr ExitRule kExitRules[] = {
    {QS71_OK, kAnyPhase, ExitCode::kOk},
    {QS71_E_BUSY, kAnyPhase, ExitCode::kBusy},
    // The programmer is there but cannot be held (its node cannot be opened, a system without
    // locks): for the operator the same as one that cannot be opened at all.
    {QS71_E_HOLD, kAnyPhase, ExitCode::kNoProgrammer},
    // Another device where the job's programmer was: the programmer is lost, whatever step.
    {QS71_E_REPLACED, kAnyPhase, ExitCode::kNoProgrammer},
    {QS71_E_TRANSPORT, Bit(Phase::kConnect), ExitCode::kNoProgrammer},
    {QS71_E_FILE, kAnyPhase, ExitCode::kFileError},
    {QS71_E_FILE_SIZE, kAnyPhase, ExitCode::kImageSize},
    {QS71_E_OTP_ID, kAnyPhase, ExitCode::kChip},
    {QS71_E_SIZE_CODE, kAnyPhase, ExitCode::kChip},
    {QS71_E_SYSTEM_AREA, Bit(Phase::kIdentify) | Bit(Phase::kBlankCheck), ExitCode::kChip},
    {QS71_E_NOT_BLANK, kAnyPhase, ExitCode::kNotBlank},
    {QS71_E_MISMATCH, Bit(Phase::kBlankCheck), ExitCode::kNotBlank},
    {QS71_E_MISMATCH, Bit(Phase::kVerify), ExitCode::kVerifyMismatch},
    // After a write, a system area that no longer passes its check is what was written.
    {QS71_E_SYSTEM_AREA, Bit(Phase::kVerify), ExitCode::kVerifyMismatch},
    {kAnyFailure, Bit(Phase::kWrite), ExitCode::kWriteFailed},
    {kAnyFailure, kAnyPhase, ExitCode::kProgrammerError},
};

bool Matches(const ExitRule& rule, int32_t result, Phase phase) {
  const bool resultMatches = rule.result == result || (rule.result == kAnyFailure && result != 0);
  return resultMatches && (rule.phases & Bit(phase)) != 0;
}

}  // namespace

const std::vector<ExitCodeInfo>& ExitCodeTable() { return kExitCodes; }

const ExitCodeInfo& DescribeExit(ExitCode code) {
  for (const ExitCodeInfo& info : kExitCodes) {
    if (info.code == code) return info;
  }
  return kExitCodes[static_cast<int>(ExitCode::kProgrammerError)];
}

ExitCode ExitCodeFor(int32_t result, Phase phase) {
  for (const ExitRule& rule : kExitRules) {
    if (Matches(rule, result, phase)) return rule.exit;
  }
  return ExitCode::kProgrammerError;
}

}  // namespace qs71prog
