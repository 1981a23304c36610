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

bool SendAreaRequest(const AreaDriver& driver, CommandBlock* block, std::uint32_t line_handle, std::int32_t area) {
  // The area number travels only here.
  PrepareRequest(block, OP_AREA_REQUEST, line_handle);
  block->SetParameter(static_cast<std::uint32_t>(area));
  return driver.exec(block) == 0;
}

AreaPoll SendAreaPoll(const AreaDriver& driver, CommandBlock* block, std::uint32_t line_handle) {
  PrepareRequest(block, OP_AREA_POLL, line_handle);
  if (driver.exec(block) != 0) return AreaPoll::kFailed;
  return GetLE32(block->Payload(), kAreaStateOffset) == kAreaReady ? AreaPoll::kReady : AreaPoll::kNotReady;
}

bool ReadAreaReply(const AreaDriver& driver, CommandBlock* block, std::uint32_t line_handle, AreaRecord* record) {
  PrepareRequest(block, OP_AREA_POLL, line_handle);
  if (driver.exec(block) != 0) return false;
  const ByteSpan payload = block->Payload();
  std::copy_n(payload.begin(), kAreaRecordSize, record->raw.begin());
  return true;
}

void SendAreaGiveUp(const AreaDriver& driver, CommandBlock* block, std::uint32_t line_handle) {
  PrepareRequest(block, OP_AREA_GIVE_UP, line_handle);
  driver.exec(block);
}

int GetAreaWith(const AreaDriver& driver, std::uint32_t line_handle, std::int32_t area, AreaRecord* record) {
  CommandHolder block = driver.allocate();
  if (!block) return 1;  // the allocation has reported it

  if (!SendAreaRequest(driver, block.get(), line_handle, area)) {
    ConsoleWrite("Error: Error Getting Area.\n");
    return 1;
  }

  // Poll until ready or past the limit. The difference is unsigned, so a tick count that wraps
  // in between neither shortens nor stretches the limit. A ready reply is accepted whenever it
  // comes; the limit is looked at only after a not-ready one.
  const std::uint32_t start = driver.tick_count();
  for (;;) {
    const AreaPoll poll = SendAreaPoll(driver, block.get(), line_handle);
    if (poll == AreaPoll::kFailed) return 1;
    if (poll == AreaPoll::kReady) break;
    const std::uint32_t elapsed = driver.tick_count() - start;
    if (elapsed > kAreaTimeLimitMs) {
      SendAreaGiveUp(driver, block.get(), line_handle);
      ConsolePrintf("Error: Error Getting Status for %s\n", AreaLayerName(area));
      return 1;
    }
    driver.sleep(kAreaPollPauseMs);
  }

  // The record comes from one more poll, sent after the one that said ready.
  return ReadAreaReply(driver, block.get(), line_handle, record) ? 0 : 1;
}
