#include "fault_rules.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include <nlohmann/json.hpp>

#include "common/command_block.h"
#include "device.h"
#include "scenario.h"

namespace brisim {
namespace {

using nlohmann::json;

constexpr std::array<std::pair<FaultKind, std::string_view>, 7> kKinds = {{
    {FaultKind::kGarbage, "garbage"},
    {FaultKind::kNoise, "noise"},
    {FaultKind::kOversize, "oversize"},
    {FaultKind::kHang, "hang"},
    {FaultKind::kClose, "close"},
    {FaultKind::kCut, "cut"},
    {FaultKind::kRestart, "restart"},
}};

constexpr std::array<std::uint32_t, 11> kOpcodes = {
    OP_ENUM_IDD,     OP_TRACE_CREATE, OP_TRACE_START,   OP_TRACE_STATUS, OP_TRACE_READ,  OP_LOG_FILE,
    OP_TRACE_STOP,   OP_TRACE_DESTROY, OP_AREA_REQUEST, OP_AREA_POLL,    OP_AREA_GIVE_UP,
};

[[noreturn]] void Fail(const std::string& path, const std::string& what) { throw ScenarioError(path + ": " + what); }

std::string Key(const std::string& path, std::string_view key) { return path + "." + std::string(key); }

// An integer as a JSON number or a string in C notation ("0x307").
std::uint64_t Number(const json& v, const std::string& path, std::uint64_t hi) {
  std::uint64_t n = 0;
  if (v.is_number_unsigned()) {
    n = v.get<std::uint64_t>();
  } else if (v.is_string()) {
    const std::string s = v.get<std::string>();
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(s.c_str(), &end, 0);
    if (s.empty() || errno != 0 || *end != '\0') Fail(path, "expected a number, not \"" + s + "\"");
    if (s[0] == '-') Fail(path, "must not be negative");
    n = parsed;
  } else if (v.is_number_integer()) {
    Fail(path, "must not be negative");  // a JSON integer that is not unsigned
  } else {
    Fail(path, "expected a number");
  }
  if (n > hi) Fail(path, "number out of range (0.." + std::to_string(hi) + ")");
  return n;
}

std::uint32_t Opcode(const json& v, const std::string& path) {
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    for (std::uint32_t op : kOpcodes) {
      if (OpcodeName(op) == s) return op;
    }
  }
  return static_cast<std::uint32_t>(Number(v, path, 0xFFFFFFFF));
}

FaultRule ParseRule(const json& j, const std::string& path) {
  if (!j.is_object()) Fail(path, "expected an object");
  for (const auto& [key, value] : j.items()) {
    static constexpr std::array<std::string_view, 7> kKeys = {"kind", "opcode", "conn", "after", "count", "ms", "bytes"};
    bool known = !key.empty() && key[0] == '_';
    for (std::string_view k : kKeys) known = known || k == key;
    if (!known) Fail(Key(path, key), "unknown key");
  }
  FaultRule rule;
  const auto kind = j.find("kind");
  if (kind == j.end() || !kind->is_string()) Fail(Key(path, "kind"), "expected one of garbage, noise, oversize, hang, close, cut, restart");
  bool found = false;
  for (const auto& [k, name] : kKinds) {
    if (name == kind->get<std::string>()) {
      rule.kind = k;
      found = true;
    }
  }
  if (!found) Fail(Key(path, "kind"), "unknown kind \"" + kind->get<std::string>() + "\"");
  if (auto v = j.find("opcode"); v != j.end()) rule.opcode = Opcode(*v, Key(path, "opcode"));
  if (auto v = j.find("conn"); v != j.end()) rule.conn = Number(*v, Key(path, "conn"), std::numeric_limits<std::uint64_t>::max());
  if (auto v = j.find("after"); v != j.end()) rule.after = Number(*v, Key(path, "after"), std::uint64_t{1} << 62);
  if (auto v = j.find("count"); v != j.end()) {
    if (v->is_string() && v->get<std::string>() == "forever") {
      rule.forever = true;
    } else {
      rule.count = Number(*v, Key(path, "count"), std::uint64_t{1} << 62);
    }
  }
  if (auto v = j.find("ms"); v != j.end()) rule.ms = static_cast<std::int64_t>(Number(*v, Key(path, "ms"), 3600000));
  if (auto v = j.find("bytes"); v != j.end()) {
    rule.bytes = static_cast<std::uint32_t>(Number(*v, Key(path, "bytes"), kCommandBlockSize));
  }
  return rule;
}

}  // namespace

std::string_view FaultKindName(FaultKind kind) {
  for (const auto& [k, name] : kKinds) {
    if (k == kind) return name;
  }
  return "unknown";
}

std::vector<FaultRule> ParseFaults(const json& list, const std::string& path) {
  if (!list.is_array()) Fail(path, "expected a list of faults");
  std::vector<FaultRule> rules;
  for (std::size_t i = 0; i < list.size(); ++i) rules.push_back(ParseRule(list[i], path + "[" + std::to_string(i) + "]"));
  return rules;
}

FaultRule ParseFaultFlag(std::string_view flag) {
  const std::string path = "--fault " + std::string(flag);
  json j = json::object();
  const std::size_t colon = flag.find(':');
  j["kind"] = std::string(flag.substr(0, colon));
  std::string_view rest = colon == std::string_view::npos ? std::string_view() : flag.substr(colon + 1);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos || eq == 0) Fail(path, "expected key=value, not \"" + std::string(item) + "\"");
    j[std::string(item.substr(0, eq))] = std::string(item.substr(eq + 1));
  }
  return ParseRule(j, path);
}

}  // namespace brisim
