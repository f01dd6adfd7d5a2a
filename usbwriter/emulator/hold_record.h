#pragma once
// The record of calls that reach an emulated part without holding it (QS71_EMU_HOLD_RECORD).
// Every call of the library holds the files its programmer keeps the part in before it sends
// a report; a call that does not (a library that lost track of its hold, a hold kept by a
// path whose node went, the no-hold fault) could write a part another process is writing.
// The emulator cannot stop such a call, but it can tell: at a call's first request it asks
// the system who holds each of those files, and a file held by no one, or by another process,
// gets a line in the record. A line test checks the record stays empty: no part was written
// while another process held its programmer.

#include <string>
#include <vector>

namespace qs71::emu {

// Whether this process holds the file's lock. False with who does instead: "no one", or the
// holder the system names ("process 4712 (qs71prog)"). Where the system cannot name the holder
// (Windows) a held file counts as held here.
bool HeldHere(const std::string& path, std::string& holder);

// The files that are not held here, each as "FILE (held by no one)"; empty when all are.
std::vector<std::string> UnheldFiles(const std::vector<std::string>& files);

// Appends one line to the record: "process 4711: programmer 1 (emulated:01): a request
// reached the part while sockets/1/part3.otp (held by no one) was not held by this process".
// False when the record cannot be written.
bool RecordUnheldCall(const std::string& record, int programmer, const std::string& path,
                      const std::vector<std::string>& unheld);

}  // namespace qs71::emu
