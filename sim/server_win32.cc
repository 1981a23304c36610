// SPDX-License-Identifier: BSD-2-Clause
// The Windows endpoint: the named pipe \\.\pipe\bri-NAME, one pipe instance per client, one thread
// per connection. The relay driver (sim/relay) connects here for each handle the tools open.
//
// Every wait also watches the stop event, set by Ctrl-C, Ctrl-Break or the console closing, so that
// the server can wake its connection threads, wait for them and end with status 0.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "connections.h"
#include "server.h"

namespace brisim {
namespace {

// Owns a Win32 handle (INVALID_HANDLE_VALUE and null both mean none).
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(); }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h = nullptr) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }
  // Gives up ownership without closing.
  HANDLE Release() {
    const HANDLE h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  HANDLE h_;
};

HANDLE stop_event = nullptr;  // manual-reset; created before the control handler is installed

BOOL WINAPI OnControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      SetEvent(stop_event);
      return TRUE;
    default:
      return FALSE;
  }
}

// Waits for an overlapped operation on handle, or for the stop event (the operation is then
// cancelled and waited for, so that its buffer and OVERLAPPED may go). Bytes moved, or -1.
// An operation that completed at once is not waited for: under Wine every wait is a round trip
// to the wineserver, and a request already costs several of those on its way through the relay.
long long Await(HANDLE handle, OVERLAPPED* ov, BOOL started) {
  DWORD moved = 0;
  if (started) return GetOverlappedResult(handle, ov, &moved, FALSE) ? static_cast<long long>(moved) : -1;
  if (GetLastError() != ERROR_IO_PENDING) return -1;
  const HANDLE waits[2] = {ov->hEvent, stop_event};
  const DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (which != WAIT_OBJECT_0) CancelIoEx(handle, ov);
  if (!GetOverlappedResult(handle, ov, &moved, TRUE)) return -1;
  return which == WAIT_OBJECT_0 ? static_cast<long long>(moved) : -1;
}

constexpr DWORD kPipeBuffer = 64 * 1024;

// One connection's end of the pipe; reads go through a ReadBuffer.
class PipeStream : public Stream {
 public:
  explicit PipeStream(HANDLE pipe)
      : pipe_(pipe), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), reads_(kPipeBuffer) {}

  bool ReadExact(std::uint8_t* data, std::size_t size) override {
    return reads_.ReadExact(data, size, [this](std::uint8_t* p, std::size_t n) { return Transfer(p, n, false); });
  }

  bool WriteAll(const std::uint8_t* data, std::size_t size) override {
    return MoveAll(const_cast<std::uint8_t*>(data), size,
                   [this](std::uint8_t* p, std::size_t n) { return Transfer(p, n, true); });
  }

 private:
  // ReadFile and WriteFile reset the event themselves when they start.
  long long Transfer(std::uint8_t* data, std::size_t size, bool write) {
    if (!event_.valid()) return -1;
    const DWORD chunk = size > 0x100000u ? 0x100000u : static_cast<DWORD>(size);
    OVERLAPPED ov{};
    ov.hEvent = event_.get();
    const BOOL started = write ? WriteFile(pipe_, data, chunk, nullptr, &ov) : ReadFile(pipe_, data, chunk, nullptr, &ov);
    return Await(pipe_, &ov, started);
  }

  HANDLE pipe_;
  Handle event_;
  ReadBuffer reads_;
};

HANDLE NewInstance(const std::string& name, bool first) {
  DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
  if (first) open_mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  return CreateNamedPipeA(name.c_str(), open_mode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                          PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, nullptr);
}

}  // namespace

int RunServer(const ServerOptions& options, Simulator& sim) {
  // The device folder has no meaning here: the endpoint is named after the device alone.
  const std::string name = "\\\\.\\pipe\\bri-" + options.device;
  Handle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop.valid()) {
    std::fprintf(stderr, "brisim: CreateEvent failed (%lu)\n", GetLastError());
    return 1;
  }
  stop_event = stop.get();
  SetConsoleCtrlHandler(OnControl, TRUE);

  // Another simulator's pipe of the same name (asked without connecting to it, so that its
  // connection numbers stay as they are; not every system refuses a second first instance).
  if (WaitNamedPipeA(name.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
    std::fprintf(stderr, "brisim: another simulator already listens on %s\n", name.c_str());
    return 1;
  }
  Handle listening(NewInstance(name, true));
  if (!listening.valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY) {
      std::fprintf(stderr, "brisim: another simulator already listens on %s\n", name.c_str());
    } else {
      std::fprintf(stderr, "brisim: cannot listen on %s (%lu)\n", name.c_str(), error);
    }
    return 1;
  }
  std::printf("brisim: listening on %s\n", name.c_str());
  std::fflush(stdout);

  Handle connected_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Connections<Handle> conns;
  int status = 0;
  while (WaitForSingleObject(stop_event, 0) != WAIT_OBJECT_0) {
    Reap(conns);
    OVERLAPPED ov{};
    ov.hEvent = connected_event.get();
    ResetEvent(ov.hEvent);
    bool client = false;
    if (ConnectNamedPipe(listening.get(), &ov)) {
      client = true;
    } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
      client = true;  // the client came between CreateNamedPipe and ConnectNamedPipe
    } else if (GetLastError() == ERROR_IO_PENDING) {
      // Wakes now and then to join finished connection threads; the listen stays pending.
      const HANDLE waits[2] = {ov.hEvent, stop_event};
      DWORD which = WAIT_TIMEOUT;
      while (which == WAIT_TIMEOUT) {
        which = WaitForMultipleObjects(2, waits, FALSE, 1000);
        Reap(conns);
      }
      if (which != WAIT_OBJECT_0) CancelIoEx(listening.get(), &ov);
      DWORD unused = 0;
      client = GetOverlappedResult(listening.get(), &ov, &unused, TRUE) != 0 && which == WAIT_OBJECT_0;
    } else {
      std::fprintf(stderr, "brisim: ConnectNamedPipe failed (%lu)\n", GetLastError());
      Sleep(100);
    }
    if (!client) continue;

    // A fresh instance is made before the connected one goes to its thread: while no instance
    // listens, a client that opens the pipe is turned away (the relay waits a while for one), and
    // starting a thread can take long on a loaded machine.
    Handle connected(listening.Release());
    listening.Reset(NewInstance(name, false));
    const DWORD new_instance_error = listening.valid() ? 0 : GetLastError();
    const std::uint64_t number = sim.NextConnection();
    StartConnection(
        conns,
        [&sim, number](Connection<Handle>& c) {
          PipeStream stream(c.endpoint.get());
          RunSession(stream, sim, number);
          DisconnectNamedPipe(c.endpoint.get());
        },
        connected.Release());
    if (!listening.valid()) {
      std::fprintf(stderr, "brisim: cannot make a new instance of %s (%lu)\n", name.c_str(), new_instance_error);
      status = 1;
      break;
    }
  }

  // Stop: the connection threads see the stop event in their waits and end.
  SetEvent(stop_event);
  for (auto& c : conns) c->thread.join();
  return status;
}

void StopServer() {
  if (stop_event != nullptr) SetEvent(stop_event);
}

}  // namespace brisim
