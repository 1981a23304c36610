#include "decode/view_flags.h"

std::atomic<std::int32_t> ShowRaw{0};
std::atomic<std::int32_t> ShowL2{0};
std::atomic<std::int32_t> ShowL3{0};
