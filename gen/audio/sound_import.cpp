#include "audio/sound_import.h"

#include <cstdio>

#include "ascii_case.h"
#include "audio/sound_codecs.h"
#include "audio/sound_output.h"
#include "audio/wave_input.h"
#include "clock_divider.h"
#include "compile_state.h"
#include "image/image_file.h"
#include "image_layout.h"
#include "name_tables.h"
#include "result_codes.h"
#include "sound_report.h"
#include "sound_kinds.h"
#include "text_format.h"
#include "warnings.h"
#include "wrap_math.h"

namespace {

// Two PCM16 sounds of fixed names are the chip's ramp sounds; the header words at 8 and 12 tell
// it where they lie and with which clock divider to play them.
struct RampSound {
  const char* name;
  int32_t headerPosition;
  int32_t CompileState::*done;
};

const RampSound kRamps[] = {
    {"RampDec", kRampDecWordPos, &CompileState::RampDecDone},
    {"RampInc", kRampIncWordPos, &CompileState::RampIncDone},
};

const RampSound* FindRamp(const char* name) {
  for (const RampSound& r : kRamps) {
    if (EqualsNoCase(name, r.name)) return &r;
  }
  return nullptr;
}

int32_t FilePosition(CompileState& s, int32_t relative) {
  return SoundFilePosition(s.Offset, s.SoundBase, relative);
}

int WriteRampWord(CompileState& s, const RampSound& ramp, const SoundDef& sound,
                  std::string* listing) {
  if (sound.kind != KindPcm16) return ErrInternal;
  uint32_t word = 0;
  int r = RampWord(s, FilePosition(s, sound.start), &word);
  if (r != ErrNone) return r;
  *listing += Format("******* %s: start from %06xh to %06xh in %d Hz.\n", ramp.name,
                     static_cast<unsigned>(FilePosition(s, sound.start)),
                     static_cast<unsigned>(FilePosition(s, sound.end)), s.Ramp_Rate);
  r = ImageWriteWordAt(ImageOf(s), ramp.headerPosition, word);
  if (r != ErrNone) return r;
  s.*ramp.done = 1;
  return ImageFlush(ImageOf(s));
}

// The system area is compared by chip address, without Offset, as the chip tools always did.
bool ReachesSystemArea(CompileState& s, const SoundDef& sound) {
  return WrapAdd(s.SoundBase, sound.end) >= SystemAreaStart(s.FileSize);
}

// The rate only serves as a warning when a script mixes files of different rates; the image
// stores no rate and nothing is resampled.
void ListRate(CompileState& s, uint32_t fileRate, std::string* listing) {
  const int32_t rate = static_cast<int32_t>(fileRate);
  if (s.WaveRate == 0) {
    *listing += Format("Find Sample Rate %d Hz in wave.\n", rate);
  } else if (s.WaveRate != rate) {
    *listing += Format("Find different Sample Rate %d Hz in wave!\n", rate);
  }
  s.WaveRate = rate;
}

int Refused(CompileState& s, int code, const std::string& detail) {
  if (!detail.empty()) SetErrorDetail(s, "%s", detail.c_str());
  return code;
}

int ImportWave(CompileState& s, const SoundDef& sound, const SoundCodec& codec,
               std::string* listing) {
  WaveHeader header;
  int r = OpenSoundWave(s, sound, &header, listing);
  SampleReader reader;
  if (r == ErrNone) r = StartSamples(&reader, s.Wave, header);
  CodecMeter codecs;
  if (r == ErrNone) {
    r = StoreSound(ImageOf(s), codec, &reader,
                   {s.Offset, s.SoundBase, sound.start, sound.end, sound.name.c_str(),
                    sound.text.c_str(), s.Scale, listing, s.AdpcmQuality,
                    s.Reports.codecCosts ? &codecs : nullptr});
  }
  if (r == ErrNone && s.Reports.codecCosts && codec.encode != nullptr) NoteCodecCosts(s, sound.name, codecs);
  if (s.Wave != nullptr) std::fclose(s.Wave);
  s.Wave = nullptr;
  return r;
}

}  // namespace

int OpenSoundWave(CompileState& s, const SoundDef& sound, WaveHeader* header,
                  std::string* listing) {
  std::string detail;
  int r = OpenWaveFile(sound.text, &s.Wave, &detail);
  if (r != ErrNone) return Refused(s, r, detail);
  r = CheckWaveHeader(s.Wave, sound.text.c_str(), header, &detail);
  if (r != ErrNone) return Refused(s, r, detail);
  ListRate(s, header->rate, listing);
  return ErrNone;
}

int RampWord(CompileState& s, int32_t position, uint32_t* word) {
  // The upper 24 bits of the header word are all the chip has to find the ramp with.
  if (position < 0 || position > 0xFFFFFF) return ErrRampPosition;
  int32_t divider = 0;
  if (!ClockDivider(s.MainClk, s.Ramp_Rate, &divider)) return ErrRampRate;
  *word = EncodeHeaderWord(static_cast<uint32_t>(position), divider);
  return ErrNone;
}

int ImportSound(CompileState& s, const char* name, std::string* listing) {
  const SoundDef* sound = FindSound(s, name);
  if (sound == nullptr) return ErrInternal;
  if (const RampSound* ramp = FindRamp(name)) {
    int r = WriteRampWord(s, *ramp, *sound, listing);
    if (r != ErrNone) return r;
  }
  const SoundKindInfo* kind = FindSoundKind(sound->kind);
  if (kind == nullptr) return ErrInternal;
  if (!KindHasData(sound->kind)) return ErrNone;
  if (ReachesSystemArea(s, *sound)) {
    *listing += Format("%s[%06x:%06x] %s = %s  \n", kind->label,
                       static_cast<unsigned>(sound->start),
                       static_cast<unsigned>(sound->end), sound->name.c_str(), sound->text.c_str());
    return ErrSystemArea;
  }
  const SoundCodec* codec = FindCodec(sound->kind);
  return codec != nullptr ? ImportWave(s, *sound, *codec, listing) : ErrInternal;
}
