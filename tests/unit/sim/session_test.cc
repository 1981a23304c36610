#include "session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sim_test_util.h"

namespace brisim {
namespace {

using testing::Frame;
using testing::MemoryStream;

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A reply as the transport carries it.
struct Reply {
  std::uint32_t ok = 0, returned = 0, out_sent = 0;
  std::vector<std::uint8_t> block;  // out_sent bytes, zero-extended to `returned`
};

Reply Decode(const std::vector<std::uint8_t>& bytes, std::size_t* pos) {
  Reply r;
  const ByteSpan b(bytes);
  r.ok = GetLE32(b, *pos);
  r.returned = GetLE32(b, *pos + 4);
  r.out_sent = GetLE32(b, *pos + 8);
  *pos += kReplyHeaderSize;
  r.block.assign(bytes.begin() + static_cast<std::ptrdiff_t>(*pos), bytes.begin() + static_cast<std::ptrdiff_t>(*pos + r.out_sent));
  *pos += r.out_sent;
  r.block.resize(r.returned, 0);
  return r;
}

Served Serve(Device& device, const std::vector<std::uint8_t>& frame) {
  std::array<std::uint8_t, kRequestHeaderSize> raw{};
  std::copy_n(frame.begin(), raw.size(), raw.begin());
  const RequestHeader h = DecodeRequestHeader(raw);
  EXPECT_FALSE(MalformedReason(h));
  return ServeRequest(device, h, ByteSpan(frame).subspan(kRequestHeaderSize), SimTime{});
}

constexpr const char* kOneLine = R"({"lines": [{"name": "Tessix1 LINE1"}]})";

TEST(Transport, TrimmedRequestAndTrimmedReply) {
  Device device(ParseScenario(kOneLine));
  Served s = Serve(device, Frame(testing::Request(OP_ENUM_IDD)));
  std::size_t pos = 0;
  Reply r = Decode(s.reply, &pos);
  EXPECT_EQ(pos, s.reply.size());
  EXPECT_EQ(r.ok, 1u);
  EXPECT_EQ(r.returned, kCommandBlockSize);
  EXPECT_EQ(r.out_sent, 124u + std::strlen("Tessix1 LINE1"));  // up to the name's last character
  EXPECT_EQ(testing::U32(r.block, kSignatureOffset), kSignature);  // the request's header comes back
  EXPECT_EQ(testing::U16(r.block, 40), 1u);
  EXPECT_EQ(s.log.status, 0u);
  EXPECT_EQ(s.log.opcode, OP_ENUM_IDD);
}

TEST(Transport, TrimmedLengthAroundTheSixtyFourByteSteps) {
  for (std::size_t last : {0u, 1u, 63u, 64u, 65u, 127u, 128u, 200000u, 262199u}) {
    std::vector<std::uint8_t> block(kCommandBlockSize, 0);
    block[last] = 0x5A;
    EXPECT_EQ(TrimmedLength(ByteSpan(block)), last + 1) << last;
  }
  EXPECT_EQ(TrimmedLength(ByteSpan(std::vector<std::uint8_t>(kCommandBlockSize, 0))), 0u);
  EXPECT_EQ(TrimmedLength(ByteSpan(std::vector<std::uint8_t>(100, 1))), 100u);
}

TEST(Transport, NothingOfAnEarlierRequestShowsInALaterReply) {
  // A long request (bytes far into the payload) and then a short one: the short one's reply
  // carries none of the long one's bytes.
  Device device(ParseScenario(kOneLine));
  std::vector<std::uint8_t> long_request = testing::Request(0x7777);
  std::fill(long_request.begin() + 1000, long_request.begin() + 5000, std::uint8_t{0xEE});
  Serve(device, Frame(long_request));
  Served s = Serve(device, Frame(testing::Request(OP_TRACE_STATUS, 0x1001)));
  std::size_t pos = 0;
  const Reply r = Decode(s.reply, &pos);
  EXPECT_LT(r.out_sent, 1000u);
  EXPECT_EQ(std::count(r.block.begin(), r.block.end(), std::uint8_t{0xEE}), 0);
}

TEST(Transport, BadRequestsAreRefusedWithAStatus) {
  struct Case {
    const char* what;
    std::uint32_t code, in_len, out_len;
    std::uint32_t signature;
    std::uint16_t word1;
    std::uint32_t status;
  };
  const Case cases[] = {
      {"signature", kControlCode, kCommandBlockSize, kCommandBlockSize, 0x12345678, 1, kStatusBadHeader},
      {"header word 1", kControlCode, kCommandBlockSize, kCommandBlockSize, kSignature, 0, kStatusBadHeader},
      {"control code", 0x160044, kCommandBlockSize, kCommandBlockSize, kSignature, 1, kStatusBadTransport},
      {"in_len", kControlCode, 4096, kCommandBlockSize, kSignature, 1, kStatusBadTransport},
      {"out_len", kControlCode, kCommandBlockSize, 1024, kSignature, 1, kStatusBadTransport},
  };
  for (const Case& c : cases) {
    Device device(ParseScenario(kOneLine));
    auto block = testing::Request(OP_ENUM_IDD);
    WriteLE32(MutableByteSpan(block), kSignatureOffset, c.signature);
    WriteLE16(MutableByteSpan(block), kHeaderWord1Offset, c.word1);
    Served s = Serve(device, Frame(block, c.code, c.in_len, c.out_len));
    std::size_t pos = 0;
    Reply r = Decode(s.reply, &pos);
    EXPECT_EQ(r.ok, 1u) << c.what;
    EXPECT_EQ(r.returned, std::min(c.out_len, static_cast<std::uint32_t>(kCommandBlockSize))) << c.what;
    EXPECT_EQ(testing::U32(r.block, kStatusOffset), c.status) << c.what;
    EXPECT_EQ(testing::U16(r.block, 40), 0u) << c.what;  // not served
    EXPECT_EQ(s.log.status, c.status) << c.what;
  }
}

TEST(Transport, OutputTooSmallForAStatusFailsTheCall) {
  Device device(ParseScenario(kOneLine));
  Served s = Serve(device, Frame(testing::Request(OP_ENUM_IDD), kControlCode, kCommandBlockSize, 8));
  std::size_t pos = 0;
  Reply r = Decode(s.reply, &pos);
  EXPECT_EQ(r.ok, 0u);
  EXPECT_EQ(r.returned, 0u);
  EXPECT_EQ(r.out_sent, 0u);
}

TEST(Transport, MalformedHeaders) {
  EXPECT_TRUE(MalformedReason(RequestHeader{kControlCode, 10, 11, kCommandBlockSize}));
  EXPECT_TRUE(MalformedReason(RequestHeader{kControlCode, 0xFFFFFFFF, 0, kCommandBlockSize}));
  EXPECT_FALSE(MalformedReason(RequestHeader{0, 0, 0, 0}));
}

TEST(Transport, EncodeReplyTrimsOnlyTrailingZeros) {
  const std::vector<std::uint8_t> block = {0, 1, 0, 2, 0, 0};
  auto reply = EncodeReply(true, ByteSpan(block), 6);
  ASSERT_EQ(reply.size(), kReplyHeaderSize + 4);
  EXPECT_EQ(GetLE32(ByteSpan(reply), 8), 4u);
  EXPECT_EQ(reply[kReplyHeaderSize + 3], 2);
  const std::vector<std::uint8_t> zeros(100, 0);
  EXPECT_EQ(EncodeReply(true, ByteSpan(zeros), 100).size(), kReplyHeaderSize);
}

TEST(Transport, LogLineCarriesTheRequestFields) {
  LogRecord r;
  r.opcode = OP_TRACE_READ;
  r.line_handle = 0x1001;
  r.parameter = 7;
  r.signature = kSignature;
  r.header_word1 = 1;
  r.in_len = r.out_len = kCommandBlockSize;
  r.status = 2;
  const std::string line = FormatLogLine(r, 12.5, 3);
  for (const char* field : {R"("time_ms":12.5)", R"("conn":3)", R"("opcode":775)", R"("name":"OP_TRACE_READ")",
                            R"("line_handle":4097)", R"("parameter":7)", R"("signature":840659383)",
                            R"("header_word0":0)", R"("header_word1":1)", R"("in_len":262200)",
                            R"("out_len":262200)", R"("status":2)"}) {
    EXPECT_NE(line.find(field), std::string::npos) << field << " in " << line;
  }
  EXPECT_EQ(line.find('\n'), std::string::npos);
  r.opcode = 0x999;
  EXPECT_NE(FormatLogLine(r, 0, 1).find(R"("name":"unknown")"), std::string::npos);
}

TEST(Session, ServesRequestsInTurnAndStopsAtAMalformedOne) {
  std::vector<std::uint8_t> in = Frame(testing::Request(OP_TRACE_CREATE, 0x1001, 20));
  auto second = Frame(testing::Request(OP_TRACE_STATUS, 0x1001));
  in.insert(in.end(), second.begin(), second.end());
  std::vector<std::uint8_t> bad;
  Put32(bad, kControlCode);
  Put32(bad, 4);
  Put32(bad, 8);  // more input than in_len
  Put32(bad, kCommandBlockSize);
  in.insert(in.end(), bad.begin(), bad.end());
  in.insert(in.end(), second.begin(), second.end());  // never read

  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  {
    Simulator sim(ParseScenario(kOneLine), log);
    MemoryStream stream(std::move(in));
    RunSession(stream, sim, 1);
    std::size_t pos = 0;
    EXPECT_EQ(testing::U32(Decode(stream.out, &pos).block, kStatusOffset), 0u);
    EXPECT_EQ(testing::U32(Decode(stream.out, &pos).block, kStatusOffset), 0u);
    EXPECT_EQ(pos, stream.out.size());
  }
  std::rewind(log);
  int lines = 0;
  for (int ch = std::fgetc(log); ch != EOF; ch = std::fgetc(log)) lines += ch == '\n';
  EXPECT_EQ(lines, 2);
  std::fclose(log);
}

}  // namespace
}  // namespace brisim
