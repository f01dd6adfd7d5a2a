#include "driver.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clock_divider.h"
#include "audio/sound_import.h"
#include "command_line.h"
#include "compile_state.h"
#include "error_report.h"
#include "ascii_case.h"
#include "file_system.h"
#include "output_writer.h"
#include "image/fill_scale.h"
#include "image/image_file.h"
#include "image_finishing.h"
#include "link_map.h"
#include "name_tables.h"
#include "output_file.h"
#include "played_sound_checks.h"
#include "project_settings.h"
#include "script/scanner.h"
#include "script/statements.h"
#include "sound_pressure.h"
#include "sound_report.h"
#include "text_format.h"
#include "warnings.h"
#include "watched_compile.h"

namespace {

const char* const kBanner[] = {
    "======================================================",
    "-               Generator for QS71 OTP               -",
    "- Ver 0.8b                                2015.06.23 -",
    "------------------------------------------------------",
};

const CompileRoutes kNoRoutes;

const CompileRoutes& RoutesOf(const CompileState& s) { return s.Routes != nullptr ? *s.Routes : kNoRoutes; }

// A run given no route for an option (a test, a fuzzer) refuses it.
int NoRoute(CompileState& s, const char* option) {
  std::fprintf(s.Err, "qs71gen: %s runs only in the program qs71gen\n", option);
  return -2;
}

// The script sees the command line without the options: %1 is always the script name. A
// project gives the names when the command line gives none.
void KeepArguments(CompileState& s, int argc, const char* const* argv, int scriptIndex, const ProjectFile& project) {
  s.ArgCount = argc - scriptIndex + 1;
  s.Args[0] = argv[0] != nullptr ? argv[0] : "qs71gen";
  for (int i = 1; i < s.ArgCount && i < kMaxArgs; ++i) s.Args[i] = argv[scriptIndex + i - 1];
  if (project.path.empty() || s.ArgCount > 1) return;
  std::vector<std::string> names = {project.script, project.image};
  names.insert(names.end(), project.parameters.begin(), project.parameters.end());
  s.ArgCount = static_cast<int32_t>(names.size()) + 1;
  for (size_t i = 0; i < names.size(); ++i) s.Args[i + 1] = names[i];
}

// What only a project holds: the settings per sound, the part size, the folder of the wave files.
void TakeProjectSettings(CompileState& s, const ProjectFile& project) {
  if (project.path.empty()) return;
  for (const SoundSettings& own : project.sounds) {
    s.Prep.own.insert_or_assign(AsciiLowerCopy(own.name), own);
    s.Prep.options.perSound = s.Prep.options.perSound || own.Prepares();
  }
  s.PartSize = project.partSize;
  s.SoundFolder = project.folder;
}

void CloseStream(FILE*& stream) {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
}

// "script-file %s open error\n" and its line end, then release; the name may be missing.
int OpenFailure(CompileState& s, const char* what, int index) {
  const char* name = index < s.ArgCount ? s.Args[index].c_str() : "(missing)";
  std::fprintf(s.Out, "%s-file %s open error\n\n", what, name);
  // Fewer than two names (as in "qs71gen script.qs"): the open failure, then how to call it.
  if (s.ArgCount < 3) std::fprintf(s.Out, "%s", kGenUsage);
  ReleaseAll(s);
  return -2;
}

// A text-mode read that stops at a Ctrl-Z drops every line after it without a word; the script
// is read as bytes once more to find such a line.
void WarnTextAfterCtrlZ(CompileState& s) {
  if (!TextReadsStopAtCtrlZ() || IdentifyFile(s.Args[1].c_str()).kind != FileKind::Regular) return;
  std::string bytes;
  if (!ReadFileBytes(s.Args[1], &bytes)) return;
  const int line = LineCutByCtrlZ(bytes);
  if (line == 0) return;
  std::fprintf(s.Err, "qs71gen: warning: %s:%d: a Ctrl-Z byte ends the script there on Windows, and "
               "the lines after it are not compiled: remove the byte\n", s.Args[1].c_str(), line);
}

// The image into standard output (/dev/stdout into a pipe, a redirection to the image's own
// name): a listing there would be mixed into the image's bytes, so the listing goes to standard
// error, and standard output carries the image alone.
void KeepListingOutOfImage(CompileState& s) {
  if (StreamIsImage(s.Out, s.Args[2])) s.Out = s.Err;
}

// Text mode, as the chip tools read it: on Windows that ends the script at a Ctrl-Z byte, which
// scripts written by DOS editors carry at their end, so it is only said when text follows it.
// A watch never waits on its script: one that is briefly a FIFO would hold the open until a
// writer came. (Windows, where text mode differs, has no FIFO in a folder.)
FILE* OpenScript(const CompileState& s) {
  if (s.Watched == nullptr || TextReadsStopAtCtrlZ()) return std::fopen(s.Args[1].c_str(), "rt");
  FileKind kind = FileKind::Missing;
  return OpenRegularFile(s.Args[1].c_str(), &kind);
}

bool OpenStreams(CompileState& s, const GenOptions& options) {
  if (s.ArgCount > 1) s.Script = OpenScript(s);
  if (s.Script == nullptr) return OpenFailure(s, "script", 1), false;
  WarnTextAfterCtrlZ(s);
  // An empty name can never be renamed onto; say so before the compile, as for any output.
  if (s.ArgCount > 2 && s.Args[2].empty()) {
    std::fprintf(s.Err, "qs71gen: the image output's name is empty; give the image file after the script name\n");
    return OpenFailure(s, "output", 2), false;
  }
  if (s.ArgCount > 2 && OpenImageOutput(s, {s.Args[2], options.failedImage, options.map, s.Args[1], options.html, options.project})) {
    KeepListingOutOfImage(s);
    return true;
  }
  return OpenFailure(s, "output", 2), false;
}

// What follows --rates: only a number is taken as its value, so a word ("--rates abc") is left
// where a script name would be; --rates compiles nothing, so every such word is a mistyped rate.
std::string RatesText(int argc, const char* const* argv, const GenOptions& options) {
  std::string text = options.ratesNear;
  for (int i = options.scriptIndex; i < argc; ++i) text += (text.empty() ? "" : " ") + std::string(argv[i]);
  return text;
}

// --rates with the main clock every script starts from.
int AnswerRates(CompileState& s, const std::string& near) {
  std::vector<int32_t> rates;
  if (!near.empty()) {
    char* end = nullptr;
    const long rate = std::strtol(near.c_str(), &end, 10);
    if (*end != '\0' || rate < 1 || rate > INT32_MAX) {
      std::fprintf(s.Err, "qs71gen: --rates takes a rate in Hz, not %s\n", near.c_str());
      return -2;
    }
    rates.push_back(static_cast<int32_t>(rate));
  }
  std::fprintf(s.Out, "%s", PlayableRatesText(ScriptState{}.MainClk, rates).c_str());
  return 0;
}

bool TakePreparationOptions(CompileState& s, const GenOptions& options, std::string* error) {
  PreparationOptions& p = s.Prep.options;
  if (!ParsePreparationValues({options.loudness, options.trim, options.highpass, options.limit}, &p, error)) return false;
  p.resample = options.resample;
  p.dither = options.dither;
  p.keepDir = options.keepPrepared;
  if (!p.keepDir.empty() && IdentifyFile(p.keepDir.c_str()).kind != FileKind::Folder) {
    return *error = "--keep-prepared " + p.keepDir + " is not a folder", false;
  }
  return true;
}

// The project's settings with the command line's options over them.
bool TakeProject(CompileState& s, int argc, const char* const* argv, GenOptions* options, ProjectFile* project) {
  std::string error;
  if (RoutesOf(s).readProject == nullptr) return NoRoute(s, "--project"), false;
  if (!RoutesOf(s).readProject(options->project, project, &error)) {
    return std::fprintf(s.Err, "qs71gen: %s\n", error.c_str()), false;
  }
  const char* missing = project->script.empty() ? "script" : project->image.empty() ? "image" : nullptr;
  if (options->scriptIndex >= argc && missing != nullptr) {
    std::fprintf(s.Err, "qs71gen: %s names no %s and the command line none either: give %s = \"NAME\"\n",
                 project->path.c_str(), missing, missing);
    return false;
  }
  GenOptions merged = project->options;
  ParseGenOptions(argc, argv, &merged, &error);
  *options = merged;
  return true;
}

// Options that end the run before any file is touched; -1 when the run goes on.
int AnswerOptions(CompileState& s, int argc, const char* const* argv, GenOptions* options, ProjectFile* project) {
  std::string error;
  if (!ParseGenOptions(argc, argv, options, &error)) {
    std::fprintf(s.Err, "qs71gen: %s (qs71gen --help lists the options)\n", error.c_str());
    return -2;
  }
  if (options->help) return std::fprintf(s.Out, "%s", kGenHelp), 0;
  if (!options->initProject.empty()) {
    if (RoutesOf(s).initProject == nullptr) return NoRoute(s, "--init-project");
    return RoutesOf(s).initProject(s, options->initProject, argc, argv, options->scriptIndex);
  }
  if (!options->project.empty() && !TakeProject(s, argc, argv, options, project)) return -2;
  if (!TakePreparationOptions(s, *options, &error) ||
      !ParseSplSettings(options->spl, options->splLimit, &s.Reports.spl, &error)) {
    std::fprintf(s.Err, "qs71gen: %s (qs71gen --help lists the options)\n", error.c_str());
    return -2;
  }
  if (options->version) return std::fprintf(s.Out, "qs71gen %s\n", QS71_VERSION), 0;
  if (options->rates) return AnswerRates(s, RatesText(argc, argv, *options));
  return -1;
}

// An option written after the script name is the script's parameter, as it always was; a
// mistyped command line should not pass unnoticed.
void WarnOptionsOutOfPlace(CompileState& s, int argc, const char* const* argv, int scriptIndex) {
  for (int i = scriptIndex + 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0 || !IsGenOption(arg)) continue;
    const int parameter = i - scriptIndex + 1;
    if (parameter == 2) {
      std::fprintf(s.Err, "qs71gen: warning: the image output's name, %s, is a qs71gen option; the image goes to "
                   "a file of that name; options go before the script name\n", arg.c_str());
      continue;
    }
    std::fprintf(s.Err, "qs71gen: warning: parameter %d, %s, is a qs71gen option but comes after the "
                 "script name, so it only goes to the script as %%%d; options go before the script name\n",
                 parameter, arg.c_str(), parameter);
  }
}

