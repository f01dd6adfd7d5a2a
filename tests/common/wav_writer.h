#pragma once
// Test WAV files are made, not downloaded: a few signal shapes at any rate, 8 or 16 bits,
// mono or stereo, written with the canonical 44-byte header or in the chunk layouts that common
// editors write.

#include <cstdint>
#include <string>
#include <vector>

namespace testwav {

enum class Shape { Sine, Sweep, Noise, Silence, Ramp };

struct Signal {
  Shape shape = Shape::Sine;
  double freq = 440.0;       // sine frequency, or sweep start
  double freqEnd = 4000.0;   // sweep end
  double amplitude = 0.5;    // of full scale (32767)
  uint32_t seed = 1;         // noise
  uint32_t padFrames = 0;    // of silence before and after the signal
};

// Where the header's fields stand: the canonical 44 bytes; a LIST chunk of odd size (so a pad
// byte follows it) between "fmt " and "data", as ffmpeg and audio editors write it; or a
// WAVE_FORMAT_EXTENSIBLE format chunk, whose sub-format GUID carries the format tag.
enum class Layout { Canonical, List, Extensible };

struct Format {
  uint32_t rate = 16000;
  uint16_t bits = 16;
  uint16_t channels = 1;
  uint16_t tag = 1;  // format tag: 1 PCM, 3 float, anything else compressed
  Layout layout = Layout::Canonical;
};

// "canonical", "list" or "extensible"; false for any other name.
bool LayoutByName(const std::string& name, Layout* layout);

// frames samples of the signal on the 16-bit scale (-32768..32767), between the pads.
std::vector<int32_t> MakeSamples(const Signal& signal, uint32_t frames, uint32_t rate);

// A whole WAV file: header and data. Stereo files carry the samples in both channels.
std::vector<uint8_t> EncodeWav(const std::vector<int32_t>& samples, const Format& format);

// The header alone, up to the first sample byte, announcing dataSize bytes (which may be a lie,
// for bad inputs) in its last four bytes. 44 bytes in the canonical layout.
std::vector<uint8_t> WavHeader(const Format& format, uint32_t dataSize);

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The samples in what only a full audio library writes: container "wav", "aiff" or "flac",
// 8 to 32 bits, or float (tag 3); every channel carries the samples. False with nothing
// written when libsndfile refuses the combination.
bool WriteSoundFile(const std::string& path, const std::vector<int32_t>& samples,
                    const Format& format, const std::string& container);

}  // namespace testwav
