#include "audio/eq01_encoder.h"

#include "result_codes.h"

int EncodeEq01(const SampleBuffer& /*samples*/, int32_t /*offset*/, int32_t /*soundBase*/,
               int32_t /*start*/, int32_t /*end*/, const char* /*name*/,
               const char* /*fileName*/) {
  return ErrNone;
}
