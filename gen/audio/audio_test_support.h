#pragma once
// Shared by the audio unit tests: a blank image in a temporary stream, wave files in the build
// directory's test folder, and the stream counts that show a file left open.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "compile_state.h"
#include "wav_writer.h"
#include "test_scratch.h"

namespace audiotest {

// A "wb+" image of size bytes of 0xFF in the state's Image, as AddVolMap leaves it. The image
// it replaced comes back when this one is closed at the end of its scope.
class TempImage {
 public:
  TempImage(CompileState& s, size_t size) : s_(s), file_(std::tmpfile()), previous_(s.Image) {
    const std::vector<uint8_t> blank(size, 0xFF);
    if (file_ != nullptr && size > 0) std::fwrite(blank.data(), 1, blank.size(), file_);
    s_.Image = file_;
  }
  ~TempImage() {
    if (file_ != nullptr) std::fclose(file_);
    s_.Image = previous_;
  }
  TempImage(const TempImage&) = delete;
  TempImage& operator=(const TempImage&) = delete;

  // The whole image as the stream holds it now.
  std::vector<uint8_t> Bytes() const {
    std::fflush(file_);
    std::fseek(file_, 0, SEEK_END);
    std::vector<uint8_t> out(static_cast<size_t>(std::ftell(file_)));
    std::rewind(file_);
    out.resize(std::fread(out.data(), 1, out.size(), file_));
    return out;
  }

  std::vector<uint8_t> Bytes(size_t position, size_t n) const {
    std::vector<uint8_t> all = Bytes();
    if (position > all.size()) return {};
    n = std::min(n, all.size() - position);
    return {all.begin() + static_cast<std::ptrdiff_t>(position),
            all.begin() + static_cast<std::ptrdiff_t>(position + n)};
  }

 private:
  CompileState& s_;
  FILE* file_;
  FILE* previous_;
};

// A path in the test folder of the build directory, created on first use.
inline std::string TempPath(const std::string& name) {
  const std::filesystem::path dir = ScratchFolder(QS71_TEST_TMPDIR, "audio");
  return (dir / name).string();
}

inline std::string WriteWav(const std::string& name, const std::vector<int32_t>& samples,
                            const testwav::Format& format = {}) {
  std::string path = TempPath(name);
  EXPECT_TRUE(testwav::WriteFile(path, testwav::EncodeWav(samples, format)));
  return path;
}

// A voice as a studio take has it, of RMS 1: the harmonics of a pitch that glides 20 % around
// pitch, in three syllables a second with silence between them, and a breath of noise.
inline std::vector<double> Voice(double pitch, double seconds, double rate) {
  std::vector<double> voice(static_cast<size_t>(seconds * rate));
  double phase = 0, power = 0;
  uint32_t noise = 1;
  for (size_t i = 0; i < voice.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    const double glide = pitch * (1 + 0.2 * std::sin(2 * std::numbers::pi * 0.7 * t));
    phase += 2 * std::numbers::pi * glide / rate;
    double v = 0;
    for (int k = 1; k * glide < rate / 2 && k * glide < 4000; ++k) v += std::sin(k * phase) / (k * std::sqrt(k));
    noise = noise * 1664525u + 1013904223u;
    v += 0.02 * (noise / 2147483648.0 - 1);
    voice[i] = v * std::fabs(std::sin(std::numbers::pi * 3 * t));
    power += voice[i] * voice[i];
  }
  const double scale = voice.empty() ? 0 : 1 / std::sqrt(power / static_cast<double>(voice.size()));
  for (double& v : voice) v *= scale;
  return voice;
}

// Bytes of a stream written into a fresh temporary file, positioned at its start.
inline FILE* OpenBytes(const std::vector<uint8_t>& bytes) {
  FILE* f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  return f;
}

// Runs fn with standard output captured and returns what it printed.
template <typename Fn>
std::string Captured(Fn&& fn) {
  testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// Open file descriptors of this process: a wave file left open shows up as one more.
inline size_t OpenFileCount() {
  size_t n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

}  // namespace audiotest
