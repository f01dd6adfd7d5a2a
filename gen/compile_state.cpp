#include "compile_state.h"

CompileState g_state;

void ApplyPassOneDefaults() { static_cast<ScriptState&>(g_state) = ScriptState(); }

void ResetCompileState() { g_state = CompileState(); }
