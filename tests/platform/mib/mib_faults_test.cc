// Every operation of the two libraries answers an injected fault before doing its work, and
// takes its /CODE as the last error.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <string>

#include "../../test_environment.h"
#include "orvu/mib_lib.h"
#include "orvu/snmp_util.h"

namespace {

class FaultEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    SetTestVariable("ORVU_MIB_PATH", ORVU_TEST_MIB_DIR);
    SetTestVariable("ORVU_FAULTS",
                    "MibLoadModule=0@1;MibLookupName=7@2;MibGetObjectOid=0@1;MibLookupOid=9@1;"
                    "MibGetObjectName=0/4321@1;"
                    "SnmpStringToOid=0@1;SnmpOidToString=0/5@1;SnmpFreeValue=5@1");
  }
};
const auto* const FAULT_ENVIRONMENT = ::testing::AddGlobalTestEnvironment(new FaultEnvironment);

TEST(MibFaults, EachOperationFailsOnTheChosenCall) {
  EXPECT_EQ(MibLoadModule("VORNEL-VNBEEP-MIB"), 0);
  EXPECT_EQ(MibLoadModule("VORNEL-VNBEEP-MIB"), 1);

  uint32_t control = MibLookupName("speakerControl");
  EXPECT_NE(control, 0u);
  EXPECT_EQ(MibLookupName("speakerControl"), 7u);
  EXPECT_EQ(MibLookupName("speakerControl"), control);

  SnmpOid oid{0, nullptr};
  EXPECT_EQ(MibGetObjectOid(control, 3, &oid), 0);
  EXPECT_EQ(oid.ids, nullptr);
  ASSERT_EQ(MibGetObjectOid(control, 3, &oid), 1);
  EXPECT_EQ(MibLookupOid(&oid), 9u);
  EXPECT_EQ(MibLookupOid(&oid), control);

  char buffer[500];
  uint32_t size = sizeof buffer;
  errno = 0;
  EXPECT_EQ(MibGetObjectName(control, 2, &size, buffer), 0);
  EXPECT_EQ(errno, 4321);
  EXPECT_EQ(MibGetLastReason(buffer, sizeof buffer), 1);
  EXPECT_EQ(std::string(buffer), "injected fault in MibGetObjectName (error code 4321)");
  EXPECT_EQ(MibGetObjectName(control, 2, &size, buffer), 1);

  errno = 0;
  EXPECT_EQ(SnmpOidToString(&oid, sizeof buffer, buffer), 0);
  EXPECT_EQ(errno, 5);
  EXPECT_EQ(SnmpOidToString(&oid, sizeof buffer, buffer), 1);
  SnmpOid parsed{0, nullptr};
  EXPECT_EQ(SnmpStringToOid(buffer, &parsed), 0);
  EXPECT_EQ(parsed.ids, nullptr);
  ASSERT_EQ(SnmpStringToOid(buffer, &parsed), 1);
  EXPECT_EQ(SnmpFreeValue(ORVU_SYNTAX_OID, &parsed), 5);
  EXPECT_NE(parsed.ids, nullptr);
  EXPECT_EQ(SnmpFreeValue(ORVU_SYNTAX_OID, &parsed), 1);
  EXPECT_EQ(SnmpFreeValue(ORVU_SYNTAX_OID, &oid), 1);
}

}  // namespace
