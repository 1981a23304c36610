#include "trace/options.h"

#include <array>
#include <string_view>

#include "common/console.h"
#include "base/option_match.h"
#include "base/version.h"
#include "trace/switches.h"

std::atomic<std::int32_t> TraceAll{0};
std::atomic<std::int32_t> ShowUsageFlag{0};
std::atomic<std::int32_t> EndGame{0};
std::atomic<std::int32_t> PrintUpdate{0};
std::atomic<std::int32_t> PrintStatus{0};

namespace {

enum class Option { kAll, kL2, kL3, kRaw, kProtocols, kUsage };

struct OptionName {
  std::string_view text;
  Option option;
};

// Tried in this order; the first match acts.
constexpr std::array<OptionName, 6> kOptions{{
    {"-a", Option::kAll},
    {"-l2", Option::kL2},
    {"-l3", Option::kL3},
    {"-raw", Option::kRaw},
    {"-p", Option::kProtocols},
    {"-?", Option::kUsage},
}};

void Apply(Option option) {
  switch (option) {
    case Option::kAll:
      Set(TraceAll, 1);
      break;
    case Option::kL2:
      Set(ShowL2, 1);
      break;
    case Option::kL3:
      Set(ShowL3, 1);
      break;
    case Option::kRaw:
      Set(ShowRaw, 1);
      break;
    case Option::kProtocols:
      Set(ShowL2, 1);
      Set(ShowL3, 1);
      Set(ShowRaw, 1);
      break;
    case Option::kUsage:
      Set(ShowUsageFlag, 1);
      break;
  }
}

}  // namespace

void ParseCommandLine(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == nullptr) continue;
    const std::string_view arg(argv[i]);
    for (const OptionName& known : kOptions) {
      if (SameIgnoringCase(arg, known.text)) {
        Apply(known.option);
        break;
      }
    }
  }
}

std::string SignonBannerText() {
  std::string text = FormatF("Norvale ISDN BRI Trace - Version %2d.%02d\n", kVersionMajor, kVersionMinor);
  text += "Copyright (C) Norvale. All rights reserved.\n\n";
  return text;
}

std::string UsageText() {
  std::string text = SignonBannerText();
  text +=
      "Usage - trace -a -p -l2 -l3 -raw -?\n"
      "-a   - trace all lines\n"
      "-p   - show decode for all ISDN Protocols\n"
      "-l2  - show decode for ISDN Layer 2 (Q.921) Protocol\n"
      "-l3  - show decode for ISDN Layer 3 (Q.931) Protocol\n"
      "-raw - show raw hex dump of all ISDN Protocols\n"
      "-?   - show this screen\n";
  return text;
}

void DoSignonBanner() { ConsoleWrite(SignonBannerText()); }

void ShowUsage() { ConsoleWrite(UsageText()); }
