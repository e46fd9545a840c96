#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "agent_process.h"
#include "load_clients.h"

namespace hardening {
namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Kills the agent with SIGKILL at random moments while the clients work and starts it again on
// the same state file each time. Whatever the agent acknowledged must be there afterwards; what it
// never answered may or may not be.
TEST(AgentKillTest, EveryAcknowledgedChangeSurvivesKill9) {
  const int seed = EnvNumber("OASET_KILL_SEED", 20261207);
  const int kills = EnvNumber("OASET_KILL_COUNT", 6);
  TestAgent agent;
  ASSERT_TRUE(agent.Running());
  LoadPlan plan;
  plan.socket = agent.socket;
  plan.clients = EnvNumber("OASET_LOAD_CLIENTS", 16);
  plan.rounds = 10;
  plan.maxRounds = 90000;
  plan.stopFile = agent.dir + "/stop";
  plan.survivesAgentLoss = true;
  plan.reportDir = agent.dir;

  std::mt19937 random(static_cast<uint32_t>(seed));
  std::uniform_int_distribution<int> busyMs(30, 250);
  std::uniform_int_distribution<int> downMs(0, 40);
  std::vector<pid_t> pids = StartLoadClients(plan);
  ASSERT_EQ(static_cast<int>(pids.size()), plan.clients);
  int survived = 0;
  for (int kill = 0; kill < kills; ++kill) {
    SleepMs(busyMs(random));
    agent.Kill9();
    SleepMs(downMs(random));
    // The state file the killed agent left must load.
    if (!agent.Start()) {
      ADD_FAILURE() << "the agent did not start again after kill " << kill + 1;
      break;
    }
    ++survived;
  }
  SleepMs(200);
  std::ofstream(plan.stopFile) << "stop\n";
  std::vector<ClientReport> reports = FinishLoadClients(plan, pids, 120);
  ASSERT_TRUE(agent.Running());

  int rounds = 0;
  int reconnects = 0;
  for (int id = 0; id < plan.clients; ++id) {
    const ClientReport& report = reports[static_cast<size_t>(id)];
    EXPECT_TRUE(report.finished) << "client " << id;
    EXPECT_LE(report.maxWaitMs, LOAD_WAIT_BOUND_MS) << "client " << id;
    for (const std::string& fault : report.faults)
      ADD_FAILURE() << "client " << id << ": " << fault;
    rounds += report.rounds;
    reconnects += report.reconnects;
  }

  agent.Stop();
  ASSERT_TRUE(agent.Start());
  std::string error;
  std::map<uint32_t, std::string> held = ReadTable(agent.socket, &error);
  EXPECT_EQ(error, "");

  size_t acknowledged = 0;
  size_t lost = 0;
  std::set<uint32_t> accounted;
  for (const ClientReport& report : reports) {
    for (const auto& [index, ledger] : report.instances) {
      accounted.insert(index);
      auto found = held.find(index);
      bool present = found != held.end();
      acknowledged += (ledger.created == Outcome::ACKED) + (ledger.valueSet == Outcome::ACKED) +
                      (ledger.removed == Outcome::ACKED);
      if (ledger.created == Outcome::ACKED && ledger.removed == Outcome::NONE && !present) {
        ++lost;
        ADD_FAILURE() << "acknowledged instance lost: " << index;
      }
      if (ledger.removed == Outcome::ACKED && present) {
        ++lost;
        ADD_FAILURE() << "acknowledged removal lost: " << index;
      }
      if (present && ledger.created == Outcome::NONE)
        ADD_FAILURE() << "instance never made: " << index;
      if (present && ledger.valueSet == Outcome::ACKED && found->second != ledger.value) {
        ++lost;
        ADD_FAILURE() << "acknowledged value lost at " << index << ": " << found->second;
      }
    }
  }
  for (const auto& [index, value] : held) {
    if (!accounted.count(index)) ADD_FAILURE() << "instance no client made: " << index;
  }
  EXPECT_EQ(survived, kills);
  std::printf(
      "kill: %d kills survived (seed %d), %d clients, %d rounds, %d reconnects, "
      "%zu acknowledged changes, lost %zu\n",
      survived, seed, plan.clients, rounds, reconnects, acknowledged, lost);
}

}  // namespace
}  // namespace hardening
