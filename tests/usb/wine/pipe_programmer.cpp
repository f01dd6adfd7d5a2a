#include "pipe_programmer.h"

#include <cstring>

namespace qs71::wine {

namespace {

constexpr emu::ChipId kGoodPart = {0x6D, 0x61, 0x02, 0x00};
constexpr DWORD kReportBlock = 65;
constexpr DWORD kShortReportBlock = 17;  // report ID and 16 bytes
constexpr DWORD kPipeBuffer = 4096;

HANDLE NewEvent(BOOL manualReset) { return CreateEventA(nullptr, manualReset, FALSE, nullptr); }

}  // namespace

PipeProgrammer::PipeProgrammer(const std::string& pipePath, PipeFault chosen)
    : path(pipePath),
      fault(chosen),
      chip(kGoodPart, emu::ChipSizeForCode(kGoodPart[2])),
      programmer(chip),
      listening(NewEvent(FALSE)),
      handled(NewEvent(FALSE)),
      pull(NewEvent(FALSE)),
      pulled(NewEvent(TRUE)),
      stop(NewEvent(TRUE)),
      server([this] { Serve(); }) {}

// The library has closed its handles by now, which ends the server; the stop is for a
// library that did not, or never opened the programmer at all.
PipeProgrammer::~PipeProgrammer() {
  SetEvent(stop);
  server.join();
  for (HANDLE event : {listening, handled, pull, pulled, stop}) CloseHandle(event);
}

void PipeProgrammer::AwaitListening() { WaitForSingleObject(listening, INFINITE); }

void PipeProgrammer::AwaitHandled() { WaitForSingleObject(handled, INFINITE); }

bool PipeProgrammer::PullIfArmed() {
  if (!armed) return false;
  armed = false;
  SetEvent(pull);
  WaitForSingleObject(pulled, INFINITE);
  return true;
}

HANDLE PipeProgrammer::NewInstance() {
  HANDLE pipe = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 2,
                                 kPipeBuffer, kPipeBuffer, 0, nullptr);
  SetEvent(listening);
  return pipe;
}

// Settles one overlapped operation of the server; one cut short is cancelled and waited for.
PipeProgrammer::Io PipeProgrammer::Wait(HANDLE pipe, OVERLAPPED* overlapped, DWORD* count) {
  const HANDLE events[] = {overlapped->hEvent, stop, pull};
  const DWORD which = WaitForMultipleObjects(3, events, FALSE, INFINITE);
  if (which == WAIT_OBJECT_0) {
    return GetOverlappedResult(pipe, overlapped, count, FALSE) ? Io::kDone : Io::kFailed;
  }
  CancelIoEx(pipe, overlapped);
  GetOverlappedResult(pipe, overlapped, count, TRUE);
  return which == WAIT_OBJECT_0 + 1 ? Io::kStopped : Io::kPulled;
}

PipeProgrammer::Io PipeProgrammer::Connect(HANDLE pipe) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = NewEvent(TRUE);
  Io io = Io::kDone;
  if (!ConnectNamedPipe(pipe, &overlapped)) {
    const DWORD error = GetLastError();
    DWORD count = 0;
    if (error == ERROR_IO_PENDING) io = Wait(pipe, &overlapped, &count);
    else if (error != ERROR_PIPE_CONNECTED) io = Io::kFailed;
  }
  CloseHandle(overlapped.hEvent);
  return io;
}

PipeProgrammer::Io PipeProgrammer::ReadRequest(HANDLE pipe, uint8_t* block, DWORD* count) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = NewEvent(TRUE);
  Io io = Io::kDone;
  if (!ReadFile(pipe, block, kReportBlock + 1, nullptr, &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    io = Io::kFailed;
  } else {
    io = Wait(pipe, &overlapped, count);
  }
  CloseHandle(overlapped.hEvent);
  return io;
}

bool PipeProgrammer::Reply(HANDLE pipe, const uint8_t* reply, DWORD length) {
  uint8_t block[kReportBlock] = {0x00};
  std::memcpy(block + 1, reply, length - 1);
  OVERLAPPED overlapped{};
  overlapped.hEvent = NewEvent(TRUE);
  DWORD count = 0;
  const bool sent = (WriteFile(pipe, block, length, nullptr, &overlapped) ||
                     GetLastError() == ERROR_IO_PENDING) &&
                    GetOverlappedResult(pipe, &overlapped, &count, TRUE) && count == length;
  CloseHandle(overlapped.hEvent);
  return sent;
}

// A reply goes out before the report counts as handled, so that the library's read finds it.
void PipeProgrammer::Take(const uint8_t* block, DWORD count, HANDLE replies) {
  if (count != kReportBlock || block[0] != 0x00) {
    violations += "a write of " + std::to_string(count) + " bytes, report ID " +
                  std::to_string(block[0]) + "\n";
    return;
  }
  const uint8_t* request = block + 1;
  const bool hit = fault.kind != PipeFault::kNone && request[0] == fault.command &&
                   ++seen[request[0]] == 1;
  armed = hit && fault.kind == PipeFault::kUnplug;
  silent = silent || (hit && fault.kind == PipeFault::kSilent);
  uint8_t reply[64];
  if (armed || silent || !programmer.Handle(request, reply)) return;
  const bool shortReport = hit && fault.kind == PipeFault::kShortReport;
  if (!Reply(replies, reply, shortReport ? kShortReportBlock : kReportBlock)) {
    violations += "a reply the library's read handle did not take\n";
  }
}

// Instance one is the write handle's (opened first), instance two the read handle's. The
// programmer serves until the library closes its write handle, or until it is pulled.
void PipeProgrammer::Serve() {
  HANDLE requests = NewInstance();
  HANDLE replies = INVALID_HANDLE_VALUE;
  if (Connect(requests) == Io::kDone) {
    replies = NewInstance();
    if (Connect(replies) == Io::kDone) {
      uint8_t block[kReportBlock + 1];
      DWORD count = 0;
      while (ReadRequest(requests, block, &count) == Io::kDone) {
        Take(block, count, replies);
        SetEvent(handled);
      }
    }
  }
  CloseHandle(requests);
  if (replies != INVALID_HANDLE_VALUE) CloseHandle(replies);
  SetEvent(pulled);
}

}  // namespace qs71::wine
