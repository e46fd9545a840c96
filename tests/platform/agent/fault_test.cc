#include <cstdlib>
#include <cstring>
#include <string>

#include "framework_fixture.h"

namespace orvu::test {
namespace {

// Read by the library at its first fault check, which comes after this is set.
const int gFaults = setenv("ORVU_FAULTS",
                           "AgentGetVersionInfo=2;AgentEnableTableEntry=0/1234;AgentGetData=0/77@2;"
                           "AgentErrorText=0@2",
                           1);

using FaultTest = AgentTest;

TEST_F(FaultTest, InjectedFaultsReplaceTheOperationsResults) {
  ASSERT_EQ(gFaults, 0);
  AgentVersionInfo info{};
  info.size = sizeof info;
  EXPECT_EQ(AgentGetVersionInfo(&info), 2);
  EXPECT_EQ(info.enterpriseNumber, 0);

  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  uint32_t instanceHandle = 0;
  uint32_t entryHandle = CreateInstance(agent, 50, &instanceHandle);
  EXPECT_EQ(AgentEnableTableEntry(agent, 0, entryHandle, instanceHandle, 8), 0);
  EXPECT_EQ(AgentGetLastError(), 1234);
  char buffer[512];
  EXPECT_STREQ(AgentErrorText(1234, buffer, sizeof buffer),
               "injected fault in AgentEnableTableEntry (error code 1234)");

  TestOid leaf = LeafOid(3, {50});
  uint32_t data = AgentGetDataHandle(agent, 0, leaf.Ptr());
  SnmpOid oid{};
  SnmpValue value{};
  EXPECT_EQ(AgentGetData(agent, data, &oid, &value), 1);
  AgentFreeValue(ORVU_SYNTAX_OID, &oid);
  EXPECT_EQ(AgentGetData(agent, data, &oid, &value), 0);
  EXPECT_EQ(AgentGetLastError(), 77);
  EXPECT_EQ(AgentGetData(agent, data, &oid, &value), 1);
  AgentFreeValue(ORVU_SYNTAX_OID, &oid);

  EXPECT_NE(AgentErrorText(77, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "injected fault in AgentErrorText (error code 77)");
}

}  // namespace
}  // namespace orvu::test