// The status of a compile that a scanner limit stopped in the middle of a pass: its message
// alone on standard error, after everything listed so far, and no image.
constexpr int kScannerStopped = 2;

int RunPass(CompileState& s, int pass) {
  if (!ScannerReset(s, s.Script)) return 1;
  Init_yylex(s, pass);
  return ParsePass(s);
}

int StopAtScannerLimit(CompileState& s) {
  std::fflush(s.Out);
  std::fprintf(s.Err, "%s\n", ScannerFailure(s));
  ImageFillBlanks(ImageOf(s));  // a failed image may be kept: blank where nothing was written
  SettleImageOutput(s, 1, true);
  ReleaseAll(s);
  return kScannerStopped;
}

// What a finishing step found, in the style of the size messages.
void PrintFinishingError(CompileState& s, const FinishingError& error) {
  if (error.text.empty()) return;
  s.Reports.errors.push_back(Format("Errors: %s.", error.text.c_str()));
  std::fprintf(s.Out, "\nErrors: %s. \n\n", error.text.c_str());
  if (error.detail) TakeErrorDetail(s, 0, true);
  if (error.fillsPastEnd) ExplainFillsPastEnd(s);
}

int Finish(CompileState& s, int passResult, const GenOptions& options) {
  SettleSoundMeasures(s);
  if (passResult == 0 && ImageLength(ImageOf(s)) >= 0) {
    FinishingError error;
    passResult = CheckSizeLimits(s, passResult, &error);
    PrintFinishingError(s, error);
  }
  FinishingError error;
  passResult = CheckFileSizeAndPad(s, passResult, &error);
  PrintFinishingError(s, error);
  if (passResult == 0) CheckPlayedSounds(s);
  passResult += StrictWarningCount(s);
  if (passResult != 0) WarnSpaceBudget(s);
  // A failed compile's map shows where the bytes went; it never makes the run succeed or fail.
  if (passResult != 0 && !options.map.empty()) WriteFailedMap(s, options.map);
  if (passResult != 0 && !options.html.empty()) RoutesOf(s).failedPage(s, options.html);
  if (passResult == 0 && !options.map.empty()) passResult = WriteImageMap(s, options.map);
  if (passResult == 0 && !options.html.empty()) passResult = RoutesOf(s).page(s, options.html);
  passResult = SettleImageOutput(s, passResult);
  std::fprintf(s.Out, "\nComplete with %d Errors \n\n", passResult);
  ReleaseAll(s);
  return passResult == 0 ? 0 : -3;
}

