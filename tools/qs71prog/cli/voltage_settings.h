#pragma once

#include <string>
#include <vector>

namespace qs71prog {

// The four voltages a job hands to the library, in volts.
enum class Voltage { kBlankCheckVdd, kWriteVdd, kWriteVpp, kVerifyVdd };

struct VoltageSetting {
  Voltage voltage;
  const char* option;  // "--write-vdd"
  const char* what;    // "supply voltage while writing"
  const char* label;   // "write VDD": the short name in --help
  double fallback;     // used when neither this option nor --vdd is given
  double low;          // the accepted range, inclusive
  double high;
  bool isVdd;  // --vdd sets it too
};

const std::vector<VoltageSetting>& VoltageSettings();
const VoltageSetting& SettingOf(Voltage voltage);

// Reads "5", "5.5" or "5.5V"; false for anything else, including NaN and infinity.
bool ParseVolts(const std::string& text, double& volts);
// Empty when the value is acceptable for the setting, otherwise the complaint.
std::string CheckVolts(const VoltageSetting& setting, const std::string& option, double volts);

}  // namespace qs71prog
