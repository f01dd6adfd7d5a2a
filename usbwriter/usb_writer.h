#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid_port.h"

class UsbHid;

// The programmer's command protocol. Every method builds one request, exchanges it, checks
// the reply's echo and status, copies out what the reply carries and keeps the outcome in
// LastError(): 0, or a negative result code (qs71_usb_writer.h). Methods never print; the
// operations above decide what a failure means to the user.
class QS71_USB_Writer {
 public:
  // Creates the transport and opens the programmer at path (empty: the first one found); an
  // absent programmer leaves the object usable but unconnected, with LastError() -20.
  explicit QS71_USB_Writer(const std::string& path = std::string());
  // The same for a programmer named by its node and serial too (hid_port.h).
  explicit QS71_USB_Writer(const qs71::ProgrammerName& name);
  // The attached programmers, ordered by path; false when the devices cannot be listed.
  static bool ListProgrammers(std::vector<qs71::HidPortInfo>& found);
  // Tells the transport what this call does to the part.
  void AnnounceJob(qs71::PartUse use);
  virtual ~QS71_USB_Writer();
  QS71_USB_Writer(const QS71_USB_Writer&) = delete;
  QS71_USB_Writer& operator=(const QS71_USB_Writer&) = delete;

  int LastError() const { return lastError; }
  // A programmer found but refused to this call before any report (programmer_hold.h): the
  // code, which LastError() holds as well, and its text; 0 when there was none.
  int Refusal() const;
  const std::string& RefusalMessage() const;
  // Qs71UsbHold's hold of the programmer named, to outlive this call: 0 with found and
  // shares, QS71_E_TRANSPORT when none is attached, or a refusal with the holder, the reason
  // or what is there instead in why.
  static int HoldProgrammer(const qs71::ProgrammerName& name, qs71::HidPortInfo& found,
                            qs71::HeldShares& shares, std::string& why);

  // OTP test mode, identification and the range transfers.
  bool OtpTestStart(double vdd, double* vddOut, double* vppOut);
  bool OtpTestStop();
  bool GetOtpId(uint8_t* id0, uint8_t* id1, uint8_t* id2, uint8_t* id3);
  bool WriteBegin(uint32_t address, double vpp, double* vppOut);
  bool WriteData(const uint8_t* data, uint8_t value, bool more);
  bool WriteEnd();
  bool ReadBegin(uint32_t address);
  bool ReadData(uint8_t* dst, bool more);
  bool ReadEnd();
  bool VerifyBegin(uint32_t address);
  bool VerifyData(const uint8_t* data, bool more);
  bool VerifyEnd(bool* match);

  // The control command 0x7C in its seven forms.
  bool AdjustVdd(double volts, double* vddOut, double* vppOut);
  bool SetVddMode2(uint8_t value, double* vddOut, double* vppOut);
  bool SetVddMode3(uint8_t value, double* vddOut, double* vppOut);
  bool AdjustVpp(double volts, double* vddOut, double* vppOut);
  bool SetVppMode2(uint8_t value, double* vddOut, double* vppOut);
  bool SetVppMode3(uint8_t value, double* vddOut, double* vppOut);
  // Takes the words it sends off the front of the list.
  bool SendWordList(std::vector<uint16_t>& words);

  // Engineering commands of the firmware; the operations do not use them.
  bool Command01(int info[5]);
  bool Command31();
  bool Command41(double volts, double readings[2], int id[4]);
  bool Command42(double voltsA, double voltsB, double readings[2], uint32_t address,
                 uint8_t value);
  bool Command43(bool flag, const uint8_t* data, uint8_t value);
  bool Command44();
  bool Command45(double volts, double readings[2], int* byte17, int* word12, uint8_t value);
  bool Command46(bool flag, uint8_t* dst, uint8_t value);
  bool Command47();
  bool Command60();
  bool Command62();
  bool Command64();
  bool Command66(uint32_t address);
  bool Command68(uint32_t address, const uint8_t* data);
  bool Command6A(uint32_t address, uint8_t* dst);

 private:
  void BeginRequest(uint8_t command);
  void PutByte(int offset, uint8_t value);
  void PutWord(int offset, uint16_t value);
  void PutAddress(int offset, uint32_t address);
  void PutData(const uint8_t* data);
  void PutMoreFlag(bool more);
  // Transport failures become -20; the reply is then not looked at.
  bool Exchange();
  bool SendOnly();
  bool CheckReply();
  bool SetVoltageMode(int modeOffset, uint8_t mode, uint8_t value, double* vddOut,
                      double* vppOut);
  void TakeReadings(double* vddOut, double* vppOut) const;
  uint8_t ReplyByte(int offset) const;
  uint16_t ReplyWord(int offset) const;
  uint16_t ReplyWordHighFirst(int offset) const;
  bool Succeed();
  bool Fail(int code);

  UsbHid* hid;
  int lastError;
  uint8_t command = 0;
};
