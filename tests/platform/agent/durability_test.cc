#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "agent_errors.h"
#include "framework_fixture.h"

namespace orvu::test {
namespace {

using DurabilityTest = AgentTest;

uint32_t ReadInteger(AgentHandle agent, TestOid& object) {
  uint32_t data = AgentGetDataHandle(agent, 0, object.Ptr());
  SnmpOid oid{};
  SnmpValue value{};
  EXPECT_NE(AgentGetData(agent, data, &oid, &value), 0) << AgentTest::LastErrorText();
  AgentFreeValue(ORVU_SYNTAX_OID, &oid);
  return value.number;
}

TEST_F(DurabilityTest, KillRightAfterAnAcknowledgedChangeLosesNothing) {
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--fsync"}));
  AgentHandle agent = Connect();
  uint32_t instanceHandle = 0;
  uint32_t entryHandle = CreateInstance(agent, 50, &instanceHandle);
  ASSERT_EQ(AgentEnableTableEntry(agent, 0, entryHandle, instanceHandle, 8), 1);
  TestOid hertz = LeafOid(3, {50});
  SnmpValue value{};
  value.syntax = ORVU_SYNTAX_INTEGER;
  value.number = 1234;
  ASSERT_EQ(AgentSetData(agent, 0, AgentGetDataHandle(agent, 0, hertz.Ptr()), &value), 1);
  KillAgent();
  AgentFrameworkCleanup();

  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, hertz), 1234u);
  TableInstanceInfo info{};
  info.size = sizeof info;
  ASSERT_NE(AgentEnumTableInstances(agent, 0, entryHandle, &info), 0);
  ASSERT_NE(AgentEnumTableInstances(agent, 1, entryHandle, &info), 0);
  EXPECT_EQ(info.instanceHandle, instanceHandle);
  EXPECT_EQ(info.reserved, 8u);
  EXPECT_EQ(info.creationTime, TEST_CLOCK);
}

TEST_F(DurabilityTest, ManyChangesKeepTheFileShortAndTheLastValue) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  TestOid control(std::vector<uint32_t>(std::begin(CONTROL_IDS), std::end(CONTROL_IDS)));
  uint32_t data = AgentGetDataHandle(agent, 0, control.Ptr());
  SnmpValue value{};
  value.syntax = ORVU_SYNTAX_INTEGER;
  // speakerControl takes 1..3: the values go round them.
  for (uint32_t i = 1; i <= 2500; ++i) {
    value.number = i % 3 + 1;
    ASSERT_EQ(AgentSetData(agent, 0, data, &value), 1) << LastErrorText();
  }
  EXPECT_LT(std::filesystem::file_size(state_), 120000u);
  KillAgent();
  AgentFrameworkCleanup();
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, control), 2500u % 3 + 1);
}

TEST_F(DurabilityTest, CorruptOrUnreadableStateStopsTheStartAndIsLeftAlone) {
  const std::string corrupt = "module VORNEL-VNBEEP-MIB\ninstance entry=1.3.6 index=x handle=1\n";
  WriteState(corrupt);
  std::string errors;
  EXPECT_NE(RunAgent(AgentArgs({}), &errors), 0);
  EXPECT_NE(errors.find(state_ + ":2: "), std::string::npos) << errors;
  EXPECT_EQ(ReadState(), corrupt);

  WriteState("remove handle=4\n");
  EXPECT_NE(RunAgent(AgentArgs({}), &errors), 0);
  EXPECT_NE(errors.find("no instance with handle 4"), std::string::npos) << errors;
  EXPECT_EQ(ReadState(), "remove handle=4\n");

  std::filesystem::remove(state_);
  std::filesystem::create_directory(state_);
  EXPECT_NE(RunAgent(AgentArgs({}), &errors), 0);
  EXPECT_NE(errors.find("cannot read state file"), std::string::npos) << errors;
}

TEST_F(DurabilityTest, BadStartsSayWhyAndFail) {
  std::string errors;
  EXPECT_EQ(RunAgent({"--frobnicate"}, &errors), 2);
  EXPECT_NE(errors.find("unknown option --frobnicate"), std::string::npos) << errors;
  EXPECT_EQ(RunAgent({"--clock", "soon"}, &errors), 2);
  EXPECT_EQ(RunAgent(AgentArgs({"--module", "NO-SUCH-MIB"}), &errors), 1);
  EXPECT_NE(errors.find("cannot load module NO-SUCH-MIB"), std::string::npos) << errors;
  EXPECT_EQ(RunAgent({"--help"}, &errors), 0);

  ASSERT_TRUE(StartAgent());
  std::vector<std::string> args = {"--socket", socket_, "--state", dir_ + "/other-state"};
  EXPECT_EQ(RunAgent(args, &errors), 1);
  EXPECT_NE(errors.find("another agent answers at " + socket_), std::string::npos) << errors;
  args = {"--socket", dir_ + "/other.sock", "--state", state_};
  EXPECT_EQ(RunAgent(args, &errors), 1);
  EXPECT_NE(errors.find("in use by another agent"), std::string::npos) << errors;
}

TEST_F(DurabilityTest, TermStopsCleanlyAndRemovesTheSocket) {
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--pid-file", dir_ + "/agent.pid"}));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/agent.pid"));
  struct stat st;
  ASSERT_EQ(stat(socket_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  StopAgent();
  EXPECT_FALSE(std::filesystem::exists(socket_));
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/agent.pid"));
  EXPECT_NE(ReadState().find("module VORNEL-VNBEEP-MIB\n"), std::string::npos);
}

TEST_F(DurabilityTest, DetachReturnsOnceTheAgentAnswers) {
  std::string errors;
  std::string pidFile = dir_ + "/agent.pid";
  ASSERT_EQ(RunAgent(AgentArgs({"--detach", "--pid-file", pidFile}), &errors), 0) << errors;
  EXPECT_NE(Connect(), 0u);
  AgentFrameworkCleanup();
  pid_t pid = 0;
  std::ifstream(pidFile) >> pid;
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  for (int i = 0; i < 300 && std::filesystem::exists(pidFile); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(std::filesystem::exists(socket_));
}

}  // namespace
}  // namespace orvu::test
