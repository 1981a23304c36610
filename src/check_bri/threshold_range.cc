#include "check_bri/threshold_range.h"

#include <cmath>
#include <cstdlib>

namespace check_bri {
namespace {

// A whole decimal number (sign, digits, a fraction); nothing after it.
std::optional<double> Number(std::string_view text) {
  if (text.empty() || text.size() > 40) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
  // strtod also takes hex, "inf" and "nan"; a range holds plain decimals only.
  for (char c : copy) {
    if ((c < '0' || c > '9') && c != '.' && c != '-' && c != '+') return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<ThresholdRange> ParseRange(std::string_view text) {
  ThresholdRange range;
  range.text = std::string(text);
  if (!text.empty() && text.front() == '@') {
    range.alert_inside = true;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    range.high = Number(text);
    if (!range.high) return std::nullopt;
  } else {
    const std::string_view start = text.substr(0, colon);
    const std::string_view end = text.substr(colon + 1);
    if (start == "~") {
      range.low.reset();
    } else {
      range.low = Number(start);
      if (!range.low) return std::nullopt;
    }
    if (!end.empty()) {
      range.high = Number(end);
      if (!range.high) return std::nullopt;
    }
    if (!range.low && !range.high) return std::nullopt;
  }
  if (range.low && range.high && *range.low > *range.high) return std::nullopt;
  return range;
}

bool RangeAlerts(const ThresholdRange& range, double value) {
  const bool inside = (!range.low || value >= *range.low) && (!range.high || value <= *range.high);
  return range.alert_inside ? inside : !inside;
}

}  // namespace check_bri
