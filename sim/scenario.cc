#include "scenario.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>
#include <vector>

#include <nlohmann/json.hpp>

#include "areas/area_record.h"
#include "decode/trace_entry.h"

namespace brisim {
namespace {

using nlohmann::json;

constexpr std::size_t kNameFieldSize = 64;
constexpr std::int64_t kMaxAtMs = std::int64_t{1} << 40;  // about 35 years: keeps sums in range

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  throw ScenarioError(path + ": " + what);
}

std::string Key(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string Index(const std::string& path, std::size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

// Rejects keys that this level does not know, so that a misspelt key is not silently ignored.
// Keys starting with "_" are comments.
void CheckKeys(const json& j, const std::string& path, std::initializer_list<std::string_view> known) {
  if (!j.is_object()) Fail(path.empty() ? "scenario" : path, "expected an object");
  for (const auto& [key, value] : j.items()) {
    if (!key.empty() && key[0] == '_') continue;
    bool found = false;
    for (std::string_view k : known) found = found || k == key;
    if (!found) Fail(Key(path, key), "unknown key");
  }
}

// The value of key, or null when absent.
const json& Member(const json& j, std::string_view key) {
  static const json kNull;
  auto it = j.find(key);
  return it == j.end() ? kNull : *it;
}

// A signed integer given as a JSON integer or as a string in C notation ("0x1001", "-5").
std::int64_t Int(const json& v, const std::string& path, std::int64_t lo, std::int64_t hi) {
  std::int64_t n = 0;
  if (v.is_number_integer() && v.is_number_unsigned()) {
    auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) Fail(path, "number out of range");
    n = static_cast<std::int64_t>(u);
  } else if (v.is_number_integer()) {
    n = v.get<std::int64_t>();
  } else if (v.is_string()) {
    const std::string s = v.get<std::string>();
    if (s.empty()) Fail(path, "expected a number");
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(s.c_str(), &end, 0);
    if (errno != 0 || end == s.c_str() || *end != '\0') Fail(path, "expected a number, not \"" + s + "\"");
    n = parsed;
  } else {
    Fail(path, "expected an integer");
  }
  if (n < lo || n > hi) {
    Fail(path, "number out of range (" + std::to_string(lo) + ".." + std::to_string(hi) + ")");
  }
  return n;
}

std::uint64_t U64(const json& v, const std::string& path) {
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    char* end = nullptr;
    errno = 0;
    unsigned long long parsed = std::strtoull(s.c_str(), &end, 0);
    if (s.empty() || s[0] == '-' || errno != 0 || *end != '\0') Fail(path, "expected an unsigned number");
    return parsed;
  }
  Fail(path, "expected an unsigned number");
}

bool Bool(const json& v, const std::string& path) {
  if (!v.is_boolean()) Fail(path, "expected true or false");
  return v.get<bool>();
}

// "ok" | "refuse"; returns true for "refuse".
bool Refuse(const json& v, const std::string& path) {
  if (v.is_null()) return false;
  if (v.is_string()) {
    if (v.get<std::string>() == "ok") return false;
    if (v.get<std::string>() == "refuse") return true;
  }
  Fail(path, "expected \"ok\" or \"refuse\"");
}

Bytes Hex(const json& v, const std::string& path) {
  if (!v.is_string()) Fail(path, "expected a hex string");
  Bytes out;
  if (!ParseHex(v.get<std::string>(), &out)) Fail(path, "not a hex string");
  return out;
}

// Rejects a key given twice in one object (the JSON reader would keep the last silently), as
// CheckKeys rejects an unknown one. Follows the reader's events to name the place of each object.
class DuplicateKeyCheck {
 public:
  bool operator()(int /*depth*/, json::parse_event_t event, const json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        Open(event == json::parse_event_t::object_start);
        break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        open_.pop_back();
        break;
      case json::parse_event_t::key:
        TakeKey(parsed.get<std::string>());
        break;
      case json::parse_event_t::value:
        NextPath();
        break;
    }
    return true;
  }

 private:
  struct Container {
    bool object = false;
    std::string path;
    std::set<std::string> keys;
    std::string key;        // the member being read (objects)
    std::size_t index = 0;  // the next element (lists)
  };

  void Open(bool object) {
    Container c;
    c.object = object;
    c.path = NextPath();
    open_.push_back(std::move(c));
  }

