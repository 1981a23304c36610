#include "common/trace_poll.h"

#include "common/driver.h"

std::uint32_t SendTraceCreate(CommandBlock& block, std::uint32_t handle) {
  block.Zero();
  block.SetOpcode(OP_TRACE_CREATE);
  block.SetLineHandle(handle);
  block.SetParameter(kTraceObjectParameter);
  return ExecuteCmd(&block);
}

void SendTraceDestroy(CommandBlock& block, std::uint32_t handle) {
  block.Zero();
  block.SetOpcode(OP_TRACE_DESTROY);
  block.SetLineHandle(handle);
  block.SetParameter(kTraceObjectParameter);
  ExecuteCmd(&block);
}

namespace {

void SendLineRequest(CommandBlock& block, std::uint32_t opcode, std::uint32_t handle) {
  block.SetOpcode(opcode);
  block.SetLineHandle(handle);
  ExecuteCmd(&block);
}

void SendLineRequest(std::uint32_t opcode, std::uint32_t handle) {
  CommandHolder block = AllocateCommand();
  if (block) SendLineRequest(*block, opcode, handle);
}

}  // namespace

void SendTraceStart(std::uint32_t handle) { SendLineRequest(OP_TRACE_START, handle); }

void SendTraceStop(std::uint32_t handle) { SendLineRequest(OP_TRACE_STOP, handle); }

void SendTraceStart(CommandBlock& block, std::uint32_t handle) {
  block.Zero();
  SendLineRequest(block, OP_TRACE_START, handle);
}

void SendTraceStop(CommandBlock& block, std::uint32_t handle) {
  block.Zero();
  SendLineRequest(block, OP_TRACE_STOP, handle);
}

std::uint32_t TakeTraceStatus(ByteSpan reply, TracePosition position) {
  const std::uint32_t oldest = GetLE32(reply, kStatusHeldToOffset) - GetLE32(reply, kStatusHeldFromOffset);
  const auto ahead = static_cast<std::int32_t>(oldest - position.next_entry);
  const bool first = !position.status_seen;
  position.status_seen = true;
  if (ahead > 0) {
    position.next_entry = oldest;
    return static_cast<std::uint32_t>(ahead);
  }
  if (ahead < 0 && first) position.next_entry = oldest;
  return 0;
}
