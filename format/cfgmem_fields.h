#pragma once
// The chip's 48-byte configuration memory as one table of 110 named fields. Each field knows
// where its bits lie (one place, or two for the fields the chip reads from two registers or
// that straddle a byte), which values the script may give it and how a value becomes bits.
// The generator writes fields with it; the inspector reads them back with the same table.

#include <cstdint>
#include <span>

constexpr int kCfgMemBytes = 48;
constexpr int kCfgMemFieldCount = 110;
constexpr int kCfgMemSlaveByte = 33;
constexpr uint8_t kCfgMemSlaveMark = 0x5A;

// A run of bits of one byte, holding the encoded value's bits from valueShift upward. The
// option block places its values the same way.
struct CfgMemPlace {
  uint8_t byte;
  uint8_t shift;  // lowest bit of the run in its byte
  uint8_t width;
  uint8_t valueShift;
};

// Clears the place's bits in block and puts the matching bits of value there.
void StoreCfgMemPlace(const CfgMemPlace& place, uint32_t value, uint8_t* block);

// The bits of count places, each moved back to its valueShift and ORed together.
uint32_t GatherCfgMemPlaces(const CfgMemPlace* places, int count, const uint8_t* block);

enum class CfgMemEncoding : uint8_t {
  Value,     // the bits hold v
  Offset,    // the bits hold v - min
  Map,       // the bits hold map[v - min]
  Constant,  // the bits hold map[0] whatever v is
};

struct CfgMemField {
  const char* name;
  uint32_t min;  // accepted values, compared as unsigned 32-bit numbers
  uint32_t max;
  CfgMemEncoding encoding;
  const uint8_t* map;  // Map and Constant only
  uint8_t placeCount;
  // Two places either split one value (FuncOpt, SecNum, RoscV, XtCfg) or repeat it in two
  // registers (Func, OutPos); valueShift tells which.
  CfgMemPlace places[2];
};

// The whole table, in the order the name lookup tries it.
std::span<const CfgMemField> CfgMemFieldTable();

// The field of that name, ignoring ASCII case, or null.
const CfgMemField* FindCfgMemField(const char* name);

// The bits value v of the field puts into its places (before they are placed).
uint32_t EncodeCfgMemValue(const CfgMemField& field, uint32_t value);

// Clears the field's bits in block and writes the encoded value into all its places. The
// value must be in range.
void StoreCfgMemField(const CfgMemField& field, uint32_t value, uint8_t* block);

// Reads the field back from a 48-byte block. False when the bits hold a pattern the encoding
// never produces (an unused map code, a value out of range, two repeated places that
// disagree); for Slave, true only when its byte holds the constant.
bool DecodeCfgMemField(const CfgMemField& field, const uint8_t* block, uint32_t* value);
