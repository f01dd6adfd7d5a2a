#include "script/diagnostics.h"

#include <cstring>

#include "error_report.h"

void SyntaxMessage(CompileState& s, const char* text) {
  if (std::strcmp(text, "parse error") == 0) return;
  ReportError(s, InfoLine, 0, text);
}