  // The place of the value that starts now.
  std::string NextPath() {
    if (open_.empty()) return "";
    Container& c = open_.back();
    return c.object ? Key(c.path, c.key) : Index(c.path, c.index++);
  }

  void TakeKey(const std::string& key) {
    Container& c = open_.back();
    c.key = key;
    if (!key.empty() && key[0] == '_') return;  // comments may repeat
    if (!c.keys.insert(key).second) Fail(Key(c.path, key), "given twice");
  }

  std::vector<Container> open_;
};

FrameSpec ParseFrame(const json& j, const std::string& path) {
  CheckKeys(j, path, {"at_ms", "dir", "hex", "length", "filetime", "entry_hex"});
  FrameSpec f;
  if (const json& v = Member(j, "at_ms"); !v.is_null()) f.at_ms = Int(v, Key(path, "at_ms"), 0, kMaxAtMs);
  if (const json& v = Member(j, "dir"); !v.is_null()) {
    if (v.is_string() && (v.get<std::string>() == "T" || v.get<std::string>() == "N")) {
      f.direction = v.get<std::string>() == "N" ? 1u : 0u;
    } else {
      f.direction = static_cast<std::uint32_t>(Int(v, Key(path, "dir"), 0, 0xFFFFFFFF));
    }
  }
  if (const json& v = Member(j, "hex"); !v.is_null()) f.octets = Hex(v, Key(path, "hex"));
  if (f.octets.size() > kFrameDataSize) {
    Fail(Key(path, "hex"), "more than " + std::to_string(kFrameDataSize) + " octets (use \"length\" for a longer FrameLength)");
  }
  if (const json& v = Member(j, "length"); !v.is_null()) {
    f.length = static_cast<std::int32_t>(Int(v, Key(path, "length"), std::numeric_limits<std::int32_t>::min(),
                                             std::numeric_limits<std::int32_t>::max()));
  }
  if (const json& v = Member(j, "filetime"); !v.is_null()) f.filetime = U64(v, Key(path, "filetime"));
  if (const json& v = Member(j, "entry_hex"); !v.is_null()) {
    Bytes entry = Hex(v, Key(path, "entry_hex"));
    if (entry.size() > kTraceEntrySize) Fail(Key(path, "entry_hex"), "more than 288 bytes");
    entry.resize(kTraceEntrySize, 0);
    f.entry = std::move(entry);
  }
  return f;
}

CaptureSpec ParseCapture(const json& j, const std::string& path) {
  if (j.is_string()) {
    CaptureSpec c;
    c.file = j.get<std::string>();
    c.key = path;
    return c;
  }
  CheckKeys(j, path, {"file", "pace", "dir", "start_ms"});
  CaptureSpec c;
  c.key = path;
  const json& file = Member(j, "file");
  if (!file.is_string() || file.get<std::string>().empty()) Fail(Key(path, "file"), "expected the capture file's name");
  c.file = file.get<std::string>();
  if (const json& v = Member(j, "pace"); !v.is_null()) {
    const std::string text = v.is_number() ? v.dump() : v.is_string() ? v.get<std::string>() : std::string();
    if (!ParsePace(text, &c)) Fail(Key(path, "pace"), "expected \"recorded\", \"fast\" or a speed-up factor above 0");
  }
  if (const json& v = Member(j, "dir"); !v.is_null()) {
    if (!(v.is_string() && v.get<std::string>() == "infer")) {
      std::uint32_t d = 0;
      if (v.is_string() && ParseDirection(v.get<std::string>(), &d)) {
        c.direction = d;
      } else {
        c.direction = static_cast<std::uint32_t>(Int(v, Key(path, "dir"), 0, 0xFFFFFFFF));
      }
    }
  }
  if (const json& v = Member(j, "start_ms"); !v.is_null()) c.start_ms = Int(v, Key(path, "start_ms"), 0, kMaxAtMs);
  return c;
}