// A watched compile: the watch needs the project among the inputs, the server a page.
void TakeWatchRequests(CompileState& s, GenOptions* options) {
  if (!options->project.empty()) s.Watched->inputs.push_back(options->project);
  if (options->html.empty()) options->html = s.Watched->page;
}

// The watch or the fit that the options ask for instead of a compile; -1 when they ask for
// neither, and the compile has every route it needs.
int RunRoute(CompileState& s, int argc, const char* const* argv, GenOptions* options, const ProjectFile& project) {
  const CompileRoutes& routes = RoutesOf(s);
  if ((options->watch || options->serve) && s.Watched == nullptr) {
    if (routes.watch == nullptr) return NoRoute(s, options->serve ? "--serve" : "--watch");
    return routes.watch(argc, argv, *options, routes, s.Out, s.Err);
  }
  if (s.Watched != nullptr) TakeWatchRequests(s, options);
  if (!options->html.empty() && (routes.page == nullptr || routes.failedPage == nullptr)) return NoRoute(s, "--html");
  if (options->fit.empty()) return -1;
  if (routes.fit == nullptr) return NoRoute(s, "--fit");
  return routes.fit(s, argc, argv, *options, project);
}

// Settings, streams and banner once the options are taken: false when a file cannot be opened.
bool BeginCompile(CompileState& s, int argc, const char* const* argv, const GenOptions& options,
                  const ProjectFile& project) {
  SetStrictWarnings(s, options.strict);
  s.AdpcmQuality = options.adpcmQuality;
  s.Reports.codecCosts = !options.map.empty();
  KeepArguments(s, argc, argv, options.scriptIndex, project);
  TakeProjectSettings(s, project);
  WarnOptionsOutOfPlace(s, argc, argv, options.scriptIndex);
  if (!OpenStreams(s, options)) return false;
  for (const char* line : kBanner) std::fprintf(s.Out, "%s\n", line);
  return true;
}

