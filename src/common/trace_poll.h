// SPDX-License-Identifier: BSD-2-Clause
// The trace objects in the driver and the poll of one traced line, shared by every program that
// captures from the adapter (lapmon's poll loop and bricap), so that all of them ask for
// entries, count the ones the driver dropped and follow the entry numbers across their wrap alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "base/bytes.h"
#include "common/command_block.h"

// The driver's own argument of the create and destroy requests.
inline constexpr std::uint32_t kTraceObjectParameter = 20;
// OP_TRACE_STATUS reply: the oldest entry still held is the fifth word minus the fourth.
inline constexpr std::size_t kStatusHeldFromOffset = 52;
inline constexpr std::size_t kStatusHeldToOffset = 56;
// An OP_TRACE_READ reply holds the 288-byte trace entry at the start of the payload.
inline constexpr std::size_t kTraceReadEntrySize = 288;

// Zeroes the block and sends OP_TRACE_CREATE for the line; returns the Status (0: the trace
// object exists).
std::uint32_t SendTraceCreate(CommandBlock& block, std::uint32_t handle);

// Zeroes the block and sends OP_TRACE_DESTROY for the line; the status is not examined.
void SendTraceDestroy(CommandBlock& block, std::uint32_t handle);

// OP_TRACE_START and OP_TRACE_STOP, each on a block of its own (none to be had: nothing is sent);
// the status is not examined.
void SendTraceStart(std::uint32_t handle);
void SendTraceStop(std::uint32_t handle);

// The same requests on the caller's block (zeroed first), for a caller that allocates its own.
void SendTraceStart(CommandBlock& block, std::uint32_t handle);
void SendTraceStop(CommandBlock& block, std::uint32_t handle);

// Where reading one line's entries stands: the number of the next entry to ask for, and whether a
// trace status reply has come for the line.
struct TracePosition {
  std::uint32_t& next_entry;
  bool& status_seen;
};

// Takes a trace status reply into the position and returns how many entries the driver dropped
// before they were read (0 when none). Entry numbers wrap at 2^32 as the driver counts them, so
// whether the oldest held entry lies ahead of the next one wanted is the sign of their difference
// in 32 bits; reading then goes on at the oldest held entry. Before the first status reply nothing
// has been read: a driver whose numbers start below 0 (in 32 bits) holds entries that are all
// still to be read, from the oldest on, and none of them counts as dropped.
std::uint32_t TakeTraceStatus(ByteSpan reply, TracePosition position);

// One poll of one line: the trace status request, the count of dropped entries, then one
// OP_TRACE_READ after the other for the next entry by number, until the driver has no more (or
// the caller wants no more). The block is reused without zeroing: each request rewrites only the
// fields it sends. Hooks is any type with:
//   std::uint32_t Send(CommandBlock* block)   sends one request, returns its Status
//   void Lost(std::uint32_t count)            entries dropped by the driver (called before reading)
//   bool MayRead()                            asked before each read request
//   void Take(CommandBlock& block, std::span<const std::uint8_t, kTraceReadEntrySize> entry)
//                                             each entry read, in order (the block may be reused
//                                             for a request of the caller's own)
// Returns false when the status request was refused (the line is skipped this time).
template <typename Hooks>
bool PollTraceLine(CommandBlock& block, std::uint32_t handle, TracePosition position, Hooks& hooks) {
  block.SetOpcode(OP_TRACE_STATUS);
  block.SetLineHandle(handle);
  if (hooks.Send(&block) != 0) return false;

  // Read through the const view: the block keeps knowing how far it was written.
  const std::uint32_t lost = TakeTraceStatus(std::as_const(block).bytes(), position);
  if (lost > 0) hooks.Lost(lost);

  while (hooks.MayRead()) {
    block.SetOpcode(OP_TRACE_READ);
    block.SetLineHandle(handle);
    block.SetParameter(position.next_entry);
    if (hooks.Send(&block) != 0) break;
    hooks.Take(block, block.Payload().first<kTraceReadEntrySize>());
    ++position.next_entry;
  }
  return true;
}
