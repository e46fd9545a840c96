// The SNMP utility library: OID text in both directions and the one release function.
#include "orvu/snmp_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(SnmpStringToOid, AcceptsOnlyDottedDecimal) {
  struct Case {
    const char* text;
    bool accepted;
  };
  const Case cases[] = {
      {"1.3.6.1.4.1.32473.99.1.4", true},
      {"0", true},
      {"4294967295", true},
      {"1.4294967295.0", true},
      {"007.1", true},
      {"4294967296", false},
      {"1.99999999999999999999", false},
      {"", false},
      {"1..3", false},
      {".1", false},
      {"1.", false},
      {"a", false},
      {" 1", false},
      {"1 ", false},
      {"-1", false},
      {"+1", false},
      {"speakerControl", false},
      {"1.3x.6", false},
      {".", false},
  };
  for (const Case& c : cases) {
    SnmpOid oid{77, nullptr};
    int result = SnmpStringToOid(c.text, &oid);
    EXPECT_EQ(result != 0, c.accepted) << '"' << c.text << '"';
    if (result) {
      SnmpFreeValue(ORVU_SYNTAX_OID, &oid);
    } else {
      EXPECT_EQ(oid.count, 77u) << "a refused text leaves the record alone: " << c.text;
    }
  }
  SnmpOid oid{0, nullptr};
  ASSERT_TRUE(SnmpStringToOid("1.4294967295.007", &oid));
  ASSERT_EQ(oid.count, 3u);
  EXPECT_EQ(oid.ids[0], 1u);
  EXPECT_EQ(oid.ids[1], 4294967295u);
  EXPECT_EQ(oid.ids[2], 7u);
  SnmpFreeValue(ORVU_SYNTAX_OID, &oid);
  EXPECT_FALSE(SnmpStringToOid(nullptr, &oid));
  EXPECT_FALSE(SnmpStringToOid("1", nullptr));
}

TEST(SnmpStringToOid, BoundsTheNumberOfSubIdentifiers) {
  std::string text = "1";
  for (int i = 1; i < 65535; ++i) text += ".1";
  SnmpOid oid{0, nullptr};
  ASSERT_TRUE(SnmpStringToOid(text.c_str(), &oid));
  EXPECT_EQ(oid.count, 65535u);
  SnmpFreeValue(ORVU_SYNTAX_OID, &oid);
  text += ".1";
  EXPECT_FALSE(SnmpStringToOid(text.c_str(), &oid));
}

TEST(SnmpOidToString, NeverWritesPastTheSize) {
  uint32_t ids[] = {1, 3, 4294967295u};
  SnmpOid oid{3, ids};
  const std::string expected = "1.3.4294967295";
  char buffer[32];
  std::memset(buffer, '#', sizeof buffer);
  ASSERT_TRUE(SnmpOidToString(&oid, static_cast<uint32_t>(expected.size() + 1), buffer));
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_EQ(buffer[expected.size() + 1], '#');

  std::memset(buffer, '#', sizeof buffer);
  EXPECT_FALSE(SnmpOidToString(&oid, static_cast<uint32_t>(expected.size()), buffer));
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[expected.size()], '#');

  SnmpOid empty{0, nullptr};
  ASSERT_TRUE(SnmpOidToString(&empty, 1, buffer));
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_FALSE(SnmpOidToString(&oid, 0, buffer));
  SnmpOid broken{2, nullptr};
  EXPECT_FALSE(SnmpOidToString(&broken, sizeof buffer, buffer));

  // Every digit count, and the widths where a pair of digits gives way to a single one.
  uint32_t widths[] = {0, 9, 10, 99, 100, 101, 1000, 99999, 1000000000};
  SnmpOid wide{9, widths};
  char text[64];
  ASSERT_TRUE(SnmpOidToString(&wide, sizeof text, text));
  EXPECT_STREQ(text, "0.9.10.99.100.101.1000.99999.1000000000");

  SnmpOid parsed{0, nullptr};
  ASSERT_TRUE(SnmpOidToString(&oid, sizeof buffer, buffer));
  ASSERT_TRUE(SnmpStringToOid(buffer, &parsed));
  EXPECT_EQ(parsed.count, 3u);
  SnmpFreeValue(ORVU_SYNTAX_OID, &parsed);
}

