#include "agent/snmp/agentx_pdu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvu::agent::agentx {
namespace {

// A packet as net-snmp's master writes it: host byte order (little endian here), no flag.
struct LittleEndian {
  std::string bytes;
  void U8(uint8_t v) { bytes.push_back(static_cast<char>(v)); }
  void U16(uint16_t v) { U8(v & 0xff), U8(v >> 8); }
  void U32(uint32_t v) { U16(v & 0xffff), U16(v >> 16); }
  void OidOf(uint8_t prefix, std::vector<uint32_t> ids, bool include = false) {
    U8(static_cast<uint8_t>(ids.size())), U8(prefix), U8(include), U8(0);
    for (uint32_t id : ids) U32(id);
  }
  std::string Packet(uint8_t type, uint8_t flags = 0) {
    LittleEndian h;
    h.U8(1), h.U8(type), h.U8(flags), h.U8(0), h.U32(7), h.U32(9), h.U32(11);
    h.U32(static_cast<uint32_t>(bytes.size()));
    return h.bytes + bytes;
  }
};

bool Read(const std::string& packet, Pdu* pdu, std::string* why) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(packet.data());
  return ReadHeader(bytes, &pdu->header, why) &&
         packet.size() == AGENTX_HEADER_SIZE + pdu->header.payloadLength &&
         ReadPayload(bytes + AGENTX_HEADER_SIZE, pdu, why);
}

TEST(AgentxPduTest, AMastersGetNextReadsInItsByteOrder) {
  LittleEndian p;
  p.OidOf(4, {1, 32473, 99, 1, 9, 1, 3}, true);  // 1.3.6.1.4.1.32473... with the prefix
  p.OidOf(0, {1, 3, 6, 1, 4, 1, 32473, 100});
  Pdu pdu;
  std::string why;
  ASSERT_TRUE(Read(p.Packet(AGENTX_GETNEXT), &pdu, &why)) << why;
  EXPECT_EQ(pdu.header.sessionId, 7u);
  EXPECT_EQ(pdu.header.packetId, 11u);
  ASSERT_EQ(pdu.ranges.size(), 1u);
  EXPECT_EQ(pdu.ranges[0].start, (Oid{1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 3}));
  EXPECT_TRUE(pdu.ranges[0].include);
  EXPECT_EQ(pdu.ranges[0].end, (Oid{1, 3, 6, 1, 4, 1, 32473, 100}));
}

// Every value type written and read back, as a TestSet carries it.
TEST(AgentxPduTest, EveryVarBindTypeReadsBackAsWritten) {
  auto number = [](uint32_t syntax, uint32_t n, uint32_t second = 0) {
    proto::Value v;
    v.syntax = syntax;
    v.kind = syntax == 70 ? proto::ValueKind::Pair : proto::ValueKind::Number;
    v.number = n;
    v.second = second;
    return v;
  };
  auto bytes = [](uint32_t syntax, std::string b) {
    proto::Value v;
    v.syntax = syntax;
    v.kind = proto::ValueKind::Bytes;
    v.bytes = std::move(b);
    return v;
  };
  proto::Value oid;
  oid.syntax = 6;
  oid.kind = proto::ValueKind::Oid;
  oid.ids = {1, 3, 6, 1, 4, 1, 32473};
  std::vector<proto::Value> values = {number(2, 0xfffffffb),
                                      number(65, 4294967295),
                                      number(66, 77),
                                      number(67, 360000),
                                      number(70, 1, 2),
                                      bytes(4, ""),
                                      bytes(4, "Some octets"),
                                      bytes(64, "\x0a\x01\x02\x03"),
                                      bytes(68, "\x9f\x78\x04\x3f\x80\x00\x00"),
                                      oid,
                                      number(5, 0)};
  std::string packet;
  size_t start = BeginPacket(&packet, AGENTX_TESTSET, 1, 2, 3);
  for (size_t i = 0; i < values.size(); ++i) {
    PutVarBind(&packet, static_cast<uint16_t>(values[i].syntax),
               {1, 3, 6, 1, 4, 1, 32473, 99, static_cast<uint32_t>(i)}, values[i]);
  }
  EndPacket(&packet, start);
  Pdu pdu;
  std::string why;
  ASSERT_TRUE(Read(packet, &pdu, &why)) << why;
  ASSERT_EQ(pdu.varbinds.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(pdu.varbinds[i].value, values[i]) << "varbind " << i;
    EXPECT_EQ(pdu.varbinds[i].name.back(), i);
  }
}

// What a broken or hostile peer sends is refused with a reason, never read past its end.
TEST(AgentxPduTest, PacketsThatDoNotHoldWhatTheyClaimAreRefused) {
  struct Case {
    std::string packet;
    const char* why;
  };
  auto make = [](auto fill, uint8_t type) {
    LittleEndian p;
    fill(p);
    return p.Packet(type);
  };
  std::string version2 = make([](LittleEndian&) {}, AGENTX_COMMITSET);
  version2[0] = 2;
  std::string huge = make([](LittleEndian&) {}, AGENTX_COMMITSET);
  huge[19] = 0x7f;
  std::vector<Case> cases = {
      {version2, "version other than 1"},
      {huge, "longer than 4 MiB"},
      {make([](LittleEndian& p) { p.OidOf(0, std::vector<uint32_t>(3)); }, AGENTX_GETNEXT),
       "ends early"},  // a start without its end
      {make(
           [](LittleEndian& p) {
             p.OidOf(4, std::vector<uint32_t>(124));
             p.OidOf(0, {});
           },
           AGENTX_GET),
       "more than 128"},
      {make([](LittleEndian& p) { p.U16(4), p.U16(0), p.OidOf(0, {1}), p.U32(9), p.U32(0); },
            AGENTX_TESTSET),
       "ends early"},  // nine bytes of octets in four
      {make([](LittleEndian& p) { p.U16(3), p.U16(0), p.OidOf(0, {1}); }, AGENTX_TESTSET),
       "type that AgentX does not define"},
      {make([](LittleEndian& p) { p.U32(0); }, AGENTX_COMMITSET), "more than its type"},
      {make([](LittleEndian& p) { p.U32(0); }, AGENTX_NOTIFY), "does not send"},
  };
  for (const Case& c : cases) {
    Pdu pdu;
    std::string why;
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.packet.data());
    bool read =
        ReadHeader(bytes, &pdu.header, &why) && ReadPayload(bytes + AGENTX_HEADER_SIZE, &pdu, &why);
    EXPECT_FALSE(read) << c.why;
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
}

}  // namespace
}  // namespace orvu::agent::agentx
