// The programmer's engineering commands. The library's operations never send them; the
// emulator answers each with the layout and status its firmware uses, and none of them
// touches the chip.
#include "emulated_programmer.h"

#include <cstring>

namespace qs71::emu {

namespace {

struct EngineeringStatus {
  uint8_t command;
  uint8_t status;
};

constexpr EngineeringStatus kStatuses[] = {
    {0x31, 0x01}, {0x41, 0x20}, {0x42, 0x82}, {0x44, 0x20}, {0x45, 0x80}, {0x47, 0x20},
    {0x60, 0x01}, {0x62, 0x01}, {0x64, 0x01}, {0x66, 0x01}, {0x68, 0x01},
};

uint8_t StatusOf(uint8_t command) {
  for (const EngineeringStatus& entry : kStatuses) {
    if (entry.command == command) return entry.status;
  }
  return EmulatedProgrammer::kRefused;
}

// What the emulated board reports about itself in reply to 0x01.
constexpr uint8_t kBoardRevision = 0x02;
constexpr uint8_t kBoardVariant = 0x01;
constexpr uint16_t kFirmwareVersion = 0x0107;

}  // namespace

// Board information, framed by two check words (high byte first).
bool EmulatedProgrammer::Info(const uint8_t*, uint8_t* reply) {
  reply[4] = 0x5A;
  reply[5] = 0xA5;
  reply[16] = kBoardRevision;
  reply[17] = kBoardVariant;
  reply[32] = 0x90;
  reply[33] = 0x0D;
  reply[34] = static_cast<uint8_t>(kFirmwareVersion >> 8);
  reply[35] = static_cast<uint8_t>(kFirmwareVersion);
  return Answer(reply, 0x01);
}

bool EmulatedProgrammer::Engineering(const uint8_t* request, uint8_t* reply) {
  PutReadings(reply);
  return Answer(reply, StatusOf(request[0]));
}

bool EmulatedProgrammer::EngineeringId(const uint8_t* request, uint8_t* reply) {
  std::memcpy(reply + 12, chip.Id().data(), 4);
  return Engineering(request, reply);
}

bool EmulatedProgrammer::EngineeringWord(const uint8_t* request, uint8_t* reply) {
  reply[12] = static_cast<uint8_t>(vddCode);
  reply[13] = static_cast<uint8_t>(vddCode >> 8);
  reply[17] = request[8];
  return Engineering(request, reply);
}

bool EmulatedProgrammer::EngineeringSilent(const uint8_t*, uint8_t*) { return false; }

// 0x6A reads 64 bytes of the array at the address in bytes 4..6; 0x46 has no address and
// reads from 0.
bool EmulatedProgrammer::EngineeringReadArray(const uint8_t* request, uint8_t* reply) {
  const uint32_t start = request[0] == 0x6A
                             ? (request[4] | request[5] << 8 | uint32_t{request[6]} << 16)
                             : 0;
  for (uint32_t i = 0; i < 64; ++i) reply[i] = chip.Read(start + i);
  return true;
}

}  // namespace qs71::emu
