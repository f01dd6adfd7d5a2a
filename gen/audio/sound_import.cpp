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

int32_t FilePosition(int32_t relative) {
  return SoundFilePosition(g_state.Offset, g_state.SoundBase, relative);
}

int WriteRampWord(const RampSound& ramp, const SoundDef& sound, std::string* listing) {
  if (sound.kind != KindPcm16) return ErrInternal;
  uint32_t word = 0;
  int r = RampWord(FilePosition(sound.start), &word);
  if (r != ErrNone) return r;
  *listing += Format("******* %s: start from %06xh to %06xh in %d Hz.\n", ramp.name,
                     static_cast<unsigned>(FilePosition(sound.start)),
                     static_cast<unsigned>(FilePosition(sound.end)), g_state.Ramp_Rate);
  r = ImageWriteWordAt(ramp.headerPosition, word);
  if (r != ErrNone) return r;
  g_state.*ramp.done = 1;
  return ImageFlush();
}

// The system area is compared by chip address, without Offset, as the chip tools always did.
bool ReachesSystemArea(const SoundDef& sound) {
  return WrapAdd(g_state.SoundBase, sound.end) >= SystemAreaStart(g_state.FileSize);
}

// The rate only serves as a warning when a script mixes files of different rates; the image
// stores no rate and nothing is resampled.
void ListRate(uint32_t fileRate, std::string* listing) {
  const int32_t rate = static_cast<int32_t>(fileRate);
  if (g_state.WaveRate == 0) *listing += Format("Find Sample Rate %d Hz in wave.\n", rate);
  else if (g_state.WaveRate != rate) *listing += Format("Find different Sample Rate %d Hz in wave!\n", rate);
  g_state.WaveRate = rate;
}

int Refused(int code, const std::string& detail) {
  if (!detail.empty()) SetErrorDetail("%s", detail.c_str());
  return code;
}

int ImportWave(const SoundDef& sound, const SoundCodec& codec, std::string* listing) {
  WaveHeader header;
  int r = OpenSoundWave(sound, &header, listing);
  SampleReader reader;
  if (r == ErrNone) r = StartSamples(&reader, g_state.Wave, header);
  if (r == ErrNone) {
    r = StoreSound(codec, &reader,
                   {g_state.Offset, g_state.SoundBase, sound.start, sound.end, sound.name.c_str(),
                    sound.text.c_str(), g_state.Scale, listing});
  }
  if (g_state.Wave != nullptr) std::fclose(g_state.Wave);
  g_state.Wave = nullptr;
  return r;
}

}  // namespace

int OpenSoundWave(const SoundDef& sound, WaveHeader* header, std::string* listing) {
  std::string detail;
  int r = OpenWaveFile(sound.text, &g_state.Wave, &detail);
  if (r != ErrNone) return Refused(r, detail);
  r = CheckWaveHeader(g_state.Wave, sound.text.c_str(), header, &detail);
  if (r != ErrNone) return Refused(r, detail);
  ListRate(header->rate, listing);
  return ErrNone;
}

int RampWord(int32_t position, uint32_t* word) {
  // The upper 24 bits of the header word are all the chip has to find the ramp with.
  if (position < 0 || position > 0xFFFFFF) return ErrRampPosition;
  int32_t divider = 0;
  if (!ClockDivider(g_state.MainClk, g_state.Ramp_Rate, &divider)) return ErrRampRate;
  *word = EncodeHeaderWord(static_cast<uint32_t>(position), divider);
  return ErrNone;
}

int ImportSound(const char* name, std::string* listing) {
  const SoundDef* sound = FindSound(name);
  if (sound == nullptr) return ErrInternal;
  if (const RampSound* ramp = FindRamp(name)) {
    int r = WriteRampWord(*ramp, *sound, listing);
    if (r != ErrNone) return r;
  }
  const SoundKindInfo* kind = FindSoundKind(sound->kind);
  if (kind == nullptr) return ErrInternal;
  if (!KindHasData(sound->kind)) return ErrNone;
  if (ReachesSystemArea(*sound)) {
    *listing += Format("%s[%06x:%06x] %s = %s  \n", kind->label, static_cast<unsigned>(sound->start),
                       static_cast<unsigned>(sound->end), sound->name.c_str(), sound->text.c_str());
    return ErrSystemArea;
  }
  const SoundCodec* codec = FindCodec(sound->kind);
  return codec != nullptr ? ImportWave(*sound, *codec, listing) : ErrInternal;
}
