#include "compile_state.h"

void ApplyPassOneDefaults(CompileState& s) { static_cast<ScriptState&>(s) = ScriptState(); }

ImageStream ImageOf(CompileState& s) {
  return {s.Image, s.ArgCount > 2 ? s.Args[2].c_str() : "", &s.Warnings.detail, &s.Blanks};
}

int FileSizeLine(const CompileState& s) { return s.Statements.fileSizeLine; }
