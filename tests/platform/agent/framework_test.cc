#include <cstring>
#include <string>

#include "framework_fixture.h"
#include "protocol/agent_errors.h"

namespace orvu::test {
namespace {

using FrameworkTest = AgentTest;

bool Terminated(const char* field, size_t width) {
  return std::memchr(field, '\0', width) != nullptr;
}

TEST_F(FrameworkTest, VersionInfoWorksBeforeAndAfterInitAndChecksTheRecordSize) {
  for (int started = 0; started < 2; ++started) {
    AgentVersionInfo info;
    std::memset(&info, 0, sizeof info);
    info.size = sizeof info;
    ASSERT_EQ(AgentGetVersionInfo(&info), 1);
    EXPECT_EQ(info.versionMajor, 1);
    EXPECT_EQ(info.enterpriseNumber, 32473);
    EXPECT_STREQ(info.vendorOid, "1.3.6.1.4.1.32473");
    EXPECT_TRUE(Terminated(info.specText, sizeof info.specText) &&
                Terminated(info.vendorName, sizeof info.vendorName) &&
                Terminated(info.vendorWeb, sizeof info.vendorWeb) &&
                Terminated(info.vendorEmail, sizeof info.vendorEmail));
    EXPECT_NE(std::strstr(info.vendorEmail, "example.com"), nullptr);
    AgentFrameworkInit();
  }
  AgentVersionInfo info{};
  info.size = 400;
  EXPECT_EQ(AgentGetVersionInfo(&info), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_RECORD_SIZE);
  EXPECT_EQ(AgentGetVersionInfo(nullptr), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_BAD_ARGUMENT);
}

TEST_F(FrameworkTest, ConnectNeedsTheFrameworkAndARunningAgent) {
  EXPECT_EQ(AgentConnect("OASetUtility", 0, 0, 0), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NOT_STARTED);
  EXPECT_EQ(LastErrorText(), "the agent framework is not started");

  ASSERT_NE(AgentFrameworkInit(), 0);
  EXPECT_EQ(AgentConnect("OASetUtility", 0, 0, 0), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_AGENT);
  EXPECT_EQ(LastErrorText(), "no agent answers at " + socket_ +
                                 ": no such socket; start one with ./oaset.sh or orvu-agentd "
                                 "--detach");
}

TEST_F(FrameworkTest, ConnectionLifecycle) {
  ASSERT_TRUE(StartAgent());
  AgentHandle first = Connect();
  AgentHandle second = AgentConnect("second", 0, 0, 0);
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(second, 2u);
  EXPECT_EQ(AgentDisconnect(first), 1);
  EXPECT_EQ(AgentDisconnect(first), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_BAD_CONNECTION);
  EXPECT_EQ(AgentFrameworkCleanup(), 1);
  // Cleanup drops the other connection too.
  EXPECT_EQ(AgentDisconnect(second), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NOT_STARTED);
  EXPECT_EQ(AgentFrameworkCleanup(), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NOT_STARTED);
}

TEST_F(FrameworkTest, ErrorTextStaysInItsBuffer) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(AgentErrorText(AGENT_ERR_INSTANCE_EXISTS, buffer, 8), buffer);
  EXPECT_STREQ(buffer, "instanc");
  EXPECT_EQ(buffer[8], 'x');
  char big[512];
  EXPECT_STREQ(AgentErrorText(4242, big, sizeof big), "unknown error code 4242");
  EXPECT_EQ(AgentErrorText(1, nullptr, 10), nullptr);
}

TEST_F(FrameworkTest, AgentThatGoesAwayIsReportedNotCrashedOn) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  KillAgent();
  TestOid entry = EntryOid();
  EXPECT_EQ(AgentFindTableEntry(agent, entry.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_CONNECTION_LOST);
  EXPECT_EQ(AgentFindTableEntry(agent, entry.Ptr()), 0u);
  EXPECT_EQ(AgentDisconnect(agent), 1);
}

}  // namespace
}  // namespace orvu::test
