#pragma once

#include <cstdint>

namespace qs71 {

// The programmer measures and sets voltages as 10-bit counts of a 3.3 V reference behind a
// 1:3 divider. Its firmware works in single precision, so the constants are the float values;
// the host does the arithmetic in double so that codes come out as the firmware expects.
inline constexpr float kVoltsPerCount = 3.3f / 1024;
inline constexpr float kReadingRounding = 0.005f;
inline constexpr float kTrimConstant = 156.845f;
inline constexpr uint16_t kMaxCode = 1023;
inline constexpr uint8_t kMaxTrim = 127;

// Voltage for a set-point request, limited to the 10-bit range.
uint16_t VoltsToCode(double volts);
// Low 16 bits of the unlimited count; the engineering commands send it unchecked.
uint16_t VoltsToRawCode(double volts);
// Voltage of a reading; the rounding term makes "%.2f" show the nearest hundredth.
double CodeToVolts(uint16_t code);
// Regulator trim step (0..127) that gives the requested supply voltage.
uint8_t VoltsToTrim(double volts);

}  // namespace qs71
