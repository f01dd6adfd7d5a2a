#pragma once
// The production log: CSV quoted as RFC 4180 has it, one line per part, appended as each part
// ends. A line once written is never rewritten: the log is the record of what was shipped,
// and a run cut short by a crash or a power cut must leave every finished part in it. So each
// line goes out in one write to a descriptor opened to append, and to the disk before the
// loop goes on. A line goes in whole or not at all: a write that fails (a full disk, a size
// limit) is cut back off. Several runs may append to one log (a line of stations on a shared
// folder), so each row is written under a lock on the log, taken around the size read
// before it, the write, the cut-back and the sync: a failed row takes only its own bytes with
// it. A log that some earlier crash left without a final line end gets one before the next
// row, and a new or empty log its header, under the same lock. A log deleted, renamed or
// replaced under a run would swallow every later row unseen, so each row first checks that
// the file at the log's name is still the one it has open. The log is opened in spreadsheets,
// which run a cell that starts with = + - @ (or a tab or carriage return before one) as a
// formula; an image's name, a host name or a device serial can start so, and such a cell is
// written with a single quote before it, as the common advice against CSV injection has it.

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

// What a log says about the parts that went before, so that a new run neither reuses a part
// number nor forgets a part that a crash cut short.
struct UnfinishedPart {
  std::string run, programmerKey, chipId, time;
  int part = 0;
};
struct LogHistory {
  // Per programmer key, the highest part number in any of its rows (parts, started, already,
  // end rows, ...), so that numbers are never reused.
  std::map<std::string, int> lastPart;
  // Per image SHA-256, the highest part number of the rows of that image; "" for rows that
  // name none (logs from before the sha256 column).
  std::map<std::string, int> lastOfImage;
  // In the log's order: "started" rows with no end row, that is, no row of the same run,
  // programmer key and part whose event is "part" or "already".
  std::vector<UnfinishedPart> unfinished;
};

// The history of the log at path; none when it has no log yet. Takes logs of earlier versions
// (no event column: every row a part; a programmer column holding the programmer's number,
// keyed here by its serial, else its path, where the row has them) and a last line that a
// crash or a full disk tore: its fields up to the last comma count, the cut one does not.
LogHistory ReadLogHistory(const std::string& path);

// The number a job's trace numbers go on above: the highest of the log's rows of the job's
// image, and of rows that name no image, so that a log kept from before the trace never
// holds one number twice. Rows of other images are other jobs': their numbers are theirs.
int LogFloor(const LogHistory& history, const std::string& imageSha256);

class ProductionLog {
 public:
  ProductionLog() = default;
  ~ProductionLog();
  ProductionLog(const ProductionLog&) = delete;
  ProductionLog& operator=(const ProductionLog&) = delete;

  // Opens path to append, creating it; writes the header when the file is new or empty.
  bool Open(const std::string& path, std::string& problem);
  bool IsOpen() const { return fd >= 0; }
  // One row, whole, from any thread, or nothing at all when it could not be written to the
  // disk or the log is no longer at its name (problem says why).
  bool Append(const PartRecord& record, std::string& problem);
  // False when the file at the log's name is no longer the open log, so that a run can stop
  // before it takes a part it could not log.
  bool StillInPlace(std::string& problem);

 private:
  bool InPlace(std::string& problem) const;
  // Under the append lock: the header or a torn line's end where the log needs one, then row.
  bool WriteLocked(const std::string& row, std::string& problem);
  bool WriteAtEnd(const std::string& row, std::string& problem);

  std::mutex mutex;
  std::string path;
  int fd = -1;
};

}  // namespace qs71prog
