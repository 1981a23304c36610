#include "check_bri/area_fetch.h"

#include <algorithm>

namespace check_bri {
namespace {

bool LayerAreaFailed(const LineFetch& line) {
  for (std::size_t i = 0; i < kLayerAreaCount; ++i) {
    const FetchOutcome outcome = line.areas[i].outcome;
    if (outcome != FetchOutcome::kOk && outcome != FetchOutcome::kNotAsked) return true;
  }
  return false;
}

struct Round {
  const AreaDriver& driver;
  CommandBlock* block;
  std::vector<LineFetch>& lines;
  std::size_t slot;
  FetchProgress* progress;
};

// The area requests of one round; the lines that took it are pending.
std::vector<std::size_t> RequestAll(const Round& round) {
  std::vector<std::size_t> pending;
  for (std::size_t i = 0; i < round.lines.size(); ++i) {
    LineFetch& line = round.lines[i];
    if (LayerAreaFailed(line)) continue;
    round.progress->line = static_cast<int>(i);
    if (SendAreaRequest(round.driver, round.block, line.handle, kCheckAreas[round.slot])) {
      pending.push_back(i);
    } else {
      line.areas[round.slot].outcome = FetchOutcome::kRefused;
    }
  }
  return pending;
}

// One poll of each pending line; those that are done leave the list.
void PollAll(const Round& round, std::vector<std::size_t>* pending) {
  std::vector<std::size_t> still;
  for (const std::size_t i : *pending) {
    LineFetch& line = round.lines[i];
    AreaFetch& area = line.areas[round.slot];
    round.progress->line = static_cast<int>(i);
    switch (SendAreaPoll(round.driver, round.block, line.handle)) {
      case AreaPoll::kFailed:
        area.outcome = FetchOutcome::kPollFailed;
        break;
      case AreaPoll::kNotReady:
        still.push_back(i);
        break;
      case AreaPoll::kReady:
        area.outcome = ReadAreaReply(round.driver, round.block, line.handle, &area.record)
                           ? FetchOutcome::kOk
                           : FetchOutcome::kPollFailed;
        break;
    }
  }
  *pending = std::move(still);
}

void GiveUpAll(const Round& round, const std::vector<std::size_t>& pending, FetchOutcome outcome) {
  for (const std::size_t i : pending) {
    round.progress->line = static_cast<int>(i);
    SendAreaGiveUp(round.driver, round.block, round.lines[i].handle);
    round.lines[i].areas[round.slot].outcome = outcome;
  }
}

}  // namespace

const char* FetchOutcomeText(FetchOutcome outcome) {
  switch (outcome) {
    case FetchOutcome::kNotAsked:
      return "not asked";
    case FetchOutcome::kOk:
      return "read";
    case FetchOutcome::kRefused:
      return "refused";
    case FetchOutcome::kPollFailed:
      return "poll refused";
    case FetchOutcome::kNotReady:
      return "not ready";
  }
  return "";
}

bool FetchAreas(const AreaDriver& driver, CommandBlock* block, std::vector<LineFetch>* lines,
                std::uint32_t start_ms, std::uint32_t deadline_ms, FetchProgress* progress) {
  const auto elapsed = [&] { return driver.tick_count() - start_ms; };
  for (std::size_t slot = 0; slot < kCheckAreas.size(); ++slot) {
    if (elapsed() >= deadline_ms) return false;
    progress->area = kCheckAreas[slot];
    const Round round{driver, block, *lines, slot, progress};
    std::vector<std::size_t> pending = RequestAll(round);
    // As linestat does per area: the clock starts once the requests are taken, a ready reply is
    // taken whenever it comes, and the limit is looked at after a not-ready one.
    const std::uint32_t round_start = driver.tick_count();
    for (;;) {
      PollAll(round, &pending);
      if (pending.empty()) break;
      if (driver.tick_count() - round_start > kAreaTimeLimitMs) {
        GiveUpAll(round, pending, FetchOutcome::kNotReady);
        break;
      }
      if (elapsed() >= deadline_ms) {
        GiveUpAll(round, pending, FetchOutcome::kNotAsked);
        return false;
      }
      driver.sleep(std::min<std::uint32_t>(kAreaPollPauseMs, deadline_ms - elapsed()));
    }
  }
  progress->area = -1;
  return true;
}

}  // namespace check_bri
