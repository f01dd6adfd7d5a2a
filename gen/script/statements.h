#pragma once
// What each script statement does in each pass. The grammar recognises a statement and calls
// one of these; they call the operations and hand every result code to ReportError with the
// line of the statement's first token.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "script/scanner.h"

struct CompileState;

// What pass 1 learns about a sound for the warnings: where it is defined, the rate of its wave
// file, and whether any section links it.
struct SoundUse {
  std::string name;  // as spelled in the definition
  int line = 0;
  int32_t fileRate = 0;  // 0 for silences, mutes and files that could not be read
  bool linked = false;
};

// What the statements keep from one call to the next.
struct StatementMemory {
  char groupName[kLiteralBufferSize] = {};
  int fileSizeLine = 0;  // where $FILESIZE was set, to point at it when the size is refused
  std::vector<SoundUse> soundUses;  // in definition order
  std::unordered_map<std::string, size_t> soundUseIndex;
};

// The copy steps: names are saved before the next token overwrites the literal buffer.
void CopyName(CompileState& s);
void CopyGroupName(CompileState& s);

void DefineStatement(CompileState& s, int32_t value, int line);
void LengthSoundStatement(CompileState& s, int32_t kind, int32_t length, int line);
void WaveSoundStatement(CompileState& s, int32_t kind, int line);
void CfgMemStatement(CompileState& s, int32_t value, int line);
void GlobalNumber(CompileState& s, int token, int32_t value, int line);
void GlobalLiteral(CompileState& s, int token, int line);
void SectionOption(CompileState& s, int32_t section, int32_t option, int line);
void SectionFlag(CompileState& s, int32_t section, int bit, int line);
void SectionGroup(CompileState& s, int32_t section, int32_t rate, int32_t flag, int line);
void SyntaxErrorLine(CompileState& s, int line);

// End of a pass (the start rule): after an error-free pass 1 the image skeleton is written.
void EndOfPass(CompileState& s);

// Expression values.
int32_t ConstantValue(CompileState& s, int line);
int32_t ParameterValue(CompileState& s, int32_t index, int line);
int32_t Add(int32_t a, int32_t b);
int32_t Subtract(int32_t a, int32_t b);
int32_t Multiply(int32_t a, int32_t b);
int32_t Divide(CompileState& s, int32_t a, int32_t b, int line);
int32_t Negate(int32_t a);

// Runs the parser over the script once; the pass result (error count, 1 when the parse was
// abandoned, 2 when it ran out of memory).
int ParsePass(CompileState& s);
