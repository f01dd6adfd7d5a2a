#pragma once
// Whether a file is an image of a QS71 part at all, judged by what every image the generator
// writes carries: the tag, the two decoding tables of the system area, a system area that a
// good part can verify against and whose factory cells the write leaves alone, section and
// group entries that agree with each other, links that all lie inside the image, and at least
// one section that plays. The inspector shows the verdict; the programming tool refuses to put
// anything that fails it on a part, since an OTP part takes one write only.

#include <cstdint>
#include <string>
#include <vector>

#include "group_table_scan.h"
#include "section_table_scan.h"

// In the order CheckImage tries them.
enum class ImageFault {
  kTooSmall,      // shorter than the 512-byte system area
  kTooLarge,      // beyond the chip address space
  kNoTag,         // no 5A A5 at TagPos
  kUlawTable,     // the u-law expansion table is not the generator's
  kStepTable,     // the ADPCM step table is not the generator's
  kSystemArea,    // no good part's system area matches the image's after masking
  kFactoryCell,   // a write would clear a factory bit of the system area
  kSectionTable,  // section entries that no image holds
  kGroupTables,   // group entries that disagree with the sections or leave the image
  kNothingPlays,  // no section has links
};

struct ImageProblem {
  ImageFault fault;
  std::string detail;  // what was found where, e.g. "0x03FFBE holds 00 00"
};

struct ImageVerdict {
  // Every check that failed, in the order above. A file too small or too large for a layout
  // is not looked into further.
  std::vector<ImageProblem> problems;
  // What the section table says; meaningful unless kSectionTable is among the problems.
  SectionTableScan sections;
  // What the group tables say; meaningful unless either table is among the problems.
  GroupTableScan groups;

  bool Ok() const { return problems.empty(); }
  // The problem of this check, or nullptr when it passed (or did not run).
  const ImageProblem* Find(ImageFault fault) const;
};

// The size faults alone, for a file whose size is known before it is read: a file that fails
// here need not be read at all.
ImageVerdict ImageSizeVerdict(int64_t size);

// Pure: looks at the bytes only. Any size is accepted; whether a part of that size exists is
// the caller's question. reading fixes GrpAdr or Offset instead of the detection.
ImageVerdict CheckImage(const std::vector<uint8_t>& image, const GroupReading& reading = {});

// One line for a person: the first problem, e.g. "no tag 5A A5 at TagPos (0x03FFBE holds 00 00)".
std::string ImageRefusal(const ImageVerdict& verdict);

// The same for one problem.
std::string ProblemText(const ImageProblem& problem);
