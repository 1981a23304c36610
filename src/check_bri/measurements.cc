#include "check_bri/measurements.h"

#include <algorithm>
#include <iterator>

namespace check_bri {
namespace {

struct AreaNaming {
  std::int32_t area;
  const char* prefix;
  const char* channel;
};
constexpr AreaNaming kAreaNaming[] = {
    {1, "l1_", ""}, {2, "l2_", ""}, {3, "l3_", ""}, {10, "", "D"},
    {11, "", "B1"}, {12, "", "B2"}, {21, "", "B1"}, {22, "", "B2"},
};

struct CounterRange {
  int first, last;
};
constexpr CounterRange kCounters[] = {
    {102, 106},    // frames, collisions and errors of layer 1
    {420, 424},    // interface input statistics
    {440, 444},    // interface output statistics
    {502, 511},    // compression byte counts and table use
    {1011, 1018},  // call times, attempts and overflows
    {1203, 1204},  // received and transmitted frames
};

static_assert(std::size(kAreaNaming) == kCheckAreas.size());

}  // namespace

std::string SnakeCase(std::string_view text) {
  std::vector<std::string> words(1);
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const bool alnum = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
    if (alnum) {
      words.back() += static_cast<char>(u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u);
    } else if (c != '\'' && !words.back().empty()) {
      words.emplace_back();  // an apostrophe joins ("ECB's"), every other run separates
    }
  }
  if (words.back().empty()) words.pop_back();
  // A word that reads as an abbreviated unit (Prometheus wants base units spelt out) joins its
  // neighbour: "Lap_V(S)" is lap_vs, "B Channel" bchannel.
  static constexpr std::string_view kUnitWords[] = {"s",  "ms", "us", "ns", "sec", "b", "kb",
                                                    "mb", "gb", "tb", "pb", "m",   "h", "d"};
  const auto is_unit = [&](const std::string& w) {
    return std::find(std::begin(kUnitWords), std::end(kUnitWords), w) != std::end(kUnitWords);
  };
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (out.empty()) {
      out = words[i];
      if (is_unit(words[i]) && i + 1 < words.size()) out += words[++i];
      continue;
    }
    if (!is_unit(words[i])) out += '_';
    out += words[i];
  }
  return out;
}

bool IsCounterParameter(int number) {
  for (const CounterRange& r : kCounters) {
    if (number >= r.first && number <= r.last) return true;
  }
  return false;
}

std::vector<Measurement> LineMeasurements(const LineCheck& line) {
  std::vector<Measurement> out;
  for (std::size_t slot = 0; slot < kCheckAreas.size(); ++slot) {
    const AreaNaming& naming = kAreaNaming[slot];
    for (const AreaParam& param : line.params[slot]) {
      if (!param.numeric) continue;
      // A number without a name in the textdb is named by its number, as the dump shows it.
      std::string base = param.named ? SnakeCase(param.name) : "p" + std::to_string(param.number);
      if (base.empty() || (base[0] >= '0' && base[0] <= '9')) base = "p" + std::to_string(param.number);
      Measurement m;
      m.name = naming.prefix + base;
      m.channel = naming.channel;
      m.area = naming.area;
      m.counter = IsCounterParameter(param.number);
      m.value = param.value;
      m.help = param.name;
      // A parameter listed twice is measured once, by its first value.
      bool seen = false;
      for (const Measurement& other : out)
        seen = seen || (other.name == m.name && other.channel == m.channel);
      if (!seen) out.push_back(std::move(m));
    }
  }
  return out;
}

}  // namespace check_bri
