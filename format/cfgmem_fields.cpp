#include "cfgmem_fields.h"

#include "ascii_case.h"

namespace {

using E = CfgMemEncoding;

// Value maps of the fields whose bits are not the value itself. Several trims and selectors
// of the analog block are active low or Gray-like, which is why these exist at all.
constexpr uint8_t kSetMap[] = {0x3, 0x2, 0x0};        // LvrSet, BgrSet, V2iSet, DacSet
constexpr uint8_t kRoscSelMap[] = {0xF, 0xB, 0x9, 0xA, 0x8};
constexpr uint8_t kRoscSetMap[] = {0xF, 0xE, 0xC, 0x8, 0x0};
constexpr uint8_t kInvertMap[] = {0x1, 0x0};          // xOPTEn: the chip reads the bit low-active
constexpr uint8_t kXtCfgMap[] = {0x7, 0x2, 0x0};      // bit 2 <- code bit 0, bits 4, 5 <- bits 1, 2
constexpr uint8_t kDacSrcMap[] = {0x3, 0x1, 0x0};     // for 1, 2, 3
constexpr uint8_t kVolPinMap[] = {0x3, 0x1, 0x2};
constexpr uint8_t kSlaveByte[] = {0x00};              // a slave chip has byte 33 cleared

constexpr uint32_t kAnyValue = 0xFFFFFFFFu;

constexpr CfgMemField Bits(const char* name, uint8_t byte, uint8_t shift, uint8_t width,
                           uint32_t max) {
  return {name, 0, max, E::Value, nullptr, 1, {{byte, shift, width, 0}, {}}};
}

constexpr CfgMemField Flag(const char* name, uint8_t byte, uint8_t bit) {
  return Bits(name, byte, bit, 1, 1);
}

constexpr CfgMemField Less(const char* name, uint8_t byte, uint8_t shift, uint8_t width,
                           uint32_t min, uint32_t max) {
  return {name, min, max, E::Offset, nullptr, 1, {{byte, shift, width, 0}, {}}};
}

template <size_t N>
constexpr CfgMemField Mapped(const char* name, uint8_t byte, uint8_t shift, uint8_t width,
                             uint32_t min, const uint8_t (&map)[N]) {
  return {name, min, static_cast<uint32_t>(min + N - 1), E::Map, map, 1, {{byte, shift, width, 0}, {}}};
}

// The same value in two registers of the chip.
constexpr CfgMemField Twice(const char* name, uint8_t byteA, uint8_t byteB, uint8_t shift,
                            uint8_t width, uint32_t max) {
  return {name, 0, max, E::Value, nullptr, 2, {{byteA, shift, width, 0}, {byteB, shift, width, 0}}};
}

// A 12-bit oscillator value: its high 8 bits fill one byte, its low 4 bits the low half of
// the next, whose high half belongs to a RoscSel field.
constexpr CfgMemField RoscV(const char* name, uint8_t byte) {
  return {name, 0, 4095, E::Value, nullptr, 2, {{byte, 0, 8, 4}, {uint8_t(byte + 1), 0, 4, 0}}};
}

const CfgMemField kFields[] = {
    Mapped("LvrSet", 0, 0, 2, 0, kSetMap),
    Mapped("BgrSet", 0, 2, 2, 0, kSetMap),
    Mapped("V2iSet", 0, 4, 2, 0, kSetMap),
    Mapped("DacSet", 0, 6, 2, 0, kSetMap),
    Bits("LvrTrim0", 1, 0, 8, 255), Bits("LvrTrim1", 7, 0, 8, 255), Bits("LvrTrim2", 13, 0, 8, 255),
    Flag("Enncg0", 2, 0), Flag("Enncg1", 8, 0), Flag("Enncg2", 14, 0),
    Flag("Endf0", 2, 1), Flag("Endf1", 8, 1), Flag("Endf2", 14, 1),
    Flag("VrefSel0", 2, 2), Flag("VrefSel1", 8, 2), Flag("VrefSel2", 14, 2),
    Flag("VrefRC0", 2, 3), Flag("VrefRC1", 8, 3), Flag("VrefRC2", 14, 3),
    Flag("VrefPad0", 2, 4), Flag("VrefPad1", 8, 4), Flag("VrefPad2", 14, 4),
    Bits("BgrTrim0", 3, 0, 7, 127), Bits("BgrTrim1", 9, 0, 7, 127), Bits("BgrTrim2", 15, 0, 7, 127),
    Bits("V2iTrim0", 4, 0, 8, 255), Bits("V2iTrim1", 10, 0, 8, 255), Bits("V2iTrim2", 16, 0, 8, 255),
    Bits("adfs0", 5, 0, 4, 15), Bits("adfs1", 11, 0, 4, 15), Bits("adfs2", 17, 0, 4, 15),
    Flag("endpi0", 5, 4), Flag("endpi1", 11, 4), Flag("endpi2", 17, 4),
    Flag("dac2vob0", 5, 5), Flag("dac2vob1", 11, 5), Flag("dac2vob2", 17, 5),
    Bits("DacTrim0", 6, 0, 8, 255), Bits("DacTrim1", 12, 0, 8, 255), Bits("DacTrim2", 18, 0, 8, 255),
    Mapped("RoscSel0", 19, 4, 4, 0, kRoscSelMap),
    Mapped("RoscSel1", 21, 4, 4, 0, kRoscSelMap),
    Mapped("RoscSel2", 23, 4, 4, 0, kRoscSelMap),
    Mapped("RoscSel3", 25, 4, 4, 0, kRoscSelMap),
    Mapped("RoscSel4", 27, 4, 4, 0, kRoscSelMap),
    Mapped("RoscSet", 19, 0, 4, 0, kRoscSetMap),
    RoscV("RoscV1", 20), RoscV("RoscV2", 22), RoscV("RoscV3", 24), RoscV("RoscV4", 26),
    Mapped("xOPTEn", 28, 0, 1, 0, kInvertMap),
    {"XtCfg", 0, 2, E::Map, kXtCfgMap, 2, {{28, 2, 1, 0}, {28, 4, 2, 1}}},
    Flag("lvden", 28, 3),
    Flag("pwmext", 28, 6),
    Flag("pwmckph", 28, 7),
    Bits("pwmdrv", 29, 0, 4, 15),
    Less("pwmbits", 29, 4, 3, 4, 11),
    Flag("pwmclk", 29, 7),
    Bits("mrate", 30, 0, 2, 3),
    Mapped("dacsrc", 30, 2, 2, 1, kDacSrcMap),
    Less("dacbits", 30, 4, 3, 9, 16),
    Flag("mmode", 30, 7),
    Less("mod0", 31, 0, 4, 8, 16),
    Less("mod1", 31, 4, 4, 8, 16),
    Bits("WakeUp", 32, 0, 5, 31),
    Twice("Func", 32, 35, 5, 3, 7),
    Bits("HwRamCfg", 34, 0, 3, 7),
    Bits("xOpt", 34, 3, 5, 31),
    Bits("SrcSpd", 35, 0, 2, 3),
    Bits("WaitTime", 35, 2, 2, 3),
    Flag("CkOnPause", 35, 4),
    {"Slave", 0, kAnyValue, E::Constant, kSlaveByte, 1, {{kCfgMemSlaveByte, 0, 8, 0}, {}}},
    {"FuncOpt", 0, 1023, E::Value, nullptr, 2, {{36, 0, 8, 0}, {45, 0, 2, 8}}},
    Bits("PullUI", 37, 0, 3, 4),
    Flag("PullSI", 37, 3),
    Bits("BusyLvl", 37, 4, 2, 3),
    Twice("OutPos", 37, 39, 6, 2, 3),
    Bits("dbck_ui", 38, 0, 4, 15),
    Bits("dbck_si", 38, 4, 4, 15),
    Bits("out1typ", 39, 0, 2, 3),
    Bits("out2typ", 39, 2, 2, 3),
    Bits("out3typ", 39, 4, 2, 3),
    Flag("SecChk", 40, 0),
    Flag("POPen", 40, 1),
    // Bits 2 to 11 of the 16-bit word at 40: six bits in byte 40, four in byte 41.
    {"SecNum", 1, 1024, E::Offset, nullptr, 2, {{40, 2, 6, 0}, {41, 0, 4, 6}}},
    Flag("paritychk", 41, 7),
    Mapped("VolPin", 42, 0, 2, 0, kVolPinMap),
    Flag("VolWarp", 42, 2),
    Flag("MuteEn", 42, 3),
    Flag("DacOnMute", 42, 4),
    Bits("PwmSlew", 42, 5, 3, 7),
    Bits("DefVol", 43, 0, 4, 15),
    Bits("MaxVol", 43, 4, 4, 15),
    Flag("UsePwm", 44, 0), Flag("UseDac", 44, 1), Flag("RampUp", 44, 2), Flag("RampDn", 44, 3),
    Flag("RampOnChg", 44, 4), Flag("RampVol", 44, 5), Flag("RampWav", 44, 6),
    Flag("LedOnRamp", 44, 7),
    Flag("LvdMode", 45, 2),
    Flag("PauseChg", 45, 3),
    Flag("Cfg1Time", 45, 4),
    Flag("Cur2Sbt", 45, 5),
    Bits("PwrCtrl", 45, 6, 2, 3),
    Bits("UsrSel", 46, 0, 4, 15),
    Bits("Out1Sel", 46, 4, 4, 15),
    Bits("Out2Sel", 47, 0, 4, 15),
    Bits("Out3Sel", 47, 4, 4, 15),
};

static_assert(sizeof kFields / sizeof kFields[0] == kCfgMemFieldCount);

uint8_t RunMask(const CfgMemPlace& p) {
  return static_cast<uint8_t>(((1u << p.width) - 1u) << p.shift);
}

uint32_t PlaceBits(const CfgMemPlace& p, const uint8_t* block) {
  return static_cast<uint32_t>((block[p.byte] & RunMask(p)) >> p.shift) << p.valueShift;
}

// A second place that starts at the same value bit repeats the first instead of extending it.
bool IsRepeat(const CfgMemField& field, int i) {
  return i > 0 && field.places[i].valueShift == field.places[0].valueShift;
}

}  // namespace

