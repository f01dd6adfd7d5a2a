#include "production/part_record.h"

#include <cstdio>

namespace qs71prog {

std::string ChipIdFromLine(const std::string& line) {
  unsigned bytes[4] = {};
  char end = 0;
  if (std::sscanf(line.c_str(), "OTP ID: 0x%2x, 0x%2x, 0x%2x, 0x%2x%c", &bytes[0], &bytes[1],
                  &bytes[2], &bytes[3], &end) != 5 ||
      end != '.') {
    return "";
  }
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

}  // namespace qs71prog
