#include "framework_fixture.h"
#include "protocol/agent_errors.h"

namespace orvu::test {
namespace {

using TablesTest = AgentTest;

TEST_F(TablesTest, InstanceLifecycle) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  TestOid entry = EntryOid();
  TestOid instance{50};
  uint32_t instanceHandle = 0;
  uint32_t entryHandle =
      AgentCreateTableEntry(agent, 0, 0, entry.Ptr(), instance.Ptr(), &instanceHandle);
  ASSERT_NE(entryHandle, 0u) << LastErrorText();
  ASSERT_NE(instanceHandle, 0u);
  EXPECT_EQ(AgentFindTableEntry(agent, entry.Ptr()), entryHandle);
  EXPECT_EQ(AgentFindTableInstance(agent, entryHandle, instance.Ptr()), instanceHandle);

  ASSERT_EQ(AgentEnableTableEntry(agent, 0, entryHandle, instanceHandle, 8), 1) << LastErrorText();
  TableInstanceInfo info{};
  info.size = sizeof info;
  ASSERT_NE(AgentEnumTableInstances(agent, 0, entryHandle, &info), 0);
  ASSERT_NE(AgentEnumTableInstances(agent, 1, entryHandle, &info), 0);
  EXPECT_EQ(info.instanceHandle, instanceHandle);
  EXPECT_EQ(info.reserved, 8u);

  uint32_t again = 0;
  EXPECT_EQ(AgentCreateTableEntry(agent, 0, 0, entry.Ptr(), instance.Ptr(), &again), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_INSTANCE_EXISTS);
  EXPECT_EQ(LastErrorText(), "instance already exists: 50");

  EXPECT_EQ(AgentRemoveTableEntry(agent, 0, entryHandle, instanceHandle), 1) << LastErrorText();
  EXPECT_EQ(AgentRemoveTableEntry(agent, 0, entryHandle, instanceHandle), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_INSTANCE);
  EXPECT_EQ(AgentFindTableInstance(agent, entryHandle, instance.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_INSTANCE);
  EXPECT_EQ(AgentEnableTableEntry(agent, 0, entryHandle, instanceHandle, 8), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_INSTANCE);
}

TEST_F(TablesTest, OidsThatNameNoEntryOrNoInstanceAreRefused) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  TestOid scalar(std::vector<uint32_t>(std::begin(CONTROL_IDS), std::end(CONTROL_IDS)));
  TestOid instance{1};
  uint32_t instanceHandle = 0;
  EXPECT_EQ(AgentCreateTableEntry(agent, 0, 0, scalar.Ptr(), instance.Ptr(), &instanceHandle), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(LastErrorText(), "no such table entry: 1.3.6.1.4.1.32473.99.1.4");
  EXPECT_EQ(AgentFindTableEntry(agent, scalar.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_ENTRY);

  TestOid entry = EntryOid();
  TestOid empty(std::vector<uint32_t>{});
  EXPECT_EQ(AgentCreateTableEntry(agent, 0, 0, entry.Ptr(), empty.Ptr(), &instanceHandle), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_BAD_INSTANCE);
  EXPECT_EQ(AgentCreateTableEntry(agent, 0, 0, entry.Ptr(), nullptr, &instanceHandle), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_BAD_ARGUMENT);
  EXPECT_EQ(AgentCreateTableEntry(agent, 0, 0, entry.Ptr(), instance.Ptr(), nullptr), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_BAD_ARGUMENT);

  EXPECT_EQ(AgentFindTableInstance(agent, 12345, instance.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(AgentRemoveTableEntry(agent, 0, 12345, 1), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_ENTRY);
  EXPECT_EQ(AgentFindTableEntry(77, entry.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_BAD_CONNECTION);
}

}  // namespace
}  // namespace orvu::test
