#pragma once
// The encoders of one byte or word per sample, no prediction, no header: .PCM8, .PCM16 and
// .ULAW.

#include <cstddef>
#include <cstdint>

// The signed byte the chip plays for a 16-bit sample: s / 256 truncated toward zero, limited
// to -128..127.
uint8_t Pcm8Sample(int32_t sample);

// The 16-bit value that Pcm8Sample turns into the byte nearest to sample (halves away from
// zero) rather than truncating: for the dithered samples, whose noise only averages out to the
// signal when the quantiser rounds.
int32_t Pcm8NearestInput(int32_t sample);

// One byte per sample into out.
void EncodePcm8Block(const int32_t* samples, size_t n, uint8_t* out);

// Two bytes per sample into out, low byte first, limited to -32768..32767.
void EncodePcm16Block(const int32_t* samples, size_t n, uint8_t* out);

// .ULAW: one companded byte per sample. The byte is the complement of the G.711 mu-law
// byte (no bit inversion on storing), so that it indexes the expansion table of the system
// area directly: bit 7 sign, bits 6..4 segment, bits 3..0 mantissa.

// The code of the low 16 bits of sample, taken as a signed 16-bit value.
uint8_t UlawEncodeSample(int32_t sample);

// One code per sample into out.
void EncodeUlawBlock(const int32_t* samples, size_t n, uint8_t* out);