TraceSpec ParseTrace(const json& j, const std::string& path) {
  CheckKeys(j, path, {"create", "capacity", "first_number", "refuse_status_polls", "frames", "repeat", "capture"});
  TraceSpec t;
  t.refuse_create = Refuse(Member(j, "create"), Key(path, "create"));
  if (const json& v = Member(j, "capacity"); !v.is_null()) {
    t.capacity = static_cast<std::uint64_t>(Int(v, Key(path, "capacity"), 0, std::numeric_limits<std::int64_t>::max()));
  }
  if (const json& v = Member(j, "first_number"); !v.is_null()) {
    t.first_number = static_cast<std::uint32_t>(Int(v, Key(path, "first_number"), 0, 0xFFFFFFFF));
  }
  if (const json& v = Member(j, "refuse_status_polls"); !v.is_null()) {
    const std::string p = Key(path, "refuse_status_polls");
    if (!v.is_array()) Fail(p, "expected a list of poll numbers");
    for (std::size_t i = 0; i < v.size(); ++i) {
      t.refuse_status_polls.insert(static_cast<std::uint64_t>(Int(v[i], Index(p, i), 1, std::numeric_limits<std::int64_t>::max())));
    }
  }
  if (const json& v = Member(j, "frames"); !v.is_null()) {
    const std::string p = Key(path, "frames");
    if (!v.is_array()) Fail(p, "expected a list of frames");
    for (std::size_t i = 0; i < v.size(); ++i) t.frames.push_back(ParseFrame(v[i], Index(p, i)));
  }
  if (const json& v = Member(j, "capture"); !v.is_null()) t.capture = ParseCapture(v, Key(path, "capture"));
  if (const json& v = Member(j, "repeat"); !v.is_null()) {
    const std::string p = Key(path, "repeat");
    CheckKeys(v, p, {"count", "every_ms", "from"});
    const json& count = Member(v, "count");
    if (count.is_string() && count.get<std::string>() == "forever") {
      t.repeat_forever = true;
    } else if (!count.is_null()) {
      t.repeat_count = static_cast<std::uint64_t>(Int(count, Key(p, "count"), 0, std::int64_t{1} << 32));
    }
    if (const json& e = Member(v, "every_ms"); !e.is_null()) t.repeat_every_ms = Int(e, Key(p, "every_ms"), 0, kMaxAtMs);
    if (const json& f = Member(v, "from"); !f.is_null()) {
      t.repeat_from = static_cast<std::size_t>(Int(f, Key(p, "from"), 0, std::numeric_limits<std::int32_t>::max()));
    }
    if (t.repeat_forever && t.repeat_every_ms <= 0) Fail(Key(p, "every_ms"), "must be above 0 when count is \"forever\"");
  }
  // A capture's frames are known only once the file is read; its repeat is checked then.
  if (!t.capture) CheckRepeat(t, path);
  return t;
}

Param ParseParam(const json& j, const std::string& path) {
  CheckKeys(j, path, {"id", "type", "value", "raw"});
  Param p;
  if (!j.contains("id")) Fail(Key(path, "id"), "missing");
  p.number = static_cast<std::uint16_t>(Int(j["id"], Key(path, "id"), 0, 0xFFF));
  if (const json& v = Member(j, "type"); !v.is_null()) p.type = static_cast<std::uint8_t>(Int(v, Key(path, "type"), 0, 0xF));
  const json& raw = Member(j, "raw");
  const json& value = Member(j, "value");
  if (!raw.is_null()) {
    if (!value.is_null()) Fail(Key(path, "raw"), "give either \"value\" or \"raw\"");
    p.value = Hex(raw, Key(path, "raw"));
  } else if (p.type == 0x8) {
    if (!value.is_string()) Fail(Key(path, "value"), "expected a string for type 8");
    const std::string s = value.get<std::string>();
    if (s.find('\0') != std::string::npos) Fail(Key(path, "value"), "a string value cannot hold a NUL");
    p.value = s;
  } else if (p.type == 0x4) {
    p.value = Int(value.is_null() ? json(0) : value, Key(path, "value"), std::numeric_limits<std::int32_t>::min(), 0xFFFFFFFF);
  } else {
    p.value = Int(value.is_null() ? json(0) : value, Key(path, "value"), std::numeric_limits<std::int16_t>::min(), 0xFFFF);
  }
  return p;
}

