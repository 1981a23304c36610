#include "trace/line_table.h"

#include <cstdlib>

#include "common/console.h"
#include "common/driver.h"
#include "platform/platform.h"
#include "trace/poll_loop.h"
#include "trace/switches.h"
#include "trace/teardown.h"
#include "trace/trace_event.h"

std::array<LineEntry, kMaxLines> idd_tbl;
std::size_t NumIdd = 0;

namespace {

constexpr long kStartTracing = 99;

// A menu answer that is no number, or the end of standard input (status 0), or a menu that cannot
// be shown because standard output is gone (status 1): the program ends here. No trace object
// exists yet, so there is nothing to tear down beyond the driver handle.
[[noreturn]] void EndAtMenu(int status) {
  LeaveProcess();
  CloseDriver();
  PlatRestoreConsole();
  std::exit(status);
}

void SelectAll() {
  for (std::size_t i = 0; i < NumIdd; ++i) idd_tbl[i].Selected = 1;
}

}  // namespace

void ClearLineTable() {
  for (LineEntry& entry : idd_tbl) entry = LineEntry{};
  NumIdd = 0;
}

std::string MenuText() {
  std::string text = "\nLines currently being traced:\n";
  for (const LineEntry& entry : idd_tbl) {
    if (entry.Selected == 1) AppendF(text, "%s\n", entry.Name.data());
  }
  text += "\nTrace which lines?\n";
  for (std::size_t i = 0; i < NumIdd; ++i) {
    AppendF(text, "%ld. %s\n", static_cast<long>(i), idd_tbl[i].Name.data());
  }
  text += "99. Start Tracing!\n";
  text += "\n?: ";
  return text;
}

MenuAnswer ApplyMenuAnswer(long answer) {
  if (answer >= 0 && static_cast<std::size_t>(answer) < NumIdd) {
    idd_tbl[static_cast<std::size_t>(answer)].Selected = 1;
    return MenuAnswer::kSelected;
  }
  if (answer == kStartTracing) return MenuAnswer::kStartTracing;
  return MenuAnswer::kInvalid;
}

void EnumerateIdd() {
  CommandHolder block = AllocateCommand();
  if (!block) return;

  block->SetOpcode(OP_ENUM_IDD);
  std::uint32_t status = kStatusDeviceCallFailed;
  if (!UnlessTornDown([&] { status = ExecuteCmd(block.get()); }) || status != 0) return;

  const EnumReply reply = ReadEnumReply(*block);
  std::string listing = "Lines In System:\n";
  NumIdd = reply.count;
  for (std::size_t i = 0; i < reply.count; ++i) {
    AppendF(listing, " %s\n", reply.lines[i].name.data());
    CreateTraceEvent(TraceEvent, i);
    idd_tbl[i].Handle = reply.lines[i].handle;
    idd_tbl[i].Name = reply.lines[i].name;
  }
  ConsoleWrite(listing);

  if (NumIdd == 1) Set(TraceAll, 1);
  if (Get(TraceAll) == 1) {
    SelectAll();
    return;
  }

  while (Get(EndGame) == 0) {
    const bool shown = ConsoleWrite(MenuText());
    long answer = 0;
    if (!shown || !PlatReadMenuNumber(&answer)) {
      block.reset();
      EndAtMenu(shown ? 0 : 1);
    }
    switch (ApplyMenuAnswer(answer)) {
      case MenuAnswer::kSelected:
        break;
      case MenuAnswer::kStartTracing:
        return;
      case MenuAnswer::kInvalid:
        ConsoleWrite("\nInvalid Line Selection!\n");
        break;
    }
  }
}
