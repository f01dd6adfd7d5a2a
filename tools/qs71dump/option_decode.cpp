#include "option_decode.h"

#include <array>
#include <span>

#include "dump_result.h"
#include "image/cfgmem_fields.h"
#include "image/option_block.h"

namespace {

constexpr int kOptionBytesAt = kCfgMemBytes - kOptionBlockSize;  // 32
constexpr int kMaxVolByte = 43;
constexpr uint8_t kSecNumByte = 8;  // of the option block

// The .GLOBAL values of an option block, by the places they were packed into (byte numbers
// of the 16-byte block). A value whose place starts at bit valueShift lost its lower bits.
struct GlobalRow {
  const char* name;
  uint8_t placeCount;
  CfgMemPlace places[2];
};

const GlobalRow kGlobals[] = {
    {"$WAKEUPDLY", 1, {{0, 0, 5, 3}, {}}},
    {"$FUNCCODE", 2, {{0, 5, 3, 0}, {4, 0, 8, 3}}},
    {"$SRCSPD", 1, {{3, 0, 2, 0}, {}}},
    {"$IO_CFG", 1, {{5, 0, 8, 0}, {}}},
    {"$DBCKUI", 1, {{6, 0, 4, 0}, {}}},
    {"$DBCKSI", 1, {{6, 4, 4, 0}, {}}},
    {"$SECNUM", 2, {{8, 0, 8, 0}, {9, 0, 8, 8}}},
    {"$VOL_CFG", 2, {{10, 0, 8, 0}, {11, 0, 8, 8}}},
    {"$RAMP_CFG", 1, {{12, 0, 8, 0}, {}}},
    {"$MISCOPT", 1, {{13, 0, 8, 0}, {}}},
    {"$OUTPUT", 2, {{14, 0, 8, 0}, {15, 0, 8, 8}}},
};

// Bits the option block always holds as set, and places that repeat another.
struct FixedBits {
  uint8_t byte;
  uint8_t mask;
};
const FixedBits kFixed[] = {{1, 0xFF}, {2, 0xFF}, {3, 0x1C}, {7, 0x3F}};

struct RepeatedBits {
  uint8_t byte;
  uint8_t copy;
  uint8_t mask;
};
const RepeatedBits kRepeats[] = {{0, 3, 0xE0}, {5, 7, 0xC0}};  // FuncCode bits 0-2, IO_Cfg 6-7

uint32_t Gather(const CfgMemPlace* places, int count, const uint8_t* block) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) {
    const CfgMemPlace& p = places[i];
    const uint32_t bits = (block[p.byte] >> p.shift) & ((1u << p.width) - 1u);
    value |= bits << p.valueShift;
  }
  return value;
}

std::string Where(const CfgMemPlace* places, int count, int byteBase) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    const CfgMemPlace& p = places[i];
    if (!text.empty()) text += ", ";
    text += p.width == 8 ? Format("byte %d", p.byte + byteBase)
            : p.width == 1
                ? Format("byte %d bit %d", p.byte + byteBase, p.shift)
                : Format("byte %d bits %d-%d", p.byte + byteBase, p.shift, p.shift + p.width - 1);
  }
  return text;
}

bool InOptionBytes(const CfgMemField& field) {
  for (int i = 0; i < field.placeCount; ++i) {
    if (field.places[i].byte < kOptionBytesAt) return false;
  }
  return true;
}

// A field's value; the raw bits of its places where they hold a pattern no value gives.
NamedValue FieldValue(const CfgMemField& field, const uint8_t* block, int byteBase) {
  NamedValue named;
  named.name = field.name;
  named.where = Where(field.places, field.placeCount, byteBase);
  named.valid = DecodeCfgMemField(field, block, &named.value);
  if (field.encoding == CfgMemEncoding::Constant) {
    // Slave: 0x00 on a slave part, 0x5A as the first .CFGMEM statement leaves it.
    named.value = Gather(field.places, field.placeCount, block);
    named.valid = named.value == field.map[0] || named.value == kCfgMemSlaveMark;
    named.note = named.value == field.map[0] ? "slave" : named.valid ? "not a slave" : "";
  } else if (!named.valid) {
    named.value = Gather(field.places, field.placeCount, block);
  }
  return named;
}

