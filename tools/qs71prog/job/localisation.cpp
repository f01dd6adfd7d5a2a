#include "job/localisation.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "job/call_text.h"
#include "platform/host_system.h"
#include "platform/output_streams.h"
#include "qs71_emulator_control.h"
#include "qs71_usb_writer.h"
#include "shared_library.h"

namespace qs71prog {

namespace {

// Depth first, left half first, so that blocks are found in address order and the search
// can stop at the limit.
class BlockSearch {
 public:
  BlockSearch(const RangeCompare& compare, size_t most) : compare(compare), most(most) {}

  // Returns whether [start, start + length) was found to differ (or taken to differ).
  bool Search(uint32_t start, uint32_t length, bool knownToDiffer) {
    if (found.blocks.size() >= most) {
      found.complete = false;
      return false;
    }
    if (length == kBlockSize) return Leaf(start);
    if (!knownToDiffer && !Differs(start, length)) return false;
    const uint32_t half = length / kBlockSize / 2 * kBlockSize;
    const bool leftDiffers = Search(start, half, false);
    if (found.failure == 0) Search(start + half, length - half, !leftDiffers);
    return true;
  }

  Localisation Result() && { return std::move(found); }

 private:
  // A block is compared even when its sibling's match implies that it differs: a part that
  // reads differently from one pass to the next must not have a block named by inference.
  bool Leaf(uint32_t start) {
    if (!Differs(start, kBlockSize)) return false;
    found.blocks.push_back(start);
    return true;
  }

  bool Differs(uint32_t start, uint32_t length) {
    if (found.failure != 0) return false;
    ++found.comparisons;
    const int32_t result = compare(start, length);
    if (result < 0) {
      found.failure = result;
      found.complete = false;
    }
    return result > 0;
  }

