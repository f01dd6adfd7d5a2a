#include "emulator_settings.h"

#include <cstdlib>
#include <filesystem>

#include "emulated_bus.h"
#include "hex.h"

namespace qs71::emu {

namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool ParsePace(const std::string& text, uint32_t& micros) {
  if (text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
  if (value > kMaxPaceMicros) return false;
  micros = static_cast<uint32_t>(value);
  return true;
}

bool ParseOperator(const std::string& text, int& seconds) {
  if (text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const int value = std::atoi(text.c_str());
  if (value > kMaxOperatorSeconds) return false;
  seconds = value;
  return true;
}

bool ParseProgrammers(const std::string& text, int& programmers) {
  if (text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const int value = std::atoi(text.c_str());
  if (value < 1 || value > kMaxProgrammers) return false;
  programmers = value;
  return true;
}

bool ApplyEnvironment(EmulatorSettings& settings, std::string& error) {
  const std::string programmers = Environment("QS71_EMU_PROGRAMMERS");
  if (!programmers.empty() && !ParseProgrammers(programmers, settings.programmers)) {
    error = "QS71_EMU_PROGRAMMERS must be a count from 1 to 99, not \"" + programmers + "\"";
    return false;
  }
  settings.socket = Environment("QS71_EMU_SOCKET");
  settings.bus = Environment("QS71_EMU_BUS");
  settings.holdRecord = Environment("QS71_EMU_HOLD_RECORD");
  const std::string operatorSeconds = Environment("QS71_EMU_OPERATOR");
  if (!operatorSeconds.empty() && !ParseOperator(operatorSeconds, settings.operatorSeconds)) {
    error = "QS71_EMU_OPERATOR must be seconds from 0 to 3600, not \"" + operatorSeconds + "\"";
    return false;
  }
  const std::string id = Environment("QS71_EMU_ID");
  if (!id.empty() && !ParseChipId(id, settings.id)) {
    error = "QS71_EMU_ID must be eight hex digits, not \"" + id + "\"";
    return false;
  }
  const std::string pace = Environment("QS71_EMU_PACE_US");
  if (!pace.empty() && !ParsePace(pace, settings.paceMicros)) {
    error = "QS71_EMU_PACE_US must be microseconds from 0 to 100000, not \"" + pace + "\"";
    return false;
  }
  settings.otpFile = Environment("QS71_EMU_OTP_FILE");
  settings.transcript = Environment("QS71_EMU_TRANSCRIPT");
  std::string faultError;
  if (!ParseFaults(Environment("QS71_EMU_FAULTS"), settings.faults, faultError)) {
    error = "QS71_EMU_FAULTS: " + faultError;
    return false;
  }
  return true;
}

void ApplyControl(EmulatorSettings& settings, const ControlSettings& control) {
  if (control.id) settings.id = *control.id;
  if (control.otpFile) settings.otpFile = *control.otpFile;
  if (control.transcript) settings.transcript = *control.transcript;
  if (control.hardwareIds) settings.hardwareIds = *control.hardwareIds;
  if (control.programmers) settings.programmers = *control.programmers;
  settings.faults.insert(settings.faults.end(), control.faults.begin(), control.faults.end());
  settings.presets = control.presets;
}

}  // namespace

ControlSettings& Control() {
  static ControlSettings control;
  return control;
}

std::mutex& ControlLock() {
  static std::mutex lock;
  return lock;
}

bool CurrentSettings(EmulatorSettings& settings, std::string& error) {
  settings = EmulatorSettings();
  if (!ApplyEnvironment(settings, error)) return false;
  std::lock_guard<std::mutex> hold(ControlLock());
  ApplyControl(settings, Control());
  return true;
}

std::string SocketFolderOf(const EmulatorSettings& settings, int programmer) {
  if (settings.socket.empty() || settings.programmers == 1) return settings.socket;
  return (std::filesystem::path(settings.socket) / std::to_string(programmer)).string();
}

bool ParseChipId(const std::string& text, ChipId& id) {
  if (text.size() != 8) return false;
  for (size_t i = 0; i < 4; ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    id[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

}  // namespace qs71::emu
