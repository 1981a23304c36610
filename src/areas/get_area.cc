#include "areas/get_area.h"

#include <algorithm>

#include "common/console.h"
#include "platform/platform.h"

namespace {

std::uint32_t RealExec(CommandBlock* block) { return io_exec(block); }
std::uint32_t RealTickCount() { return PlatTickCount(); }
void RealSleep(std::uint32_t milliseconds) { PlatSleep(milliseconds); }

// Clears the whole block and sets up one request for the line; the opcodes after the area request
// carry no parameter, so Parameter stays 0.
void PrepareRequest(CommandBlock* block, std::uint32_t opcode, std::uint32_t line_handle) {
  block->Zero();
  block->SetOpcode(opcode);
  block->SetLineHandle(line_handle);
}

}  // namespace

AreaDriver RealAreaDriver() { return AreaDriver{AllocateCommand, RealExec, RealTickCount, RealSleep}; }

int GetArea(std::uint32_t line_handle, std::int32_t area, AreaRecord* record) {
  return GetAreaWith(RealAreaDriver(), line_handle, area, record);
}

const char* AreaLayerName(std::int32_t area) {
  switch (area) {
    case 1: return "Layer 1";
    case 2: return "Layer 2";
    case 3: return "Layer 3";
    default: return "Unknown";
  }
}

int GetAreaWith(const AreaDriver& driver, std::uint32_t line_handle, std::int32_t area, AreaRecord* record) {
  CommandHolder block = driver.allocate();
  if (!block) return 1;  // the allocation has reported it

  // Ask the driver to prepare the area; the area number travels only here.
  PrepareRequest(block.get(), OP_AREA_REQUEST, line_handle);
  block->SetParameter(static_cast<std::uint32_t>(area));
  if (driver.exec(block.get()) != 0) {
    ConsoleWrite("Error: Error Getting Area.\n");
    return 1;
  }

  // Poll until ready or past the limit. The difference is unsigned, so a tick count that wraps
  // in between neither shortens nor stretches the limit. A ready reply is accepted whenever it
  // comes; the limit is looked at only after a not-ready one.
  const std::uint32_t start = driver.tick_count();
  for (;;) {
    PrepareRequest(block.get(), OP_AREA_POLL, line_handle);
    if (driver.exec(block.get()) != 0) return 1;
    if (GetLE32(block->Payload(), kAreaStateOffset) == kAreaReady) break;
    const std::uint32_t elapsed = driver.tick_count() - start;
    if (elapsed > kAreaTimeLimitMs) {
      PrepareRequest(block.get(), OP_AREA_GIVE_UP, line_handle);
      driver.exec(block.get());  // its status tells nothing more
      ConsolePrintf("Error: Error Getting Status for %s\n", AreaLayerName(area));
      return 1;
    }
    driver.sleep(kAreaPollPauseMs);
  }

  // The record comes from one more poll, sent after the one that said ready.
  PrepareRequest(block.get(), OP_AREA_POLL, line_handle);
  if (driver.exec(block.get()) != 0) return 1;
  const ByteSpan payload = block->Payload();
  std::copy_n(payload.begin(), kAreaRecordSize, record->raw.begin());
  return 0;
}
