// One programmer's loop of a production run: the socket watched, each part's job, its record
// before its first write and its verdict, and the programmer's losses and returns.
#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "job/programming_job.h"
#include "production/part_display.h"
#include "production/production_state.h"
#include "platform/host_system.h"
#include "qs71_usb_writer.h"

namespace qs71prog {

namespace {

// About twice a second: a part is noticed as soon as a person can tell, and the programmer
// is not kept busy with identifications.
constexpr std::chrono::milliseconds kPollInterval{500};
// How soon a wait notices Ctrl-C or another loop's --stop-on-fail.
constexpr std::chrono::milliseconds kStopCheck{25};

// A programmer gone is a person's job: plugging it in again (-20, no programmer; -64, another
// device where it was) or looking at it (any other code, a programmer error).
bool Unplugged(int32_t result) { return result == QS71_E_TRANSPORT || result == QS71_E_REPLACED; }

ExitCode LossExit(int32_t result) {
  return Unplugged(result) ? ExitCode::kNoProgrammer : ExitCodeFor(result, Phase::kIdentify);
}

enum class Socket { kPart, kEmpty, kNoChip, kLost };

// Where a wait for the socket ended: the run stops, the socket is as wanted, or, after the
// programmer came back, another part than the one the loop waited to see taken out is in it.
enum class Waited { kStopped, kReached, kAnotherPart };

// An empty socket reads FF FF FF FF: nothing drives the lines, they float high. Any other ID
// that is not a chip's (00 00 00 00: a part in crooked, its pins shorted or held low) means
// something sits in the socket that does not answer.
constexpr uint8_t kEmptySocketId[4] = {0xFF, 0xFF, 0xFF, 0xFF};
// How long a part may not answer before the operator is told to reseat it: a part being
// pushed in gives a bad ID or two on the way.
constexpr std::chrono::seconds kNoChipPatience{3};

void QS71_CDECL KeepText(void* context, const char* text) {
  if (context != nullptr && text != nullptr) *static_cast<std::string*>(context) += text;
}

// What an identification found.
struct Look {
  Socket socket = Socket::kEmpty;
  int32_t result = 0;
  std::string chipId;
  int32_t otpSize = 0;
  std::string text;  // the library's lines, on one line
};

// An identification only, on the loop's programmer and no other. A chip that answers but is
// not a good part (an unknown size code, a damaged system area) is in the socket all the
// same: its job fails and records it. A socket that reads the empty ID is empty; another ID
// that is no chip's is a part that does not answer. Anything else means the programmer itself
// has gone wrong: unplugged, replaced by another device at its port, held by another process
// since it came back, or no longer answering as it should.
Look LookIntoSocket(const Production& production, const Attached& programmer) {
  Look look;
  Qs71JobRequest request{};
  request.size = sizeof request;
  request.identity = programmer.link.Identity();
  request.output = KeepText;
  request.context = &look.text;
  Qs71JobResult identified{};
  identified.size = sizeof identified;
  look.result = production.library.Job()(&request, &identified);
  look.chipId = ChipIdText(identified.chipId);
  look.otpSize = identified.otpSize;
  while (!look.text.empty() && look.text.back() == '\n') look.text.pop_back();
  std::replace(look.text.begin(), look.text.end(), '\n', ' ');
  if (look.result == QS71_OK || look.result == QS71_E_SIZE_CODE ||
      look.result == QS71_E_SYSTEM_AREA) {
    look.socket = Socket::kPart;
  } else if (look.result == QS71_E_OTP_ID) {
    const bool empty = std::equal(std::begin(kEmptySocketId), std::end(kEmptySocketId),
                                  std::begin(identified.chipId));
    look.socket = empty ? Socket::kEmpty : Socket::kNoChip;
  } else {
    look.socket = Socket::kLost;
  }
  return look;
}

void LogEvent(Production& production, const Attached& programmer, const Look& look,
              const char* event, const std::string& status) {
  JobOutcome outcome;
  outcome.result = look.result;
  outcome.chipId = look.socket == Socket::kLost ? "" : look.chipId;
  PartRecord record = RecordOf(production, programmer, 0, outcome);
  record.exit = look.socket == Socket::kLost ? static_cast<int>(LossExit(look.result)) : 0;
  record.event = event;
  record.status = status;
  Log(production, record);
}

void Pause(const Production& production) {
  const auto until = std::chrono::steady_clock::now() + kPollInterval;
  while (!Stopping(production) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(kStopCheck);
  }
}

bool Listed(const std::vector<ProgrammerIdentity>& listed, const ProgrammerIdentity& programmer) {
  return std::any_of(listed.begin(), listed.end(), [&](const ProgrammerIdentity& other) {
    return SameDevice(other, programmer);
  });
}

// A lost loop's search for its programmer, across the polls: what it holds of it meanwhile,
// and the last refusal said, so that a busy programmer is named once and not every poll.
struct Search {
  std::optional<ProgrammerIdentity> held;
  std::string told;
};

// The device the registry lets the loop take back, held and claimed for it; false while there
// is none, another process holds it, or another loop got it first.
bool TakeBack(Production& production, const Attached& programmer, Search& search,
              const std::vector<ProgrammerIdentity>& listed) {
  const std::optional<ProgrammerIdentity> candidate =
      production.registry.Candidate(programmer.id, listed);
  if (!candidate) return false;
  std::string problem;
  if (production.hold.Take(*candidate, "programmer " + programmer.key, problem) != QS71_OK) {
    if (problem != search.told) production.board.Message(programmer.id, problem);
    search.told = problem;
    return false;
  }
  if (!production.registry.Claim(programmer.id, *candidate)) {
    production.hold.Let(*candidate);
    return false;
  }
  search.held = candidate;
  return true;
}

// The device the loop took back left again (or another is at its port) before it answered.
void GiveUp(Production& production, const Attached& programmer, Search& search) {
  production.hold.Let(*search.held);
  production.registry.Unclaim(programmer.id);
  search.held.reset();
}

// One poll of a lost loop: true once its programmer (the same device, or the one the registry
// lets it take back) answers again.
bool FoundAgain(Production& production, Attached& programmer, Search& search, Look& look) {
  std::vector<ProgrammerIdentity> listed;
  std::string problem;
  if (!ListProgrammers(production.library, listed, problem)) return false;
  TellDuplicates(production, listed);
  if (search.held && !Listed(listed, *search.held)) GiveUp(production, programmer, search);
  if (!search.held && !TakeBack(production, programmer, search, listed)) return false;
  programmer.link.identity = *search.held;
  look = LookIntoSocket(production, programmer);
  if (look.socket != Socket::kLost) return true;
  if (Unplugged(look.result)) GiveUp(production, programmer, search);
  return false;
}

// A lost programmer stays LOST until it is listed again and answers; false when the run ends
// first. Its hold is given up once, here, as it is declared lost; the device it comes back as
// is held afresh, like any new one.
bool WaitForReturn(Production& production, Attached& programmer, Look& look, LoopResult& loop) {
  const auto since = std::chrono::steady_clock::now();
  const bool cable = Unplugged(look.result);
  const std::string alarm = production.options.expectProgrammers > 0 ? "ALARM: " : "";
  const std::string hint = cable ? "LOST — check the USB cable" : "LOST — look at the programmer";
  production.board.Message(programmer.id, alarm + "lost (" + std::to_string(look.result) +
                                              "): " + look.text + "; " + hint);
  LogEvent(production, programmer, look, "lost", cable ? "check the USB cable" : "lost");
  production.board.Lost(programmer.id, hint);
  production.hold.Let(programmer.link.identity);
  production.registry.Lost(programmer.id);
  const int32_t lostWith = look.result;
  Search search;
  for (;;) {
    Pause(production);
    if (Stopping(production)) {
      loop.interrupted = InterruptCount() > 0;
      loop.stillLost = true;
      production.failures.Note(LossExit(lostWith), since);
      return false;
    }
    if (!FoundAgain(production, programmer, search, look)) continue;
    production.registry.Back(programmer.id);
    production.board.Message(programmer.id, "back: " + programmer.link.Path() +
                                                " answers again; its loop goes on");
    LogEvent(production, programmer, look, "back", "back");
    return true;
  }
}

// What a part in the socket holds, told by the programmer's own compare over the whole part.
enum class Holds { kImage, kBlank, kOther, kUnknown };

int32_t CompareRange(const Production& production, const Attached& programmer, uint32_t start,
                     uint32_t length, bool withImage) {
  std::string text;
  Qs71RangeRequest request{};
  request.size = sizeof request;
  request.identity = programmer.link.Identity();
  request.start = start;
  request.length = length;
  request.vdd = production.options.Volts(withImage ? Voltage::kVerifyVdd : Voltage::kBlankCheckVdd);
  request.image = withImage ? production.image.data() : nullptr;
  request.imageLength = withImage ? static_cast<uint32_t>(production.image.size()) : 0;
  request.output = KeepText;
  request.context = &text;
  Qs71JobResult result{};
  result.size = sizeof result;
  return production.library.CompareRange()(&request, &result);
}

Holds WhatItHolds(const Production& production, const Attached& programmer, int32_t otpSize) {
  if (otpSize <= 0 || static_cast<size_t>(otpSize) != production.image.size()) {
    return Holds::kUnknown;
  }
  const uint32_t size = static_cast<uint32_t>(otpSize);
  const int32_t image = CompareRange(production, programmer, 0, size, true);
  if (image == QS71_RANGE_MATCHES) return Holds::kImage;
  const int32_t blank =
      image == QS71_RANGE_DIFFERS ? CompareRange(production, programmer, 0, size, false) : image;
  if (blank == QS71_RANGE_MATCHES) return Holds::kBlank;
  return blank == QS71_RANGE_DIFFERS ? Holds::kOther : Holds::kUnknown;
}

// Whether a part holding this is, as far as the programmer can tell, the part of the verdict.
bool SameAsVerdict(const std::string& result, Holds holds) {
  if (holds == Holds::kUnknown || result == "untouched") return true;
  if (result == "pass" || result == "already") return holds == Holds::kImage;
  if (result == "unverified") return holds != Holds::kBlank;
  return holds == Holds::kOther;
}

std::string HoldsWords(Holds holds) {
  switch (holds) {
    case Holds::kImage: return "a part that holds this image";
    case Holds::kBlank: return "a blank part";
    default: return "a written part";
  }
}

std::string AnotherPartWords(Holds holds, const PartRecord& verdict) {
  return HoldsWords(holds) + " is in the socket, not part " + std::to_string(verdict.part);
}

// Back after a loss with a part in the socket that the tile gave a verdict of: the verdict
// shows again only for the part it was about. Another part (the old one taken out and a new
// one put in meanwhile) is said for what it holds, and goes through as the next part.
Waited AfterReturn(Production& production, const Attached& programmer, const Look& look,
                   const PartRecord* verdict) {
  if (verdict == nullptr || look.socket != Socket::kPart) {
    production.board.Back(programmer.id, "");
    return Waited::kReached;
  }
  const Holds holds = WhatItHolds(production, programmer, look.otpSize);
  // A part the lost programmer left untouched, blank still, is what the operator would put
  // through again: it goes through now, without being taken out first.
  if (verdict->result == "untouched" && holds == Holds::kBlank) {
    const std::string again = "part " + std::to_string(verdict->part) + " was left untouched";
    production.board.Back(programmer.id, again);
    production.board.Message(programmer.id, again + ": it goes through again");
    return Waited::kAnotherPart;
  }
  if (SameAsVerdict(verdict->result, holds)) {
    production.board.Back(programmer.id, "");
    return Waited::kReached;
  }
  const std::string now = AnotherPartWords(holds, *verdict);
  production.board.Back(programmer.id, now);
  production.board.Message(programmer.id, now + ": it goes through as the next part");
  return Waited::kAnotherPart;
}

// Where a part that holds the image shows it soonest: the unit of the image's first byte that a
// blank part cannot hold (the programmer compares whole units). Empty for an image that is
// blank all through.
struct Sample {
  uint32_t start = 0;
  uint32_t length = 0;
};
constexpr uint32_t kSampleUnit = 256;

Sample SampleOf(const std::vector<uint8_t>& image) {
  const auto written = std::find_if(image.begin(), image.end(), [](uint8_t b) { return b != 0xFF; });
  if (written == image.end()) return {};
  const auto start = static_cast<uint32_t>(written - image.begin()) / kSampleUnit * kSampleUnit;
  if (image.size() - start < kSampleUnit) return {};
  return {start, kSampleUnit};
}

// A part swapped at once (taken out and the next put in between two polls) leaves no empty
// socket to see. The chip's ID is every part's, so what tells them apart is what the part
// holds: a part whose verify matched the whole image still holds its sample, and a part that
// does not is another part. Failed parts are not judged so: what a failed part holds at any one
// place proves nothing.
Waited SwappedUnseen(Production& production, const Attached& programmer, const Look& look,
                     const PartRecord& verdict) {
  if (verdict.result != "pass" && verdict.result != "already") return Waited::kReached;
  const Sample sample = SampleOf(production.image);
  if (sample.length == 0 || look.otpSize <= 0 ||
      static_cast<size_t>(look.otpSize) != production.image.size()) {
    return Waited::kReached;
  }
  const int32_t compared = CompareRange(production, programmer, sample.start, sample.length, true);
  if (compared != QS71_RANGE_DIFFERS) return Waited::kReached;
  const std::string now =
      AnotherPartWords(WhatItHolds(production, programmer, look.otpSize), verdict);
  production.board.Message(programmer.id, now + ": it goes through as the next part");
  return Waited::kAnotherPart;
}

// Until the socket is as wanted. A part that does not answer is no part to wait for, and no
// longer the part that was to be taken out. verdict: the part the loop waits to see taken out.
Waited WaitFor(Production& production, Attached& programmer, Socket wanted, LoopResult& loop,
               const PartRecord* verdict) {
  std::chrono::steady_clock::time_point noChipSince{};
  bool told = false;
  for (;;) {
    if (Stopping(production)) {
      loop.interrupted = InterruptCount() > 0;
      return Waited::kStopped;
    }
    Look look = LookIntoSocket(production, programmer);
    if (look.socket == Socket::kLost) {
      if (!WaitForReturn(production, programmer, look, loop)) return Waited::kStopped;
      if (AfterReturn(production, programmer, look, wanted == Socket::kEmpty ? verdict : nullptr) ==
          Waited::kAnotherPart) {
        return Waited::kAnotherPart;
      }
    }
    if (look.socket == wanted || (wanted == Socket::kEmpty && look.socket == Socket::kNoChip)) {
      return Waited::kReached;
    }
    if (wanted == Socket::kEmpty && look.socket == Socket::kPart && verdict != nullptr &&
        SwappedUnseen(production, programmer, look, *verdict) == Waited::kAnotherPart) {
      return Waited::kAnotherPart;
    }
    const auto now = std::chrono::steady_clock::now();
    if (look.socket != Socket::kNoChip) {
      if (told) production.board.SocketEmpty(programmer.id);
      noChipSince = {};
      told = false;
    } else if (noChipSince == std::chrono::steady_clock::time_point{}) {
      noChipSince = now;
    } else if (!told && now - noChipSince >= kNoChipPatience) {
      told = true;
      production.board.Reseat(programmer.id);
      LogEvent(production, programmer, look, "reseat", "no chip answers — reseat the part");
    }
    Pause(production);
  }
}

// What became of a part, in the log's words: its result, and what to do with it.
struct PartFate {
  const char* result;
  std::string status;
  bool numbered;  // it keeps its part number: it was written, or judged on its own merits
};

// A part is scrap once its write began or it failed a check of the part itself; one the job
// stopped before touching (an image that does not fit it, a programmer gone before the write,
// a log that could not record it, an interruption before its write) goes back on the pile. A
// part cut short before its blank check ended may have been written by some earlier run: the
// next blank check judges it.
PartFate FateOf(const JobOutcome& outcome, const Selection& selection) {
  const bool written = outcome.stepsRun[StageOfPhase(Phase::kWrite)];
  if (outcome.already) return {"already", "already holds this image — take it out", false};
  if (outcome.exit == ExitCode::kOk) {
    return selection.verify ? PartFate{"pass", "ok", true}
                            : PartFate{"unverified", "written, not verified", true};
  }
  const std::string name = DescribeExit(outcome.exit).name;
  if (outcome.exit == ExitCode::kAborted || outcome.exit == ExitCode::kInterrupted) {
    if (written) return {"aborted", name + " — reject the part", true};
    const bool checked = !selection.blankCheck || outcome.phase > Phase::kBlankCheck;
    return checked ? PartFate{"untouched", name + " — part untouched — use it again", false}
                   : PartFate{"untouched", name + " — cut short before its blank check ended — "
                                                  "put it through again", false};
  }
  // A programmer lost once the write was done (its verify could not run, or not to its end)
  // leaves a part that holds what was written: it is to be verified, not scrapped. The job
  // stops at its first failing step, so a failing verify step had a write that ended well.
  const bool lost = outcome.exit == ExitCode::kNoProgrammer ||
                    outcome.exit == ExitCode::kProgrammerError;
  if (written && lost && outcome.step == Phase::kVerify) {
    return {"unverified", "written, not verified — verify it", true};
  }
  constexpr ExitCode kPartChecks[] = {ExitCode::kChip, ExitCode::kNotBlank,
                                      ExitCode::kWriteFailed, ExitCode::kVerifyMismatch};
  const bool judged = std::find(std::begin(kPartChecks), std::end(kPartChecks), outcome.exit) !=
                      std::end(kPartChecks);
  const std::string cable = Unplugged(outcome.result) ? "check the USB cable; " : "";
  if (written || judged) return {"fail", name + " — " + cable + "reject the part", true};
  return {"untouched", name + " — " + cable + "part untouched — use it again", false};
}

void LotComplete(Production& production, const LotState& state) {
  production.stopAll = true;
  if (!production.lotComplete.exchange(true)) production.board.RunMessage(LotEndText(state));
}

// The status line: the lot as the trace has it, and what a line's trace has not got yet.
void ShowStatus(Production& production, const LotState& state) {
  const std::string lot = LotLine(state);
  const std::string backlog = production.trace.Waiting();
  production.board.Status(lot + (lot.empty() || backlog.empty() ? "" : "; ") + backlog);
}

// A trace that cannot serve the run ends it with its own reason, not the log's.
void TraceFailed(Production& production, const std::string& problem) {
  production.traceFailed = true;
  LogFailed(production, problem);
}

// The part's number from the trace: unique per job over every run and station sharing it.
// None when the lot needs no more parts from this station, and the run ends; the part in the
// socket stays untouched. While a line's server is away and the reserve is empty, the loop
// waits for the server.
bool TakePartNumber(Production& production, const Attached& programmer, int& part) {
  LotState state;
  std::string problem;
  NumberTaken taken = NumberTaken::kWaiting;
  while ((taken = production.trace.TakeNumber(production.logFloor, part, state, problem)) ==
         NumberTaken::kWaiting) {
    production.board.Status(production.trace.WaitingForNumbers());
    Pause(production);
    if (Stopping(production)) return false;
  }
  if (taken == NumberTaken::kFailed) {
    TraceFailed(production, problem);
    return false;
  }
  ShowStatus(production, state);
  if (taken == NumberTaken::kTaken) return true;
  LotComplete(production, state);
  production.board.Activity(programmer.id, "lot complete: part not written — take it out", false);
  return false;
}

// The lot as the trace has it now, every station's parts in it, on the status line; false
// when the trace cannot say, which ends the run.
bool ShowLot(Production& production, LotState& state) {
  std::string problem;
  if (!production.trace.Lot(state, problem)) {
    TraceFailed(production, problem);
    return false;
  }
  ShowStatus(production, state);
  return true;
}

// Parts a stopped run of this station left under way, that this run's loops have not met yet:
// the lot counts them as under way, and this run is the one to judge them.
bool LeftPartsToMeet(Production& production) {
  std::lock_guard<std::mutex> lock(production.numbers);
  return std::any_of(production.leftParts.begin(), production.leftParts.end(),
                     [](const auto& left) { return !left.second.empty(); });
}

// Before a loop waits for its next part: a lot with no part left for this station ends the
// run now, instead of waiting for a part it may not make; but not before the run has met the
// parts its station left under way, whose verdicts may give the lot its room back.
bool LotDone(Production& production) {
  if (production.options.lot == 0) return false;
  if (LeftPartsToMeet(production)) return false;
  LotState state;
  if (!ShowLot(production, state)) return true;
  const bool done = production.trace.LotDone(state);
  if (done) LotComplete(production, state);
  return done;
}

void UseNumber(Production& production, const std::string& key, int part) {
  std::lock_guard<std::mutex> lock(production.numbers);
  production.lastParts[key] = std::max(production.lastParts[key], part);
}

// The part's row before its first write, on the disk before the write begins: a crash from
// here on leaves a started part without an end, which the next run reports. A part that
// cannot be recorded is not made.
bool RecordStart(Production& production, const Attached& programmer, int part,
                 JobOutcome& outcome) {
  PartRecord record = RecordOf(production, programmer, part, outcome);
  record.event = "started";
  record.status.clear();
  record.exit = 0;
  record.code = 0;
  std::string missed;
  if (!Log(production, record, &missed)) {
    outcome.exit = ExitCode::kFileError;
    outcome.problem = "the part was not written: " + missed + " cannot be written";
    return false;
  }
  UseNumber(production, programmer.key, part);
  outcome.startRecorded = true;
  production.board.PartNumbered(programmer.id, part);
  return true;
}

// The number a stopped run left under way on this programmer, when the part now in its socket
// was written before (it holds the image, or it is not blank): that part is the one the run
// left, and its verdict closes that number instead of taking a new one.
bool TakeLeftPart(Production& production, const Attached& programmer, const JobOutcome& outcome,
                  int& number) {
  if (!outcome.already && outcome.exit != ExitCode::kNotBlank) return false;
  std::lock_guard<std::mutex> lock(production.numbers);
  std::deque<int>& left = production.leftParts[programmer.key];
  if (left.empty()) return false;
  number = left.front();
  left.pop_front();
  return true;
}

PartRecord LeftPartRecord(Production& production, const Attached& programmer, int part,
                          int left, const JobOutcome& outcome) {
  production.trace.GiveBack(part);
  PartRecord record = RecordOf(production, programmer, left, outcome);
  record.event = "part";
  if (outcome.already) {
    record.result = "pass";
    record.status = "ok — verified: the part a stopped run left under way";
  } else {
    record.result = "fail";
    record.status = std::string(DescribeExit(outcome.exit).name) +
                    " — left half-written by a run that stopped — reject the part";
    record.failedStep = PhaseTitle(outcome.phase);
  }
  UseNumber(production, programmer.key, left);
  return record;
}

PartRecord VerdictRecord(Production& production, const Attached& programmer, int part,
                         const JobOutcome& outcome) {
  int left = 0;
  if (TakeLeftPart(production, programmer, outcome, left)) {
    return LeftPartRecord(production, programmer, part, left, outcome);
  }
  const PartFate fate = FateOf(outcome, production.options.selection);
  // A number whose started row is in the trace is that attempt's, even of a part left
  // untouched: given back, it would be taken again and meet its own row.
  const bool numbered = fate.numbered || outcome.startRecorded;
  PartRecord record = RecordOf(production, programmer, numbered ? part : 0, outcome);
  record.result = fate.result;
  record.status = fate.status;
  record.event = outcome.already ? "already" : "part";
  if (std::string(fate.result) == "fail") record.failedStep = PhaseTitle(outcome.phase);
  if (numbered) {
    UseNumber(production, programmer.key, part);
  } else {
    production.trace.GiveBack(part);
  }
  return record;
}

// One part's job, shown and logged as the job finishes; a part that a second interruption
// cut short is logged with the steps it had.
PartRecord RunOnePart(Production& production, const Attached& programmer, int part,
                      LoopResult& loop) {
  PartRecord record;
  PartDisplay display(production.board, programmer.id,
                      [&](const JobOutcome& outcome, const std::vector<std::string>& story) {
                        record = VerdictRecord(production, programmer, part, outcome);
                        std::string missed;
                        const bool logged = Log(production, record, &missed);
                        const bool quiet = record.result == "pass" || record.result == "already";
                        production.board.PartDone(record, quiet ? std::vector<std::string>() : story);
                        if (!logged && record.result == "pass") production.board.NotLogged(record, missed);
                      });
  const JobOutcome outcome = RunPartJob(
      {production.options, production.library, programmer.link, production.job, production.image,
       display, [&](JobOutcome& running) {
         if (!RecordStart(production, programmer, part, running)) return false;
         display.Numbered(part);
         return true;
       }});
  if (outcome.exit == ExitCode::kAborted) loop.aborted = true;
  if (outcome.exit != ExitCode::kOk && outcome.exit != ExitCode::kInterrupted) {
    production.failures.Note(outcome.exit);
  }
  return record;
}

}  // namespace

bool Stopping(const Production& production) {
  return InterruptCount() > 0 || production.stopAll.load();
}

void TellDuplicates(Production& production, const std::vector<ProgrammerIdentity>& listed) {
  for (const std::string& serial : production.registry.UntoldDuplicates(listed)) {
    production.board.RunMessage(DuplicateSerialWords(serial));
  }
}

PartRecord RecordOf(const Production& production, const Attached& programmer, int part,
                    const JobOutcome& outcome) {
  PartRecord record;
  record.time = UtcTimestamp(std::chrono::system_clock::now());
  record.host = production.host;
  record.programmer = programmer.id;
  record.programmerPath = programmer.link.Path();
  record.programmerSerial = programmer.Serial();
  record.programmerKey = programmer.key;
  record.part = part;
  record.chipId = outcome.chipId;
  record.otpSize = outcome.otpSize;
  record.image = production.options.image;
  record.sha256 = production.job.sha256;
  record.exit = static_cast<int>(outcome.exit);
  record.status = DescribeExit(outcome.exit).name;
  record.seconds = outcome.seconds;
  for (int stage = kFirstStage; stage <= kLastStage; ++stage) {
    if (outcome.stepsRun[stage]) record.stepSeconds[stage] = outcome.stepSeconds[stage];
  }
  record.blocks = outcome.failingBlocks;
  record.run = production.run;
  record.station = production.station;
  record.operatorName = production.options.operatorName;
  record.code = outcome.result;
  return record;
}

bool Log(Production& production, const PartRecord& record, std::string* missed) {
  std::string traceProblem;
  std::string logProblem;
  const bool traced = production.trace.Record(record, traceProblem);
  if (!traced) production.traceFailed = true;
  // A part's verdict goes into the log even where the trace could not take it: the part was
  // made, and is then in one record at least. Any other row stops at the trace.
  const bool tried = traced || record.event == "part" || record.event == "already";
  const bool logged = !production.log.IsOpen() || (tried && production.log.Append(record, logProblem));
  if (missed != nullptr) {
    *missed = !traced && !logged ? "the trace and the log" : !traced ? "the trace" : !logged ? "the log" : "";
  }
  if (traced && logged) return true;
  LogFailed(production, traced ? logProblem : traceProblem);
  return false;
}

void LogFailed(Production& production, const std::string& problem) {
  production.stopAll = true;
  if (!production.logFailed.exchange(true)) {
    production.endReason = problem;
    production.failures.Note(ExitCode::kFileError);
    production.board.RunMessage(problem + "; the run ends");
  }
}

LoopResult RunLoop(Production& production, Attached programmer) {
  LoopResult loop;
  ProductionDisplay& board = production.board;
  const int count = production.options.count;
  for (int made = 0; count == 0 || made < count;) {
    if (LotDone(production)) break;
    board.Activity(programmer.id, "waiting for a part", false);
    if (WaitFor(production, programmer, Socket::kPart, loop, nullptr) == Waited::kStopped) break;
    std::string problem;
    if (production.log.IsOpen() && !production.log.StillInPlace(problem)) {
      LogFailed(production, problem);
      break;
    }
    if (!production.trace.StillInPlace(problem)) {
      TraceFailed(production, problem);
      break;
    }
    int part = 0;
    if (!TakePartNumber(production, programmer, part)) break;
    // The number shows once the part's started row holds it: until then it may go back.
    board.PartStarted(programmer.id, 0);
    board.Activity(programmer.id, "a part in the socket", false);
    const PartRecord record = RunOnePart(production, programmer, part, loop);
    ++loop.results[record.result];
    // The status line counts the part as soon as it has its verdict, whatever comes next.
    LotState lot;
    if (production.options.lot != 0 && record.part > 0) ShowLot(production, lot);
    ++made;  // --count counts the parts through the socket, whatever became of them
    const bool failed = record.result == "fail" || record.result == "aborted";
    if (failed && production.options.stopOnFail && !production.stopAll.exchange(true)) {
      production.stoppedOnFail = true;
    }
    if (loop.aborted || Stopping(production)) {
      loop.interrupted = InterruptCount() > 0;
      break;
    }
    if (count != 0 && made >= count) break;
    board.Activity(programmer.id, "take the part out", false);
    const Waited out = WaitFor(production, programmer, Socket::kEmpty, loop, &record);
    if (out == Waited::kStopped) break;
    if (out == Waited::kReached) board.SocketEmpty(programmer.id);
  }
  return loop;
}

}  // namespace qs71prog
