#pragma once
// The 48-byte configuration block that `.CFGMEM` statements fill field by field, written at
// OptionBase in place of the option block. The fields are those of cfgmem_fields.h.

#include <cstdint>

struct CompileState;

// `.CFGMEM name = value`, pass 1. The first call selects the configuration block and fills it
// with 0xFF (byte 33 = 0x5A) before looking at the name. 0, ErrCfgMemField or ErrCfgMemValue.
int SetCfgMemField(CompileState& s, const char* name, int32_t value);

// Writes the 48 configuration bytes at OptionBase.
int WriteCfgMemBlock(CompileState& s);
