#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "framework_fixture.h"
#include "protocol/agent_errors.h"

namespace orvu::test {
namespace {

using EnumerationTest = AgentTest;

TEST_F(EnumerationTest, ModulesComeFromOneSnapshot) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  char name[128];
  uint32_t handle = 0;
  ASSERT_NE(AgentEnumModules(agent, 0, name, 127, &handle), 0);
  // The agent is gone: what follows can only come from the snapshot of the index-0 call.
  KillAgent();
  ASSERT_NE(AgentEnumModules(agent, 1, name, 127, &handle), 0);
  EXPECT_STREQ(name, "VORNEL-VNBEEP-MIB");
  EXPECT_EQ(handle, 1u);
  EXPECT_EQ(AgentEnumModules(agent, 2, name, 127, &handle), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_MORE_ENTRIES);
}

TEST_F(EnumerationTest, FreshAgentWithoutModulesServesNone) {
  ASSERT_TRUE(StartAgent({}));
  AgentHandle agent = Connect();
  char name[128];
  uint32_t handle = 0;
  EXPECT_NE(AgentEnumModules(agent, 0, name, 127, &handle), 0);
  EXPECT_EQ(AgentEnumModules(agent, 1, name, 127, &handle), 0);
}

TEST_F(EnumerationTest, ClientsListResidentOnesThenConnectedOnes) {
  std::string longName(300, 'n');
  WriteState(
      "client handle=77 id=78 process-handle=79 process=80 thread-handle=81 thread=82 "
      "time=-86400 flags=4294967295 name=" +
      longName + " file=C:\\orvu\\x%20y.exe\n");
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  AgentHandle other = AgentConnect("second client", 0, 0, 0);
  ASSERT_NE(other, 0u);

  AgentClientInfo info;
  std::memset(&info, 0xAB, sizeof info);
  info.size = sizeof info;
  ASSERT_NE(AgentEnumClients(agent, 0, &info), 0);
  ASSERT_NE(AgentEnumClients(agent, 1, &info), 0);
  EXPECT_EQ(info.clientHandle, 77u);
  EXPECT_EQ(info.threadId, 82u);
  EXPECT_EQ(info.registrationTime, -86400);
  EXPECT_EQ(info.flags, 0xFFFFFFFFu);
  EXPECT_EQ(std::string(info.name), std::string(126, 'n'));
  EXPECT_STREQ(info.fileName, "C:\\orvu\\x y.exe");

  ASSERT_NE(AgentEnumClients(agent, 2, &info), 0);
  EXPECT_STREQ(info.name, "OASetUtility");
  EXPECT_EQ(info.processId, static_cast<uint32_t>(getpid()));
  EXPECT_EQ(info.threadId, static_cast<uint32_t>(syscall(SYS_gettid)));
  EXPECT_EQ(info.registrationTime, TEST_CLOCK);
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  EXPECT_STREQ(info.fileName, self);
  EXPECT_GT(info.clientHandle, 77u);

  ASSERT_NE(AgentEnumClients(agent, 3, &info), 0);
  EXPECT_STREQ(info.name, "second client");
  EXPECT_EQ(AgentEnumClients(agent, 4, &info), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_MORE_ENTRIES);

  // A client that disconnected is gone from the next snapshot.
  EXPECT_EQ(AgentDisconnect(other), 1);
  ASSERT_NE(AgentEnumClients(agent, 0, &info), 0);
  EXPECT_EQ(AgentEnumClients(agent, 3, &info), 0);

  info.size = 400;
  EXPECT_EQ(AgentEnumClients(agent, 1, &info), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_RECORD_SIZE);
}

TEST_F(EnumerationTest, InstancesInIndexOrderWithTheirRecords) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  uint32_t entryHandle = 0;
  for (uint32_t index : {50u, 7u, 300u}) entryHandle = CreateInstance(agent, index);
  TableInstanceInfo info{};
  info.size = sizeof info;
  ASSERT_NE(AgentEnumTableInstances(agent, 0, entryHandle, &info), 0);
  std::vector<uint32_t> order;
  for (uint32_t i = 1; AgentEnumTableInstances(agent, i, entryHandle, &info); ++i) {
    ASSERT_EQ(info.indexOidCount, 1u);
    order.push_back(info.indexOidIds[0]);
    EXPECT_EQ(info.creationTime, TEST_CLOCK);
    EXPECT_EQ(info.leafCount, 16u);
    EXPECT_EQ(info.entryOidCount, 11u);
    EXPECT_EQ(info.entryOidIds[10], 1u);
  }
  EXPECT_EQ(order, (std::vector<uint32_t>{7, 50, 300}));
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_MORE_ENTRIES);
  EXPECT_EQ(AgentEnumTableInstances(agent, 0, 999, &info), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_ENTRY);
}

TEST_F(EnumerationTest, LongOidsAreCountedInFullButCopiedOnlyAsFarAsTheRecordHolds) {
  std::string entry = "1.3.6.1.4.1.32473.98";
  for (int i = 0; i < 130; ++i) entry += "." + std::to_string(i);
  std::string index = "1";
  for (int i = 0; i < 199; ++i) index += ".9";
  WriteState("instance entry=" + entry + " index=" + index +
             " handle=9 creator=4 time=-5 enabled=8 leaves=4000000000\n");
  ASSERT_TRUE(StartAgent({}));
  AgentHandle agent = Connect();
  std::vector<uint32_t> entryIds = {1, 3, 6, 1, 4, 1, 32473, 98};
  for (uint32_t i = 0; i < 130; ++i) entryIds.push_back(i);
  TestOid entryOid(entryIds);
  uint32_t entryHandle = AgentFindTableEntry(agent, entryOid.Ptr());
  ASSERT_NE(entryHandle, 0u) << LastErrorText();

  struct {
    TableInstanceInfo info;
    uint32_t guard[8];
  } record;
  std::memset(&record, 0x5A, sizeof record);
  record.info.size = sizeof record.info;
  ASSERT_NE(AgentEnumTableInstances(agent, 0, entryHandle, &record.info), 0);
  ASSERT_NE(AgentEnumTableInstances(agent, 1, entryHandle, &record.info), 0);
  EXPECT_EQ(record.info.instanceHandle, 9u);
  EXPECT_EQ(record.info.clientHandle, 4u);
  EXPECT_EQ(record.info.creationTime, -5);
  EXPECT_EQ(record.info.reserved, 8u);
  EXPECT_EQ(record.info.leafCount, 4000000000u);
  EXPECT_EQ(record.info.entryOidCount, 138u);
  EXPECT_EQ(record.info.entryOidIds[127], 119u);
  EXPECT_EQ(record.info.indexOidCount, 200u);
  EXPECT_EQ(record.info.indexOidIds[127], 9u);
  for (uint32_t g : record.guard) EXPECT_EQ(g, 0x5A5A5A5Au);
}

}  // namespace
}  // namespace orvu::test
