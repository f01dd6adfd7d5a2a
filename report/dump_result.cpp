#include "dump_result.h"

#include <cerrno>
#include <cstring>

namespace {

struct ResultRow {
  int result;
  int exitCode;
  const char* message;
};

const ResultRow kResults[] = {
    {DumpOk, 0, "ok"},
    {DumpUsage, 1, "usage"},
    {DumpOpenFailed, 2, "cannot read the image"},
    {DumpTooSmall, 3, "not an image: too small"},
    {DumpTooLarge, 3, "not an image: too large"},
    {DumpNoTag, 3, "not an image: no tag 5A A5"},
    {DumpBadSections, 3, "not an image: inconsistent section table"},
    {DumpBadGroups, 3, "not an image: inconsistent group entries"},
    {DumpWriteFailed, 2, "cannot write an extracted sound"},
    {DumpOutputFailed, 2, "cannot write the output"},
    {DumpPageFailed, 2, "cannot write the page"},
    {DumpNamesFailed, 2, "cannot name the sounds"},
};

const ResultRow* FindResult(int result) {
  for (const ResultRow& row : kResults) {
    if (row.result == result) return &row;
  }
  return nullptr;
}

}  // namespace

int DumpExitCode(int result) {
  const ResultRow* row = FindResult(result);
  return row != nullptr ? row->exitCode : 3;
}

const char* DumpMessage(int result) {
  const ResultRow* row = FindResult(result);
  return row != nullptr ? row->message : "internal error";
}


std::string FinishWrite(FILE* file, bool written) {
  written = std::fflush(file) == 0 && written;
  int reason = written ? 0 : errno;
  if (std::fclose(file) != 0 && written) {
    reason = errno;
    written = false;
  }
  if (written) return "";
  // A short write that set no errno still lost bytes.
  return reason != 0 ? std::strerror(reason) : "short write";
}
