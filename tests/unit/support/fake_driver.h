// SPDX-License-Identifier: BSD-2-Clause
// An in-process stand-in for the adapter driver, for unit tests: a socket server in a temporary
// device folder that speaks the device transport (the same one brisim serves) and answers every
// request with a function the test provides.
//
//   FakeDriver driver([](const FakeRequest& r) { return FakeReply::Block(...); });
//   ScopedEnv env("BRI_DEVICE_DIR", driver.dir());
//   DeviceHandle h = PlatOpenDevice("\\\\.\\TESSIX0");
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// One request as the driver received it.
struct FakeRequest {
  int connection = 0;  // numbered from 1 in the order of the opens
  std::uint32_t code = 0;
  std::uint32_t in_len = 0;
  std::uint32_t in_sent = 0;  // how many input bytes actually travelled
  std::uint32_t out_len = 0;
  std::vector<std::uint8_t> input;  // all in_len bytes, the untransmitted tail as zeros

  // Little-endian u32 of the input at offset (0 past its end), e.g. a command block field.
  std::uint32_t U32(std::size_t offset) const;
  std::uint16_t U16(std::size_t offset) const;
};

// What the driver answers.
struct FakeReply {
  bool ok = true;
  std::uint32_t returned = 0;        // bytes the call reports
  std::vector<std::uint8_t> output;  // the out_sent bytes that travel (at most returned)

  // Instead of a well-formed reply: these bytes exactly (may be malformed or cut short).
  std::optional<std::vector<std::uint8_t>> raw;
  // Close the connection after answering (or, with an empty raw, instead of answering).
  bool close_after = false;
  // Send the reply in pieces of this many bytes, one after the other (0: all at once).
  std::size_t piece = 0;

  // Success with these bytes as the output (trailing zeros are not sent, but counted).
  static FakeReply Bytes(std::vector<std::uint8_t> bytes);
  // Failure (ok = 0): the caller's buffer stays as it was.
  static FakeReply Failure();
  // The connection breaks: no reply at all.
  static FakeReply Hangup();
};

using FakeHandler = std::function<FakeReply(const FakeRequest&)>;

class FakeDriver {
 public:
  // Listens on <a new temporary folder>/<device>. The handler runs on the connection's thread,
  // one request at a time per connection.
  explicit FakeDriver(FakeHandler handler, std::string device = "TESSIX0");
  ~FakeDriver();
  FakeDriver(const FakeDriver&) = delete;
  FakeDriver& operator=(const FakeDriver&) = delete;

  const std::string& dir() const { return dir_; }
  std::string socket_path() const { return dir_ + "/" + device_; }

  // Every request received so far, in order (inputs cut to their first kLoggedInputBytes).
  static constexpr std::size_t kLoggedInputBytes = 4096;
  std::vector<FakeRequest> requests() const;
  int connections() const { return connections_.load(); }

  // Stops listening and ends every connection (the destructor does this too).
  void Stop();

 private:
  void AcceptLoop();
  void Serve(int fd, int connection);

  FakeHandler handler_;
  std::string device_;
  std::string dir_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::atomic<int> connections_{0};
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<FakeRequest> log_;      // guarded by mutex_
  std::vector<int> connection_fds_;   // guarded by mutex_
  std::vector<std::thread> threads_;  // guarded by mutex_
  std::thread acceptor_;
};

// Sets an environment variable (or unsets it, with nullopt) for the object's lifetime.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes a file into the folder; returns its path.
  std::string Write(const std::string& name, const std::string& contents) const;

 private:
  std::string path_;
};
