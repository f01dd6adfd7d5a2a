#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/prog_options.h"
#include "job/job_report.h"
#include "job/programmer_choice.h"
#include "job/reporter.h"
#include "platform/writer_library.h"

namespace qs71prog {

// Where a part differs, after its blank check or verify failed: the programmer compares
// ranges (Qs71UsbCompareRange), never smaller than 256 bytes, and the search halves the ranges
// that differ until it knows the first failing 256-byte blocks.

constexpr uint32_t kBlockSize = 256;
constexpr size_t kMostBlocks = 16;

// One comparison: 0 the range matches, 1 it differs, negative a library result code, which
// ends the search.
using RangeCompare = std::function<int32_t(uint32_t start, uint32_t length)>;

struct FailingBlocks {
  std::vector<uint32_t> blocks;  // first address of each failing block, ascending
  bool complete = true;          // false: stopped at the limit, more blocks may differ
  int32_t failure = 0;           // the code of a comparison that failed, 0 when none did
  int comparisons = 0;
};

// The first `most` failing blocks of a part of `size` bytes (a multiple of 256) that is known
// to differ as a whole. Halves are compared left first; a right half whose left half matched
// must differ and is split without being compared, but a block is reported only when it was
// compared on its own and differed.
FailingBlocks LocateFailingBlocks(uint32_t size, const RangeCompare& compare,
                                 size_t most = kMostBlocks);

// "0x002300-0x0023FF": a block as a range of addresses, both ends included.
std::string BlockRange(uint32_t start);

// The part a search looks into, and with what.
struct PartSearch {
  const Options& options;
  const WriterLibrary& library;
  const ProgrammerLink& link;
  const std::vector<uint8_t>& image;  // the bytes the job programmed and verified
  const volatile int32_t* cancel;     // the job's cancel cell
  Reporter& reporter;
};

// After a run whose blank check or verify found a difference: locates it on the job's
// programmer, at that step's supply voltage, tells the user, and fills in outcome's blocks.
// Does nothing after any other outcome, or with --no-locate.
void LocateDifferences(const PartSearch& part, JobOutcome& outcome);

}  // namespace qs71prog
