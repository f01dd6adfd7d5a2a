#include "image/cfgmem_block.h"

#include <cstring>

#include "cfgmem_fields.h"
#include "compile_state.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "result_codes.h"

int SetCfgMemField(CompileState& s, const char* name, int32_t value) {
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

int WriteCfgMemBlock(CompileState& s) {
  int r = ImageWriteAt(ImageOf(s), OptionBase(s.FileSize), s.CfgMem, sizeof s.CfgMem);
  return r != ErrNone ? r : ImageFlush(ImageOf(s));
}
