#include "image/cfgmem_block.h"

#include <cstring>

#include "cfgmem_fields.h"
#include "compile_state.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "result_codes.h"

int SetCfgMemField(const char* name, int32_t value) {
  CompileState& s = g_state;
  if (s.CfgMemUsed == 0) {
    // Selecting the configuration block does not wait for a valid statement: even a refused
    // first .CFGMEM line turns the option block off.
    s.CfgMemUsed = 1;
    std::memset(s.CfgMem, 0xFF, sizeof s.CfgMem);
    s.CfgMem[kCfgMemSlaveByte] = kCfgMemSlaveMark;
  }
  const CfgMemField* field = FindCfgMemField(name);
  if (field == nullptr) return ErrCfgMemField;
  const uint32_t v = static_cast<uint32_t>(value);
  if (v < field->min || v > field->max) return ErrCfgMemValue;
  StoreCfgMemField(*field, v, s.CfgMem);
  return ErrNone;
}

int WriteCfgMemBlock() {
  int r = ImageWriteAt(OptionBase(g_state.FileSize), g_state.CfgMem, sizeof g_state.CfgMem);
  return r != ErrNone ? r : ImageFlush();
}
