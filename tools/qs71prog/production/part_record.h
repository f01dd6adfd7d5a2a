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
  int programmer = 0;  // its tile on the screen, numbered in the order the run took them
  std::string programmerPath;
  std::string programmerSerial;
  // The programmer as the log names it: its serial, or its path where it has none. Part
  // numbers, the log's programmer column and a return after a loss follow it, not a port.
  std::string programmerKey;
  // Per programmer key, continuing the log's numbers from run to run; 0 for a part that got
  // no number (untouched, cut short before its write, or ALREADY holding this image).
  int part = 0;
  std::string chipId;  // "6D 61 00 01", empty when the chip did not identify
  int32_t otpSize = 0;
  std::string image;
  std::string sha256;
  // The verdict of a part's row: "pass", "fail", "unverified" (written with verify off),
  // "already" (held this image before it came), "aborted" (cut short after its write began:
  // scrap), "untouched" (stopped before its write: use it again). Empty for other rows.
  std::string result;
  int exit = 0;        // the part's job's exit status; the run's exit on its end rows
  std::string status;  // its name: "verify-mismatch"
  double seconds = 0.0;
  // Each operation's call in seconds, by stage value; negative when it did not run.
  std::array<double, kLastStage + 1> stepSeconds{-1.0, -1.0, -1.0, -1.0};
  std::vector<std::string> blocks;  // a failed comparison's blocks, "0x002300-0x0023FF"
  // Which shift it belongs to: the run (a random UUID, trace/random_id.h),
  // the station (--station, or the host) and the operator (--operator).
  std::string run;
  std::string station;
  std::string operatorName;
  int32_t code = 0;  // the library's result code
  // "part" for a part's verdict, "started" before the first write to a part, "already" for a
  // part that held this image; "start", "end", "lost", "back" and "reseat" for what happened
  // to the run or to the programmer. Only "part" and "already" rows have a result.
  std::string event = "part";
  // For the screen only: the step a failed part failed in ("blank check"), empty otherwise.
  std::string failedStep;
};

// A moment of the system clock in UTC, as the log gives it: "2026-12-07T19:40:00.123Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point moment);

// A part's failing blocks as the log and the trace keep them, space-separated, and back.
std::string BlocksText(const std::vector<std::string>& blocks);
std::vector<std::string> BlocksOf(const std::string& text);

// The chip's four ID bytes as the log and the displays give them: "6D 61 00 01".
std::string ChipIdText(const uint8_t (&id)[4]);

}  // namespace qs71prog
