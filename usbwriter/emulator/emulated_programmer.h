#pragma once

#include <cstdint>
#include <vector>

#include "otp_chip.h"

namespace qs71::emu {

// The device side of the QS71 programmer's command set, in front of one chip. It takes
// 64-byte requests and produces the 64-byte replies its firmware would, keeps the firmware's
// sequence (OTP test, then begin, data, end), and refuses anything out of order by answering
// with kRefused in the status byte. Data reports get no reply, so a data report out of order
// is remembered and refuses the end command that follows.
class EmulatedProgrammer {
 public:
  explicit EmulatedProgrammer(OtpChip& chip);

  // Handles one request; returns true and fills reply when the command is answered.
  bool Handle(const uint8_t* request, uint8_t* reply);

  // The status byte of a refused command.
  static constexpr uint8_t kRefused = 0xEE;

  const std::vector<uint16_t>& WordList() const { return wordList; }

 private:
  enum class Range { kNone, kWrite, kRead, kVerify };
  using Handler = bool (EmulatedProgrammer::*)(const uint8_t* request, uint8_t* reply);
  struct Entry {
    uint8_t command;
    Handler handler;
    bool needsTest;
  };
  static const Entry kCommands[];

  bool Answer(uint8_t* reply, uint8_t status);
  bool Refuse(uint8_t* reply);
  void PutReadings(uint8_t* reply) const;
  bool BeginRange(Range range, uint8_t status, const uint8_t* request, uint8_t* reply);
  bool EndRange(Range range, uint8_t* reply);
  bool TakeChunk(Range range, const uint8_t* request);

  bool OtpTestStart(const uint8_t* request, uint8_t* reply);
  bool OtpTestStop(const uint8_t* request, uint8_t* reply);
  bool GetOtpId(const uint8_t* request, uint8_t* reply);
  bool WriteBegin(const uint8_t* request, uint8_t* reply);
  bool WriteData(const uint8_t* request, uint8_t* reply);
  bool WriteEnd(const uint8_t* request, uint8_t* reply);
  bool ReadBegin(const uint8_t* request, uint8_t* reply);
  bool ReadData(const uint8_t* request, uint8_t* reply);
  bool ReadEnd(const uint8_t* request, uint8_t* reply);
  bool VerifyBegin(const uint8_t* request, uint8_t* reply);
  bool VerifyData(const uint8_t* request, uint8_t* reply);
  bool VerifyEnd(const uint8_t* request, uint8_t* reply);
  bool Control(const uint8_t* request, uint8_t* reply);
  bool Info(const uint8_t* request, uint8_t* reply);
  bool Engineering(const uint8_t* request, uint8_t* reply);
  bool EngineeringId(const uint8_t* request, uint8_t* reply);
  bool EngineeringWord(const uint8_t* request, uint8_t* reply);
  bool EngineeringSilent(const uint8_t* request, uint8_t* reply);
  bool EngineeringReadArray(const uint8_t* request, uint8_t* reply);

  OtpChip& chip;
  bool testActive = false;
  Range range = Range::kNone;
  uint32_t address = 0;
  bool lastChunkSeen = false;
  bool sequenceBroken = false;
  bool match = true;
  uint16_t vddCode = 0;
  uint16_t vppCode = 0;
  std::vector<uint16_t> wordList;
};

}  // namespace qs71::emu
