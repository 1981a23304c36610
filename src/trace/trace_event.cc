#include "trace/trace_event.h"

#include <algorithm>

EventSet TraceEvent;

void CreateTraceEvent(EventSet& events, std::size_t index) {
  if (index >= kMaxLines) return;
  std::lock_guard<std::mutex> guard(events.lock);
  events.created[index] = true;
  events.signalled[index] = false;
}

void SetTraceEvent(EventSet& events, std::size_t index) {
  if (index >= kMaxLines) return;
  {
    std::lock_guard<std::mutex> guard(events.lock);
    if (!events.created[index]) return;
    events.signalled[index] = true;
  }
  events.changed.notify_all();
}

int WaitForAnyTraceEvent(EventSet& events, std::size_t count) {
  count = std::min(count, kMaxLines);
  std::unique_lock<std::mutex> guard(events.lock);
  for (;;) {
    for (std::size_t i = 0; i < count; ++i) {
      if (events.signalled[i]) {
        events.signalled[i] = false;
        return static_cast<int>(i);
      }
    }
    if (events.shutdown) return kEventShutdown;
    events.changed.wait(guard);
  }
}

void ShutdownTraceEvents(EventSet& events) {
  {
    std::lock_guard<std::mutex> guard(events.lock);
    events.shutdown = true;
  }
  events.changed.notify_all();
}
