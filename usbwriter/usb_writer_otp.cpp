// The commands behind the OTP test, identification and the range transfers.
#include "usb_writer.h"

#include "command_set.h"
#include "voltage_codes.h"

using namespace qs71;

bool QS71_USB_Writer::OtpTestStart(double vdd, double* vddOut, double* vppOut) {
  BeginRequest(kCmdOtpTestStart);
  PutWord(kOffsetVdd, VoltsToCode(vdd));
  if (!Exchange()) return false;
  TakeReadings(vddOut, vppOut);
  return CheckReply();
}

bool QS71_USB_Writer::OtpTestStop() {
  BeginRequest(kCmdOtpTestStop);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::GetOtpId(uint8_t* id0, uint8_t* id1, uint8_t* id2, uint8_t* id3) {
  BeginRequest(kCmdGetOtpId);
  if (!Exchange()) return false;
  *id0 = ReplyByte(kOffsetValue);
  *id1 = ReplyByte(kOffsetValue + 1);
  *id2 = ReplyByte(kOffsetValue + 2);
  *id3 = ReplyByte(kOffsetValue + 3);
  return CheckReply();
}

bool QS71_USB_Writer::WriteBegin(uint32_t address, double vpp, double* vppOut) {
  BeginRequest(kCmdWriteBegin);
  PutWord(kOffsetVpp, VoltsToCode(vpp));
  PutAddress(kOffsetAddress, address);
  if (!Exchange()) return false;
  *vppOut = CodeToVolts(ReplyWord(kOffsetVpp));
  return CheckReply();
}

// Data reports get no reply: one report per 32 bytes and no round trip per chunk is what
// keeps a 2 MB part to seconds.
bool QS71_USB_Writer::WriteData(const uint8_t* data, uint8_t value, bool more) {
  BeginRequest(kCmdWriteData);
  PutMoreFlag(more);
  PutByte(kOffsetValue, value);
  PutData(data);
  return SendOnly() && Succeed();
}

bool QS71_USB_Writer::WriteEnd() {
  BeginRequest(kCmdWriteEnd);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::ReadBegin(uint32_t address) {
  BeginRequest(kCmdReadBegin);
  PutAddress(kOffsetAddress, address);
  return Exchange() && CheckReply();
}

// The whole reply is array data, so there is no echo to test.
bool QS71_USB_Writer::ReadData(uint8_t* dst, bool more) {
  BeginRequest(kCmdReadData);
  PutMoreFlag(more);
  if (!Exchange()) return false;
  for (int i = 0; i < 64; ++i) dst[i] = ReplyByte(i);
  return CheckReply();
}

bool QS71_USB_Writer::ReadEnd() {
  BeginRequest(kCmdReadEnd);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::VerifyBegin(uint32_t address) {
  BeginRequest(kCmdVerifyBegin);
  PutAddress(kOffsetAddress, address);
  return Exchange() && CheckReply();
}

bool QS71_USB_Writer::VerifyData(const uint8_t* data, bool more) {
  BeginRequest(kCmdVerifyData);
  PutMoreFlag(more);
  PutData(data);
  return SendOnly() && Succeed();
}

// The programmer compares the streamed data itself and tells the outcome only here.
bool QS71_USB_Writer::VerifyEnd(bool* match) {
  BeginRequest(kCmdVerifyEnd);
  if (!Exchange()) return false;
  *match = ReplyByte(kOffsetMatch) == 0x01;
  return CheckReply();
}
