#include "values/print_var_bind.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_libraries.h"

namespace {

using Ids = std::vector<uint32_t>;
using Bytes = std::vector<unsigned char>;

struct Printed {
  int result;
  std::string text;
};

Printed Print(Ids oidIds, SnmpValue value, uint8_t flags) {
  testing::internal::CaptureStdout();
  int result =
      PrintVarBind(SnmpOid{static_cast<uint32_t>(oidIds.size()), oidIds.data()}, value, flags);
  return {result, testing::internal::GetCapturedStdout()};
}

SnmpValue Number(SnmpSyntax syntax, uint32_t number, uintptr_t data = 0) {
  return {syntax, number, data};
}

SnmpValue Block(SnmpSyntax syntax, Bytes& bytes) {
  return {syntax, static_cast<uint32_t>(bytes.size()), reinterpret_cast<uintptr_t>(bytes.data())};
}

SnmpValue OidValue(Ids& ids) {
  return {SYNTAX_OID, static_cast<uint32_t>(ids.size()), reinterpret_cast<uintptr_t>(ids.data())};
}

std::string ValueText(SnmpValue value) { return Print({}, value, PRINT_VALUE).text; }

class PrintVarBindTest : public testing::Test {
 protected:
  void SetUp() override {
    mib_ = &InstallFakeLibraries();
    mib_->namesByOid[{1}] = "iso";
    mib_->namesByOid[{1, 3, 6, 1}] = "internet";
    mib_->namesByOid[{1, 3, 6, 1, 4, 1, 32473}] = "example";
  }
  FakeLibraries* mib_ = nullptr;
};

TEST_F(PrintVarBindTest, PartsFollowTheFlagOrder) {
  EXPECT_EQ(Print({1, 3, 6, 1}, Number(SYNTAX_INTEGER, 2), 0).text, "");
  EXPECT_EQ(Print({1, 3, 6, 1}, Number(SYNTAX_INTEGER, 2), 0).result, 1);
  EXPECT_EQ(Print({1, 3, 6, 1}, Number(SYNTAX_INTEGER, 2), 0x1d).text,
            "1.3.6.1 **** (int,int32) 2");
  EXPECT_EQ(Print({1, 3, 6, 1, 9}, Number(SYNTAX_GAUGE32, 7), 0xff).text,
            "\n1.3.6.1.9internet.9 **** (gauge32) 7");
  EXPECT_EQ(Print({1, 3, 6, 1}, Number(SYNTAX_NULL, 0), PRINT_MARKER | PRINT_NEWLINE).text,
            "\n **** ");
}

TEST_F(PrintVarBindTest, UnknownSyntax) {
  EXPECT_EQ(Print({1}, Number(3, 0), PRINT_SYNTAX).text, " ");
  Printed withValue = Print({1}, Number(3, 0), PRINT_SYNTAX | PRINT_VALUE | PRINT_OID_NUMERIC);
  EXPECT_EQ(withValue.result, 0);
  EXPECT_EQ(withValue.text, "");
  EXPECT_EQ(Print({1}, Number(SYNTAX_UNDEFINED, 0), PRINT_OID_NUMERIC).text, "1");
}

TEST_F(PrintVarBindTest, NumbersAndFixedTexts) {
  EXPECT_EQ(ValueText(Number(SYNTAX_INTEGER, 0xFFFFFFFFu)), "-1");
  EXPECT_EQ(ValueText(Number(SYNTAX_INTEGER, 0x80000000u)), "-2147483648");
  EXPECT_EQ(ValueText(Number(SYNTAX_CNTR32, 0xFFFFFFFFu)), "4294967295");
  EXPECT_EQ(ValueText(Number(SYNTAX_GAUGE32, 0x80000000u)), "2147483648");
  EXPECT_EQ(ValueText(Number(SYNTAX_CNTR64, 1, 0xAB)), "1.ab (hex)");
  EXPECT_EQ(ValueText(Number(SYNTAX_CNTR64, 0, 0)), "0.0 (hex)");
  EXPECT_EQ(ValueText(Number(SYNTAX_CNTR64, 0xFFFFFFFFu, 0x10)), "ffffffff.10 (hex)");
  EXPECT_EQ(ValueText(Number(SYNTAX_NULL, 5)), "NULL");
  EXPECT_EQ(ValueText(Number(SYNTAX_NOSUCHOBJECT, 0)), "NOSUCHOBJECT");
  EXPECT_EQ(ValueText(Number(SYNTAX_NOSUCHINSTANCE, 0)), "NOSUCHINSTANCE");
  EXPECT_EQ(ValueText(Number(SYNTAX_ENDOFMIBVIEW, 0)), "ENDOFMIBVIEW");
}

TEST_F(PrintVarBindTest, TimeTicksAsDuration) {
  struct Case {
    uint32_t ticks;
    const char* text;
  };
  for (Case c :
       {Case{0, "0 days 00h:00m:00s.00th"}, Case{8640000, "1 day 00h:00m:00s.00th"},
        Case{8639999, "0 days 23h:59m:59s.99th"}, Case{17280000, "2 days 00h:00m:00s.00th"},
        Case{360000, "0 days 01h:00m:00s.00th"}, Case{6101, "0 days 00h:01m:01s.01th"},
        Case{4294967295u, "497 days 02h:27m:52s.95th"}}) {
    EXPECT_EQ(ValueText(Number(SYNTAX_TIMETICKS, c.ticks)), c.text);
  }
}

TEST_F(PrintVarBindTest, OctetsAsTextOrHex) {
  struct Case {
    Bytes bytes;
    const char* text;
  };
  for (Case c :
       {Case{{'a', 'b', 'c'}, "abc"}, Case{{'a', 'b', 'c', 0}, "abc"}, Case{{0, 1}, "00.01 (hex)"},
        Case{{'a', 0, 'b'}, "61.00.62 (hex)"}, Case{{'a', 0x80}, "61.80 (hex)"},
        Case{{'a', 0x7f}, "61.7f (hex)"}, Case{{'a', 0, 0}, "61.00.00 (hex)"},
        Case{{'a', '\t', 'b', '\n', '\r'}, "a\tb\n\r"}, Case{{' ', '~', 0x0b, 0x0c}, " ~\x0b\x0c"},
        Case{{0x08}, "08 (hex)"}, Case{{0}, ""}, Case{{}, "(zero-length)"}}) {
    EXPECT_EQ(ValueText(Block(SYNTAX_OCTETS, c.bytes)), c.text);
  }
}

TEST_F(PrintVarBindTest, AddressesAndOpaqueBytes) {
  Bytes ip{10, 0, 0, 1}, ip5{1, 2, 3, 4, 255}, none{}, opaque{1, 171};
  EXPECT_EQ(ValueText(Block(SYNTAX_IPADDR, ip)), "10.0.0.1");
  EXPECT_EQ(ValueText(Block(SYNTAX_IPADDR, ip5)), "1.2.3.4.255");
  EXPECT_EQ(ValueText(Block(SYNTAX_IPADDR, none)), "");
  for (SnmpSyntax syntax : {SYNTAX_OPAQUE, SYNTAX_NSAPADDR}) {
    EXPECT_EQ(ValueText(Block(syntax, opaque)), "01.ab (hex)");
    EXPECT_EQ(ValueText(Block(syntax, none)), " (hex)");
  }
  // A length with no block behind it is shown as empty, never read.
  EXPECT_EQ(ValueText(Number(SYNTAX_OCTETS, 5, 0)), "(zero-length)");
  EXPECT_EQ(ValueText(Number(SYNTAX_OID, 5, 0)), "");
}

TEST_F(PrintVarBindTest, SymbolicOidUsesTheLongestKnownPrefix) {
  Ids none{2, 5, 4}, exact{1, 3, 6, 1}, deeper{1, 3, 6, 1, 4, 1, 32473, 1, 0}, first{1, 2, 840},
      nullOid{0, 0}, zeroFirst{0, 9};
  EXPECT_EQ(ValueText(OidValue(none)), "2.5.4");
  EXPECT_EQ(ValueText(OidValue(exact)), "internet");
  EXPECT_EQ(ValueText(OidValue(deeper)), "example.1.0");
  EXPECT_EQ(ValueText(OidValue(first)), "iso.2.840");
  EXPECT_EQ(ValueText(OidValue(nullOid)), "(null-oid) 0.0");
  EXPECT_EQ(ValueText(OidValue(zeroFirst)), "0.9");
  EXPECT_EQ(Print(first, Number(SYNTAX_NULL, 0), PRINT_OID_NUMERIC | PRINT_OID_SYMBOLIC).text,
            "1.2.840iso.2.840");
  mib_->oidLookups = 0;
  EXPECT_EQ(Print({}, Number(SYNTAX_NULL, 0), PRINT_OID_NUMERIC | PRINT_OID_SYMBOLIC).text, "");
  EXPECT_EQ(mib_->oidLookups, 0);
}

TEST_F(PrintVarBindTest, LongLinesPrintInFull) {
  Bytes octets(683);
  for (size_t i = 0; i < octets.size(); ++i) octets[i] = static_cast<unsigned char>(i * 7);
  std::string hex = ValueText(Block(SYNTAX_OCTETS, octets));
  EXPECT_EQ(hex.size(), 683u * 3 - 1 + 6);
  EXPECT_EQ(hex.substr(0, 9), "00.07.0e.");
  EXPECT_EQ(hex.substr(hex.size() - 9), ".a6 (hex)");

  Ids longOid(300, 4294967295u);
  longOid[0] = 1;
  std::string dotted = DottedDecimal(longOid);
  EXPECT_EQ(Print(longOid, Number(SYNTAX_NULL, 0), PRINT_OID_NUMERIC).text, dotted);
  EXPECT_EQ(Print(longOid, Number(SYNTAX_NULL, 0), PRINT_OID_SYMBOLIC).text,
            "iso" + dotted.substr(1));
  EXPECT_EQ(ValueText(OidValue(longOid)), "iso" + dotted.substr(1));

  // An agent may send OIDs far longer than any MIB object's; the prefix search stays short.
  Ids huge(100000, 1);
  mib_->oidLookups = 0;
  EXPECT_EQ(ValueText(OidValue(huge)).size(), 3 + 2 * (huge.size() - 1));
  EXPECT_LE(mib_->oidLookups, 128);
}

TEST_F(PrintVarBindTest, LongObjectNamePrintsInFull) {
  std::string name(1500, 'n');
  mib_->namesByOid[{1, 3, 6, 1}] = name;
  Ids oid{1, 3, 6, 1, 5};
  EXPECT_EQ(ValueText(OidValue(oid)), name + ".5");
}

}  // namespace
