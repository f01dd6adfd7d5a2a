#include "job/block_search.h"

#include <cstdio>
#include <optional>

#include "job/call_text.h"
#include "qs71_usb_writer.h"

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

  FailingBlocks Result() && { return std::move(found); }

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
  FailingBlocks found;
};

// What the failed step compared the part with: the image, or a blank part.
struct FailedComparison {
  bool withImage;
  double vdd;
  const char* step;
};

std::optional<FailedComparison> ComparisonThatFailed(const Options& options,
                                                     const JobOutcome& outcome) {
  if (outcome.otpSize <= 0 || outcome.otpSize % kBlockSize != 0) return std::nullopt;
  const bool differs = outcome.result == QS71_E_NOT_BLANK || outcome.result == QS71_E_MISMATCH;
  if (differs && outcome.phase == Phase::kBlankCheck) {
    return FailedComparison{false, options.Volts(Voltage::kBlankCheckVdd), "blank check"};
  }
  if (differs && outcome.phase == Phase::kVerify) {
    return FailedComparison{true, options.Volts(Voltage::kVerifyVdd), "verify"};
  }
  return std::nullopt;
}

// The part stays where the job left it: in its socket, or in the emulated programmer's chip
// file, which a job on the emulator always keeps (job/scratch_chip.h).
FailingBlocks Search(const PartSearch& part, const FailedComparison& failed, uint32_t size) {
  // The library prints only a step that failed; its lines go where the job's went.
  CallText text([&](const std::string& line) { part.reporter.Line(line, false); });
  Qs71RangeRequest request{};
  request.size = sizeof request;
  request.identity = part.link.Identity();
  request.vdd = failed.vdd;
  request.image = failed.withImage ? part.image.data() : nullptr;
  request.imageLength = failed.withImage ? static_cast<uint32_t>(part.image.size()) : 0;
  request.output = CallText::Receive;
  request.context = &text;
  request.cancel = part.cancel;
  FailingBlocks found = LocateFailingBlocks(size, [&](uint32_t start, uint32_t length) {
    request.start = start;
    request.length = length;
    Qs71JobResult result{};
    result.size = sizeof result;
    const int32_t code = part.library.CompareRange()(&request, &result);
    text.Deliver();
    return code;
  });
  text.Stop();
  return found;
}

std::string Describe(const FailingBlocks& found, const std::vector<std::string>& blocks) {
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

FailingBlocks LocateFailingBlocks(uint32_t size, const RangeCompare& compare, size_t most) {
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

void LocateDifferences(const PartSearch& part, JobOutcome& outcome) {
  const std::optional<FailedComparison> failed = ComparisonThatFailed(part.options, outcome);
  if (!failed || !part.options.locate) return;
  part.reporter.SearchingBlocks();
  part.reporter.Note(std::string("locating where the ") + failed->step +
                     " failed: the programmer compares halves of the part down to 256-byte "
                     "blocks");
  const FailingBlocks found = Search(part, *failed, static_cast<uint32_t>(outcome.otpSize));
  outcome.located = true;
  outcome.failingBlocks.clear();
  for (uint32_t block : found.blocks) outcome.failingBlocks.push_back(BlockRange(block));
  outcome.allBlocksSearched = found.complete;
  part.reporter.Note(Describe(found, outcome.failingBlocks));
}

}  // namespace qs71prog
