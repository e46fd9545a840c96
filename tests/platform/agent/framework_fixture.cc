#include "framework_fixture.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace orvu::test {

int RawConnect(const std::string& path) {
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
  timeval timeout{5, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return s;
}

TestOid EntryOid() {
  return TestOid(std::vector<uint32_t>(std::begin(ENTRY_IDS), std::end(ENTRY_IDS)));
}

TestOid LeafOid(uint32_t column, std::vector<uint32_t> index) {
  std::vector<uint32_t> ids(std::begin(ENTRY_IDS), std::end(ENTRY_IDS));
  ids.push_back(column);
  ids.insert(ids.end(), index.begin(), index.end());
  return TestOid(ids);
}

TableInstanceInfo FirstInstance(AgentHandle agent, uint32_t entryHandle) {
  TableInstanceInfo info{};
  info.size = sizeof info;
  EXPECT_NE(AgentEnumTableInstances(agent, 0, entryHandle, &info), 0) << AgentTest::LastErrorText();
  EXPECT_NE(AgentEnumTableInstances(agent, 1, entryHandle, &info), 0) << AgentTest::LastErrorText();
  return info;
}

void AgentTest::SetUp() {
  TestAgentOptions options;
  options.modules = {};
  options.clock = TEST_CLOCK;
  options.start = false;
  agent_ = std::make_unique<TestAgent>(options);
  dir_ = agent_->dir;
  socket_ = agent_->socket;
  state_ = agent_->statePath;
  // The library in this process finds the test's agent and modules.
  setenv("ORVU_AGENT_SOCKET", socket_.c_str(), 1);
  setenv("ORVU_MIB_PATH", MibsDir().c_str(), 1);
}

void AgentTest::TearDown() {
  AgentFrameworkCleanup();
  agent_.reset();
}

std::vector<std::string> AgentTest::AgentArgs(const std::vector<std::string>& extra) const {
  std::vector<std::string> args = {"--socket", socket_,   "--state",
                                   state_,     "--clock", std::to_string(TEST_CLOCK)};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

bool AgentTest::StartAgent(const std::vector<std::string>& args) {
  agent_->options.extraArgs = args;
  agent_->options.fileLimit = fileLimit_;
  return agent_->Start();
}

int AgentTest::RunAgent(const std::vector<std::string>& args, std::string* errors) {
  OasetRun run = RunAgentToEnd(args, fileLimit_, agent_->options.env);
  *errors = run.err;
  return run.status;
}

void AgentTest::StopAgent() {
  ASSERT_TRUE(agent_->Running());
  EXPECT_EQ(agent_->Stop(), 0);
}

void AgentTest::KillAgent() { agent_->Kill9(); }

AgentHandle AgentTest::Connect(const char* name) {
  EXPECT_NE(AgentFrameworkInit(), 0);
  AgentHandle agent = AgentConnect(name, 0, 0, 0);
  EXPECT_NE(agent, 0u) << LastErrorText();
  return agent;
}

uint32_t AgentTest::CreateInstance(AgentHandle agent, uint32_t index, uint32_t* instance) {
  TestOid entry = EntryOid();
  TestOid instanceOid{index};
  uint32_t handle = 0;
  uint32_t entryHandle =
      AgentCreateTableEntry(agent, 0, 0, entry.Ptr(), instanceOid.Ptr(), &handle);
  EXPECT_NE(entryHandle, 0u) << LastErrorText();
  if (instance) *instance = handle;
  return entryHandle;
}

std::string AgentTest::LastErrorText() {
  char buffer[512];
  return AgentErrorText(AgentGetLastError(), buffer, sizeof buffer);
}

void AgentTest::WriteState(const std::string& text) const { agent_->WriteState(text); }

std::string AgentTest::ReadState() const { return agent_->ReadState(); }

}  // namespace orvu::test
