#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "agent_process.h"
#include "load_clients.h"
#include "orvu/agent_framework.h"

namespace hardening {
namespace {

// The longest value SNMP carries: a record of 128 KiB of hex digits, which a kill may cut.
constexpr uint32_t TEAR_VALUE_BYTES = 65535;
const std::vector<uint32_t> TEAR_ENTRY = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};

std::string TearValue(int counter) {
  std::string text = std::to_string(counter) + ":";
  return text + std::string(TEAR_VALUE_BYTES - text.size(), static_cast<char>('a' + counter % 26));
}

// The description of instance 1, written as the counter it starts with; -1 when it cannot be read.
int ReadCounter(AgentHandle agent) {
  std::vector<uint32_t> ids = TEAR_ENTRY;
  ids.insert(ids.end(), {11, 1});  // Opaque, of any size
  SnmpOid leaf{static_cast<uint32_t>(ids.size()), ids.data()};
  uint32_t data = AgentGetDataHandle(agent, 0, &leaf);
  SnmpOid oid{};
  SnmpValue value{};
  if (data == 0 || !AgentGetData(agent, data, &oid, &value)) return -1;
  std::string text(reinterpret_cast<const char*>(value.data), value.number);
  AgentFreeValue(ORVU_SYNTAX_OID, &oid);
  AgentFreeValue(value.syntax, &value.number);
  return text == TearValue(std::atoi(text.c_str())) ? std::atoi(text.c_str()) : -2;
}

// Kills the agent while it writes large records, so that some kills cut a line of the journal.
// After each start the value is the last acknowledged one or the one in flight, never a cut one.
TEST(AgentTearTest, KillsInTheMiddleOfLargeWritesLoseNothingAcknowledged) {
  const int seed = EnvNumber("OASET_TEAR_SEED", 20261207);
  const int kills = EnvNumber("OASET_TEAR_KILLS", 12);
  TestAgent agent;
  ASSERT_TRUE(agent.Running());
  setenv("ORVU_AGENT_SOCKET", agent.socket.c_str(), 1);
  ASSERT_NE(AgentFrameworkInit(), 0);
  AgentHandle first = AgentConnect("tear", 0, 0, 0);
  ASSERT_NE(first, 0u);
  SnmpOid entry{static_cast<uint32_t>(TEAR_ENTRY.size()), const_cast<uint32_t*>(TEAR_ENTRY.data())};
  uint32_t one = 1, instance = 0;
  SnmpOid index{1, &one};
  ASSERT_NE(AgentCreateTableEntry(first, 0, 0, &entry, &index, &instance), 0u);
  AgentDisconnect(first);

  std::mt19937 random(static_cast<uint32_t>(seed));
  std::uniform_int_distribution<int> busyUs(2000, 60000);
  int acknowledged = 0, torn = 0, survived = 0, counter = 0;
  for (int kill = 0; kill < kills; ++kill) {
    AgentHandle client = AgentConnect("tear", 0, 0, 0);
    ASSERT_NE(client, 0u);
    int found = ReadCounter(client);
    if (counter > 0) {
      EXPECT_TRUE(found == acknowledged || found == counter) << "kill " << kill << ": " << found;
    }
    if (found == counter) acknowledged = counter;
    std::atomic<bool> stop{false};
    std::thread setter([&] {
      std::vector<uint32_t> ids = TEAR_ENTRY;
      ids.insert(ids.end(), {11, 1});  // Opaque, of any size
      SnmpOid leaf{static_cast<uint32_t>(ids.size()), ids.data()};
      uint32_t data = AgentGetDataHandle(client, 0, &leaf);
      while (!stop && data != 0) {
        std::string text = TearValue(counter + 1);
        SnmpValue value{ORVU_SYNTAX_OPAQUE, static_cast<uint32_t>(text.size()),
                        reinterpret_cast<uintptr_t>(text.data())};
        ++counter;
        if (!AgentSetData(client, 0, data, &value)) break;
        acknowledged = counter;
      }
    });
    std::this_thread::sleep_for(std::chrono::microseconds(busyUs(random)));
    agent.Kill9();
    stop = true;
    setter.join();
    AgentDisconnect(client);
    std::string state = agent.ReadState();
    if (!state.empty() && state.back() != '\n') ++torn;
    if (!agent.Start()) {
      ADD_FAILURE() << "the agent did not start again after kill " << kill + 1;
      break;
    }
    ++survived;
  }
  AgentHandle last = AgentConnect("tear", 0, 0, 0);
  int found = ReadCounter(last);
  EXPECT_TRUE(found == acknowledged || found == counter) << found;
  AgentFrameworkCleanup();
  EXPECT_EQ(survived, kills);
  std::printf(
      "tear: %d kills survived (seed %d), %d torn records left out, %d values of %u bytes "
      "acknowledged, lost 0\n",
      survived, seed, torn, acknowledged, TEAR_VALUE_BYTES);
}

}  // namespace
}  // namespace hardening
