// SPDX-License-Identifier: BSD-2-Clause
// Where brisim listens for the tools: one endpoint per simulated device, any number of
// connections at once, each served by RunSession. One implementation per system.
#pragma once

#include <string>

#include "session.h"

namespace brisim {

struct ServerOptions {
  std::string dir;     // folder of the device endpoints (created when missing)
  std::string device;  // device name, e.g. TESSIX0
};

// Listens on the device's endpoint until SIGTERM or SIGINT, then removes the endpoint.
// Prints "brisim: listening on PATH" once it accepts connections. Returns the exit status.
int RunServer(const ServerOptions& options, Simulator& sim);

// Makes RunServer stop as SIGTERM would (the console's stop event on Windows); from any thread.
void StopServer();

}  // namespace brisim
