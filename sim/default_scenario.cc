#include "scenario.h"

namespace brisim {
namespace {

// The bytes of sim/scenarios/default.json.
constexpr unsigned char kDefaultScenario[] = {
#include "default_scenario.inc"
};

}  // namespace

std::string_view DefaultScenarioJson() {
  return std::string_view(reinterpret_cast<const char*>(kDefaultScenario), sizeof(kDefaultScenario));
}

}  // namespace brisim
