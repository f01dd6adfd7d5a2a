#include "fault_plan.h"

#include <cstdlib>

namespace qs71::emu {

namespace {

struct FaultName {
  const char* name;
  FaultKind kind;
  int minArgs;
  int maxArgs;
};

constexpr FaultName kNames[] = {
    {"no-device", FaultKind::kNoDevice, 0, 0},
    {"write-open-fails", FaultKind::kWriteOpenFails, 0, 0},
    {"read-open-fails", FaultKind::kReadOpenFails, 0, 0},
    {"write-fails", FaultKind::kWriteFails, 1, 2},
    {"no-reply", FaultKind::kNoReply, 1, 2},
    {"wrong-echo", FaultKind::kWrongEcho, 1, 2},
    {"wrong-status", FaultKind::kWrongStatus, 1, 2},
    {"reply-byte", FaultKind::kReplyByte, 3, 4},
    {"disconnect", FaultKind::kDisconnect, 1, 1},
    {"stuck", FaultKind::kStuckCell, 1, 2},
    {"no-hold", FaultKind::kNoHold, 0, 0},
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// A number in C notation (decimal, 0x hex); "*" stands for "any" and gives wildcard.
bool ParseNumber(const std::string& text, uint32_t& value, bool starAllowed, uint32_t wildcard) {
  if (starAllowed && text == "*") {
    value = wildcard;
    return true;
  }
  if (text.empty()) return false;
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
  if (*end != '\0' || parsed > 0xFFFFFFFFul) return false;
  value = static_cast<uint32_t>(parsed);
  return true;
}

bool ParseCommand(const std::string& text, int& command) {
  if (text == "*") {
    command = kAnyCommand;
    return true;
  }
  uint32_t value = 0;
  if (!ParseNumber(text, value, false, 0) || value > 0xFF) return false;
  command = static_cast<int>(value);
  return true;
}

bool ParseByte(const std::string& text, uint8_t& value) {
  uint32_t parsed = 0;
  if (!ParseNumber(text, parsed, false, 0) || parsed > 0xFF) return false;
  value = static_cast<uint8_t>(parsed);
  return true;
}

bool FillArguments(Fault& fault, const std::vector<std::string>& args) {
  switch (fault.kind) {
    case FaultKind::kDisconnect:
      return ParseNumber(args[0], fault.count, false, 0);
    case FaultKind::kStuckCell:
      fault.value = 0xFF;
      return ParseNumber(args[0], fault.count, false, 0) &&
             (args.size() < 2 || ParseByte(args[1], fault.value));
    case FaultKind::kReplyByte:
      return ParseCommand(args[0], fault.command) && ParseNumber(args[1], fault.offset, false, 0) &&
             fault.offset < 64 && ParseByte(args[2], fault.value) &&
             (args.size() < 4 || ParseNumber(args[3], fault.occurrence, true, kEveryOccurrence));
    default:
      return args.empty() ||
             (ParseCommand(args[0], fault.command) &&
              (args.size() < 2 || ParseNumber(args[1], fault.occurrence, true, kEveryOccurrence)));
  }
}

bool ParseFault(const std::string& item, Fault& fault) {
  std::vector<std::string> words = Split(item, ':');
  const std::string name = words.front();
  words.erase(words.begin());
  for (const FaultName& entry : kNames) {
    if (name != entry.name) continue;
    const int count = static_cast<int>(words.size());
    if (count < entry.minArgs || count > entry.maxArgs) return false;
    fault.kind = entry.kind;
    return FillArguments(fault, words);
  }
  return false;
}

}  // namespace

bool ParseFaults(const std::string& text, std::vector<Fault>& faults, std::string& error) {
  std::vector<Fault> parsed;
  for (const std::string& item : Split(text, ',')) {
    if (item.empty()) continue;
    Fault fault;
    if (!ParseFault(item, fault)) {
      error = "bad fault \"" + item + "\"";
      return false;
    }
    parsed.push_back(fault);
  }
  faults.insert(faults.end(), parsed.begin(), parsed.end());
  return true;
}

void RequestFaults::ApplyTo(uint8_t* reply) const {
  if (wrongEcho) reply[0] = static_cast<uint8_t>(~reply[0]);
  if (wrongStatus) reply[1] = static_cast<uint8_t>(~reply[1]);
  for (const auto& [offset, value] : replyBytes) reply[offset] = value;
}

FaultPlan::FaultPlan(std::vector<Fault> planned) : faults(std::move(planned)) {}

bool FaultPlan::Has(FaultKind kind) const {
  for (const Fault& fault : faults) {
    if (fault.kind == kind) return true;
  }
  return false;
}

bool FaultPlan::Hits(const Fault& fault, uint8_t command) const {
  if (fault.command == kAnyCommand) {
    return fault.occurrence == kEveryOccurrence || fault.occurrence == requests;
  }
  if (fault.command != command) return false;
  return fault.occurrence == kEveryOccurrence || fault.occurrence == perCommand[command];
}

RequestFaults FaultPlan::OnRequest(uint8_t command) {
  ++requests;
  ++perCommand[command];
  RequestFaults hit;
  for (const Fault& fault : faults) {
    if (!Hits(fault, command)) continue;
    switch (fault.kind) {
      case FaultKind::kWriteFails: hit.writeFails = true; break;
      case FaultKind::kNoReply: hit.noReply = true; break;
      case FaultKind::kWrongEcho: hit.wrongEcho = true; break;
      case FaultKind::kWrongStatus: hit.wrongStatus = true; break;
      case FaultKind::kReplyByte: hit.replyBytes.emplace_back(fault.offset, fault.value); break;
      default: break;
    }
  }
  return hit;
}

bool FaultPlan::Disconnected() const {
  for (const Fault& fault : faults) {
    if (fault.kind == FaultKind::kDisconnect && requests >= fault.count) return true;
  }
  return false;
}

}  // namespace qs71::emu
