#include "trace/view_flags.h"

std::atomic<std::int32_t> ShowRaw{0};
std::atomic<std::int32_t> ShowL2{0};
std::atomic<std::int32_t> ShowL3{0};

bool ViewFlagOn(TraceView view) {
  const std::atomic<std::int32_t>& flag = view == TraceView::kRaw  ? ShowRaw
                                          : view == TraceView::kL2 ? ShowL2
                                                                   : ShowL3;
  return flag.load(std::memory_order_relaxed) != 0;
}
