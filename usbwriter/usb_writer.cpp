#include "usb_writer.h"

#include <cstring>

#include "command_set.h"
#include "qs71_usb_writer.h"
#include "text_format.h"  // Format
#include "usb_hid.h"
#include "voltage_codes.h"

namespace {

// The programmer's USB identity.
constexpr unsigned kVendorId = 0x04D8;
constexpr unsigned kProductId = 0xFE08;
constexpr unsigned kRelease = 0x0101;

}  // namespace

QS71_USB_Writer::QS71_USB_Writer(const std::string& path) : hid(new UsbHid()), lastError(0) {
  const bool opened = hid->Open(Format("%04X", kVendorId),
                                Format("%04X", kProductId),
                                Format("%04X", kRelease), path);
  lastError = opened ? 0 : QS71_E_TRANSPORT;
}

bool QS71_USB_Writer::ListProgrammers(std::vector<qs71::HidPortInfo>& found) {
  return UsbHid::List(Format("%04X", kVendorId), Format("%04X", kProductId),
                      Format("%04X", kRelease), found);
}

void QS71_USB_Writer::AnnounceJob(bool runsSteps) { hid->AnnounceJob(runsSteps); }

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
  std::memcpy(hid->OutReport() + qs71::kOffsetData, data, qs71::kDataChunk);
}

// The firmware keeps a transfer open while this flag is 0xFF and closes its buffer on 0x00.
void QS71_USB_Writer::PutMoreFlag(bool more) { PutByte(qs71::kOffsetVpp, more ? 0xFF : 0x00); }

bool QS71_USB_Writer::Exchange() { return hid->Transact() || Fail(QS71_E_TRANSPORT); }

bool QS71_USB_Writer::SendOnly() { return hid->WriteReport() || Fail(QS71_E_TRANSPORT); }

bool QS71_USB_Writer::CheckReply() {
  const qs71::ReplyRule& rule = qs71::ReplyRuleFor(command);
  if (rule.echoError != qs71::kNoEchoCheck && ReplyByte(0) != command) {
    return Fail(rule.echoError);
  }
  if (rule.status != qs71::kNoStatusCheck && ReplyByte(1) != rule.status) {
    return Fail(QS71_E_STATUS);
  }
  return Succeed();
}

void QS71_USB_Writer::TakeReadings(double* vddOut, double* vppOut) const {
  *vddOut = qs71::CodeToVolts(ReplyWord(qs71::kOffsetVdd));
  *vppOut = qs71::CodeToVolts(ReplyWord(qs71::kOffsetVpp));
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
