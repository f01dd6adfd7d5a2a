#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "job/job_phase.h"

namespace qs71prog {

// One part of a production run, as the log and the displays tell it.
struct PartRecord {
  std::string time;  // when its job ended, UTC: "2026-12-07T19:40:00.123Z"
  std::string host;
  int programmer = 0;  // its number in --list
  std::string programmerPath;
  std::string programmerSerial;
  int part = 0;        // per programmer, continuing the log's numbers from run to run
  std::string chipId;  // "6D 61 00 01", empty when the chip did not identify
  int32_t otpSize = 0;
  std::string image;
  std::string sha256;
  bool passed = false;
  int exit = 0;        // the part's job's exit status
  std::string status;  // its name: "verify-mismatch"
  double seconds = 0.0;
  // Each operation's call in seconds, by stage value; negative when it did not run.
  std::array<double, kLastStage + 1> stepSeconds{-1.0, -1.0, -1.0, -1.0};
  std::vector<std::string> blocks;  // a failed comparison's blocks, "0x002300-0x0023FF"
  // Which shift it belongs to: the run ("20261207T194000Z-4711", its UTC start and process),
  // the station (--station, or the host) and the operator (--operator).
  std::string run;
  std::string station;
  std::string operatorName;
  int32_t code = 0;  // the library's result code
  // "part" for a part's verdict; "start", "end", "lost", "back" and "no-chip" for what
  // happened to the run or to the programmer. Only a part has a result.
  std::string event = "part";
};

// A moment of the system clock in UTC, as the log gives it: "2026-12-07T19:40:00.123Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point moment);

// The same to the second, for the run's ID: "20261207T194000Z".
std::string RunStamp(std::chrono::system_clock::time_point moment);

// The chip's four ID bytes as the log and the displays give them: "6D 61 00 01".
std::string ChipIdText(const uint8_t (&id)[4]);

}  // namespace qs71prog
