// brisim: plays the adapter's driver for the tools on a device socket.
//
//   brisim [--scenario FILE.json] [--dir DIR] [--device NAME] [--log FILE]
//   brisim --pcap CAPTURE [--pcap CAPTURE ...] [--pace recorded|fast|N] [--direction T|N|infer] ...
//
// --pcap plays a capture file (pcap or pcapng with LAPD frames) on a line of its own, one line per
// file, instead of a scenario.
//
// Exit status: 0 after SIGTERM/SIGINT, 1 when it cannot listen or open the log, 2 for a bad
// command line or a scenario that cannot be played.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

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

bool ReadFile(const std::string& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *out = text.str();
  return true;
}

// Reads the scenario file, or the built-in scenario when no file is named; false (with a message)
// when it cannot be played.
bool ReadScenario(const std::string& scenario_path, brisim::Scenario* scenario) {
  std::string text;
  if (scenario_path.empty()) {
    text = std::string(brisim::DefaultScenarioJson());
  } else if (!ReadFile(scenario_path, &text)) {
    std::fprintf(stderr, "brisim: cannot read scenario %s\n", scenario_path.c_str());
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

}  // namespace

int main(int argc, char** argv) {
  std::string scenario_path;
  std::string log_path;
  const char* env_dir = std::getenv("BRI_DEVICE_DIR");
  brisim::ServerOptions options{env_dir != nullptr && *env_dir != '\0' ? env_dir : "/tmp/bri", "TESSIX0"};
  bool print_default = false;
  std::vector<std::string> captures;
  std::string pace = "recorded";
  std::string direction = "infer";

  CLI::App app{"brisim: simulates the ISDN BRI adapter's driver on a device socket (a named pipe on Windows)"};
  app.add_option("--scenario", scenario_path, "scenario file (JSON); default: the built-in scenario");
  app.add_option("--dir", options.dir, "folder of the device sockets (default: $BRI_DEVICE_DIR or /tmp/bri)");
  app.add_option("--device", options.device, "device name (default: TESSIX0)");
  app.add_option("--log", log_path, "append one JSON line per request to this file");
  app.add_flag("--print-default-scenario", print_default, "print the built-in scenario and exit");
  auto* scenario_option = app.get_option("--scenario");
  app.add_option("--pcap", captures, "play this capture file (pcap/pcapng, LAPD) on a line of its own; repeatable")
      ->excludes(scenario_option);
  app.add_option("--pace", pace, "with --pcap: recorded (default), fast (as fast as read) or a speed-up factor N");
  app.add_option("--direction", direction,
                 "with --pcap, for captures without direction (link type 203): T, N or infer (default)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
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
  try {
    for (const std::string& line : brisim::LoadCaptures(scenario, base_dir)) {
      std::fprintf(stderr, "brisim: %s\n", line.c_str());
    }
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

  brisim::Simulator sim(std::move(scenario), log.get());
  return brisim::RunServer(options, sim);
}
