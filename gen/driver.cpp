#include "driver.h"

#include <cstdio>
#include <string>

#include "compile_state.h"
#include "image/image_file.h"
#include "image_finishing.h"
#include "script/diagnostics.h"
#include "script/name_tables.h"
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

const char kUsage[] =
    "Usage: qs71gen <script-file> <output-file> [<parameter 3> ... <parameter 9>]\n"
    "Compiles the script and the wave files it names into an OTP image for the QS71 chips.\n"
    "The script reads the command line as %1 (script) to %9; exit code 0 on success,\n"
    "-2 when a file cannot be opened, -3 when the script has errors.\n";

void KeepArguments(int argc, const char* const* argv) {
  g_state.ArgCount = argc;
  for (int i = 0; i < argc && i < kMaxArgs; ++i) g_state.Args[i] = argv[i];
}

void CloseStream(FILE*& stream) {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
}

// "script-file %s open error\n" and its line end, then release; the name may be missing.
int OpenFailure(const char* what, int index) {
  const char* name = index < g_state.ArgCount ? g_state.Args[index].c_str() : "(missing)";
  std::printf("%s-file %s open error\n\n", what, name);
  // Fewer than two names (as in "qs71gen --help"): the open failure, then how to call it.
  if (g_state.ArgCount < 3) std::printf("%s", kUsage);
  ReleaseAll();
  return -2;
}

bool OpenStreams() {
  CompileState& s = g_state;
  if (s.ArgCount > 1) s.Script = std::fopen(s.Args[1].c_str(), "rt");
  if (s.Script == nullptr) return OpenFailure("script", 1), false;
  if (s.ArgCount > 2) s.Image = std::fopen(s.Args[2].c_str(), "wb+");
  if (s.Image == nullptr) return OpenFailure("output", 2), false;
  return true;
}

int RunPass(int pass) {
  ScannerReset(g_state.Script);
  Init_yylex(pass);
  return ParsePass();
}

int Finish(int passResult) {
  if (passResult == 0 && ImageLength() >= 0) passResult = CheckSizeLimits(passResult);
  passResult = CheckFileSizeAndPad(passResult);
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
  FreeNames();
  KeepArguments(argc, argv);
  if (!OpenStreams()) return -2;
  for (const char* line : kBanner) std::printf("%s\n", line);
  int passResult = RunPass(1);
  if (passResult == 0) {
    passResult = RunPass(2);
    passResult += WriteClockDividerWords();
  }
  return Finish(passResult);
}
