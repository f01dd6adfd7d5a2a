#pragma once
// What qs71gen says beyond the chip tools' own listing goes to standard error, in the form that
// editors and CI logs recognise: "<script>:<line>: warning: <text>". Standard output stays
// exactly what it always was. Warnings are never counted, unless --strict makes each of them a
// counted error (then they read "error:" and the run ends with -3 and no image).
//
// The script is read twice, but each warning is given in one place only, so that a run says
// things in the order it meets them: pass 1 line by line (the script's encoding at line 1, a link
// at a rate that its wave file does not have), then at the end of pass 1 the line where reading
// stopped early and the sounds that no section links (in definition order), then pass 2 line by
// line (link rates the chip's clock cannot reach), last the image size.
//
// A counted error may also carry a detail: the operation that fails records why and how to mend
// it, and the reporter prints it on standard error beside its "*Error Line" line.

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

struct CompileState;

// What the warnings of one compile keep.
struct WarningState {
  bool strict = false;  // --strict
  int32_t strictCount = 0;
  std::string detail;  // of the error about to be reported
  std::unordered_set<std::string> warnedKeys;
  // Each warning given, by script line (0: the script as a whole), for the page of the image.
  std::vector<std::pair<int32_t, std::string>> given;
};

// --strict: every later warning is counted as an error.
void SetStrictWarnings(CompileState& s, bool strict);

// One warning for a script line (0: the script as a whole).
__attribute__((format(printf, 3, 4))) void Warn(CompileState& s, int32_t line, const char* fmt,
                                                 ...);

// As Warn, but only the first time in a run that `key` comes: one warning for something the
// script may name on many lines.
__attribute__((format(printf, 4, 5))) void WarnOnce(CompileState& s, const std::string& key,
                                                     int32_t line, const char* fmt, ...);

// Warnings counted as errors so far (only with --strict).
int32_t StrictWarningCount(CompileState& s);

// Records the detail of the error the current operation is about to return; the next shown
// error prints it, any other report drops it.
__attribute__((format(printf, 2, 3))) void SetErrorDetail(CompileState& s, const char* fmt, ...);

// Called by the reporter for each error it handles: prints the pending detail on standard error
// when the error is shown, and forgets it either way. True when a detail was printed.
bool TakeErrorDetail(CompileState& s, int32_t line, bool shown);

// "<script>:<line>: " as every message here starts, for messages of other kinds.
void PrintScriptPlace(CompileState& s, int32_t line);
