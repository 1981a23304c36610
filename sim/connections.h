// SPDX-License-Identifier: BSD-2-Clause
// The connections of the server, on either system: each is served by a thread of its own, which
// is joined once the connection has ended; and the loop that moves a whole buffer through a
// stream that moves some bytes at a time.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace brisim {

// Endpoint owns the system's end of the connection (a socket, a pipe instance) and closes it when
// the connection goes.
template <typename Endpoint>
struct Connection {
  Endpoint endpoint;
  std::thread thread;
  std::atomic<bool> done{false};
  template <typename... Args>
  explicit Connection(Args&&... args) : endpoint(std::forward<Args>(args)...) {}
};

template <typename Endpoint>
using Connections = std::list<std::unique_ptr<Connection<Endpoint>>>;

// Starts a connection's thread, which runs serve(connection) and then marks it ended.
template <typename Endpoint, typename Serve, typename... Args>
void StartConnection(Connections<Endpoint>& conns, Serve serve, Args&&... endpoint_args) {
  auto conn = std::make_unique<Connection<Endpoint>>(std::forward<Args>(endpoint_args)...);
  Connection<Endpoint>* c = conn.get();
  c->thread = std::thread([c, serve] {
    serve(*c);
    c->done.store(true);
  });
  conns.push_back(std::move(conn));
}

// Joins the threads of the connections that have ended, and lets those connections go.
template <typename Endpoint>
void Reap(Connections<Endpoint>& conns) {
  for (auto it = conns.begin(); it != conns.end();) {
    if ((*it)->done.load()) {
      (*it)->thread.join();
      it = conns.erase(it);
    } else {
      ++it;
    }
  }
}

// Moves size bytes at data through step(data, size), which moves some of them and returns how
// many: 0 or less is the end of the stream or an error, and ends the move with false.
template <typename Step>
bool MoveAll(std::uint8_t* data, std::size_t size, Step step) {
  while (size > 0) {
    const long long n = step(data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads of one connection's stream through a buffer: a read takes whatever the other end has sent
// (a request's header and its bytes come in one write), so that a request costs one read instead
// of one for the header and one for the rest. A large read with nothing buffered goes straight to
// the caller.
class ReadBuffer {
 public:
  explicit ReadBuffer(std::size_t size) : buffer_(size) {}

  // Reads exactly size bytes; step(data, size) reads some bytes of the stream as MoveAll's does.
  template <typename Step>
  bool ReadExact(std::uint8_t* data, std::size_t size, Step step) {
    while (size > 0) {
      if (next_ == end_) {
        if (size >= buffer_.size()) {
          const long long n = step(data, size);
          if (n <= 0) return false;
          data += n;
          size -= static_cast<std::size_t>(n);
          continue;
        }
        const long long n = step(buffer_.data(), buffer_.size());
        if (n <= 0) return false;
        next_ = 0;
        end_ = static_cast<std::size_t>(n);
      }
      const std::size_t take = std::min(size, end_ - next_);
      std::memcpy(data, buffer_.data() + next_, take);
      next_ += take;
      data += take;
      size -= take;
    }
    return true;
  }

 private:
  std::vector<std::uint8_t> buffer_;
  std::size_t next_ = 0;  // buffer_[next_, end_) is read but not yet taken
  std::size_t end_ = 0;
};

}  // namespace brisim
