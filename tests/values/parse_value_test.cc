#include "values/parse_value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "values/value_block.h"

namespace {

struct Parsed {
  int result;
  SnmpValue value;
  std::vector<unsigned char> bytes;
  std::vector<uint32_t> ids;
};

// Converts TEXT and takes the attached block apart, releasing it the way SnmpFreeValue would.
Parsed Parse(SnmpSyntax syntax, const std::string& text, uint32_t number = 0, uintptr_t data = 0) {
  Parsed parsed{0, {syntax, number, data}, {}, {}};
  parsed.result = ParseValueText(&parsed.value, text.c_str());
  bool block = syntax == SYNTAX_OCTETS || syntax == SYNTAX_OID || syntax == SYNTAX_IPADDR ||
               syntax == SYNTAX_OPAQUE || syntax == SYNTAX_NSAPADDR;
  if (block && parsed.value.data != 0) {
    auto* p = reinterpret_cast<unsigned char*>(parsed.value.data);
    if (syntax == SYNTAX_OID) {
      auto* ids = reinterpret_cast<uint32_t*>(p);
      parsed.ids.assign(ids, ids + parsed.value.number);
    } else {
      parsed.bytes.assign(p, p + parsed.value.number);
    }
    ReleaseValueBlock(p);
  }
  return parsed;
}

TEST(ParseValueText, IntegerWrapsModulo32Bits) {
  struct Case {
    const char* text;
    uint32_t number;
  };
  for (Case c :
       {Case{"4294967295", 0xFFFFFFFFu}, Case{"-5", static_cast<uint32_t>(-5)}, Case{"12abc", 12},
        Case{"abc", 0}, Case{"", 0}, Case{" \t+7", 7}, Case{"4294967296", 0}, Case{"4294967297", 1},
        Case{"-2147483648", 0x80000000u}, Case{"+-5", 0}}) {
    Parsed p = Parse(SYNTAX_INTEGER, c.text);
    EXPECT_EQ(p.result, 1) << c.text;
    EXPECT_EQ(p.value.number, c.number) << c.text;
  }
}

TEST(ParseValueText, UnsignedSyntaxesSaturateThenNegate) {
  struct Case {
    const char* text;
    uint32_t number;
  };
  for (SnmpSyntax syntax : {SYNTAX_CNTR32, SYNTAX_GAUGE32, SYNTAX_TIMETICKS}) {
    for (Case c : {Case{"4294967295", 0xFFFFFFFFu}, Case{"4294967296", 0xFFFFFFFFu},
                   Case{"99999999999999999999999", 0xFFFFFFFFu}, Case{"-1", 0xFFFFFFFFu},
                   Case{"-4294967296", 1}, Case{" 42x", 42}, Case{"none", 0}}) {
      Parsed p = Parse(syntax, c.text);
      EXPECT_EQ(p.result, 1) << syntax << " " << c.text;
      EXPECT_EQ(p.value.number, c.number) << syntax << " " << c.text;
    }
  }
}

TEST(ParseValueText, OctetsCopyTheTextWithoutTerminator) {
  Parsed p = Parse(SYNTAX_OCTETS, "Some octets");
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(std::string(p.bytes.begin(), p.bytes.end()), "Some octets");

  Parsed empty = Parse(SYNTAX_OCTETS, "");
  EXPECT_EQ(empty.result, 1);
  EXPECT_EQ(empty.value.number, 0u);
  EXPECT_EQ(empty.value.data, 0u);
}

TEST(ParseValueText, OidDottedList) {
  using Ids = std::vector<uint32_t>;
  struct Case {
    const char* text;
    Ids ids;
  };
  for (Case c :
       {Case{"1.3.6.1", {1, 3, 6, 1}}, Case{"1.3.6.1.", {1, 3, 6, 1}}, Case{"1.3x.6", {1, 3, 6}},
        Case{" 1. 3.-1", {1, 3, 0xFFFFFFFFu}}, Case{"4294967296", {0}}}) {
    Parsed p = Parse(SYNTAX_OID, c.text);
    EXPECT_EQ(p.result, 1) << c.text;
    EXPECT_EQ(p.ids, c.ids) << c.text;
  }
  for (const char* text : {".1.3", "1..3", "", "   ", "1. ", "1.3..", "x"}) {
    Parsed p = Parse(SYNTAX_OID, text);
    EXPECT_EQ(p.result, 0) << text;
    EXPECT_EQ(p.value.number, 0u) << text;
  }
}

std::string DottedOnes(size_t count) {
  std::string text = "1";
  for (size_t i = 1; i < count; ++i) text += ".1";
  return text;
}

TEST(ParseValueText, OidWorkAreaLimit) {
  EXPECT_EQ(Parse(SYNTAX_OID, DottedOnes(1408)).ids.size(), 1408u);
  EXPECT_EQ(Parse(SYNTAX_OID, DottedOnes(1408) + ".").result, 1);
  Parsed longer = Parse(SYNTAX_OID, DottedOnes(1409));
  EXPECT_EQ(longer.result, 0);
  EXPECT_EQ(longer.value.data, 0u);
  EXPECT_EQ(Parse(SYNTAX_OID, DottedOnes(5000)).result, 0);
}

TEST(ParseValueText, AddressAndOpaqueTakeExactlyFourBytes) {
  using Bytes = std::vector<unsigned char>;
  struct Case {
    const char* text;
    Bytes bytes;
  };
  for (SnmpSyntax syntax : {SYNTAX_IPADDR, SYNTAX_OPAQUE}) {
    for (Case c : {Case{"10.0.0.1", {10, 0, 0, 1}}, Case{"10.0.0.1.", {10, 0, 0, 1}},
                   Case{"1.2.3.300", {1, 2, 3, 44}}, Case{"1.2.3.-1", {1, 2, 3, 255}}}) {
      Parsed p = Parse(syntax, c.text);
      EXPECT_EQ(p.result, 1) << syntax << " " << c.text;
      EXPECT_EQ(p.bytes, c.bytes) << syntax << " " << c.text;
    }
    for (const char* text : {"10.0.0", "10.0.0.1.5", "10.0.0.1.x", "10..0.1", "", "1.2.3.4.."}) {
      Parsed p = Parse(syntax, text);
      EXPECT_EQ(p.result, 0) << syntax << " " << text;
    }
  }
}

TEST(ParseValueText, Counter64HalvesReadAsHex) {
  Parsed p = Parse(SYNTAX_CNTR64, "1.ffffffff");
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(p.value.number, 1u);
  EXPECT_EQ(p.value.data, 0xFFFFFFFFu);

  // A half that does not read keeps what the record held.
  struct Case {
    const char* text;
    uint32_t number;
    uintptr_t data;
  };
  for (Case c : {Case{"zz", 7, 9}, Case{"ab", 0xAB, 9}, Case{"ab.zz", 0xAB, 9},
                 Case{"123456789.1", 0x12345678, 9}, Case{"", 7, 9}}) {
    Parsed q = Parse(SYNTAX_CNTR64, c.text, 7, 9);
    EXPECT_EQ(q.result, 1) << c.text;
    EXPECT_EQ(q.value.number, c.number) << c.text;
    EXPECT_EQ(q.value.data, c.data) << c.text;
  }
}

TEST(ParseValueText, NsapAddressInPrintedForm) {
  Parsed p = Parse(SYNTAX_NSAPADDR, "47.00.0A.ff");
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(p.bytes, (std::vector<unsigned char>{0x47, 0x00, 0x0A, 0xFF}));

  Parsed empty = Parse(SYNTAX_NSAPADDR, "");
  EXPECT_EQ(empty.result, 1);
  EXPECT_EQ(empty.value.number, 0u);
  EXPECT_EQ(empty.value.data, 0u);

  for (const char* text :
       {"4", "47.", "47.0", "4700", ".47", "47..00", "xy", " 47", "47.00 (hex)"}) {
    Parsed q = Parse(SYNTAX_NSAPADDR, text);
    EXPECT_EQ(q.result, 0) << text;
    EXPECT_EQ(q.value.data, 0u) << text;
  }
}

TEST(ParseValueText, NullAndExceptionsIgnoreTheText) {
  for (SnmpSyntax syntax :
       {SYNTAX_NULL, SYNTAX_NOSUCHOBJECT, SYNTAX_NOSUCHINSTANCE, SYNTAX_ENDOFMIBVIEW}) {
    Parsed p = Parse(syntax, "anything 12");
    EXPECT_EQ(p.result, 1) << syntax;
    EXPECT_EQ(p.value.number, 0u) << syntax;
  }
}

TEST(ParseValueText, UnknownSyntaxFailsAndLeavesTheRecord) {
  for (SnmpSyntax syntax : {SnmpSyntax{3}, SnmpSyntax{7}, SnmpSyntax{131}, SYNTAX_UNDEFINED}) {
    Parsed p = Parse(syntax, "1.2.3.4", 5, 6);
    EXPECT_EQ(p.result, 0) << syntax;
    EXPECT_EQ(p.value.number, 5u) << syntax;
    EXPECT_EQ(p.value.data, 6u) << syntax;
  }
}

}  // namespace
