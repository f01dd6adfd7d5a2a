#pragma once
// Every diagnostic of a compile goes through ReportError: operations return a result code, the
// caller hands it over with its line, and the reporter decides by code and pass whether it is
// printed and counted, from the table of messages beside the codes of result_codes.h. It sits
// in gen/ itself, below the script and the image writer, since both report through it.

#include "result_codes.h"

struct CompileState;

// Prints and counts (or not) one diagnostic for the current pass. text may be null.
void ReportError(CompileState& s, int code, int line, const char* text);

// The message of a code as the table holds it (with "%s" unexpanded), or null.
const char* ErrorMessage(int code);
