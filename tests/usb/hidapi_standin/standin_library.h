#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "standin_control.h"

namespace qs71::test {

// The libhidapi-hidraw.so.0 that the loader gave the production library, if it is the
// stand-in: its control interface and the file it came from.
struct StandinLibrary {
  Qs71StandinResetFunction reset = nullptr;
  Qs71StandinAddFaultsFunction addFaults = nullptr;
  Qs71StandinGetRecordFunction getRecord = nullptr;
  Qs71StandinViolationsFunction violations = nullptr;
  Qs71StandinCopyOtpFunction copyOtp = nullptr;
  std::string file;
  std::string error;

  bool Loaded() const { return error.empty(); }
  Qs71StandinRecord Record() const;
  std::vector<uint8_t> Chip() const;
  // What the library left behind since the reset: unmatched hid_init calls, open handles and
  // the rules it broke; "" when it left hidapi as it found it.
  std::string Unsettled() const;
};

// Loads the production library first; afterwards says whether a call would reach the
// stand-in or, with an error, hidapi itself (and through it a real programmer).
const StandinLibrary& LoadedStandin();

}  // namespace qs71::test