  const RangeCompare& compare;
  size_t most;
  Localisation found;
};

// What the failed step compared the part with: an image, or a blank part.
struct FailedComparison {
  const char* image;  // nullptr: blank
  double vdd;
  const char* step;
};

std::optional<FailedComparison> ComparisonThatFailed(const Options& options,
                                                     const JobOutcome& outcome) {
  if (outcome.otpSize <= 0 || outcome.otpSize % kBlockSize != 0) return std::nullopt;
  const bool differs = outcome.result == QS71_E_NOT_BLANK || outcome.result == QS71_E_MISMATCH;
  if (differs && outcome.phase == Phase::kBlankCheck) {
    return FailedComparison{nullptr, options.Volts(Voltage::kBlankCheckVdd), "blank check"};
  }
  if (differs && outcome.phase == Phase::kVerify) {
    return FailedComparison{options.image.c_str(), options.Volts(Voltage::kVerifyVdd), "verify"};
  }
  return std::nullopt;
}

// Without a chip file the emulated programmer meets a fresh part on every call, so the part
// that failed would be gone before the first comparison. It is kept for the search in a
// scratch file, taken from the emulator as the job's call left it.
class KeptEmulatedPart {
 public:
  explicit KeptEmulatedPart(const SharedLibrary& library) {
    const char* chosen = std::getenv("QS71_EMU_OTP_FILE");
    const auto copy = library.Find<decltype(&Qs71EmuCopyOtp)>("Qs71EmuCopyOtp");
    if (copy == nullptr || (chosen != nullptr && *chosen != '\0')) return;
    std::vector<uint8_t> cells(copy(nullptr, 0));
    copy(cells.data(), static_cast<uint32_t>(cells.size()));
    std::error_code error;
    path = (std::filesystem::temp_directory_path(error) /
            ("qs71prog-part-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
             ".otp"))
               .string();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool kept = file != nullptr && std::fwrite(cells.data(), 1, cells.size(), file) ==
                                             cells.size();
    if (file != nullptr) std::fclose(file);
    if (kept) SetEnvironment("QS71_EMU_OTP_FILE", path);
  }
  ~KeptEmulatedPart() {
    if (path.empty()) return;
    SetEnvironment("QS71_EMU_OTP_FILE", "");
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  KeptEmulatedPart(const KeptEmulatedPart&) = delete;
  KeptEmulatedPart& operator=(const KeptEmulatedPart&) = delete;

 private:
  std::string path;
};

// One comparison on the programmer the job names, or on the first one found.
int32_t CompareRange(const SharedLibrary& library, const ProgrammerLink& link, CallText& text,
                     const FailedComparison& failed, uint32_t start, uint32_t length) {
  if (!link.named) {
    const auto verifyRange = library.Find<Qs71UsbVerifyRangeFunction>("Qs71UsbVerifyRange");
    return verifyRange(nullptr, start, length, failed.vdd, failed.image);
  }
  const auto verifyRangeOn =
      library.Find<Qs71UsbVerifyRangeOnFunction>("Qs71UsbVerifyRangeOn");
  return verifyRangeOn(link.path.c_str(), CallText::Receive, &text, nullptr, start, length,
                       failed.vdd, failed.image);
}

Localisation Search(const SharedLibrary& library, const ProgrammerLink& link,
                    const FailedComparison& failed, uint32_t size, Reporter& reporter) {
  // A named programmer's part stays in its socket between calls.
  std::optional<KeptEmulatedPart> kept;
  if (!link.named) kept.emplace(library);
  // The library prints only a step that failed; its lines go where the job's went.
  CallText text(!link.named,
                [&](const std::string& line, bool onStderr) { reporter.Line(line, onStderr); });
  text.Start();
  Localisation found = LocateFailingBlocks(size, [&](uint32_t start, uint32_t length) {
    const int32_t result = CompareRange(library, link, text, failed, start, length);
    text.Deliver();
    return result;
  });
  text.Stop();
  return found;
}

std::string Describe(const Localisation& found, const std::vector<std::string>& blocks) {
  std::string list;
  for (const std::string& block : blocks) list += (list.empty() ? "" : ", ") + block;
  const std::string count = std::to_string(blocks.size());
  if (found.failure != 0) {
    return "locating stopped, the programmer failed (" + std::to_string(found.failure) + ")" +
           (blocks.empty() ? "" : "; the part differs at least in " + list);
  }
  if (blocks.empty()) return "no 256-byte block differs when compared on its own";
  if (!found.complete) {
    return "the part differs in " + count + " blocks of 256 bytes, and the search stops there: " +
           list;
  }
  return "the part differs in " + count + (blocks.size() == 1 ? " block" : " blocks") +
         " of 256 bytes: " + list;
}

}  // namespace

Localisation LocateFailingBlocks(uint32_t size, const RangeCompare& compare, size_t most) {
  BlockSearch search(compare, most);
  if (size >= kBlockSize && size % kBlockSize == 0) search.Search(0, size, true);
  return std::move(search).Result();
}

std::string BlockRange(uint32_t start) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%06X-0x%06X", static_cast<unsigned>(start),
                static_cast<unsigned>(start + kBlockSize - 1));
  return text;
}

void LocateDifferences(const Options& options, const std::string& libraryPath,
                       const ProgrammerLink& link, JobOutcome& outcome, Reporter& reporter) {
  const std::optional<FailedComparison> failed = ComparisonThatFailed(options, outcome);
  if (!failed || !options.locate) return;
  SharedLibrary library;
  std::string error;
  const char* function = link.named ? "Qs71UsbVerifyRangeOn" : "Qs71UsbVerifyRange";
  if (!library.Open(libraryPath, error) || !library.Exports(function)) {
    reporter.Note("not locating where the part differs: " + libraryPath +
                  " cannot compare ranges (no " + function + ")");
    return;
  }
  reporter.Note(std::string("locating where the ") + failed->step +
                " failed: the programmer compares halves of the part down to 256-byte blocks");
  const Localisation found =
      Search(library, link, *failed, static_cast<uint32_t>(outcome.otpSize), reporter);
  outcome.located = true;
  outcome.failingBlocks.clear();
  for (uint32_t block : found.blocks) outcome.failingBlocks.push_back(BlockRange(block));
  outcome.allBlocksSearched = found.complete;
  reporter.Note(Describe(found, outcome.failingBlocks));
}

}  // namespace qs71prog
