#pragma once
// Wave files are read as their RIFF chunks: the "fmt " chunk describes the samples (plain PCM,
// or PCM behind a WAVE_FORMAT_EXTENSIBLE header), the "data" chunk holds them, and whatever
// editors put around them (LIST, fact, JUNK, ...) is passed over. The samples are mixed to
// mono, brought to the 16-bit scale, multiplied by the script's scale factor and limited to
// -32768..32767, one block at a time: no sound is ever held whole.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct WaveHeader {
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
  int32_t dataSize = 0;  // bytes of sample data, as the header announces them
};

// Frames a reader takes from the file per block: large enough that a read or a write costs
// little beside the samples it carries, small enough that a block's buffers (the raw frames,
// the samples and the encoded bytes, a third of a megabyte at most) stay in the processor's
// cache and add little to the compile's memory whatever the sound's length.
constexpr uint32_t kFramesPerBlock = 32768;

// A wave file's samples, handed out one block at a time: the frames of a block are mixed to
// mono, scaled and limited (as below) into samples, which the next block overwrites.
struct SampleReader {
  FILE* file = nullptr;
  WaveHeader header;
  uint32_t frames = 0;  // announced by the header
  uint32_t done = 0;    // read so far
  uint32_t blockFrames = kFramesPerBlock;
  std::vector<uint8_t> raw;
  std::vector<int32_t> samples;
};

// Opens a wave file for reading, only when it is a regular file: a FIFO would hang the compile
// and a folder or device is no wave file. ErrFileOpen when it cannot be opened; ErrWaveFile,
// with a *detail that names the file and says what it is, for anything but a file.
int OpenWaveFile(const std::string& name, FILE** file, std::string* detail);

// Reads and checks the chunks from the file's current position (the start) up to the sample
// data into *header (its rate among them); the file is left at the first sample byte. 0, or
// ErrWaveFile for any refused rule, with a *detail that names the file (name, as the script
// wrote it), says why and how to convert it.
int CheckWaveHeader(FILE* file, const char* name, WaveHeader* header, std::string* detail);

// A data chunk's size against the bytes that follow its header (-1: cannot be told), and the
// bytes of one frame (0 when no format was found).
struct DataExtent {
  uint32_t declared = 0;
  int64_t held = -1;
  uint32_t frameBytes = 0;
};

// How a data chunk's size is taken: as it stands; as the rest of the file (the placeholder of a
// program writing into a pipe, 0x7FFFF000 or 0xFFFFFFFF, with fewer bytes present); as 0 bytes
// although bytes follow (kept, as the chip tools always read it, but worth a warning); or as a
// file cut short (more whole frames announced than present).
enum class DataSizeKind { Kept, Streamed, EmptyBeforeBytes, CutShort };

DataSizeKind ClassifyDataSize(const DataExtent& e);

// Reads a wave file's chunks (whatever its sample format) and, for any kind but Kept, says what
// its data size means for the sound and what to do, naming the file; empty for Kept or a file
// that is no RIFF/WAVE (refused elsewhere).
std::string DataSizeNotice(const std::string& name, DataSizeKind* kind);

// For a wave file whose header announces more samples than the file holds (cut short): what is
// wrong and how to mend it, naming the file; empty otherwise.
std::string CutShortDetail(const std::string& name);

// Frames the header announces: (data size / channels) / (bits / 8), unsigned, as the name
// tables size a sound's range with it.
uint32_t WaveFrameCount(const WaveHeader& header);

// Frames of a file that CheckWaveHeader refused for its sample format (24 bits, float, more
// channels), told from its "fmt " and "data" chunks alone; 0 when they cannot be found. Only the
// space budget uses it: such a file is never read as samples.
uint32_t RefusedWaveFrames(FILE* file);

// Prepares reading the announced frames from the file's current position (the first sample
// byte) in blocks of blockFrames, made even. 0; ErrWaveFile for a sample width other than 8 or
// 16 or a channel count other than 1 or 2; ErrRead when the file is too short for the frames,
// told from its length before anything is read or allocated, so that a short file costs no
// sound a byte.
int StartSamples(SampleReader* reader, FILE* file, const WaveHeader& header,
                 uint32_t blockFrames = kFramesPerBlock);

// Reads and converts the next block, each sample times scale, into reader->samples and sets
// *count to its samples: up to
// blockFrames, 0 once every announced frame has been read. ErrRead when the file ends early
// (a file shortened while it is read, or one whose length cannot be told in advance).
int ReadSampleBlock(SampleReader* reader, double scale, size_t* count);

// One sample times the script's scale factor, truncated toward zero; a product outside the
// 32-bit range becomes INT32_MIN, as the conversion of the chip's first tools made it.
int32_t ScaleSample(int32_t sample, double scale);

// Pins a sample to the 16-bit range every encoder expects.
int32_t LimitSample(int32_t sample);
