#include "voltage_codes.h"

#include <cmath>

namespace qs71 {

namespace {

double CountsFor(double volts) {
  return volts / 3 / static_cast<double>(kVoltsPerCount) + 0.5;
}

}  // namespace

uint16_t VoltsToCode(double volts) {
  const double x = CountsFor(volts);
  if (!(x > 0)) return 0;
  if (x >= kMaxCode) return kMaxCode;
  return static_cast<uint16_t>(x);
}

uint16_t VoltsToRawCode(double volts) {
  const double x = std::trunc(CountsFor(volts));
  // Outside the range of a 64-bit integer the conversion would be undefined; the firmware
  // only ever sees the low 16 bits, and such requests are nonsense anyway.
  if (!(x > -9.0e18 && x < 9.0e18)) return 0;
  return static_cast<uint16_t>(static_cast<uint64_t>(static_cast<int64_t>(x)));
}

double CodeToVolts(uint16_t code) {
  return code * static_cast<double>(kVoltsPerCount) * 3 + static_cast<double>(kReadingRounding);
}

uint8_t VoltsToTrim(double volts) {
  const double y = 127 - static_cast<double>(kTrimConstant) / volts + 0.5;
  if (std::isnan(y) || y <= 0) return 0;
  if (y >= kMaxTrim) return kMaxTrim;
  return static_cast<uint8_t>(y);
}

}  // namespace qs71
