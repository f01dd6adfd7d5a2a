#pragma once
// Wave files are read as their RIFF chunks: the "fmt " chunk describes the samples (plain PCM,
// or PCM behind a WAVE_FORMAT_EXTENSIBLE header), the "data" chunk holds them, and whatever
// editors put around them (LIST, fact, JUNK, ...) is passed over. The samples are mixed to
// mono, brought to the 16-bit scale, multiplied by the script's scale factor and limited to
// -32768..32767.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

struct WaveHeader {
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
  int32_t dataSize = 0;  // bytes of sample data, as the header announces them
};

struct SampleBuffer {
  int32_t count = 0;
  std::vector<int32_t> samples;
};

// Reads and checks the chunks from the file's current position (the start) up to the sample
// data, prints the sample-rate message and updates WaveRate; the file is left at the first
// sample byte. 0, or ErrWaveFile for any refused rule, with an error detail that names the file
// (name, as the script wrote it), says why and how to convert it.
int CheckWaveHeader(FILE* file, const char* name, WaveHeader* header);

// Frames the header announces: (data size / channels) / (bits / 8), unsigned, as the name
// tables size a sound's range with it.
uint32_t WaveFrameCount(const WaveHeader& header);

// Reads the announced frames from the current position into buffer. 0, ErrRead when the file
// ends early, ErrWaveFile for a sample width other than 8 or 16.
int ReadSamples(SampleBuffer* buffer, FILE* file, const WaveHeader& header);

// n zero bytes for a sound's encoded form. Like the sample buffer, it may hold a whole long
// sound, so it asks for huge pages where the system offers them: filling 10 minutes of sound
// page by page takes a fault per 4 KiB, which costs more than encoding it.
std::vector<uint8_t> SoundBytes(size_t n);

// One sample times the script's scale factor, truncated toward zero; a product outside the
// 32-bit range becomes INT32_MIN, as the conversion of the chip's first tools made it.
int32_t ScaleSample(int32_t sample, double scale);

// Pins a sample to the 16-bit range every encoder expects.
int32_t LimitSample(int32_t sample);
