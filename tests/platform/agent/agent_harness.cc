#include "agent_harness.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace orvu::test {
namespace {

bool Answers(const std::string& path) {
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(s);
  return ok;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& errorFile, rlim_t fileLimit) {
  pid_t pid = fork();
  if (pid == 0) {
    if (fileLimit) {
      rlimit limit{fileLimit, fileLimit};
      setrlimit(RLIMIT_NOFILE, &limit);
    }
    int fd = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) dup2(fd, 2);
    std::vector<char*> argv;
    std::string program = std::string(ORVU_TEST_BIN_DIR) + "/orvu-agentd";
    argv.push_back(program.data());
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

TestOid EntryOid() {
  return TestOid(std::vector<uint32_t>(std::begin(ENTRY_IDS), std::end(ENTRY_IDS)));
}

TestOid LeafOid(uint32_t column, std::vector<uint32_t> index) {
  std::vector<uint32_t> ids(std::begin(ENTRY_IDS), std::end(ENTRY_IDS));
  ids.push_back(column);
  ids.insert(ids.end(), index.begin(), index.end());
  return TestOid(ids);
}

void AgentTest::SetUp() {
  char pattern[] = "/tmp/orvu-agent-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  dir_ = pattern;
  socket_ = dir_ + "/agent.sock";
  state_ = dir_ + "/state";
  setenv("ORVU_AGENT_SOCKET", socket_.c_str(), 1);
  setenv("ORVU_MIB_PATH", ORVU_TEST_MIB_DIR, 1);
}

void AgentTest::TearDown() {
  AgentFrameworkCleanup();
  if (agent_ > 0) KillAgent();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> AgentTest::AgentArgs(const std::vector<std::string>& extra) const {
  std::vector<std::string> args = {"--socket", socket_,   "--state",
                                   state_,     "--clock", std::to_string(TEST_CLOCK)};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

bool AgentTest::StartAgent(const std::vector<std::string>& args) {
  agent_ = Spawn(AgentArgs(args), dir_ + "/agent.err", fileLimit_);
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    if (waitpid(agent_, &status, WNOHANG) == agent_) {
      agent_ = -1;
      return false;
    }
    if (Answers(socket_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int AgentTest::RunAgent(const std::vector<std::string>& args, std::string* errors) {
  std::string errorFile = dir_ + "/run.err";
  pid_t pid = Spawn(args, errorFile, fileLimit_);
  int status = 0;
  waitpid(pid, &status, 0);
  std::ifstream in(errorFile);
  std::stringstream text;
  text << in.rdbuf();
  *errors = text.str();
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void AgentTest::StopAgent() {
  ASSERT_GT(agent_, 0);
  kill(agent_, SIGTERM);
  int status = 0;
  waitpid(agent_, &status, 0);
  agent_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void AgentTest::KillAgent() {
  kill(agent_, SIGKILL);
  waitpid(agent_, nullptr, 0);
  agent_ = -1;
}

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

void AgentTest::WriteState(const std::string& text) const { std::ofstream(state_) << text; }

std::string AgentTest::ReadState() const {
  std::ifstream in(state_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace orvu::test
