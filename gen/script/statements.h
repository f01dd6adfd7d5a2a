#pragma once
// What each script statement does in each pass. The grammar recognises a statement and calls
// one of these; they call the operations and hand every result code to ReportError with the
// line of the statement's first token.

#include <cstdint>

// The copy steps: names are saved before the next token overwrites the literal buffer.
void CopyName();
void CopyGroupName();

void DefineStatement(int32_t value, int line);
void LengthSoundStatement(int32_t kind, int32_t length, int line);
void WaveSoundStatement(int32_t kind, int line);
void CfgMemStatement(int32_t value, int line);
void GlobalNumber(int token, int32_t value, int line);
void GlobalLiteral(int token, int line);
void SectionOption(int32_t section, int32_t option, int line);
void SectionFlag(int32_t section, int bit, int line);
void SectionGroup(int32_t section, int32_t rate, int32_t flag, int line);
void SyntaxErrorLine(int line);

// End of a pass (the start rule): after an error-free pass 1 the image skeleton is written.
void EndOfPass();

// Expression values.
int32_t ConstantValue(int line);
int32_t ParameterValue(int32_t index, int line);
int32_t Add(int32_t a, int32_t b);
int32_t Subtract(int32_t a, int32_t b);
int32_t Multiply(int32_t a, int32_t b);
int32_t Divide(int32_t a, int32_t b, int line);
int32_t Negate(int32_t a);

// Runs the parser over the script once; the pass result (error count, 1 when the parse was
// abandoned, 2 when it ran out of memory).
int ParsePass();

// Line of the $FILESIZE statement that set the image size, 0 when none did.
int FileSizeLine();

// Forgets what the statements keep between calls (for tests running many compilations).
void ResetStatements();
