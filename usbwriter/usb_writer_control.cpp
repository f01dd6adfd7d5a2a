// The control command 0x7C: supply and programming voltage regulation, and word lists.
#include "usb_writer.h"

#include <algorithm>

#include "command_set.h"
#include "voltage_codes.h"

using namespace qs71;

namespace {

// Mode bytes of the control request: 0 leaves a regulator alone, 1 sets its trim.
constexpr uint8_t kModeKeep = 0x00;
constexpr uint8_t kModeTrim = 0x01;
constexpr uint8_t kMode2 = 0x02;
constexpr uint8_t kMode3 = 0x03;

}  // namespace

bool QS71_USB_Writer::SetVoltageMode(int modeOffset, uint8_t mode, uint8_t value,
                                     double* vddOut, double* vppOut) {
  BeginRequest(kCmdControl);
  PutByte(kOffsetVdd, kModeKeep);
  PutByte(kOffsetVdd + 1, 0x00);
  PutByte(kOffsetVpp, kModeKeep);
  PutByte(kOffsetVpp + 1, 0x00);
  PutByte(kOffsetValue, 0x00);
  PutByte(modeOffset, mode);
  PutByte(modeOffset + 1, value);
  if (!Exchange()) return false;
  TakeReadings(vddOut, vppOut);
  return CheckReply();
}

bool QS71_USB_Writer::AdjustVdd(double volts, double* vddOut, double* vppOut) {
  return SetVoltageMode(kOffsetVdd, kModeTrim, VoltsToTrim(volts), vddOut, vppOut);
}

bool QS71_USB_Writer::SetVddMode2(uint8_t value, double* vddOut, double* vppOut) {
  return SetVoltageMode(kOffsetVdd, kMode2, value, vddOut, vppOut);
}

bool QS71_USB_Writer::SetVddMode3(uint8_t value, double* vddOut, double* vppOut) {
  return SetVoltageMode(kOffsetVdd, kMode3, value, vddOut, vppOut);
}

bool QS71_USB_Writer::AdjustVpp(double volts, double* vddOut, double* vppOut) {
  return SetVoltageMode(kOffsetVpp, kModeTrim, VoltsToTrim(volts), vddOut, vppOut);
}

bool QS71_USB_Writer::SetVppMode2(uint8_t value, double* vddOut, double* vppOut) {
  return SetVoltageMode(kOffsetVpp, kMode2, value, vddOut, vppOut);
}

bool QS71_USB_Writer::SetVppMode3(uint8_t value, double* vddOut, double* vppOut) {
  return SetVoltageMode(kOffsetVpp, kMode3, value, vddOut, vppOut);
}

// The count byte gives the length of the whole list, up to 48, although one report carries
// only the first 24 words; the rest stay in the caller's list for a following call.
bool QS71_USB_Writer::SendWordList(std::vector<uint16_t>& words) {
  BeginRequest(kCmdControl);
  PutByte(kOffsetVdd, kModeKeep);
  PutByte(kOffsetVdd + 1, 0x00);
  PutByte(kOffsetVpp, kModeKeep);
  PutByte(kOffsetVpp + 1, 0x00);
  const size_t count = std::min<size_t>(words.size(), kWordCountLimit);
  PutByte(kOffsetValue, static_cast<uint8_t>(count));
  const size_t placed = std::min<size_t>(words.size(), kWordSlots);
  for (size_t i = 0; i < placed; ++i) PutWord(kOffsetAddress + 2 * static_cast<int>(i), words[i]);
  words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(placed));
  return Exchange() && CheckReply();
}