void StoreCfgMemPlace(const CfgMemPlace& p, uint32_t value, uint8_t* block) {
  const uint8_t mask = RunMask(p);
  const uint32_t part = (value >> p.valueShift) << p.shift;
  block[p.byte] = static_cast<uint8_t>((block[p.byte] & ~mask) | (part & mask));
}

uint32_t GatherCfgMemPlaces(const CfgMemPlace* places, int count, const uint8_t* block) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) value |= PlaceBits(places[i], block);
  return value;
}

std::span<const CfgMemField> CfgMemFieldTable() { return kFields; }

const CfgMemField* FindCfgMemField(const char* name) {
  if (name == nullptr) return nullptr;
  for (const CfgMemField& field : kFields) {
    if (EqualsNoCase(name, field.name)) return &field;
  }
  return nullptr;
}

uint32_t EncodeCfgMemValue(const CfgMemField& field, uint32_t value) {
  switch (field.encoding) {
    case E::Value: return value;
    case E::Offset: return value - field.min;
    case E::Map: return field.map[value - field.min];
    case E::Constant: return field.map[0];
  }
  return value;
}

void StoreCfgMemField(const CfgMemField& field, uint32_t value, uint8_t* block) {
  const uint32_t bits = EncodeCfgMemValue(field, value);
  for (int i = 0; i < field.placeCount; ++i) StoreCfgMemPlace(field.places[i], bits, block);
}

