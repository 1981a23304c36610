// SPDX-License-Identifier: BSD-2-Clause
// brisim: plays the adapter's driver for the tools on a device socket.
//
//   brisim [--scenario FILE.json] [--dir DIR] [--device NAME] [--log FILE] [--fault RULE]...
//   brisim --pcap CAPTURE [--pcap CAPTURE ...] [--pace recorded|fast|N] [--direction T|N|infer] ...
//
// --pcap plays a capture file (pcap or pcapng with LAPD frames) on a line of its own, one line per
// file, instead of a scenario. --fault spoils chosen replies (sim/SCENARIOS.md). --exit-when-done
// ends brisim once the tool has read the last frame of every capture played.
//
// The device folder defaults to $BRI_DEVICE_DIR, else $XDG_RUNTIME_DIR/bri, else /tmp/bri-UID;
// brisim creates it for its user alone (mode 0700).
//
// Exit status: 0 after SIGTERM/SIGINT (or --exit-when-done), 1 when it cannot listen or open the
// log, 2 for a bad command line or a scenario that cannot be played.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/device_dir.h"
#endif

#include "capture.h"
#include "scenario.h"
#include "server.h"
#include "session.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};

// A scenario file is a few kilobytes: a file far larger (a device, a capture given by mistake) is
// refused before it fills the memory.
constexpr std::size_t kMaxScenarioBytes = std::size_t{16} << 20;

