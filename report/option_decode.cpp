#include "option_decode.h"

#include <array>
#include <span>

#include "cfgmem_fields.h"
#include "dump_result.h"
#include "option_block.h"

namespace {

constexpr int kMaxVolByte = 43;

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
    if (field.places[i].byte < kOptionBlockAt) return false;
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
    named.value = GatherCfgMemPlaces(field.places, field.placeCount, block);
    named.valid = named.value == field.map[0] || named.value == kCfgMemSlaveMark;
    named.note = named.value == field.map[0] ? "slave" : named.valid ? "not a slave" : "";
  } else if (!named.valid) {
    named.value = GatherCfgMemPlaces(field.places, field.placeCount, block);
  }
  return named;
}

std::vector<NamedValue> DecodeFields(const uint8_t* block, bool optionBlockOnly) {
  std::vector<NamedValue> fields;
  const int byteBase = optionBlockOnly ? -kOptionBlockAt : 0;
  for (const CfgMemField& field : CfgMemFieldTable()) {
    if (optionBlockOnly && (!InOptionBytes(field) || field.encoding == CfgMemEncoding::Constant)) {
      continue;
    }
    fields.push_back(FieldValue(field, block, byteBase));
  }
  return fields;
}

// The word SecNumWord packed, back to the SecNum it came from.
std::string SecNumNote(uint32_t word) {
  if ((word & 0x7000) != 0x7000) return "not (SecNum - 4) OR 0x7000";
  const int32_t secNum = (word & 0x8000) ? static_cast<int16_t>(word) + 4 : (word & 0x0FFF) + 4;
  return Format("SecNum %d", secNum);
}

std::vector<NamedValue> DecodeGlobals(const uint8_t* option) {
  std::vector<NamedValue> globals;
  for (const OptionGlobal& row : OptionGlobalTable()) {
    NamedValue named{row.name, Where(row.places, row.placeCount, 0),
                     GatherCfgMemPlaces(row.places, row.placeCount, option), true, ""};
    if (row.pack == SecNumWord) named.note = SecNumNote(named.value);
    globals.push_back(named);
  }
  return globals;
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
  const uint8_t* option = block.data() + kOptionBlockAt;
  info.bytes.assign(option, option + kOptionBlockSize);
  info.fields = DecodeFields(block.data(), true);
  info.globals = DecodeGlobals(option);
  info.fixedBitsOk = OptionBlockFixedBitsHold(option);
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
