// The fixture of the framework library's tests: a real orvu-agentd per test (through the shared
// agent-process harness, tests/support/agent_process.h), and short spellings of the library's
// calls.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "agent_process.h"
#include "orvu/agent_framework.h"

namespace orvu::test {

constexpr uint32_t ENTRY_IDS[] = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};  // speakerFreqEntry
constexpr uint32_t CONTROL_IDS[] = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 4};   // speakerControl
constexpr int32_t TEST_CLOCK = 1700000000;

// An SnmpOid that owns its sub-identifiers.
struct TestOid {
  std::vector<uint32_t> ids;
  SnmpOid oid{};
  TestOid(std::initializer_list<uint32_t> list) : ids(list) {}
  explicit TestOid(std::vector<uint32_t> v) : ids(std::move(v)) {}
  const SnmpOid* Ptr() {
    oid.count = static_cast<uint32_t>(ids.size());
    oid.ids = ids.data();
    return &oid;
  }
};

TestOid EntryOid();
// A plain connection to PATH, past the library, whose receives give up after 5 seconds.
int RawConnect(const std::string& path);
TestOid LeafOid(uint32_t column, std::vector<uint32_t> index);
// The first record of a fresh snapshot of ENTRY_HANDLE's instances; a failure when there is none.
TableInstanceInfo FirstInstance(AgentHandle agent, uint32_t entryHandle);

class AgentTest : public ::testing::Test {
 public:
  static std::string LastErrorText();

 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the agent with --socket and --state of this test and ARGS, and waits until it
  // answers; false when it exited instead.
  bool StartAgent(const std::vector<std::string>& args = {"--module", "VORNEL-VNBEEP-MIB"});
  // Runs the agent to its end (for starts that must fail), with the environment StartAgent would
  // give it; its exit status, stderr in *errors.
  int RunAgent(const std::vector<std::string>& args, std::string* errors);
  void StopAgent();  // SIGTERM, and the exit status must be 0
  void KillAgent();  // SIGKILL
  std::vector<std::string> AgentArgs(const std::vector<std::string>& extra) const;

  // Framework started and connected as NAME.
  AgentHandle Connect(const char* name = "OASetUtility");
  // Creates instance INDEX of speakerFreqEntry: the entry handle, and the instance's in *instance.
  uint32_t CreateInstance(AgentHandle agent, uint32_t index, uint32_t* instance = nullptr);
  void WriteState(const std::string& text) const;
  std::string ReadState() const;

  std::unique_ptr<TestAgent> agent_;
  std::string dir_;
  std::string socket_;
  std::string state_;
  unsigned fileLimit_ = 0;  // the agent's open-file limit, when set
};

}  // namespace orvu::test
