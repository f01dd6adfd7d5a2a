#include "emulated_socket.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "emulated_bus.h"
#include "file_system.h"  // IdentifyFile, SameFile

namespace qs71::emu {

namespace {

using Clock = std::chrono::steady_clock;

struct Socket {
  bool active = false;
  std::string folder;
  std::string part;
  FileIdentity partFile;        // what stood at the part's name when it went in
  bool inserted = false;        // put in by the control interface, not from the folder
  bool used = false;            // a job ran on it
  bool waited = false;          // the host has begun to wait for it to be taken out
  Clock::time_point waitedSince;
  std::string pile;             // taken out by the operator, to leave the folder
  std::set<std::string> taken;  // files the control calls put in or took out, or not moved
};

std::mutex socketLock;
std::array<Socket, kMaxProgrammers + 1> sockets;  // by programmer, from 1; guarded by socketLock

bool Valid(int programmer) { return programmer >= 1 && programmer <= kMaxProgrammers; }

std::vector<std::string> PartFiles(const std::string& folder) {
  std::vector<std::string> parts;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code ignored;
    if (it->path().extension() == ".otp" && it->is_regular_file(ignored)) {
      parts.push_back(it->path().string());
    }
  }
  std::sort(parts.begin(), parts.end());
  return parts;
}

void Put(Socket& socket, const std::string& part, bool inserted) {
  socket.part = part;
  socket.partFile = IdentifyFile(part.c_str());
  socket.inserted = inserted;
  socket.used = socket.waited = false;
}

// A folder's part is still in when its file is: moved away, removed, or another file under
// its name (the part taken out and a new one put in), it has left.
bool StillIn(const Socket& socket) {
  if (socket.inserted) return true;
  const FileIdentity now = IdentifyFile(socket.part.c_str());
  return !socket.partFile.exists ? now.exists : SameFile(now, socket.partFile);
}

void TakeNextPart(Socket& socket) {
  for (const std::string& part : PartFiles(socket.folder)) {
    if (socket.taken.count(part) == 0) return Put(socket, part, false);
  }
  socket.part.clear();
}

// The operator's pile: the file leaves the folder, so that neither this run nor the next takes
// it again. Windows moves no file that is open, and the call that took the part out has it
// open: there the next call moves it, once that call let go of it. One that cannot be moved
// then either (a process hold keeps it open) stays in the folder, and this process does not
// take it again.
void PutOnPile(Socket& socket, bool lastTry) {
  if (socket.pile.empty()) return;
  const std::filesystem::path out = TakenOutFolder(socket.folder);
  std::error_code error;
  std::filesystem::create_directories(out, error);
  std::filesystem::rename(socket.pile, out / std::filesystem::path(socket.pile).filename(), error);
  if (error && !lastTry) return;
  if (error) socket.taken.insert(socket.pile);
  socket.pile.clear();
}

}  // namespace

SocketContent OpenSocket(int programmer, const std::string& folder) {
  if (!Valid(programmer)) return {};
  std::lock_guard<std::mutex> hold(socketLock);
  Socket& socket = sockets[programmer];
  if (folder != socket.folder && (!folder.empty() || !socket.folder.empty())) {
    socket = Socket();
    socket.folder = folder;
    socket.active = !folder.empty();
  }
  if (!socket.active) return {};
  PutOnPile(socket, true);
  if (!socket.part.empty() && !StillIn(socket)) socket.part.clear();
  if (socket.part.empty() && !socket.folder.empty()) TakeNextPart(socket);
  return {true, socket.part};
}

bool AnnounceToSocket(int programmer, const std::string& part, PartUse use, int operatorSeconds) {
  if (!Valid(programmer) || part.empty()) return false;
  std::lock_guard<std::mutex> hold(socketLock);
  Socket& socket = sockets[programmer];
  if (!socket.active || socket.part != part) return false;
  // A new part's file was made whole in its place by this call: that file is the part now.
  if (!socket.inserted) socket.partFile = IdentifyFile(part.c_str());
  if (use != PartUse::kIdentifies) {
    socket.used = true;
    if (use == PartUse::kRunsSteps) socket.waited = false;
    return false;
  }
  if (!socket.used || operatorSeconds == kNoOperator) return false;
  const Clock::time_point now = Clock::now();
  if (!socket.waited) {
    socket.waited = true;
    socket.waitedSince = now;
  }
  if (now - socket.waitedSince < std::chrono::seconds(operatorSeconds)) return false;
  if (!socket.inserted) socket.pile = socket.part;
  PutOnPile(socket, false);
  socket.part.clear();
  return true;
}

void InsertPart(int programmer, const std::string& part) {
  if (!Valid(programmer)) return;
  std::lock_guard<std::mutex> hold(socketLock);
  Socket& socket = sockets[programmer];
  socket.active = true;
  Put(socket, part, true);
  socket.taken.insert(part);
}

void RemovePart(int programmer) {
  if (!Valid(programmer)) return;
  std::lock_guard<std::mutex> hold(socketLock);
  Socket& socket = sockets[programmer];
  socket.active = true;
  if (!socket.part.empty()) socket.taken.insert(socket.part);
  socket.part.clear();
  socket.used = socket.waited = false;
}

void ResetSockets() {
  std::lock_guard<std::mutex> hold(socketLock);
  for (Socket& socket : sockets) socket = Socket();
}

std::string FaultsFileOf(const std::string& part) {
  return std::filesystem::path(part).replace_extension(".faults").string();
}

std::string TakenOutFolder(const std::string& folder) {
  return (std::filesystem::path(folder) / "out").string();
}

void LockSocketsForFork() { socketLock.lock(); }
void UnlockSocketsAfterFork() { socketLock.unlock(); }

}  // namespace qs71::emu