int Compile(CompileState& s, int argc, const char* const* argv) {
  GenOptions options;
  ProjectFile project;
  const int answered = AnswerOptions(s, argc, argv, &options, &project);
  if (answered != -1) return answered;
  const int routed = RunRoute(s, argc, argv, &options, project);
  if (routed != -1) return routed;
  if (!BeginCompile(s, argc, argv, options, project)) return -2;
  int passResult = RunPass(s, 1);
  if (ScannerFailure(s) != nullptr) return StopAtScannerLimit(s);
  if (!OutputSparesWaveFiles(s)) return OpenFailure(s, "output", 2);
  if (passResult == 0) {
    passResult = RunPass(s, 2);
    if (ScannerFailure(s) != nullptr) return StopAtScannerLimit(s);
    passResult += CheckFactoryCells(s);
    if (passResult == 0) AdviseSpoiledSystemArea(s);
    FinishingError error;
    passResult += WriteClockDividerWords(s, &error);
    PrintFinishingError(s, error);
  }
  return Finish(s, passResult, options);
}

}  // namespace

int RunPassOne(CompileState& s, int argc, const char* const* argv) {
  GenOptions options;
  ProjectFile project;
  if (AnswerOptions(s, argc, argv, &options, &project) != -1 ||
      !BeginCompile(s, argc, argv, options, project)) {
    return -2;
  }
  const int passResult = RunPass(s, 1);
  // No pass 2 follows to measure the sounds.
  SettleSoundMeasures(s);
  if (ScannerFailure(s) != nullptr) return kScannerStopped;
  if (!OutputSparesWaveFiles(s)) return -2;
  return passResult;
}

void Init_yylex(CompileState& s, int pass) {
  s.Pass = pass;
  ReportError(s, InfoLine, 0, pass == 1 ? "=<< PASS 1 >>==" : "=<< PASS 2 >>==");
  if (pass == 1) ApplyPassOneDefaults(s);
  if (pass == 1 && s.PartSize != 0) s.FileSize = s.PartSize;
}

void ReleaseAll(CompileState& s) {
  SettleSoundMeasures(s);
  NoteWatchedCompile(s);
  AbandonImageOutput(s);
  ReleasePreparation(s);
  FreeNames(s);
  CloseStream(s.Script);
  CloseStream(s.Image);
  CloseStream(s.Wave);
}

int RunGenerator(int argc, const char* const* argv, FILE* out, FILE* err, const CompileRoutes* routes) {
  // Each run has a state of its own, so that runs may share a process (tests, fuzzing, a host
  // program), one after another or at the same time.
  CompileState state;
  state.Out = out;
  state.Err = err;
  state.Routes = routes;
  return Compile(state, argc, argv);
}

int RunWatchedCompile(int argc, const char* const* argv, FILE* out, FILE* err, WatchedCompile* record,
                      const CompileRoutes* routes) {
  CompileState state;
  state.Out = out;
  state.Err = err;
  state.Watched = record;
  state.Routes = routes;
  return Compile(state, argc, argv);
}
