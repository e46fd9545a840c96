#include <gtest/gtest.h>

#include <cstdio>

#include "agent_process.h"
#include "load_clients.h"

namespace hardening {
namespace {

int TotalRounds(const std::vector<ClientReport>& reports) {
  int rounds = 0;
  for (const ClientReport& report : reports) rounds += report.rounds;
  return rounds;
}

long LongestWait(const std::vector<ClientReport>& reports) {
  long longest = 0;
  for (const ClientReport& report : reports) longest = std::max(longest, report.maxWaitMs);
  return longest;
}

TEST(AgentLoadTest, SixteenClientsAtOnceLeaveExactlyWhatWasAcknowledged) {
  TestAgent agent;
  ASSERT_TRUE(agent.Running());
  LoadPlan plan;
  plan.socket = agent.socket;
  plan.clients = EnvNumber("OASET_LOAD_CLIENTS", 16);
  plan.rounds = EnvNumber("OASET_LOAD_ROUNDS", 100);
  plan.reportDir = agent.dir;

  std::vector<pid_t> pids = StartLoadClients(plan);
  ASSERT_EQ(static_cast<int>(pids.size()), plan.clients);
  // Each round lists the whole table, which grows with the rounds: the wait grows with them too.
  std::vector<ClientReport> reports = FinishLoadClients(plan, pids, 60 + plan.rounds / 3);

  std::map<uint32_t, std::string> expected;
  for (int id = 0; id < plan.clients; ++id) {
    const ClientReport& report = reports[static_cast<size_t>(id)];
    EXPECT_TRUE(report.finished) << "client " << id;
    EXPECT_EQ(report.rounds, plan.rounds) << "client " << id;
    EXPECT_LE(report.maxWaitMs, LOAD_WAIT_BOUND_MS) << "client " << id;
    for (const std::string& fault : report.faults)
      ADD_FAILURE() << "client " << id << ": " << fault;
    for (const auto& [index, ledger] : report.instances) {
      if (ledger.created == Outcome::ACKED && ledger.removed == Outcome::NONE)
        expected[index] = ledger.value;
    }
  }
  // A third of the rounds and each client's last round keep their instance.
  EXPECT_EQ(expected.size(), static_cast<size_t>(plan.clients * ((plan.rounds + 2) / 3 +
                                                                 ((plan.rounds - 1) % 3 != 0))));

  // What the agent holds after a restart on the same state file.
  agent.Stop();
  ASSERT_TRUE(agent.Start());
  std::string error;
  std::map<uint32_t, std::string> held = ReadTable(agent.socket, &error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(held, expected);

  std::printf("load: %d clients, %d rounds, %zu instances kept, longest call %ld ms, lost %zu\n",
              plan.clients, TotalRounds(reports), expected.size(), LongestWait(reports),
              expected.size() - std::min(expected.size(), held.size()));
}

}  // namespace
}  // namespace hardening
