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

// What a warning about a sound says of it, for the page: each sound's card carries a badge for
// every kind of warning it has.
enum class SoundBadge { None, Clipped, Hum, SilenceLeft, TooQuiet, OverSplLimit };

// The badge's words on the page ("clipped", "hum", ...); empty for None.
const char* SoundBadgeText(SoundBadge badge);

// A warning as given, for the page: its line (0: the script as a whole), its text and, when it
// is about one sound, the sound's name as defined and its badge.
struct GivenWarning {
  int32_t line = 0;
  std::string text;
  std::string sound;
  SoundBadge badge = SoundBadge::None;
};

// What the warnings of one compile keep.
struct WarningState {
  bool strict = false;  // --strict
  int32_t strictCount = 0;
  std::string detail;  // of the error about to be reported
  std::unordered_set<std::string> warnedKeys;
  // Each warning given, in order, for the page of the image.
  std::vector<GivenWarning> given;
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

// Advice about the sounds themselves (levels, silence, space): always a warning, never counted,
// also with --strict, so that a script that compiled before compiles still.
__attribute__((format(printf, 3, 4))) void Advise(CompileState& s, int32_t line, const char* fmt,
                                                   ...);

// As Advise, about one sound (its name as defined), with the badge its card takes for it.
__attribute__((format(printf, 5, 6))) void AdviseSound(CompileState& s, int32_t line, const std::string& sound,
                                                        SoundBadge badge, const char* fmt, ...);

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
