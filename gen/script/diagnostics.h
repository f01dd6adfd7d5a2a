#pragma once
// The parser's own diagnostics; every other one goes through ReportError (error_report.h).

#include "error_report.h"

struct CompileState;

// Receives the parser's syntax messages; a message that is exactly "parse error" is dropped.
void SyntaxMessage(CompileState& s, const char* text);