namespace {

// Gathers the encoded bits from the places; false when a repeated place disagrees.
bool GatherBits(const CfgMemField& field, const uint8_t* block, uint32_t* bits) {
  uint32_t out = 0;
  uint32_t first = 0;
  for (int i = 0; i < field.placeCount; ++i) {
    const uint32_t part = PlaceBits(field.places[i], block);
    if (i == 0) first = part;
    if (IsRepeat(field, i) && part != first) return false;
    out |= part;
  }
  *bits = out;
  return true;
}

bool FindInMap(const CfgMemField& field, uint32_t bits, uint32_t* value) {
  for (uint32_t i = 0; i <= field.max - field.min; ++i) {
    if (field.map[i] == bits) {
      *value = field.min + i;
      return true;
    }
  }
  return false;
}

}  // namespace

bool DecodeCfgMemField(const CfgMemField& field, const uint8_t* block, uint32_t* value) {
  uint32_t bits = 0;
  if (!GatherBits(field, block, &bits)) return false;
  uint32_t v = bits;
  switch (field.encoding) {
    case E::Value: break;
    case E::Offset: v = bits + field.min; break;
    case E::Map: return FindInMap(field, bits, value);
    case E::Constant:
      if (bits != field.map[0]) return false;
      *value = 0;
      return true;
  }
  if (v < field.min || v > field.max) return false;
  *value = v;
  return true;
}
