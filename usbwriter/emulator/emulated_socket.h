#pragma once

#include <string>

namespace qs71::emu {

// The socket of each emulated programmer, fed with parts from a folder (QS71_EMU_SOCKET) or
// by the control interface. Every *.otp file in the folder is one part, taken in name order,
// each at most once; the part's cells live in its file. A part leaves the socket once a job
// ran on it and a call then only identifies it: that call, standing for the host waiting for
// an empty socket, finds the socket empty; the next call finds the next part. Sockets
// outlive calls and are shared by all threads, so every function here takes one lock.

// What a programmer's socket holds as a call opens the programmer.
struct SocketContent {
  bool socket = false;  // false: the programmer has no socket, a fresh chip every call
  std::string part;     // the part's file; empty for an empty socket
};

// folder is where the programmer's parts come from ("" for none). A new folder starts the
// socket afresh; an empty socket takes the next part file the folder still has.
SocketContent OpenSocket(int programmer, const std::string& folder);
// What the call on the part does: running steps marks it used; only identifying a used part
// takes it out. True when the part left the socket.
bool AnnounceToSocket(int programmer, const std::string& part, bool runsSteps);
// Puts the part in this file into the socket in place of whatever it held; the part file is
// then not taken again from a folder.
void InsertPart(int programmer, const std::string& part);
// Takes the part out; the socket stays empty until the next part is taken or inserted.
void RemovePart(int programmer);
// No sockets any more: every programmer gets a fresh chip every call.
void ResetSockets();

// The faults of a part NAME.otp are in NAME.faults beside it.
std::string FaultsFileOf(const std::string& part);

}  // namespace qs71::emu
