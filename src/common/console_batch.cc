#include "common/console_batch.h"

#include "common/console.h"

bool ConsoleBatch::Flush() {
  if (text_.empty()) return true;
  const bool written = ConsoleWrite(text_);
  text_.clear();  // keeps its room for the next batch
  return written;
}
