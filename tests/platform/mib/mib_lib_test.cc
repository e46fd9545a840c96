// The MIB library's five operations over the sample module.
#include "orvu/mib_lib.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "../../test_environment.h"
#include "orvu/snmp_util.h"

namespace {

// The library reads the path once, at its first call.
class MibPathEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { SetTestVariable("ORVU_MIB_PATH", ORVU_TEST_MIB_DIR); }
};
const auto* const MIB_PATH_ENVIRONMENT =
    ::testing::AddGlobalTestEnvironment(new MibPathEnvironment);

std::string NameOf(uint32_t handle) {
  char buffer[500];
  uint32_t size = sizeof buffer;
  return MibGetObjectName(handle, 2, &size, buffer) ? buffer : "<none>";
}

std::string LastReason(uint32_t size = 2048) {
  std::string buffer(size, 'x');
  int given = MibGetLastReason(buffer.data(), size);
  return given ? buffer.c_str() : "<none>";
}

// The reason of the last failure, cleared by the next success; cut to the caller's buffer, never
// past it.
TEST(MibLibrary, LastReasonNamesTheFailureAndTheClosestName) {
  EXPECT_EQ(MibLoadModule("NO-SUCH-MIB"), 0);
  std::string missing = LastReason();
  EXPECT_EQ(missing.rfind("cannot load NO-SUCH-MIB: module NO-SUCH-MIB not found (tried ", 0), 0u)
      << missing;
  EXPECT_EQ(LastReason(12), "cannot load");
  ASSERT_EQ(MibLoadModule("VORNEL-VNBEEP-MIB"), 1);
  EXPECT_EQ(LastReason(), "<none>");

  EXPECT_EQ(MibLookupName("speakerContrl"), 0u);
  std::string closest = LastReason();
  EXPECT_EQ(closest.rfind("no object speakerContrl in the loaded modules ", 0), 0u) << closest;
  EXPECT_NE(closest.find("VORNEL-VNBEEP-MIB; the closest name is speakerControl"),
            std::string::npos)
      << closest;
  EXPECT_EQ(MibLookupName("zzzzzzzzzzzzzzzzzzzzzzzz"), 0u);
  EXPECT_EQ(LastReason().find("closest"), std::string::npos);
  EXPECT_NE(MibLookupName("speakerControl"), 0u);
  EXPECT_EQ(LastReason(), "<none>");
  char none[1] = {'x'};
  EXPECT_EQ(MibGetLastReason(none, 0), 0);
  EXPECT_EQ(none[0], 'x');
}

