#include "name_tables.h"

#include <cstring>
#include <memory>
#include <unordered_map>

#include "ascii_case.h"
#include "audio/sound_import.h"
#include "compile_state.h"
#include "error_report.h"
#include "file_system.h"
#include "sound_kinds.h"
#include "hex.h"
#include "wrap_math.h"

namespace {

// Opens the wave file only long enough to learn its size from the header. A sound to be
// prepared has its size only once the links of pass 1 have fixed its rate.
int ReserveWaveRange(CompileState& s, SoundDef* sound) {
  WaveHeader header;
  std::string listing;
  const bool prepared = s.Prep.options.Active();
  int r = prepared ? DefinePreparedSound(s, *sound, &listing) : OpenSoundWave(s, *sound, &header, &listing);
  std::fwrite(listing.data(), 1, listing.size(), s.Out);
  if (r == ErrNone && !prepared) ReserveSoundRange(s, sound, WaveFrameCount(header));
  if (s.Wave != nullptr) std::fclose(s.Wave);
  s.Wave = nullptr;
  return r;
}

// The chip plays a silence or mute for the samples between the two addresses of its link, so
// there is no way to ask for none; a length below 1 would wrap into millions of samples.
int SetSilenceLength(SoundDef* sound, int32_t length) {
  sound->end = WrapSub(length, 1);
  return length < 1 ? ErrSilenceLength : ErrNone;
}

std::string WavePath(const char* literal) {
  size_t n = std::strlen(literal);
  return n >= 2 ? std::string(literal + 1, n - 2) : std::string();
}

}  // namespace

int DefineConst(CompileState& s, const char* name, int32_t value) {
  std::string key = AsciiLowerCopy(name);
  if (s.Names.constantIndex.count(key) != 0) return ErrConstRedefined;
  s.Names.constantIndex.emplace(key, s.Names.constants.size());
  s.Names.constants.push_back({name, value});
  return ErrNone;
}

int32_t LookupConst(CompileState& s, const char* name, int line) {
  auto it = s.Names.constantIndex.find(AsciiLowerCopy(name));
  if (it == s.Names.constantIndex.end()) {
    ReportError(s, ErrConstUndefined, line, name);
    return -1;
  }
  return s.Names.constants[it->second].value;
}

int DefineSound(CompileState& s, const char* name, const char* text, int32_t kind, int32_t length) {
  std::string key = AsciiLowerCopy(name);
  if (s.Names.soundIndex.count(key) != 0) return ErrVoiceRedefined;
  auto sound = std::make_unique<SoundDef>();
  sound->name = name;
  sound->kind = kind;
  if (kind == KindSilence) sound->text = "Silence";
  else if (kind == KindMute) sound->text = "Mute";
  else sound->text = s.SoundFolder.empty() ? WavePath(text) : PathFrom(s.SoundFolder, WavePath(text));
  SoundDef* def = sound.get();
  s.Names.soundIndex.emplace(key, def);
  s.Names.sounds.push_back(std::move(sound));
  if (!KindHasData(kind)) return SetSilenceLength(def, length);
  const SoundKindInfo* info = FindSoundKind(kind);
  if (info == nullptr) return ErrInternal;
  return ReserveWaveRange(s, def);
}

void ReserveSoundRange(CompileState& s, SoundDef* sound, uint32_t frames) {
  const SoundKindInfo* kind = FindSoundKind(sound->kind);
  if (kind == nullptr) return;
  sound->frames = frames;
  uint32_t size = KindBytesFor(*kind, sound->frames);
  sound->start = s.NextSoundStart;
  s.NextSoundStart = WrapAdd(sound->start, static_cast<int32_t>(size));
  sound->end = WrapSub(s.NextSoundStart, 1);
}

const SoundDef* FindSound(CompileState& s, const char* name) {
  auto it = s.Names.soundIndex.find(AsciiLowerCopy(name));
  return it == s.Names.soundIndex.end() ? nullptr : it->second;
}

std::vector<const SoundDef*> SoundsNewestFirst(CompileState& s) {
  std::vector<const SoundDef*> out;
  for (auto it = s.Names.sounds.rbegin(); it != s.Names.sounds.rend(); ++it) out.push_back(it->get());
  return out;
}

namespace {

// Accumulates the digits of text[0..n) in the given base; false on any other character.
bool Accumulate(const std::string& text, size_t n, int base, int32_t* value) {
  int32_t v = 0;
  for (size_t i = 0; i < n; ++i) {
    int d = HexDigitValue(text[i]);
    if (d < 0 || d >= base) return false;
    v = WrapAdd(WrapMul(v, base), d);
  }
  *value = v;
  return true;
}

int BaseOfSuffix(char c) {
  switch (AsciiLower(c)) {
    case 'h': return 16;
    case 'b': return 2;
    case 'd': return 10;
    default: return 0;
  }
}

}  // namespace

int ConvertNumber(const char* text, int32_t* value) {
  std::string t = text;
  if (!t.empty() && t.front() == '"') t.erase(0, 1);
  if (!t.empty() && t.back() == '"') t.pop_back();
  bool ok = false;
  if (!t.empty()) {
    char last = t.back();
    int base = BaseOfSuffix(last);
    if (base != 0) ok = Accumulate(t, t.size() - 1, base, value);
    else if (last >= '0' && last <= '9') ok = Accumulate(t, t.size(), 10, value);
  }
  if (!ok) {
    *value = -1;
    return ErrNumberInput;
  }
  return ErrNone;
}

void FreeNames(CompileState& s) {
  s.Names.constants.clear();
  s.Names.constantIndex.clear();
  s.Names.soundIndex.clear();
  s.Names.sounds.clear();
}
