#include "common/enum_reply.h"

#include <algorithm>

EnumReply ReadEnumReply(const CommandBlock& block) {
  const ByteSpan bytes = block.bytes();
  EnumReply reply;
  reply.count = std::min<std::size_t>(GetLE16(bytes, kLineCountOffset), kMaxLines);
  for (std::size_t i = 0; i < reply.count; ++i) {
    EnumeratedLine& line = reply.lines[i];
    line.handle = GetLE32(bytes, kLineHandlesOffset + 4 * i);
    const ByteSpan field = bytes.subspan(kLineNamesOffset + kLineNameFieldSize * i, kLineNameFieldSize);
    for (std::size_t c = 0; c + 1 < kLineNameSize && field[c] != 0; ++c) {
      line.name[c] = static_cast<char>(field[c]);
    }
  }
  return reply;
}