TEST(MibLibrary, LoadsAndLooksUpBothWays) {
  ASSERT_EQ(MibLoadModule("VORNEL-VNBEEP-MIB"), 1);
  EXPECT_EQ(MibLoadModule("VORNEL-VNBEEP-MIB"), 1);
  EXPECT_EQ(MibLoadModule("NO-SUCH-MIB"), 0);
  EXPECT_EQ(MibLoadModule(nullptr), 0);

  uint32_t control = MibLookupName("speakerControl");
  ASSERT_NE(control, 0u);
  EXPECT_EQ(MibLookupName("speakerControl.0"), 0u);
  EXPECT_EQ(MibLookupName("nothingLikeThis"), 0u);
  EXPECT_EQ(MibLookupName(nullptr), 0u);
  EXPECT_EQ(MibLookupName("VORNEL-VNBEEP-MIB::speakerControl"), control);
  EXPECT_EQ(MibLookupName("SNMPv2-SMI::speakerControl"), 0u);
  EXPECT_EQ(MibLookupName("NO-SUCH-MIB::speakerControl"), 0u);
  EXPECT_EQ(MibLookupName("VORNEL-VNBEEP-MIB::"), 0u);
  EXPECT_EQ(MibLookupName("::speakerControl"), 0u);

  SnmpOid oid{123, nullptr};
  ASSERT_EQ(MibGetObjectOid(control, 3, &oid), 1);
  char text[64];
  ASSERT_TRUE(SnmpOidToString(&oid, sizeof text, text));
  EXPECT_STREQ(text, "1.3.6.1.4.1.32473.99.1.4");
  EXPECT_EQ(MibLookupOid(&oid), control);
  EXPECT_EQ(NameOf(control), "speakerControl");

  oid.count -= 1;
  EXPECT_EQ(NameOf(MibLookupOid(&oid)), "speakerObjects");
  oid.count = 2;
  EXPECT_EQ(NameOf(MibLookupOid(&oid)), "org");
  oid.count = 9;
  oid.ids[8] = 77;
  EXPECT_EQ(MibLookupOid(&oid), 0u);
  SnmpFreeValue(ORVU_SYNTAX_OID, &oid);

  SnmpOid entry{0, nullptr};
  ASSERT_TRUE(SnmpStringToOid("1.3.6.1.4.1.32473.99.1.9.1.2", &entry));
  EXPECT_EQ(NameOf(MibLookupOid(&entry)), "speakerFreqDescr");
  SnmpFreeValue(ORVU_SYNTAX_OID, &entry);
  SnmpOid none{0, nullptr};
  EXPECT_EQ(MibLookupOid(&none), 0u);
  SnmpOid broken{3, nullptr};
  EXPECT_EQ(MibLookupOid(&broken), 0u);
  EXPECT_EQ(MibLookupOid(nullptr), 0u);
}

TEST(MibLibrary, RefusesOtherFormsAndUnknownHandles) {
  ASSERT_EQ(MibLoadModule("VORNEL-VNBEEP-MIB"), 1);
  uint32_t control = MibLookupName("speakerControl");
  SnmpOid oid{0, nullptr};
  EXPECT_EQ(MibGetObjectOid(control, 2, &oid), 0);
  EXPECT_EQ(MibGetObjectOid(0, 3, &oid), 0);
  EXPECT_EQ(MibGetObjectOid(0xFFFFFFFFu, 3, &oid), 0);
  EXPECT_EQ(MibGetObjectOid(control, 3, nullptr), 0);
  EXPECT_EQ(oid.ids, nullptr);

  char buffer[500];
  uint32_t size = sizeof buffer;
  EXPECT_EQ(MibGetObjectName(control, 3, &size, buffer), 0);
  EXPECT_EQ(MibGetObjectName(0, 2, &size, buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(MibGetObjectName(control, 2, nullptr, buffer), 0);
  EXPECT_EQ(MibGetObjectName(control, 2, &size, nullptr), 0);
}

TEST(MibLibrary, ObjectNameStaysWithinTheGivenSize) {
  ASSERT_EQ(MibLoadModule("VORNEL-VNBEEP-MIB"), 1);
  uint32_t control = MibLookupName("speakerControl");
  const std::string name = "speakerControl";
  char buffer[32];

  std::memset(buffer, '#', sizeof buffer);
  uint32_t size = static_cast<uint32_t>(name.size() + 1);
  EXPECT_EQ(MibGetObjectName(control, 2, &size, buffer), 1);
  EXPECT_EQ(std::string(buffer), name);
  EXPECT_EQ(buffer[name.size() + 1], '#');
  EXPECT_EQ(size, name.size() + 1);

  std::memset(buffer, '#', sizeof buffer);
  size = static_cast<uint32_t>(name.size());
  EXPECT_EQ(MibGetObjectName(control, 2, &size, buffer), 0);
  EXPECT_EQ(std::string(buffer), name.substr(0, name.size() - 1));
  EXPECT_EQ(buffer[name.size()], '#');

  size = 1;
  EXPECT_EQ(MibGetObjectName(control, 2, &size, buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
  size = 0;
  buffer[0] = '#';
  EXPECT_EQ(MibGetObjectName(control, 2, &size, buffer), 0);
  EXPECT_EQ(buffer[0], '#');
}

}  // namespace
