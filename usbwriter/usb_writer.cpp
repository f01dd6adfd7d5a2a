// The programmer's command protocol as the OTP operations use it: the request and reply
// framing with its checks, the commands of the OTP test, identification and the range
// transfers, and the control command 0x7C (voltage regulation and word lists). The
// engineering commands are in usb_writer_engineering.cpp.
#include "usb_writer.h"

#include <algorithm>
#include <cstring>

#include "command_set.h"
#include "qs71_usb_writer.h"
#include "text_format.h"  // Format
#include "usb_hid.h"
#include "voltage_codes.h"

using namespace qs71;

namespace {

// The programmer's USB identity.
constexpr unsigned kVendorId = 0x04D8;
constexpr unsigned kProductId = 0xFE08;
constexpr unsigned kRelease = 0x0101;

// Mode bytes of the control request: 0 leaves a regulator alone, 1 sets its trim.
constexpr uint8_t kModeKeep = 0x00;
constexpr uint8_t kModeTrim = 0x01;
constexpr uint8_t kMode2 = 0x02;
constexpr uint8_t kMode3 = 0x03;

}  // namespace

QS71_USB_Writer::QS71_USB_Writer(const std::string& path) : hid(new UsbHid()), lastError(0) {
  const bool opened = hid->Open(Format("%04X", kVendorId),
                                Format("%04X", kProductId),
                                Format("%04X", kRelease), path);
  lastError = opened ? 0 : hid->Refusal() != 0 ? hid->Refusal() : QS71_E_TRANSPORT;
}

QS71_USB_Writer::QS71_USB_Writer(const ProgrammerName& name) : hid(new UsbHid()), lastError(0) {
  const bool opened = hid->Open(Format("%04X", kVendorId), Format("%04X", kProductId),
                                Format("%04X", kRelease), name);
  lastError = opened ? 0 : hid->Refusal() != 0 ? hid->Refusal() : QS71_E_TRANSPORT;
}

int QS71_USB_Writer::Refusal() const { return hid->Refusal(); }

const std::string& QS71_USB_Writer::RefusalMessage() const { return hid->RefusalMessage(); }

int QS71_USB_Writer::HoldProgrammer(const ProgrammerName& name, HidPortInfo& found,
                                    HeldShares& shares, std::string& why) {
  return UsbHid::HoldDevice(Format("%04X", kVendorId), Format("%04X", kProductId),
                            Format("%04X", kRelease), name, found, shares, why);
}

bool QS71_USB_Writer::ListProgrammers(std::vector<HidPortInfo>& found) {
  return UsbHid::List(Format("%04X", kVendorId), Format("%04X", kProductId),
                      Format("%04X", kRelease), found);
}

void QS71_USB_Writer::AnnounceJob(qs71::PartUse use) { hid->AnnounceJob(use); }

QS71_USB_Writer::~QS71_USB_Writer() { delete hid; }

void QS71_USB_Writer::BeginRequest(uint8_t byte) {
  hid->ClearBuffers();
  command = byte;
  hid->OutReport()[0] = byte;
}

void QS71_USB_Writer::PutByte(int offset, uint8_t value) { hid->OutReport()[offset] = value; }

void QS71_USB_Writer::PutWord(int offset, uint16_t value) {
  PutByte(offset, static_cast<uint8_t>(value));
  PutByte(offset + 1, static_cast<uint8_t>(value >> 8));
}

void QS71_USB_Writer::PutAddress(int offset, uint32_t address) {
  PutByte(offset, static_cast<uint8_t>(address));
  PutByte(offset + 1, static_cast<uint8_t>(address >> 8));
  PutByte(offset + 2, static_cast<uint8_t>(address >> 16));
}

void QS71_USB_Writer::PutData(const uint8_t* data) {
  std::memcpy(hid->OutReport() + kOffsetData, data, kDataChunk);
}

// The firmware keeps a transfer open while this flag is 0xFF and closes its buffer on 0x00.
void QS71_USB_Writer::PutMoreFlag(bool more) { PutByte(kOffsetVpp, more ? 0xFF : 0x00); }

bool QS71_USB_Writer::Exchange() { return hid->Transact() || Fail(QS71_E_TRANSPORT); }

bool QS71_USB_Writer::SendOnly() { return hid->WriteReport() || Fail(QS71_E_TRANSPORT); }

bool QS71_USB_Writer::CheckReply() {
  const ReplyRule& rule = ReplyRuleFor(command);
  if (rule.echoError != kNoEchoCheck && ReplyByte(0) != command) {
    return Fail(rule.echoError);
  }
  if (rule.status != kNoStatusCheck && ReplyByte(1) != rule.status) {
    return Fail(QS71_E_STATUS);
  }
  return Succeed();
}

void QS71_USB_Writer::TakeReadings(double* vddOut, double* vppOut) const {
  *vddOut = CodeToVolts(ReplyWord(kOffsetVdd));
  *vppOut = CodeToVolts(ReplyWord(kOffsetVpp));
}

uint8_t QS71_USB_Writer::ReplyByte(int offset) const { return hid->InReport()[offset]; }

uint16_t QS71_USB_Writer::ReplyWord(int offset) const {
  return static_cast<uint16_t>(ReplyByte(offset) | ReplyByte(offset + 1) << 8);
}

uint16_t QS71_USB_Writer::ReplyWordHighFirst(int offset) const {
  return static_cast<uint16_t>(ReplyByte(offset) << 8 | ReplyByte(offset + 1));
}

bool QS71_USB_Writer::Succeed() {
  lastError = 0;
  return true;
}

bool QS71_USB_Writer::Fail(int code) {
  lastError = code;
  return false;
}

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

// The control command 0x7C: supply and programming voltage regulation, and word lists.
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
