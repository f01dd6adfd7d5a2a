#pragma once
// The production log: CSV quoted as RFC 4180 has it, one line per part, appended as each part
// ends. A line once written is never rewritten: the log is the record of what was shipped,
// and a run cut short by a crash or a power cut must leave every finished part in it. So each
// line goes out in one write to a descriptor opened to append, and to the disk before the
// loop goes on. A line goes in whole or not at all: a write that fails (a full disk) is cut
// back off, and a log that some earlier crash left without a final line end gets one before
// the first new line. The log is opened in spreadsheets, which run a cell that starts with
// = + - @ (or a tab or carriage return before one) as a formula; an image's name, a host name
// or a device serial can start so, and such a cell is written with a single quote before it,
// as the common advice against CSV injection has it.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "production/part_record.h"

namespace qs71prog {

// The text of a cell as a spreadsheet will take it as text: with a ' before a first = + - @,
// tab or carriage return.
std::string Neutralised(const std::string& text);

// A field as RFC 4180 writes it: in double quotes, its quotes doubled, when it holds a comma,
// a quote or a line end; as it is otherwise.
std::string CsvField(const std::string& text);

// The header row and a part's row, each ending with a line feed (as Unix tools expect;
// readers of RFC 4180 take it as well as CRLF).
std::string CsvHeader();
std::string CsvRow(const PartRecord& record);

// The highest part number each programmer has in the log at path (none when it has no log
// yet), so that a new run goes on numbering where the last one stopped.
std::map<int, int> LastPartNumbers(const std::string& path);

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