AreaSpec ParseArea(const json& j, const std::string& path) {
  CheckKeys(j, path, {"params", "params_hex", "params_len", "area_state", "ready_after_polls", "ready_after_ms",
                      "request", "poll", "final"});
  AreaSpec a;
  const json& list = Member(j, "params");
  const json& hex = Member(j, "params_hex");
  if (!list.is_null() && !hex.is_null()) Fail(Key(path, "params_hex"), "give either \"params\" or \"params_hex\"");
  if (!hex.is_null()) {
    a.params = Hex(hex, Key(path, "params_hex"));
  } else if (!list.is_null()) {
    const std::string p = Key(path, "params");
    if (!list.is_array()) Fail(p, "expected a list of parameters");
    std::vector<Param> params;
    for (std::size_t i = 0; i < list.size(); ++i) params.push_back(ParseParam(list[i], Index(p, i)));
    a.params = PackParams(params);
  }
  if (a.params.size() > kParamsSize) {
    Fail(Key(path, hex.is_null() ? "params" : "params_hex"),
         "packs to " + std::to_string(a.params.size()) + " bytes, more than the record's 512");
  }
  if (const json& v = Member(j, "params_len"); !v.is_null()) {
    a.params_len = static_cast<std::int32_t>(Int(v, Key(path, "params_len"), std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
  }
  if (const json& v = Member(j, "area_state"); !v.is_null()) {
    a.area_state = static_cast<std::uint32_t>(Int(v, Key(path, "area_state"), 0, 0xFFFFFFFF));
  }
  if (const json& v = Member(j, "ready_after_polls"); !v.is_null()) {
    if (v.is_string() && v.get<std::string>() == "never") {
      a.never_ready = true;
    } else {
      a.ready_after_polls = static_cast<std::uint64_t>(Int(v, Key(path, "ready_after_polls"), 0, std::numeric_limits<std::int64_t>::max()));
    }
  }
  if (const json& v = Member(j, "ready_after_ms"); !v.is_null()) a.ready_after_ms = Int(v, Key(path, "ready_after_ms"), 0, kMaxAtMs);
  a.refuse_request = Refuse(Member(j, "request"), Key(path, "request"));
  a.refuse_poll = Refuse(Member(j, "poll"), Key(path, "poll"));
  a.refuse_final = Refuse(Member(j, "final"), Key(path, "final"));
  return a;
}

LineSpec ParseLine(const json& j, const std::string& path, std::size_t index) {
  CheckKeys(j, path, {"name", "handle", "trace", "areas"});
  LineSpec line;
  line.handle = static_cast<std::uint32_t>(0x1000 + index + 1);
  if (const json& v = Member(j, "name"); !v.is_null()) {
    if (!v.is_string()) Fail(Key(path, "name"), "expected a string");
    line.name = v.get<std::string>();
    // The name field holds 63 characters and the NUL.
    if (line.name.size() > kNameFieldSize - 1) line.name.resize(kNameFieldSize - 1);
  } else {
    line.name = "Tessix1 LINE" + std::to_string(index + 1);
  }
  if (const json& v = Member(j, "handle"); !v.is_null()) line.handle = static_cast<std::uint32_t>(Int(v, Key(path, "handle"), 0, 0xFFFFFFFF));
  if (const json& v = Member(j, "trace"); !v.is_null()) line.trace = ParseTrace(v, Key(path, "trace"));
  if (const json& v = Member(j, "areas"); !v.is_null()) {
    const std::string p = Key(path, "areas");
    if (!v.is_object()) Fail(p, "expected an object keyed by area number");
    for (const auto& [key, area] : v.items()) {
      if (!key.empty() && key[0] == '_') continue;
      const std::string ap = Key(p, key);
      auto number = static_cast<std::uint32_t>(Int(json(key), ap, 0, 0xFFFFFFFF));
      if (line.areas.count(number) != 0) Fail(ap, "area given twice");
      line.areas[number] = ParseArea(area, ap);
    }
  }
  return line;
}

}  // namespace

void CheckRepeat(const TraceSpec& t, const std::string& path) {
  const std::string p = Key(Key(path, "repeat"), "from");
  if (t.repeat_from > t.frames.size()) Fail(p, "number out of range (0.." + std::to_string(t.frames.size()) + ")");
  if (t.repeat_forever && t.repeat_from >= t.frames.size()) Fail(p, "nothing left to repeat for ever");
}

bool ParsePace(std::string_view text, CaptureSpec* capture) {
  if (text == "recorded") {
    capture->speed = 1.0;
    capture->as_fast_as_read = false;
    return true;
  }
  if (text == "fast") {
    capture->as_fast_as_read = true;
    return true;
  }
  if (!text.empty() && (text.back() == 'x' || text.back() == 'X')) text.remove_suffix(1);
  const std::string s(text);
  char* end = nullptr;
  errno = 0;
  const double factor = std::strtod(s.c_str(), &end);
  if (s.empty() || errno != 0 || *end != '\0' || !(factor > 0) || !std::isfinite(factor)) return false;
  capture->speed = factor;
  capture->as_fast_as_read = false;
  return true;
}

bool ParseDirection(std::string_view text, std::uint32_t* out) {
  if (text == "T" || text == "t") {
    *out = 0;
    return true;
  }
  if (text == "N" || text == "n") {
    *out = 1;
    return true;
  }
  const std::string s(text);
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (s.empty() || s[0] == '-' || errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

bool ParseHex(std::string_view text, Bytes* out) {
  out->clear();
  int high = -1;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (high >= 0) return false;  // a digit pair split by a space
      continue;
    } else {
      return false;
    }
    if (high < 0) {
      high = digit;
    } else {
      out->push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  return high < 0;
}

Bytes PackParams(const std::vector<Param>& params) {
  Bytes out;
  for (const Param& p : params) {
    const std::uint16_t id = ParamIdentifier(p.type, p.number);
    out.push_back(static_cast<std::uint8_t>(id & 0xFF));
    out.push_back(static_cast<std::uint8_t>(id >> 8));
    if (const auto* raw = std::get_if<Bytes>(&p.value)) {
      out.insert(out.end(), raw->begin(), raw->end());
    } else if (const auto* text = std::get_if<std::string>(&p.value)) {
      out.insert(out.end(), text->begin(), text->end());
      out.push_back(0);
    } else {
      const auto v = static_cast<std::uint64_t>(std::get<std::int64_t>(p.value));
      const std::size_t width = p.type == 0x4 ? 4 : 2;
      for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
  }
  return out;
}

Scenario ParseScenario(std::string_view json_text) {
  json root;
  try {
    DuplicateKeyCheck duplicates;
    root = json::parse(json_text.begin(), json_text.end(),
                       [&duplicates](int depth, json::parse_event_t event, json& parsed) {
                         return duplicates(depth, event, parsed);
                       });
  } catch (const json::parse_error& e) {
    throw ScenarioError(std::string("not valid JSON: ") + e.what());
  }
  CheckKeys(root, "", {"enum", "lines", "faults"});
  Scenario s;
  if (const json& e = Member(root, "enum"); !e.is_null()) {
    CheckKeys(e, "enum", {"refuse", "count", "raw_names"});
    if (const json& v = Member(e, "refuse"); !v.is_null()) s.enumeration.refuse = Bool(v, "enum.refuse");
    if (const json& v = Member(e, "count"); !v.is_null()) s.enumeration.count = static_cast<std::uint16_t>(Int(v, "enum.count", 0, 0xFFFF));
    if (const json& v = Member(e, "raw_names"); !v.is_null()) {
      if (!v.is_array()) Fail("enum.raw_names", "expected a list of hex strings");
      for (std::size_t i = 0; i < v.size(); ++i) {
        Bytes field = Hex(v[i], Index("enum.raw_names", i));
        if (field.size() > kNameFieldSize) Fail(Index("enum.raw_names", i), "more than 64 bytes");
        field.resize(kNameFieldSize, 0);
        s.enumeration.raw_names.push_back(std::move(field));
      }
    }
  }
  if (const json& v = Member(root, "lines"); !v.is_null()) {
    if (!v.is_array()) Fail("lines", "expected a list of lines");
    for (std::size_t i = 0; i < v.size(); ++i) {
      s.lines.push_back(ParseLine(v[i], Index("lines", i), i));
      for (std::size_t k = 0; k < i; ++k) {
        if (s.lines[k].handle == s.lines[i].handle) Fail(Index("lines", i) + ".handle", "same handle as lines[" + std::to_string(k) + "]");
      }
    }
  }
  if (const json& v = Member(root, "faults"); !v.is_null()) s.faults = ParseFaults(v, "faults");
  return s;
}

}  // namespace brisim
