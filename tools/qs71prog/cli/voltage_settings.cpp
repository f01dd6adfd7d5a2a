#include "cli/voltage_settings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qs71prog {

namespace {

// Defaults: the part's nominal 5 V bench supply for reading (blank check, verify), the top
// of its operating range while programming, where the cells take the charge best, and the
// nominal 6.5 V programming voltage. Ranges: VDD stays within the part's 2.4 to 5.5 V
// operating range, so a verify at a low-voltage margin is possible but nothing above the
// rating reaches the socket. VPP is held to 6.5 V +/- 0.5 V: below that cells program
// weakly and may read back right at 5 V yet fail in the field, above it the cells are
// stressed. The programmer's own generator goes to 9.9 V, so these limits are ours, there to
// stop a typo such as 65 for 6.5 from costing a part.
const std::vector<VoltageSetting> kSettings = {
    {Voltage::kBlankCheckVdd, "--blank-check-vdd", "supply voltage for the blank check",
     "blank check VDD", 5.0, 2.4, 5.5, true},
    {Voltage::kWriteVdd, "--write-vdd", "supply voltage while writing", "write VDD", 5.5, 2.4, 5.5,
     true},
    {Voltage::kWriteVpp, "--vpp", "programming voltage while writing", "write VPP", 6.5, 6.0, 7.0,
     false},
    {Voltage::kVerifyVdd, "--verify-vdd", "supply voltage for the verify", "verify VDD", 5.0, 2.4,
     5.5, true},
};

}  // namespace

const std::vector<VoltageSetting>& VoltageSettings() { return kSettings; }

const VoltageSetting& SettingOf(Voltage voltage) {
  for (const VoltageSetting& setting : kSettings) {
    if (setting.voltage == voltage) return setting;
  }
  return kSettings.front();
}

bool ParseVolts(const std::string& text, double& volts) {
  std::string number = text;
  if (!number.empty() && (number.back() == 'V' || number.back() == 'v')) number.pop_back();
  if (number.empty() || number.front() == ' ') return false;
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size() || !std::isfinite(value)) return false;
  volts = value;
  return true;
}

std::string CheckVolts(const VoltageSetting& setting, const std::string& option, double volts) {
  if (volts >= setting.low && volts <= setting.high) return "";
  char text[160];
  std::snprintf(text, sizeof text, "%s %g V is outside the safe range %.1f to %.1f V (%s)",
                option.c_str(), volts, setting.low, setting.high, setting.what);
  return text;
}

}  // namespace qs71prog
