#pragma once

#include <string>

#include "part_use.h"

namespace qs71::emu {

// The socket of each emulated programmer, fed with parts from a folder (QS71_EMU_SOCKET) or
// by the control interface. It behaves as a socket on a bench does: a part stays in it until
// it is taken out, whatever the host does meanwhile.
//
//   - The part in a folder's socket is the first *.otp file of the folder, in name order; its
//     cells live in its file. The folder is the socket's whole state, so a restart, or another
//     process, finds the parts where the last one left them.
//   - A part is taken out when its file is moved away (or removed), when another file takes
//     its name, or by the control call (RemovePart); the next call finds the next part file.
//   - With an operator (QS71_EMU_OPERATOR=SECONDS) a part that a job ran on is taken out by
//     itself, that long after the host began to wait for an empty socket (the first call that
//     only identifies it): its file is moved into the folder's out/, as a person would put it
//     on the pile.
//
// Sockets outlive calls and are shared by all threads, so every function here takes one lock.

// What a programmer's socket holds as a call opens the programmer.
struct SocketContent {
  bool socket = false;  // false: the programmer has no socket, a fresh chip every call
  std::string part;     // the part's file; empty for an empty socket
};

// The operator that takes finished parts out, QS71_EMU_OPERATOR; none by default.
constexpr int kNoOperator = -1;

// folder is where the programmer's parts come from ("" for none). A new folder starts the
// socket afresh.
SocketContent OpenSocket(int programmer, const std::string& folder);
// What the call on the part does: running steps marks it used, and a compare marks it used
// without beginning the wait again; with an operator (operatorSeconds from 0), calls that only
// identify a used part have it taken out once that many seconds passed since the first of
// them. True when the part left the socket.
bool AnnounceToSocket(int programmer, const std::string& part, PartUse use, int operatorSeconds);
// Puts the part in this file into the socket in place of whatever it held; the part file is
// then not taken again from a folder.
void InsertPart(int programmer, const std::string& part);
// Takes the part out; its file stays where it is, and is not taken again by this process.
void RemovePart(int programmer);
// No sockets any more: every programmer gets a fresh chip every call.
void ResetSockets();
// The sockets' lock across a fork (hid_port.h's HidPortLockForFork).
void LockSocketsForFork();
void UnlockSocketsAfterFork();

// The faults of a part NAME.otp are in NAME.faults beside it.
std::string FaultsFileOf(const std::string& part);

// Where the operator puts the parts it takes out of a folder's socket: its subfolder out/.
std::string TakenOutFolder(const std::string& folder);

}  // namespace qs71::emu
