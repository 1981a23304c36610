#include "check_bri/prometheus_text.h"

#include <algorithm>
#include <map>

#include "check_bri/measurements.h"
#include "common/console.h"

namespace check_bri {
namespace {

// The samples of one family, gathered over all lines before the family is written.
struct Family {
  std::string help;
  bool counter = false;
  std::vector<std::string> samples;  // "{labels} value"
};

class Families {
 public:
  void Add(const std::string& name, const std::string& help, bool counter, const std::string& labels,
           const std::string& value) {
    auto [it, fresh] = families_.try_emplace(name);
    if (fresh) {
      order_.push_back(name);
      it->second.help = help;
      it->second.counter = counter;
    }
    it->second.samples.push_back(labels + " " + value);
  }
  std::string Text() const {
    std::string out;
    for (const std::string& name : order_) {
      const Family& f = families_.at(name);
      AppendF(out, "# HELP %s %s\n# TYPE %s %s\n", name.c_str(), HelpText(f.help).c_str(), name.c_str(),
              f.counter ? "counter" : "gauge");
      for (const std::string& sample : f.samples) out += name + sample + "\n";
    }
    return out;
  }

 private:
  // HELP text escapes backslash and newline.
  static std::string HelpText(std::string_view text) {
    std::string out;
    for (const char c : text) {
      if (c == '\\')
        out += "\\\\";
      else if (c == '\n')
        out += "\\n";
      else
        out += c;
    }
    return out;
  }
  std::map<std::string, Family> families_;
  std::vector<std::string> order_;
};

std::string Label(const char* name, std::string_view value) {
  return std::string(name) + "=\"" + PromLabelValue(value) + "\"";
}

std::string Braces(const std::string& labels) { return "{" + labels + "}"; }

void AddLayers(Families& f, const LineCheck& line, const std::string& id) {
  struct Layer {
    const char* layer;
    bool read;
    unsigned value;
    bool go;
  };
  const Layer layers[] = {
      {"l1_tx", line.l1.has_value(), line.l1 ? line.l1->tx : 0u, line.l1 && line.l1->tx_go},
      {"l1_rx", line.l1.has_value(), line.l1 ? line.l1->rx : 0u, line.l1 && line.l1->rx_go},
      {"l2", line.l2.has_value(), line.l2 ? line.l2->state : 0u, line.l2 && line.l2->go},
      {"l3", line.l3.has_value(), line.l3 ? line.l3->state : 0u, line.l3 && line.l3->state_go},
      {"l3_service", line.l3.has_value(), line.l3 ? line.l3->service : 0u, line.l3 && line.l3->service_go},
  };
  for (const Layer& l : layers) {
    if (!l.read) continue;
    const std::string labels = Braces(id + "," + Label("layer", l.layer));
    f.Add("bri_layer_state", "Raw state number of a layer as the driver reports it", false, labels,
          std::to_string(l.value));
    f.Add("bri_layer_go", "1 when the layer's state says Go!, 0 for Stop!", false, labels, l.go ? "1" : "0");
  }
}

}  // namespace

std::string PromLabelValue(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (u >= 0x80) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += c;
    }
  }
  return out;
}

std::string PrometheusText(const PromRun& run, const std::vector<LineCheck>& lines) {
  Families f;
  f.Add("bri_up", "1 when the adapter driver answered the line list", false, "", run.driver_up ? "1" : "0");
  f.Add("bri_check_state", "The check's state: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN", false, "",
        std::to_string(static_cast<int>(run.state)));
  if (run.driver_up) f.Add("bri_lines", "Lines the driver lists", false, "", std::to_string(lines.size()));
  std::vector<std::string> seen;
  for (const LineCheck& line : lines) {
    // Two lines of one name would give samples of one label set: the second is told by its number.
    const bool again = std::find(seen.begin(), seen.end(), line.name) != seen.end();
    seen.push_back(line.name);
    const std::string id = Label("line", again ? line.name + " #" + std::to_string(line.index) : line.name);
    f.Add("bri_line_info", "A line with its RAS/TAPI friendly name and usage", false,
          Braces(id + "," + Label("ras_name", line.ras_name) + "," + Label("usage", line.usage)), "1");
    f.Add("bri_line_state", "The line's verdict: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN", false, Braces(id),
          std::to_string(static_cast<int>(line.verdict.state)));
    f.Add("bri_line_up", "1 when every layer of the line is up", false, Braces(id),
          line.verdict.up ? "1" : "0");
    AddLayers(f, line, id);
    for (std::size_t slot = 0; slot < kCheckAreas.size(); ++slot) {
      const FetchOutcome o = line.outcomes[slot];
      if (o == FetchOutcome::kNotAsked || o == FetchOutcome::kRefused) continue;
      f.Add("bri_area_read", "1 when the status area was read, 0 when the driver did not deliver it", false,
            Braces(id + "," + Label("area", std::to_string(kCheckAreas[slot]))),
            o == FetchOutcome::kOk ? "1" : "0");
    }
    for (const Measurement& m : LineMeasurements(line)) {
      std::string labels = id;
      if (!m.channel.empty()) labels += "," + Label("channel", m.channel);
      const std::string name = "bri_" + m.name + (m.counter ? "_total" : "");
      f.Add(name, m.help + " (status area parameter)", m.counter, Braces(labels), std::to_string(m.value));
    }
  }
  f.Add("bri_scrape_duration_seconds", "Time the check took, from start to the metrics written", false, "",
        FormatF("%.6f", run.duration_seconds));
  return f.Text();
}

}  // namespace check_bri
