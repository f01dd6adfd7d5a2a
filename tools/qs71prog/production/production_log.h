#pragma once
// The production log: CSV quoted as RFC 4180 has it, one line per part, appended as each part
// ends. A line once written is never rewritten: the log is the record of what was shipped,
// and a run cut short by a crash or a power cut must leave every finished part in it. So each
// line goes out in one write to a descriptor opened to append, and to the disk before the
// loop goes on.

#include <mutex>
#include <string>
#include <vector>

#include "production/part_record.h"

namespace qs71prog {

// A field as RFC 4180 writes it: in double quotes, its quotes doubled, when it holds a comma,
// a quote or a line end; as it is otherwise.
std::string CsvField(const std::string& text);

// The header row and a part's row, each ending with a line feed (as Unix tools expect;
// readers of RFC 4180 take it as well as CRLF).
std::string CsvHeader();
std::string CsvRow(const PartRecord& record);

class ProductionLog {
 public:
  ProductionLog() = default;
  ~ProductionLog();
  ProductionLog(const ProductionLog&) = delete;
  ProductionLog& operator=(const ProductionLog&) = delete;

  // Opens path to append, creating it; writes the header when the file is new or empty.
  bool Open(const std::string& path, std::string& problem);
  bool IsOpen() const { return fd >= 0; }
  // One row, whole, from any thread. False when it could not be written to the disk.
  bool Append(const PartRecord& record);

 private:
  bool Write(const std::string& line);

  std::mutex mutex;
  int fd = -1;
};

}  // namespace qs71prog
