#pragma once
#include <cstdint>
#include <vector>

struct CompileState;

// A $FILL statement as pass 2 wrote it, for the checks after the pass.
struct FillRecord {
  int32_t line;
  int32_t address;
  std::vector<uint8_t> bytes;
};

// Two `.GLOBAL` statements whose literal has a small syntax of its own: $FILL patches raw
// bytes into the image in pass 2, $SCALING sets the factor the wave input applies to every
// sample. Both take the literal with its double quotes.

// `"1F00:12_34_AB"`: hex address, colon, two-digit byte groups separated by '_'. Writes at the
// raw file position (Offset is not applied) and leaves the stream where it was. 0, or
// ErrInternal for a malformed text (groups before the faulty one stay written); ErrWrite or
// ErrFilePosition when the image refuses.
//
// line is the statement's: every fill is remembered with it for the checks below, and a fill
// over bytes that the compile placed (the header, the section table, the group tables, the
// sound data) is warned about at once.
int FillData(CompileState& s, const char* literal, int32_t line = 0);

// After pass 2, once every fill is in place: each statement whose bytes clear a factory bit of
// the system area (format/system_area.h) is a counted ErrFactoryCell at its line. Returns the
// number of such errors.
int CheckFactoryCells(CompileState& s);

// After a clean pass 2: advice on standard error when the image's system area would spoil a
// part (the rule qs71prog's pre-flight applies), without counting it as a warning.
void AdviseSpoiledSystemArea(CompileState& s);

// For an image that came out longer than FileSize (or too long to measure): one error line on
// standard error for each fill that wrote past the end, at the fill's line.
void ExplainFillsPastEnd(CompileState& s);

// `"3/4"`: decimal numerator (may be empty) and a non-zero decimal denominator. 0 or
// ErrInternal; on failure Scale keeps its value.
int SetScale(CompileState& s, const char* literal);
