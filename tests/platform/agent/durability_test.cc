#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
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

void SetInteger(AgentHandle agent, TestOid& object, uint32_t number) {
  SnmpValue value{};
  value.syntax = ORVU_SYNTAX_INTEGER;
  value.number = number;
  ASSERT_EQ(AgentSetData(agent, 0, AgentGetDataHandle(agent, 0, object.Ptr()), &value), 1)
      << AgentTest::LastErrorText();
}

TEST_F(DurabilityTest, KillRightAfterAnAcknowledgedChangeLosesNothing) {
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--fsync"}));
  AgentHandle agent = Connect();
  uint32_t instanceHandle = 0;
  uint32_t entryHandle = CreateInstance(agent, 50, &instanceHandle);
  ASSERT_EQ(AgentEnableTableEntry(agent, 0, entryHandle, instanceHandle, 8), 1);
  TestOid hertz = LeafOid(3, {50});
  SetInteger(agent, hertz, 1234);
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

// A record whose write was cut short (the agent killed in the middle of it) was never
// acknowledged: the next start leaves it out, says so, keeps the file as it was beside it, and
// takes everything before it.
TEST_F(DurabilityTest, ARecordCutShortIsLeftOutAndTheFileKeptBesideIt) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  uint32_t entryHandle = 0;
  for (uint32_t index : {11, 12, 13}) entryHandle = CreateInstance(agent, index);
  TestOid hertz = LeafOid(3, {11});
  SetInteger(agent, hertz, 4242);
  KillAgent();
  AgentFrameworkCleanup();
  const char* cuts[] = {"remove handle=1", "value handle=1 column=3 syntax=2 number=7",
                        "value handle=1 column=3 syntax=2 number=77 crc=0"};
  for (const char* cut : cuts) {
    SCOPED_TRACE(cut);
    std::string whole = ReadState();
    WriteState(whole + cut);
    size_t line = static_cast<size_t>(std::count(whole.begin(), whole.end(), '\n')) + 1;
    // In the background, so that what the start says is there to read once it answers.
    std::string said;
    std::string pidFile = dir_ + "/agent.pid";
    ASSERT_EQ(RunAgent(AgentArgs({"--detach", "--pid-file", pidFile}), &said), 0) << said;
    agent = Connect();
    EXPECT_EQ(ReadInteger(agent, hertz), 4242u);
    TableInstanceInfo info{};
    info.size = sizeof info;
    EXPECT_NE(AgentEnumTableInstances(agent, 3, entryHandle, &info), 0);
    AgentFrameworkCleanup();
    pid_t pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);
    kill(pid, SIGTERM);
    for (int i = 0; i < 500 && std::filesystem::exists(pidFile); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(said.find(state_ + ":" + std::to_string(line) +
                        ": left out a record cut short (it was never acknowledged)"),
              std::string::npos)
        << said;
    std::ifstream old(state_ + ".old");
    std::string kept((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, whole + cut);
  }
}

// The journal is compacted on the bytes of its dead records: large values set again and again
// keep the file within a small multiple of the live state.
TEST_F(DurabilityTest, LargeValuesSetOverAndOverKeepTheFileNearTheLiveState) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  CreateInstance(agent, 1);
  TestOid vendorData = LeafOid(11, {1});  // Opaque, of any size
  uint32_t data = AgentGetDataHandle(agent, 0, vendorData.Ptr());
  std::string bytes(512 * 1024, 'a');
  SnmpValue value{};
  value.syntax = ORVU_SYNTAX_OPAQUE;
  value.number = static_cast<uint32_t>(bytes.size());
  value.data = reinterpret_cast<uintptr_t>(bytes.data());
  uintmax_t largest = 0;
  for (int i = 0; i < 24; ++i) {
    bytes[0] = static_cast<char>('a' + i);
    ASSERT_EQ(AgentSetData(agent, 0, data, &value), 1) << LastErrorText();
    largest = std::max(largest, std::filesystem::file_size(state_));
  }
  // One live value is a line of 1 MiB of hex digits.
  EXPECT_LT(largest, 3u * (1u << 20) + 256 * 1024) << largest;
  KillAgent();
  AgentFrameworkCleanup();
  ASSERT_TRUE(StartAgent({}));
}

// A state file moved or removed under the running agent: changes fail with a reason instead of
// being acknowledged into a file that the next start will not read.
TEST_F(DurabilityTest, AStateFileMovedAwayFailsChangesRatherThanLosingThem) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  uint32_t entryHandle = CreateInstance(agent, 1);
  std::filesystem::rename(state_, state_ + ".moved");
  TestOid entry = EntryOid();
  TestOid index{2};
  uint32_t handle = 0;
  EXPECT_EQ(AgentCreateTableEntry(agent, 0, 0, entry.Ptr(), index.Ptr(), &handle), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_STORAGE);
  EXPECT_NE(
      LastErrorText().find("state file " + state_ + " was moved or removed while the agent ran"),
      std::string::npos)
      << LastErrorText();
  std::filesystem::rename(state_ + ".moved", state_);
  EXPECT_NE(AgentCreateTableEntry(agent, 0, 0, entry.Ptr(), index.Ptr(), &handle), 0u)
      << LastErrorText();
  std::filesystem::remove(state_);
  EXPECT_EQ(AgentRemoveTableEntry(agent, 0, entryHandle, handle), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_STORAGE);
}

TEST_F(DurabilityTest, CorruptOrUnreadableStateStopsTheStartAndIsLeftAlone) {
  const std::string corrupt = "module VORNEL-VNBEEP-MIB\ninstance entry=1.3.6 index=x handle=1\n";
  WriteState(corrupt);
  std::string errors;
  EXPECT_NE(RunAgent(AgentArgs({}), &errors), 0);
  EXPECT_NE(errors.find(state_ + ":2: "), std::string::npos) << errors;
  EXPECT_EQ(ReadState(), corrupt);

  // Every message names the file and the line, and a bad file is never rewritten.
  const std::pair<std::string, std::string> meanings[] = {
      {"# by hand\nremove handle=4\n", ":2: no instance with handle 4"},
      {"module VORNEL-VNBEEP-MIB\n"
       "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=5 handle=1 creator=0 time=0\n"
       "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=5 handle=2 creator=0 time=0\n",
       ":3: instance 5 of 1.3.6.1.4.1.32473.99.1.9.1 stated twice"},
      {"\nmodule NO-SUCH-MIB\n", ":2: cannot load module NO-SUCH-MIB"},
  };
  for (const auto& [text, message] : meanings) {
    WriteState(text);
    EXPECT_NE(RunAgent(AgentArgs({}), &errors), 0);
    EXPECT_NE(errors.find(state_ + message), std::string::npos) << errors;
    EXPECT_EQ(ReadState(), text);
  }

  // An agent-written file with one record damaged: refused where it is, and left as it is.
  std::filesystem::remove(state_);
  ASSERT_TRUE(StartAgent());
  StopAgent();
  std::string sealed = ReadState();
  size_t module = sealed.find("module VORNEL");
  ASSERT_NE(module, std::string::npos);
  sealed[module] = '#';
  WriteState(sealed);
  EXPECT_NE(RunAgent(AgentArgs({}), &errors), 0);
  EXPECT_NE(errors.find(state_ + ":2: damaged record (its seal does not match)"), std::string::npos)
      << errors;
  EXPECT_EQ(ReadState(), sealed);

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
  EXPECT_NE(ReadState().find("\nmodule VORNEL-VNBEEP-MIB crc="), std::string::npos);
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
