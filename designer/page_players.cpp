#include "page_players.h"

#include <cmath>
#include <cstddef>
#include <cstdio>

#include "ascii_case.h"
#include "audio/sound_measure.h"
#include "audio/sound_preparation.h"
#include "audio/wave_input.h"
#include "compile_state.h"
#include "result_codes.h"
#include "sound_kinds.h"
#include "sound_report.h"
#include "text_format.h"

namespace {

// Beyond this a take would make the page too heavy to open: about 95 s at 44.1 kHz, 8 MiB as
// a WAV file and 11 MiB as the page's base64.
constexpr int64_t kMostPageFrames = int64_t{1} << 22;

// A plain 8- or 16-bit PCM WAV as the import reads it, without the script's scale: the file as
// recorded.
bool ReadPlainWave(const std::string& path, MonoSource* mono, std::string* why) {
  FILE* file = nullptr;
  std::string detail;
  if (OpenWaveFile(path, &file, &detail) != ErrNone) {
    return *why = detail.empty() ? "it cannot be opened" : detail, false;
  }
  WaveHeader header;
  SampleReader reader;
  bool read = CheckWaveHeader(file, path.c_str(), &header, &detail) == ErrNone &&
              StartSamples(&reader, file, header) == ErrNone;
  if (read) {
    mono->rate = static_cast<int32_t>(header.rate);
    mono->frames = reader.frames;
    size_t n = 0;
    while (mono->frames <= kMostPageFrames && (read = ReadSampleBlock(&reader, 1.0, &n) == ErrNone) && n > 0)
      mono->samples.insert(mono->samples.end(), reader.samples.begin(), reader.samples.begin() + static_cast<ptrdiff_t>(n));
  }
  std::fclose(file);
  if (!read) *why = detail.empty() ? "it cannot be read" : detail;
  return read;
}

PagePlayer Missing(const char* what, const std::string& why) {
  PagePlayer p;
  p.what = what;
  p.missing = why;
  return p;
}

PagePlayer Player(const char* what, const SoundNote& note, MonoSource&& mono) {
  PagePlayer p;
  p.what = what;
  p.download = note.name + "-" + what + ".wav";
  if (mono.frames > kMostPageFrames) {
    p.missing = Format("%.1f s at %d Hz: too long to carry on the page", static_cast<double>(mono.frames) / mono.rate,
                       mono.rate);
    return p;
  }
  p.rate = static_cast<uint32_t>(mono.rate);
  p.samples = std::move(mono.samples);
  p.levels = PlayedLevelsText(p.samples, mono.rate);
  return p;
}

PagePlayer SourcePlayer(const CompileState& s, const SoundNote& note) {
  MonoSource mono;
  std::string why;
  bool read = ReadPlainWave(note.waveFile, &mono, &why);
  // What only the preparation reads (24-bit, float, AIFF, FLAC), it plays too.
  if (!read && s.Prep.options.Active()) {
    mono = MonoSource{};
    read = ReadSourceMono(note.waveFile, kMostPageFrames, &mono, &why);
  }
  if (!read) return Missing("source", "cannot be played: " + why);
  return Player("source", note, std::move(mono));
}

PagePlayer PreparedPlayer(const CompileState& s, const SoundNote& note) {
  MonoSource mono;
  if (ReadPreparedSound(s, note.name, kMostPageFrames, &mono)) return Player("prepared", note, std::move(mono));
  auto it = s.Prep.records.find(AsciiLowerCopy(note.name));
  const std::string refusal = it != s.Prep.records.end() ? it->second.refusal : "";
  return Missing("prepared", refusal.empty() ? "not prepared" : "not prepared: " + refusal);
}

}  // namespace

std::vector<PagePlayer> CompilePlayers(CompileState& s, const SoundNote& note) {
  if (!KindHasData(note.kind)) return {};
  std::vector<PagePlayer> players = {SourcePlayer(s, note)};
  if (s.Prep.options.Active()) players.push_back(PreparedPlayer(s, note));
  return players;
}

std::string PlayedLevelsText(const std::vector<int32_t>& samples, double rate) {
  LevelMeter meter;
  MeterBlock(&meter, samples.data(), samples.size());
  return LevelsSummary(LevelsOf(meter), static_cast<uint32_t>(std::lround(rate)));
}
