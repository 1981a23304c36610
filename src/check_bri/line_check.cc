#include "check_bri/line_check.h"

#include <cctype>

namespace check_bri {
namespace {

bool L1Active(const L1Values& l1) { return l1.tx_go && l1.rx_go; }
bool L1Deactivated(const L1Values& l1) { return l1.tx == 0 && l1.rx == 0; }

// Layer 2 on its way up or down: awaiting a TEI, or awaiting multiframe establishment or release.
bool L2InTransition(std::uint16_t state) { return state == 2 || state == 3 || state == 5 || state == 6; }
constexpr std::uint16_t kL2TeiAssigned = 4;
constexpr std::uint16_t kL2TimerRecovery = 8;
bool ServiceRejected(std::uint16_t service) { return service == 4 || service == 20; }
bool ServiceRestricted(std::uint16_t service) { return service == 1 || service == 17; }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "text (n)", or "state n" for a number without a text.
std::string Described(std::string_view text, unsigned value) {
  if (text.empty()) return "state " + std::to_string(value);
  return Lower(text) + " (" + std::to_string(value) + ")";
}

LineVerdict Verdict(State state, std::string reason, bool up = false, bool idle = false) {
  return LineVerdict{state, up, idle, std::move(reason)};
}

// Why a line that is neither up nor idle is down: the lowest layer that is not.
std::string DownReason(const L1Values& l1, const L2Values& l2, const L3Values& l3) {
  if (!l1.tx_go || !l1.rx_go) {
    return "layer 1 not active (sends " + Described(l1.tx_text, l1.tx) + ", receives " +
           Described(l1.rx_text, l1.rx) + ")";
  }
  if (!l2.go) return "layer 2 " + Described(l2.text, l2.state);
  if (!l3.state_go) return "layer 3 " + Described(l3.state_text, l3.state);
  return "layer 3 service " + Described(l3.service_text, l3.service);
}

}  // namespace

const char* StateName(State state) {
  switch (state) {
    case State::kOk:
      return "OK";
    case State::kWarning:
      return "WARNING";
    case State::kCritical:
      return "CRITICAL";
    case State::kUnknown:
      return "UNKNOWN";
  }
  return "UNKNOWN";
}

State Worse(State a, State b) {
  const auto rank = [](State s) {
    switch (s) {
      case State::kOk:
        return 0;
      case State::kUnknown:
        return 1;
      case State::kWarning:
        return 2;
      case State::kCritical:
        return 3;
    }
    return 1;
  };
  return rank(a) >= rank(b) ? a : b;
}

LineVerdict JudgeLayers(const L1Values& l1, const L2Values& l2, const L3Values& l3, bool require_active) {
  // Faults first: they hold whatever the other layers say.
  if (l1.rx == 3) return Verdict(State::kCritical, "layer 1 lost framing");
  if (ServiceRejected(l3.service))
    return Verdict(State::kCritical, "SPID rejected (" + std::to_string(l3.service) + ")");
  if (L1Active(l1) && L2InTransition(l2.state)) {
    return Verdict(State::kCritical, "layer 2 stuck in " + Described(l2.text, l2.state));
  }

  const bool up = L1Active(l1) && l2.go && l3.state_go && l3.service_go;
  if (up && l2.state == kL2TimerRecovery) return Verdict(State::kWarning, "layer 2 in timer recovery", true);
  if (up) return Verdict(State::kOk, "up", true);
  if (L1Active(l1) && l2.go && l3.state_go && ServiceRestricted(l3.service)) {
    return Verdict(State::kWarning, "restricted service (" + std::to_string(l3.service) + ")");
  }

  // Exchanges that switch layers 1 and 2 off between calls leave a line like this.
  const char* idle = nullptr;
  if (L1Deactivated(l1)) {
    idle = "deactivated (INFO 0 sent and received)";
  } else if (l2.state == kL2TeiAssigned) {
    idle = "TEI assigned, no multiframe";
  }
  if (idle != nullptr) {
    if (require_active) return Verdict(State::kCritical, std::string(idle) + ", active required");
    return Verdict(State::kOk, idle, false, true);
  }
  return Verdict(State::kCritical, DownReason(l1, l2, l3));
}

void ReadLine(const LineFetch& fetch, bool require_active, LineCheck* line) {
  State extra = State::kOk;
  std::string extra_reason;
  for (std::size_t slot = 0; slot < kCheckAreas.size(); ++slot) {
    const AreaFetch& area = fetch.areas[slot];
    line->outcomes[slot] = area.outcome;
    if (area.outcome == FetchOutcome::kOk) {
      line->params[slot] = ReadAreaParams(area.record);
      continue;
    }
    // A line without one of the other areas has no such counters; one that has the area and does
    // not deliver it is not fully read.
    const bool layer = slot < kLayerAreaCount;
    if ((layer || area.outcome != FetchOutcome::kRefused) && extra_reason.empty()) {
      extra = State::kUnknown;
      extra_reason = "area " + std::to_string(kCheckAreas[slot]) + " " + FetchOutcomeText(area.outcome);
    }
  }
  if (fetch.areas[0].outcome == FetchOutcome::kOk) line->l1 = ReadL1Values(fetch.areas[0].record);
  if (fetch.areas[1].outcome == FetchOutcome::kOk) line->l2 = ReadL2Values(fetch.areas[1].record);
  if (fetch.areas[2].outcome == FetchOutcome::kOk) line->l3 = ReadL3Values(fetch.areas[2].record);
  if (line->l1 && line->l2 && line->l3) {
    line->verdict = JudgeLayers(*line->l1, *line->l2, *line->l3, require_active);
    if (extra != State::kOk) {
      line->verdict.state = Worse(line->verdict.state, extra);
      line->verdict.reason += ", " + extra_reason;
    }
  } else {
    line->verdict = Verdict(State::kUnknown, extra_reason);
  }
}

}  // namespace check_bri
