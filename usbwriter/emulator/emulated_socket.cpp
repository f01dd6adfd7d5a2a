#include "emulated_socket.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <vector>

#include "emulated_bus.h"

namespace qs71::emu {

namespace {

struct Socket {
  bool active = false;
  std::string folder;
  std::string part;
  bool used = false;
  std::set<std::string> taken;  // part files that have been in the socket
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

std::string NextPart(Socket& socket) {
  for (const std::string& part : PartFiles(socket.folder)) {
    if (socket.taken.insert(part).second) return part;
  }
  return "";
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
  if (socket.part.empty() && !socket.folder.empty()) {
    socket.part = NextPart(socket);
    socket.used = false;
  }
  return {true, socket.part};
}

bool AnnounceToSocket(int programmer, const std::string& part, bool runsSteps) {
  if (!Valid(programmer) || part.empty()) return false;
  std::lock_guard<std::mutex> hold(socketLock);
  Socket& socket = sockets[programmer];
  if (!socket.active || socket.part != part) return false;
  if (runsSteps) {
    socket.used = true;
    return false;
  }
  if (!socket.used) return false;
  socket.part.clear();
  socket.used = false;
  return true;
}

void InsertPart(int programmer, const std::string& part) {
  if (!Valid(programmer)) return;
  std::lock_guard<std::mutex> hold(socketLock);
  Socket& socket = sockets[programmer];
  socket.active = true;
  socket.part = part;
  socket.used = false;
  socket.taken.insert(part);
}

void RemovePart(int programmer) {
  if (!Valid(programmer)) return;
  std::lock_guard<std::mutex> hold(socketLock);
  Socket& socket = sockets[programmer];
  socket.active = true;
  socket.part.clear();
  socket.used = false;
}

void ResetSockets() {
  std::lock_guard<std::mutex> hold(socketLock);
  for (Socket& socket : sockets) socket = Socket();
}

std::string FaultsFileOf(const std::string& part) {
  return std::filesystem::path(part).replace_extension(".faults").string();
}

}  // namespace qs71::emu