std::vector<NamedValue> DecodeFields(const uint8_t* block, bool optionBlockOnly) {
  std::vector<NamedValue> fields;
  const int byteBase = optionBlockOnly ? -kOptionBytesAt : 0;
  for (const CfgMemField& field : CfgMemFieldTable()) {
    if (optionBlockOnly && (!InOptionBytes(field) || field.encoding == CfgMemEncoding::Constant)) {
      continue;
    }
    fields.push_back(FieldValue(field, block, byteBase));
  }
  return fields;
}

// The block holds the low 16 bits of (SecNum - 4) OR 0x7000: the default 3 gives 0xFFFF,
// 4 to 4099 give 0x7000 to 0x7FFF.
std::string SecNumNote(uint32_t word) {
  if ((word & 0x7000) != 0x7000) return "not (SecNum - 4) OR 0x7000";
  const int32_t secNum = (word & 0x8000) ? static_cast<int16_t>(word) + 4 : (word & 0x0FFF) + 4;
  return Format("SecNum %d", secNum);
}

std::vector<NamedValue> DecodeGlobals(const uint8_t* option) {
  std::vector<NamedValue> globals;
  for (const GlobalRow& row : kGlobals) {
    NamedValue named{row.name, Where(row.places, row.placeCount, 0),
                     Gather(row.places, row.placeCount, option), true, ""};
    if (row.places[0].byte == kSecNumByte) named.note = SecNumNote(named.value);
    globals.push_back(named);
  }
  return globals;
}

bool FixedBitsHold(const uint8_t* option) {
  for (const FixedBits& f : kFixed) {
    if ((option[f.byte] & f.mask) != f.mask) return false;
  }
  for (const RepeatedBits& r : kRepeats) {
    if ((option[r.byte] & r.mask) != (option[r.copy] & r.mask)) return false;
  }
  return true;
}

std::array<uint8_t, kCfgMemBytes> ReadBlock(const ImageBytes& image, const ImageLayout& layout) {
  std::array<uint8_t, kCfgMemBytes> block;
  for (int i = 0; i < kCfgMemBytes; ++i) block[i] = image.Byte(layout.optionBase + i);
  return block;
}

}  // namespace

bool HoldsConfigBlock(const ImageBytes& image, const ImageLayout& layout) {
  return image.Byte(layout.optionBase + kCfgMemSlaveByte) != 0xFF;
}

OptionInfo DecodeOptions(const ImageBytes& image, const ImageLayout& layout) {
  const std::array<uint8_t, kCfgMemBytes> block = ReadBlock(image, layout);
  OptionInfo info;
  info.configBlock = HoldsConfigBlock(image, layout);
  if (info.configBlock) {
    info.bytes.assign(block.begin(), block.end());
    info.fields = DecodeFields(block.data(), false);
    return info;
  }
  const uint8_t* option = block.data() + kOptionBytesAt;
  info.bytes.assign(option, option + kOptionBlockSize);
  info.fields = DecodeFields(block.data(), true);
  info.globals = DecodeGlobals(option);
  info.fixedBitsOk = FixedBitsHold(option);
  return info;
}

VolumeMap DecodeVolumeMap(const ImageBytes& image, const ImageLayout& layout) {
  VolumeMap map;
  map.pos = layout.volMapPos;
  // Bits 12 to 15 of the 16-bit Vol_Cfg word at bytes 42 and 43 of both blocks.
  const int32_t volCfg = image.Byte(layout.optionBase + kMaxVolByte - 1) |
                         (image.Byte(layout.optionBase + kMaxVolByte) << 8);
  map.count = VolMapLength(volCfg);
  for (int i = 0; i < map.count && image.Has(map.pos + i, 1); ++i) {
    map.entries.push_back(image.Byte(map.pos + i));
  }
  const int64_t rest = map.pos + map.count;
  map.restBlank = image.size() <= rest || image.CountUsed(rest, image.size() - rest) == 0;
  return map;
}