// Reads the whole file; false with the reason in *error.
bool ReadFile(const std::string& path, std::string* out, std::string* error) {
  std::unique_ptr<std::FILE, FileCloser> in(std::fopen(path.c_str(), "rb"));
  if (!in) {
    *error = std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(64 * 1024);
  std::size_t n = 0;
  do {
    n = std::fread(buffer.data(), 1, buffer.size(), in.get());
    out->append(buffer.data(), n);
    if (out->size() > kMaxScenarioBytes) {
      *error = "larger than 16 MiB, not a scenario";
      return false;
    }
  } while (n == buffer.size());
  if (std::ferror(in.get())) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

// Reads the scenario file, or the built-in scenario when no file is named; false (with a message)
// when it cannot be played.
bool ReadScenario(const std::string& scenario_path, brisim::Scenario* scenario) {
  std::string text;
  std::string error;
  if (scenario_path.empty()) {
    text = std::string(brisim::DefaultScenarioJson());
  } else if (!ReadFile(scenario_path, &text, &error)) {
    std::fprintf(stderr, "brisim: cannot read scenario %s: %s\n", scenario_path.c_str(), error.c_str());
    return false;
  }
  try {
    *scenario = brisim::ParseScenario(text);
  } catch (const brisim::ScenarioError& e) {
    std::fprintf(stderr, "brisim: scenario %s: %s\n", scenario_path.empty() ? "(built-in)" : scenario_path.c_str(),
                 e.what());
    return false;
  }
  return true;
}

// The folder a scenario file's relative capture paths count from.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// One line per capture file, each playing its file.
brisim::Scenario CaptureScenario(const std::vector<std::string>& files, const brisim::CaptureSpec& how) {
  brisim::Scenario scenario;
  for (std::size_t i = 0; i < files.size(); ++i) {
    brisim::LineSpec line;
    line.name = "Tessix1 LINE" + std::to_string(i + 1);
    line.handle = static_cast<std::uint32_t>(0x1000 + i + 1);
    line.trace.capture = how;
    line.trace.capture->file = files[i];
    line.trace.capture->key = "--pcap " + files[i];
    scenario.lines.push_back(std::move(line));
  }
  return scenario;
}

// The program's name as it was called, without its folder.
std::string ProgramName(const char* argv0) {
  std::string name = argv0 != nullptr && *argv0 != '\0' ? argv0 : "brisim";
  const auto slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

#ifndef _WIN32
// Creates the device folder when it is missing: its parents as usual, the folder itself for its
// user alone (0700). The default folder must be a folder of the user's own (OwnFolder).
bool PrepareDeviceFolder(std::string dir, bool is_default) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const std::filesystem::path parent = std::filesystem::path(dir).parent_path();
  std::error_code ignored;  // a parent that cannot be made shows in the mkdir below
  if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "brisim: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
    return false;
  }
  if (is_default && !OwnFolder(dir)) {
    std::fprintf(stderr, "brisim: %s\n", ForeignDeviceDirMessage(dir, "--dir or BRI_DEVICE_DIR").c_str());
    return false;
  }
  return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  std::string scenario_path;
  std::string log_path;
#ifdef _WIN32
  brisim::ServerOptions options{"", "TESSIX0"};  // a named pipe: no folder
#else
  brisim::ServerOptions options{DeviceDir(), "TESSIX0"};
#endif
  bool print_default = false;
  std::vector<std::string> fault_flags;
  std::vector<std::string> captures;
  std::string pace = "recorded";
  std::string direction = "infer";
  bool exit_when_done = false;

  CLI::App app{"brisim: simulates the ISDN BRI adapter's driver on a device socket (a named pipe on Windows)",
               ProgramName(argc > 0 ? argv[0] : nullptr)};
  app.set_version_flag("--version", "brisim (bri-tools) " BRI_VERSION);
  app.add_option("--scenario", scenario_path, "scenario file (JSON); default: the built-in scenario");
  app.add_option("--dir", options.dir,
                 "folder of the device sockets, created for its user alone when missing "
                 "(default: $BRI_DEVICE_DIR, else $XDG_RUNTIME_DIR/bri, else /tmp/bri-UID)");
  app.add_option("--device", options.device, "device name (default: TESSIX0)");
  app.add_option("--log", log_path, "append one JSON line per request to this file");
  app.add_flag("--print-default-scenario", print_default, "print the built-in scenario and exit");
  app.add_option("--fault", fault_flags,
                 "misbehave on the transport: KIND[:key=value,...], e.g. hang:opcode=OP_TRACE_READ,after=3,ms=5000 "
                 "(see sim/SCENARIOS.md); may be repeated");
  auto* scenario_option = app.get_option("--scenario");
  auto* pcap_option =
      app.add_option("--pcap", captures,
                     "play this capture file (pcap/pcapng, LAPD) on a line of its own; repeatable")
          ->excludes(scenario_option);
  app.add_option("--pace", pace,
                 "with --pcap: recorded (default), fast (as fast as read) or a speed-up factor N")
      ->needs(pcap_option);
  app.add_option("--direction", direction,
                 "with --pcap, for captures without direction (link type 203): T, N or infer (default)")
      ->needs(pcap_option);
  app.add_flag("--exit-when-done", exit_when_done,
               "end once the tool has read the last frame of every capture played "
               "(--pcap, or captures of the scenario)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }

  if (print_default) {
    const std::string_view text = brisim::DefaultScenarioJson();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }

  brisim::Scenario scenario;
  std::string base_dir;
  if (!captures.empty()) {
    brisim::CaptureSpec how;
    if (!brisim::ParsePace(pace, &how)) {
      std::fprintf(stderr, "brisim: --pace: expected recorded, fast or a speed-up factor above 0, not %s\n", pace.c_str());
      return 2;
    }
    if (direction != "infer") {
      std::uint32_t d = 0;
      if (!brisim::ParseDirection(direction, &d)) {
        std::fprintf(stderr, "brisim: --direction: expected T, N or infer, not %s\n", direction.c_str());
        return 2;
      }
      how.direction = d;
    }
    scenario = CaptureScenario(captures, how);
  } else if (!ReadScenario(scenario_path, &scenario)) {
    return 2;
  } else {
    base_dir = FolderOf(scenario_path);
  }
  // The lines that play a capture, for --exit-when-done and the message at each capture's end.
  std::vector<std::size_t> capture_lines;
  for (std::size_t i = 0; i < scenario.lines.size(); ++i) {
    if (scenario.lines[i].trace.capture) capture_lines.push_back(i);
  }
  if (exit_when_done && capture_lines.empty()) {
    std::fprintf(stderr, "brisim: --exit-when-done: nothing to be done, no capture is played (--pcap)\n");
    return 2;
  }
  try {
    for (const std::string& line : brisim::LoadCaptures(scenario, base_dir)) {
      std::fprintf(stderr, "brisim: %s\n", line.c_str());
    }
  } catch (const brisim::ScenarioError& e) {
    std::fprintf(stderr, "brisim: %s\n", e.what());
    return 2;
  }
  try {
    for (const std::string& flag : fault_flags) scenario.faults.push_back(brisim::ParseFaultFlag(flag));
  } catch (const brisim::ScenarioError& e) {
    std::fprintf(stderr, "brisim: %s\n", e.what());
    return 2;
  }

  std::unique_ptr<std::FILE, FileCloser> log;
  if (!log_path.empty()) {
    log.reset(std::fopen(log_path.c_str(), "a"));
    if (!log) {
      std::fprintf(stderr, "brisim: cannot open log %s\n", log_path.c_str());
      return 1;
    }
  }

#ifndef _WIN32
  if (!PrepareDeviceFolder(options.dir, options.dir == DefaultDeviceDir())) return 1;
#endif

  brisim::Simulator sim(std::move(scenario), log.get());
  std::function<void()> done;
  if (exit_when_done) {
    done = [] {
      std::fprintf(stderr, "brisim: every capture has been read; ending (--exit-when-done)\n");
      std::fflush(stderr);
      brisim::StopServer();
    };
  }
  sim.WatchCaptures(std::move(capture_lines), std::move(done));
  return brisim::RunServer(options, sim);
}
