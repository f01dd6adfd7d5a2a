#include "emulated_programmer.h"

#include <cmath>
#include <cstring>

namespace qs71::emu {

namespace {

// The firmware's voltage counts: 10 bits of a 3.3 V reference behind a 1:3 divider.
constexpr double kVoltsPerCount = 3.0 * 3.3 / 1024;
constexpr double kTrimConstant = 156.845;

uint16_t CountsOf(double volts) {
  const double counts = std::round(volts / kVoltsPerCount);
  if (!(counts > 0)) return 0;
  return counts >= 1023 ? 1023 : static_cast<uint16_t>(counts);
}

// The supply that a regulator trim step gives; the middle of the step the host aimed at.
uint16_t CountsOfTrim(uint8_t trim) {
  if (trim >= 127) return 1023;
  return CountsOf(kTrimConstant / (127 - trim));
}

uint16_t WordAt(const uint8_t* bytes, int offset) {
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

uint32_t AddressAt(const uint8_t* bytes, int offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | static_cast<uint32_t>(bytes[offset + 2]) << 16;
}

void PutWord(uint8_t* bytes, int offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

// Data commands carry their "more" flag at byte 8: 0x00 marks the last chunk of a range.
bool IsLastChunk(const uint8_t* request) { return request[8] == 0x00; }

}  // namespace

const EmulatedProgrammer::Entry EmulatedProgrammer::kCommands[] = {
    {0x01, &EmulatedProgrammer::Info, false},
    {0x31, &EmulatedProgrammer::Engineering, false},
    {0x41, &EmulatedProgrammer::EngineeringId, false},
    {0x42, &EmulatedProgrammer::Engineering, false},
    {0x43, &EmulatedProgrammer::EngineeringSilent, false},
    {0x44, &EmulatedProgrammer::Engineering, false},
    {0x45, &EmulatedProgrammer::EngineeringWord, false},
    {0x46, &EmulatedProgrammer::EngineeringReadArray, false},
    {0x47, &EmulatedProgrammer::Engineering, false},
    {0x60, &EmulatedProgrammer::Engineering, false},
    {0x62, &EmulatedProgrammer::Engineering, false},
    {0x64, &EmulatedProgrammer::Engineering, false},
    {0x66, &EmulatedProgrammer::Engineering, false},
    {0x68, &EmulatedProgrammer::Engineering, false},
    {0x6A, &EmulatedProgrammer::EngineeringReadArray, false},
    {0x70, &EmulatedProgrammer::OtpTestStart, false},
    {0x71, &EmulatedProgrammer::OtpTestStop, false},
    {0x72, &EmulatedProgrammer::GetOtpId, true},
    {0x73, &EmulatedProgrammer::WriteBegin, true},
    {0x74, &EmulatedProgrammer::WriteData, false},
    {0x75, &EmulatedProgrammer::WriteEnd, true},
    {0x76, &EmulatedProgrammer::ReadBegin, true},
    {0x77, &EmulatedProgrammer::ReadData, false},
    {0x78, &EmulatedProgrammer::ReadEnd, true},
    {0x79, &EmulatedProgrammer::VerifyBegin, true},
    {0x7A, &EmulatedProgrammer::VerifyData, false},
    {0x7B, &EmulatedProgrammer::VerifyEnd, true},
    {0x7C, &EmulatedProgrammer::Control, true},
};

EmulatedProgrammer::EmulatedProgrammer(OtpChip& otpChip) : chip(otpChip) {}

bool EmulatedProgrammer::Handle(const uint8_t* request, uint8_t* reply) {
  std::memset(reply, 0x00, 64);
  reply[0] = request[0];
  for (const Entry& entry : kCommands) {
    if (entry.command != request[0]) continue;
    if (entry.needsTest && !testActive) return Refuse(reply);
    return (this->*entry.handler)(request, reply);
  }
  return Refuse(reply);
}

bool EmulatedProgrammer::Answer(uint8_t* reply, uint8_t status) {
  reply[1] = status;
  return true;
}

bool EmulatedProgrammer::Refuse(uint8_t* reply) { return Answer(reply, kRefused); }

void EmulatedProgrammer::PutReadings(uint8_t* reply) const {
  PutWord(reply, 4, vddCode);
  PutWord(reply, 8, vppCode);
}

bool EmulatedProgrammer::OtpTestStart(const uint8_t* request, uint8_t* reply) {
  testActive = true;
  range = Range::kNone;
  vddCode = static_cast<uint16_t>(WordAt(request, 4) & 0x3FF);
  vppCode = vddCode;  // VPP idles at the supply until a write raises it
  PutReadings(reply);
  return Answer(reply, 0x02);
}

// Stop is taken in any state: it is how a host gets the chip back to a safe state.
bool EmulatedProgrammer::OtpTestStop(const uint8_t*, uint8_t* reply) {
  testActive = false;
  range = Range::kNone;
  return Answer(reply, 0x01);
}

bool EmulatedProgrammer::GetOtpId(const uint8_t*, uint8_t* reply) {
  std::memcpy(reply + 12, chip.Id().data(), 4);
  return Answer(reply, 0x02);
}

bool EmulatedProgrammer::BeginRange(Range kind, uint8_t status, const uint8_t* request,
                                    uint8_t* reply) {
  if (range != Range::kNone) return Refuse(reply);
  range = kind;
  address = AddressAt(request, 16);
  lastChunkSeen = false;
  sequenceBroken = false;
  match = true;
  return Answer(reply, status);
}

// A data report outside its range, or after the range's last chunk, breaks the sequence;
// the end command then refuses.
bool EmulatedProgrammer::TakeChunk(Range kind, const uint8_t* request) {
  if (range != kind || lastChunkSeen) {
    sequenceBroken = true;
    return false;
  }
  lastChunkSeen = IsLastChunk(request);
  return true;
}

bool EmulatedProgrammer::EndRange(Range kind, uint8_t* reply) {
  const bool complete = range == kind && lastChunkSeen && !sequenceBroken;
  range = Range::kNone;
  return complete ? Answer(reply, 0x02) : Refuse(reply);
}

bool EmulatedProgrammer::WriteBegin(const uint8_t* request, uint8_t* reply) {
  if (range != Range::kNone) return Refuse(reply);
  vppCode = static_cast<uint16_t>(WordAt(request, 8) & 0x3FF);
  PutReadings(reply);
  return BeginRange(Range::kWrite, 0x03, request, reply);
}

bool EmulatedProgrammer::WriteData(const uint8_t* request, uint8_t*) {
  if (!TakeChunk(Range::kWrite, request)) return false;
  for (uint32_t i = 0; i < 32; ++i) {
    if (!chip.Program(address + i, request[32 + i])) sequenceBroken = true;
  }
  address += 32;
  return false;
}

bool EmulatedProgrammer::WriteEnd(const uint8_t*, uint8_t* reply) {
  vppCode = vddCode;
  return EndRange(Range::kWrite, reply);
}

bool EmulatedProgrammer::ReadBegin(const uint8_t* request, uint8_t* reply) {
  return BeginRange(Range::kRead, 0x04, request, reply);
}

bool EmulatedProgrammer::ReadData(const uint8_t* request, uint8_t* reply) {
  if (!TakeChunk(Range::kRead, request)) return Refuse(reply);
  for (uint32_t i = 0; i < 64; ++i) reply[i] = chip.Read(address + i);
  address += 64;
  return true;
}

bool EmulatedProgrammer::ReadEnd(const uint8_t*, uint8_t* reply) {
  return EndRange(Range::kRead, reply);
}

bool EmulatedProgrammer::VerifyBegin(const uint8_t* request, uint8_t* reply) {
  return BeginRange(Range::kVerify, 0x05, request, reply);
}

bool EmulatedProgrammer::VerifyData(const uint8_t* request, uint8_t*) {
  if (!TakeChunk(Range::kVerify, request)) return false;
  for (uint32_t i = 0; i < 32; ++i) {
    if (!chip.Maps(address + i)) sequenceBroken = true;
    if (chip.Read(address + i) != request[32 + i]) match = false;
  }
  address += 32;
  return false;
}

bool EmulatedProgrammer::VerifyEnd(const uint8_t*, uint8_t* reply) {
  const bool matched = match;
  if (!EndRange(Range::kVerify, reply)) return true;
  reply[4] = matched ? 0x01 : 0x00;
  return true;
}

// Mode 1 sets a regulator's trim; modes 2 and 3 are taken and change nothing here. A word
// count other than 0 delivers a word list (the engineering access sequence).
bool EmulatedProgrammer::Control(const uint8_t* request, uint8_t* reply) {
  if (request[4] == 0x01) {
    vddCode = CountsOfTrim(request[5]);
    vppCode = vddCode;
  }
  if (request[8] == 0x01) vppCode = CountsOfTrim(request[9]);
  const uint8_t count = request[12];
  if (count != 0x00) {
    wordList.clear();
    for (int i = 0; i < count && i < 24; ++i) wordList.push_back(WordAt(request, 16 + 2 * i));
  }
  PutReadings(reply);
  return Answer(reply, 0x02);
}

}  // namespace qs71::emu
