#include "standin_faults.h"

#include <cstdlib>

namespace qs71::standin {

namespace {

struct FaultName {
  const char* name;
  FaultKind kind;
  bool perReport;  // takes CMD[:N]
};

constexpr FaultName kNames[] = {
    {"init-fails", FaultKind::kInitFails, false},
    {"open-fails", FaultKind::kOpenFails, false},
    {"second-open-fails", FaultKind::kSecondOpenFails, false},
    {"silent", FaultKind::kSilent, true},
    {"late-reply", FaultKind::kLateReply, true},
    {"duplicate-reply", FaultKind::kDuplicateReply, true},
    {"short-report", FaultKind::kShortReport, true},
    {"eintr", FaultKind::kInterrupt, true},
    {"write-stall", FaultKind::kWriteStall, true},
    {"unplug", FaultKind::kUnplug, true},
    {"unplug-awaited", FaultKind::kUnplugAwaited, true},
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end = text.find(separator); end != std::string::npos;
       end = text.find(separator, start)) {
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

// Decimal or 0x hex up to limit; "*" gives wildcard.
bool ParseNumber(const std::string& text, uint32_t limit, int64_t wildcard, int64_t& value) {
  if (text == "*") {
    value = wildcard;
    return true;
  }
  char* end = nullptr;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || parsed > limit) return false;
  value = static_cast<int64_t>(parsed);
  return true;
}

bool ParseItem(const std::string& item, Fault& fault) {
  const std::vector<std::string> parts = Split(item, ':');
  for (const FaultName& name : kNames) {
    if (parts[0] != name.name) continue;
    fault.kind = name.kind;
    if (!name.perReport) return parts.size() == 1;
    if (parts.size() < 2 || parts.size() > 3) return false;
    int64_t command = 0;
    int64_t occurrence = 1;
    if (!ParseNumber(parts[1], 0xFF, kAnyCommand, command)) return false;
    if (parts.size() == 3 && !ParseNumber(parts[2], 0xFFFFFFFF, kEveryOccurrence, occurrence)) {
      return false;
    }
    fault.command = static_cast<int>(command);
    fault.occurrence = static_cast<uint32_t>(occurrence);
    return true;
  }
  return false;
}

}  // namespace

bool ParseFaults(const std::string& text, std::vector<Fault>& faults) {
  std::vector<Fault> parsed;
  for (const std::string& item : Split(text, ',')) {
    if (item.empty()) continue;
    Fault fault;
    if (!ParseItem(item, fault)) return false;
    parsed.push_back(fault);
  }
  faults.insert(faults.end(), parsed.begin(), parsed.end());
  return true;
}

void FaultList::Add(const std::vector<Fault>& more) {
  faults.insert(faults.end(), more.begin(), more.end());
}

void FaultList::Clear() { *this = FaultList(); }

bool FaultList::Has(FaultKind kind) const {
  for (const Fault& fault : faults) {
    if (fault.kind == kind) return true;
  }
  return false;
}

FaultHits FaultList::OnReport(uint8_t command) {
  const uint32_t seen = ++perCommand[command];
  FaultHits hits;
  for (const Fault& fault : faults) {
    const bool commandHit = fault.command == kAnyCommand || fault.command == command;
    const bool occurrenceHit = fault.occurrence == kEveryOccurrence || fault.occurrence == seen;
    if (commandHit && occurrenceHit) hits.Set(fault.kind);
  }
  return hits;
}

}  // namespace qs71::standin
