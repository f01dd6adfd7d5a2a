#include "driver.h"

#include <cstdio>
#include <string>

#include "command_line.h"
#include "compile_state.h"
#include "image/fill_scale.h"
#include "image/image_file.h"
#include "image_finishing.h"
#include "link_map.h"
#include "name_tables.h"
#include "output_file.h"
#include "script/diagnostics.h"
#include "script/scanner.h"
#include "script/statements.h"
#include "warnings.h"

namespace {

const char* const kBanner[] = {
    "======================================================",
    "-               Generator for QS71 OTP               -",
    "- Ver 0.8b                                2015.06.23 -",
    "------------------------------------------------------",
};

// The script sees the command line without the options: %1 is always the script name.
void KeepArguments(int argc, const char* const* argv, int scriptIndex) {
  g_state.ArgCount = argc - scriptIndex + 1;
  g_state.Args[0] = argv[0] != nullptr ? argv[0] : "qs71gen";
  for (int i = 1; i < g_state.ArgCount && i < kMaxArgs; ++i) g_state.Args[i] = argv[scriptIndex + i - 1];
}

void CloseStream(FILE*& stream) {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
}

// "script-file %s open error\n" and its line end, then release; the name may be missing.
int OpenFailure(const char* what, int index) {
  const char* name = index < g_state.ArgCount ? g_state.Args[index].c_str() : "(missing)";
  std::printf("%s-file %s open error\n\n", what, name);
  // Fewer than two names (as in "qs71gen script.qs"): the open failure, then how to call it.
  if (g_state.ArgCount < 3) std::printf("%s", kGenUsage);
  ReleaseAll();
  return -2;
}

bool OpenStreams(const GenOptions& options) {
  CompileState& s = g_state;
  if (s.ArgCount > 1) s.Script = std::fopen(s.Args[1].c_str(), "rt");
  if (s.Script == nullptr) return OpenFailure("script", 1), false;
  if (s.ArgCount > 2 && OpenImageOutput({s.Args[2], options.failedImage, options.map, s.Args[1]})) {
    return true;
  }
  return OpenFailure("output", 2), false;
}

// Options that end the run before any file is touched; -1 when the run goes on.
int AnswerOptions(int argc, const char* const* argv, GenOptions* options) {
  std::string error;
  if (!ParseGenOptions(argc, argv, options, &error)) {
    std::fprintf(stderr, "qs71gen: %s (qs71gen --help lists the options)\n", error.c_str());
    return -2;
  }
  if (options->help) return std::printf("%s", kGenHelp), 0;
  if (options->version) return std::printf("qs71gen %s\n", QS71_VERSION), 0;
  return -1;
}

// An option written after the script name is the script's parameter, as it always was; a
// mistyped command line should not pass unnoticed.
void WarnOptionsOutOfPlace(int argc, const char* const* argv, int scriptIndex) {
  for (int i = scriptIndex + 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--", 0) != 0 || !IsGenOption(arg)) continue;
    const int parameter = i - scriptIndex + 1;
    std::fprintf(stderr, "qs71gen: warning: parameter %d, %s, is a qs71gen option but comes after the "
                 "script name, so it only goes to the script as %%%d; options go before the script name\n",
                 parameter, arg.c_str(), parameter);
  }
}

// The status of a compile that a scanner limit stopped in the middle of a pass: its message
// alone on standard error, after everything listed so far, and no image.
constexpr int kScannerStopped = 2;

int RunPass(int pass) {
  if (!ScannerReset(g_state.Script)) return 1;
  Init_yylex(pass);
  return ParsePass();
}

int StopAtScannerLimit() {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", ScannerFailure());
  SettleImageOutput(1, true);
  ReleaseAll();
  return kScannerStopped;
}

// What a finishing step found, in the style of the size messages.
void PrintFinishingError(const FinishingError& error) {
  if (error.text.empty()) return;
  std::printf("\nErrors: %s. \n\n", error.text.c_str());
  if (error.detail) TakeErrorDetail(0, true);
  if (error.fillsPastEnd) ExplainFillsPastEnd();
}

int Finish(int passResult, const GenOptions& options) {
  if (passResult == 0 && ImageLength() >= 0) {
    FinishingError error;
    passResult = CheckSizeLimits(passResult, &error);
    PrintFinishingError(error);
  }
  FinishingError error;
  passResult = CheckFileSizeAndPad(passResult, &error);
  PrintFinishingError(error);
  passResult += StrictWarningCount();
  if (passResult == 0 && !options.map.empty()) passResult = WriteImageMap(options.map);
  passResult = SettleImageOutput(passResult);
  std::printf("\nComplete with %d Errors \n\n", passResult);
  ReleaseAll();
  return passResult == 0 ? 0 : -3;
}

}  // namespace

void Init_yylex(int pass) {
  g_state.Pass = pass;
  ReportError(InfoLine, 0, pass == 1 ? "=<< PASS 1 >>==" : "=<< PASS 2 >>==");
  if (pass == 1) ApplyPassOneDefaults();
}

void ReleaseAll() {
  AbandonImageOutput();
  FreeNames();
  CloseStream(g_state.Script);
  CloseStream(g_state.Image);
  CloseStream(g_state.Wave);
}

int RunGenerator(int argc, const char* const* argv) {
  // A run starts from nothing, also when several runs share one process (tests, fuzzing).
  ResetCompileState();
  ResetStatements();
  ResetWarnings();
  ResetFills();
  ResetImageMap();
  FreeNames();
  GenOptions options;
  const int answered = AnswerOptions(argc, argv, &options);
  if (answered != -1) return answered;
  SetStrictWarnings(options.strict);
  KeepArguments(argc, argv, options.scriptIndex);
  WarnOptionsOutOfPlace(argc, argv, options.scriptIndex);
  if (!OpenStreams(options)) return -2;
  for (const char* line : kBanner) std::printf("%s\n", line);
  int passResult = RunPass(1);
  if (ScannerFailure() != nullptr) return StopAtScannerLimit();
  if (!OutputSparesWaveFiles()) return OpenFailure("output", 2);
  if (passResult == 0) {
    passResult = RunPass(2);
    if (ScannerFailure() != nullptr) return StopAtScannerLimit();
    passResult += CheckFactoryCells();
    FinishingError error;
    passResult += WriteClockDividerWords(&error);
    PrintFinishingError(error);
  }
  return Finish(passResult, options);
}