// Each text is formatted after the one before it, whose text may share a beginning with it.
TEST(SnmpOidToString, FollowsTheOidBeforeItWhereverTheyPart) {
  auto dotted = [](const std::vector<uint32_t>& ids) {
    std::string text;
    for (size_t i = 0; i < ids.size(); ++i) text += (i ? "." : "") + std::to_string(ids[i]);
    return text;
  };
  std::vector<uint32_t> deep(100);
  for (size_t i = 0; i < deep.size(); ++i) deep[i] = static_cast<uint32_t>(i * 7919);
  std::vector<uint32_t> deepOther = deep;
  deepOther[80] = 1;
  std::vector<std::vector<uint32_t>> sequence = {
      {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 2, 7},
      {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 3, 7},     // parts near the end
      {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 3, 7},     // the same again
      {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 3, 70},    // one id wider
      {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 3},        // shorter: a prefix of the one before
      {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 3, 7, 8},  // longer
      {2, 3, 6, 1},                                     // parts at the first id
      {},
      {2},
      deep,  // longer than what is remembered
      deepOther,
      deep,
      {0, 0}};
  char buffer[1200];
  for (const std::vector<uint32_t>& ids : sequence) {
    SnmpOid oid{static_cast<uint32_t>(ids.size()), const_cast<uint32_t*>(ids.data())};
    ASSERT_TRUE(SnmpOidToString(&oid, sizeof buffer, buffer));
    EXPECT_EQ(std::string(buffer), dotted(ids));
  }
  // Refused for want of room, also where the beginning is copied; the next call is not misled.
  std::vector<uint32_t> table = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 4, 12};
  SnmpOid oid{static_cast<uint32_t>(table.size()), table.data()};
  ASSERT_TRUE(SnmpOidToString(&oid, sizeof buffer, buffer));
  const std::string expected = dotted(table);
  for (size_t room : {size_t{3}, expected.size() - 2, expected.size()}) {
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_FALSE(SnmpOidToString(&oid, static_cast<uint32_t>(room), buffer));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[room], '#');
  }
  table[12] = 123456;
  ASSERT_TRUE(SnmpOidToString(&oid, sizeof buffer, buffer));
  EXPECT_EQ(std::string(buffer), dotted(table));
  // Past what is remembered, the room is checked sub-identifier by sub-identifier.
  SnmpOid deepOid{static_cast<uint32_t>(deep.size()), deep.data()};
  const std::string deepText = dotted(deep);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_FALSE(SnmpOidToString(&deepOid, static_cast<uint32_t>(deepText.size()), buffer));
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[deepText.size()], '#');
  ASSERT_TRUE(SnmpOidToString(&deepOid, static_cast<uint32_t>(deepText.size() + 1), buffer));
  EXPECT_EQ(std::string(buffer), deepText);
}

TEST(SnmpFreeValue, ReleasesByteAndOidPairsOnly) {
  for (uint32_t syntax : {4u, 6u, 64u, 68u, 69u}) {
    SnmpValue value{syntax, 4, reinterpret_cast<uintptr_t>(std::malloc(4))};
    EXPECT_EQ(SnmpFreeValue(syntax, &value.number), 1);
    EXPECT_EQ(value.number, 0u);
    EXPECT_EQ(value.data, 0u);
  }
  SnmpValue counter{ORVU_SYNTAX_CNTR64, 1, 0xFFFFFFFFu};
  EXPECT_EQ(SnmpFreeValue(ORVU_SYNTAX_CNTR64, &counter.number), 1);
  EXPECT_EQ(counter.number, 1u);
  EXPECT_EQ(counter.data, 0xFFFFFFFFu);
  SnmpValue integer{ORVU_SYNTAX_INTEGER, 5, 0};
  EXPECT_EQ(SnmpFreeValue(ORVU_SYNTAX_INTEGER, &integer.number), 1);
  EXPECT_EQ(integer.number, 5u);
  SnmpValue empty{ORVU_SYNTAX_OCTETS, 0, 0};
  EXPECT_EQ(SnmpFreeValue(ORVU_SYNTAX_OCTETS, &empty.number), 1);
  EXPECT_EQ(SnmpFreeValue(ORVU_SYNTAX_OID, nullptr), 0);
}

}  // namespace
