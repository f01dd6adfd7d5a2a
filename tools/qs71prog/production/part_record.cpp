#include "production/part_record.h"

#include <sstream>

#include "platform/host_system.h"
#include "text_format.h"

namespace qs71prog {

std::string BlocksText(const std::vector<std::string>& blocks) {
  std::string text;
  for (const std::string& block : blocks) text += (text.empty() ? "" : " ") + block;
  return text;
}

std::vector<std::string> BlocksOf(const std::string& text) {
  std::vector<std::string> blocks;
  std::istringstream stream(text);
  for (std::string block; stream >> block;) blocks.push_back(block);
  return blocks;
}

std::string UtcTimestamp(std::chrono::system_clock::time_point moment) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
  const std::tm utc = UtcCalendar(seconds);
  // Milliseconds past the second, also for a clock set before 1970.
  long long milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(moment.time_since_epoch()).count() %
      1000;
  if (milliseconds < 0) milliseconds += 1000;
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900, utc.tm_mon + 1,
               utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds);
}

std::string ChipIdText(const uint8_t (&id)[4]) {
  return Format("%02X %02X %02X %02X", id[0], id[1], id[2], id[3]);
}

}  // namespace qs71prog
