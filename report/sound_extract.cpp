#include "sound_extract.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "ascii_case.h"
#include "dump_result.h"
#include "output_writer.h"
#include "sound_decoders.h"
#include "sound_list.h"
#include "wav_output.h"

namespace {

// A silence can announce up to 2^32 samples with GrpAdr 4; a WAV file holds less, and a
// gigabyte of zeros helps no one.
constexpr int64_t kMaxSilentSamples = int64_t{1} << 28;

std::string LowerName(const SoundKindInfo* kind) { return AsciiLowerCopy(KindName(kind)); }

WavFormat FormatFor(const ImageMap& map, const Sound& sound) {
  WavFormat format;
  format.rate = LinkRateHz(map.settings.mainClockHz, sound.divider);
  format.bits = sound.kind->kind == KindPcm8 ? 8 : 16;
  return format;
}

// False on a short write.
bool WriteWav(FILE* file, const ImageMap& map, const Sound& sound,
              const std::vector<uint8_t>& image) {
  if (!KindHasData(sound.kind->kind)) {
    return WriteSilentWav(file, FormatFor(map, sound), static_cast<uint32_t>(sound.length));
  }
  const std::vector<uint8_t> bytes = ExtractedWavBytes(map, sound, DecodeSound(image, map, sound));
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// The WAV file replaces whatever its name held (a link to a file elsewhere, another name of
// some file), never writing through it; a failed write keeps it. The system's reason when it
// fails, else empty.
std::string WriteWavFile(const std::string& path, const ImageMap& map, const Sound& sound,
                         const std::vector<uint8_t>& image) {
  OutputWriter out;
  std::string reason;
  if (!out.Open(path, AtLink::kReplace, &reason)) return reason;
  errno = 0;
  if (!WriteWav(out.Stream(), map, sound, image)) {
    // A short write that set no errno still lost bytes.
    return errno != 0 ? std::strerror(errno) : "short write";
  }
  return out.Commit(&reason) ? "" : reason;
}

// The listing's line for a sound that gets no file, empty for one that does.
std::string NotExtractedLine(const Sound& sound) {
  if (!CanExtract(sound)) {
    return Format("#%d %-7s not extracted: no decoder for EQ01 codes\n", sound.id,
                  KindName(sound.kind));
  }
  if (!KindHasData(sound.kind->kind) && sound.length > kMaxSilentSamples) {
    return Format("#%d %-7s not extracted: %lld samples of silence\n", sound.id,
                  KindName(sound.kind), static_cast<long long>(sound.length));
  }
  return "";
}

std::string WavPath(const std::string& dir, const Sound& sound) {
  return (std::filesystem::path(dir) / WavName(sound)).string();
}

std::string ListingLine(const ImageMap& map, const Sound& sound, const std::string& path) {
  const WavFormat format = FormatFor(map, sound);
  return Format("#%d %-7s -> %s (%lld samples, %u Hz, %u-bit)\n", sound.id, KindName(sound.kind),
                path.c_str(), static_cast<long long>(KindSamplesIn(*sound.kind, sound.length)),
                format.rate, format.bits);
}

}  // namespace

bool CanExtract(const Sound& sound) { return sound.kind->kind != KindEq01; }

std::string WavName(const Sound& sound) {
  if (!sound.name.empty()) return sound.name + ".wav";
  return Format(
      "%03d_%s_%06llX.wav", sound.id, LowerName(sound.kind).c_str(),
      static_cast<unsigned long long>(KindHasData(sound.kind->kind) ? sound.filePos : sound.start));
}

std::vector<int32_t> DecodeSound(const std::vector<uint8_t>& image, const ImageMap& map,
                                 const Sound& sound) {
  const uint8_t* data = image.data() + sound.filePos;
  const size_t n = static_cast<size_t>(sound.length);
  const StoredCodecTables tables = ReadStoredCodecTables(image.data() + map.layout.systemAreaStart);
  if (KindHasData(sound.kind->kind)) return DecodeKindRange(sound.kind->kind, data, n, tables);
  return std::vector<int32_t>(static_cast<size_t>(std::min(sound.length, kMaxSilentSamples)), 0);
}

std::vector<uint8_t> ExtractedWavBytes(const ImageMap& map, const Sound& sound,
                                       const std::vector<int32_t>& decoded) {
  return WavBytes(FormatFor(map, sound), decoded);
}

int RefuseExtractingOver(const RunFiles& files, const ImageMap& map, const std::string& dir,
                         std::string* problem) {
  for (const Sound& sound : map.sounds) {
    const std::string path = WavPath(dir, sound);
    const std::string clash = NotExtractedLine(sound).empty() ? files.Clash(path) : "";
    if (!clash.empty()) {
      *problem = path + ": is " + clash + "; refusing to write a sound over it";
      return DumpWriteFailed;
    }
  }
  return DumpOk;
}

int ExtractSounds(const std::vector<uint8_t>& image, const ImageMap& map, const std::string& dir,
                  std::string* listing, std::string* problem) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    *problem = Format("%s: %s", dir.c_str(), error.message().c_str());
    return DumpWriteFailed;
  }
  for (const Sound& sound : map.sounds) {
    const std::string skipped = NotExtractedLine(sound);
    if (!skipped.empty()) {
      *listing += skipped;
      continue;
    }
    const std::string path = WavPath(dir, sound);
    const std::string reason = WriteWavFile(path, map, sound, image);
    if (!reason.empty()) {
      *problem = path + ": " + reason;
      return DumpWriteFailed;
    }
    *listing += ListingLine(map, sound, path);
  }
  return DumpOk;
}
