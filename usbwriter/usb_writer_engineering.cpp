// Engineering commands of the programmer firmware. The OTP operations do not send them; they
// are kept here, with their layouts and checks, for bench tools and firmware bring-up.
#include "usb_writer.h"

#include "command_set.h"
#include "qs71_usb_writer.h"
#include "voltage_codes.h"

using namespace qs71;

namespace {

// The firmware proves a sane reply to 0x01 with these two words, high byte first.
constexpr uint16_t kInfoCheckWord1 = 0x5AA5;
constexpr uint16_t kInfoCheckWord2 = 0x900D;

}  // namespace

bool QS71_USB_Writer::Command01(int info[5]) {
  BeginRequest(kCmdInfo);
  if (!Exchange()) return false;
  info[0] = ReplyWordHighFirst(34);
  info[1] = ReplyByte(16);
  info[2] = ReplyByte(17);
  info[3] = ReplyByte(36);
  info[4] = ReplyByte(37);
  if (!CheckReply()) return false;
  if (ReplyWordHighFirst(4) != kInfoCheckWord1 || ReplyWordHighFirst(32) != kInfoCheckWord2) {
    return Fail(QS71_E_CHECK_WORDS);
  }
  return true;
}

bool QS71_USB_Writer::Command31() {
  BeginRequest(kCmd31);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::Command41(double volts, double readings[2], int id[4]) {
  BeginRequest(kCmd41);
  PutWord(kOffsetVdd, VoltsToRawCode(volts));
  if (!Exchange()) return false;
  TakeReadings(&readings[0], &readings[1]);
  for (int i = 0; i < 4; ++i) id[i] = ReplyByte(kOffsetValue + i);
  return CheckReply();
}

bool QS71_USB_Writer::Command42(double voltsA, double voltsB, double readings[2],
                                uint32_t address, uint8_t value) {
  BeginRequest(kCmd42);
  PutWord(kOffsetVdd, VoltsToRawCode(voltsA));
  PutWord(kOffsetVpp, VoltsToRawCode(voltsB));
  PutByte(kOffsetValue, value);
  PutAddress(kOffsetAddress, address);
  if (!Exchange()) return false;
  TakeReadings(&readings[0], &readings[1]);
  return CheckReply();
}

bool QS71_USB_Writer::Command43(bool flag, const uint8_t* data, uint8_t value) {
  BeginRequest(kCmd43);
  PutByte(kOffsetVdd, value);
  PutByte(kOffsetVpp, flag ? 0x00 : 0xFF);
  PutByte(kOffsetValue, 0x01);
  PutData(data);
  return SendOnly() && Succeed();
}

bool QS71_USB_Writer::Command44() {
  BeginRequest(kCmd44);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::Command45(double volts, double readings[2], int* byte17, int* word12,
                                uint8_t value) {
  BeginRequest(kCmd45);
  PutWord(kOffsetVdd, VoltsToRawCode(volts));
  PutByte(kOffsetVpp, value);
  if (!Exchange()) return false;
  TakeReadings(&readings[0], &readings[1]);
  *word12 = ReplyWord(kOffsetValue);
  *byte17 = ReplyByte(17);
  return CheckReply();
}

bool QS71_USB_Writer::Command46(bool flag, uint8_t* dst, uint8_t value) {
  BeginRequest(kCmd46);
  PutByte(kOffsetVdd, value);
  PutByte(kOffsetVpp, flag ? 0x00 : 0xFF);
  if (!Exchange()) return false;
  for (int i = 0; i < 64; ++i) dst[i] = ReplyByte(i);
  return CheckReply();
}

bool QS71_USB_Writer::Command47() {
  BeginRequest(kCmd47);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::Command60() {
  BeginRequest(kCmd60);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::Command62() {
  BeginRequest(kCmd62);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::Command64() {
  BeginRequest(kCmd64);
  return Exchange() && CheckReply();
}

// These three carry their address at 4..6 with a zero byte after it, unlike the range
// commands, which put it at 16..18.
bool QS71_USB_Writer::Command66(uint32_t address) {
  BeginRequest(kCmd66);
  PutAddress(kOffsetVdd, address);
  PutByte(kOffsetVdd + 3, 0x00);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::Command68(uint32_t address, const uint8_t* data) {
  BeginRequest(kCmd68);
  PutAddress(kOffsetVdd, address);
  PutByte(kOffsetVdd + 3, 0x00);
  PutData(data);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::Command6A(uint32_t address, uint8_t* dst) {
  BeginRequest(kCmd6A);
  PutAddress(kOffsetVdd, address);
  PutByte(kOffsetVdd + 3, 0x00);
  if (!Exchange()) return false;
  for (int i = 0; i < 64; ++i) dst[i] = ReplyByte(i);
  return CheckReply();
}
