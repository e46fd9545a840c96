// The blocks that the tool attaches, and those the two libraries hand out, go back through the
// real SnmpFreeValue of the built library: one allocator for all of them (the process heap on
// Windows, checked there block by block).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "agentapi/outside_api.h"
#include "agentapi/outside_binding.h"
#include "values/parse_value.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The (number, data) pair of a value has the shape of an SnmpOid.
SnmpOid* PairOf(SnmpValue* value) { return reinterpret_cast<SnmpOid*>(&value->number); }

void ExpectSharedBlock(const void* block) {
  ASSERT_NE(block, nullptr);
#ifdef _WIN32
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, block)) << "not a block of the process heap";
#endif
}

class ReleaseThroughLibrary : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(BindOutsideLibraries(), 1); }
};

TEST_F(ReleaseThroughLibrary, ConvertedValuesOfEverySyntaxWithABlock) {
  struct Case {
    SnmpSyntax syntax;
    const char* text;
  };
  for (const Case& c : {Case{SYNTAX_OCTETS, "Some octets"}, Case{SYNTAX_OID, "1.3.6.1.4.1.32473"},
                        Case{SYNTAX_IPADDR, "192.0.2.1"}, Case{SYNTAX_OPAQUE, "1.2.3.4"},
                        Case{SYNTAX_NSAPADDR, "47.00.05"}}) {
    SCOPED_TRACE(c.text);
    SnmpValue value{c.syntax, 0, 0};
    ASSERT_EQ(ParseValueText(&value, c.text), 1);
    ExpectSharedBlock(reinterpret_cast<const void*>(value.data));
    gApi.SnmpFreeValue(value.syntax, PairOf(&value));
    EXPECT_EQ(value.number, 0u);
    EXPECT_EQ(value.data, 0u);
  }
}

TEST_F(ReleaseThroughLibrary, OidsOfBothLibraries) {
  SnmpOid converted{};
  ASSERT_EQ(gApi.SnmpStringToOid("1.3.6.1.4.1.32473.99.1.4", &converted), 1);
  ExpectSharedBlock(converted.ids);
  gApi.SnmpFreeValue(SYNTAX_OID, &converted);
  EXPECT_EQ(converted.ids, nullptr);

  ASSERT_NE(gApi.MibLoadModule("VORNEL-VNBEEP-MIB"), 0);
  uint32_t object = gApi.MibLookupName("speakerControl");
  ASSERT_NE(object, 0u);
  SnmpOid resolved{};
  ASSERT_NE(gApi.MibGetObjectOid(object, MIB_FORM_OID, &resolved), 0);
  ExpectSharedBlock(resolved.ids);
  EXPECT_EQ(resolved.count, 10u);
  gApi.SnmpFreeValue(SYNTAX_OID, &resolved);
  EXPECT_EQ(resolved.ids, nullptr);
}

}  // namespace
