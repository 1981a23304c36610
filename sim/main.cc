// brisim: plays the adapter's driver for the tools on a device socket.
//
//   brisim [--scenario FILE.json] [--dir DIR] [--device NAME] [--log FILE]
//
// Exit status: 0 after SIGTERM/SIGINT, 1 when it cannot listen or open the log, 2 for a bad
// command line or a scenario that cannot be played.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

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

}  // namespace

int main(int argc, char** argv) {
  std::string scenario_path;
  std::string log_path;
  const char* env_dir = std::getenv("BRI_DEVICE_DIR");
  brisim::ServerOptions options{env_dir != nullptr && *env_dir != '\0' ? env_dir : "/tmp/bri", "TESSIX0"};
  bool print_default = false;

  CLI::App app{"brisim: simulates the ISDN BRI adapter's driver on a device socket (a named pipe on Windows)"};
  app.add_option("--scenario", scenario_path, "scenario file (JSON); default: the built-in scenario");
  app.add_option("--dir", options.dir, "folder of the device sockets (default: $BRI_DEVICE_DIR or /tmp/bri)");
  app.add_option("--device", options.device, "device name (default: TESSIX0)");
  app.add_option("--log", log_path, "append one JSON line per request to this file");
  app.add_flag("--print-default-scenario", print_default, "print the built-in scenario and exit");
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

  std::string text;
  if (scenario_path.empty()) {
    text = std::string(brisim::DefaultScenarioJson());
  } else if (!ReadFile(scenario_path, &text)) {
    std::fprintf(stderr, "brisim: cannot read scenario %s\n", scenario_path.c_str());
    return 2;
  }
  brisim::Scenario scenario;
  try {
    scenario = brisim::ParseScenario(text);
  } catch (const brisim::ScenarioError& e) {
    std::fprintf(stderr, "brisim: scenario %s: %s\n", scenario_path.empty() ? "(built-in)" : scenario_path.c_str(),
                 e.what());
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
