#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>
#include <thread>

#include "agent_process.h"
#include "load_clients.h"
#include "orvu/agent_framework.h"

namespace hardening {
namespace {

constexpr uint32_t TEAR_VALUE_BYTES = 130000;
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

// A change set that owns what its changes point to (a deque keeps them in place as it grows).
struct OwnedChanges {
  std::deque<std::vector<uint32_t>> oids;
  std::deque<std::string> texts;
  std::vector<AgentChange> changes;
  void Add(uint32_t kind, std::vector<uint32_t> object, uint32_t syntax = 0, uint32_t number = 0,
           const std::string* text = nullptr) {
    const std::vector<uint32_t>& ids = oids.emplace_back(std::move(object));
    changes.push_back(
        {kind,
         {static_cast<uint32_t>(TEAR_ENTRY.size()), const_cast<uint32_t*>(TEAR_ENTRY.data())},
         {static_cast<uint32_t>(ids.size()), const_cast<uint32_t*>(ids.data())},
         {syntax, text ? static_cast<uint32_t>(text->size()) : number,
          text ? reinterpret_cast<uintptr_t>(text->data()) : 0}});
  }
  int Apply(AgentHandle agent) {
    uint32_t failed = 0;
    return AgentApplyChanges(agent, changes.data(), static_cast<uint32_t>(changes.size()), &failed);
  }
};

std::vector<uint32_t> Column(uint32_t column, uint32_t row) {
  std::vector<uint32_t> ids = TEAR_ENTRY;
  ids.insert(ids.end(), {column, row});
  return ids;
}

std::string RoundText(int round, uint32_t row) {
  return "round " + std::to_string(round) + " row " + std::to_string(row);
}

// The set of round K: five columns of each of ROWS rows, and the round's marker row made anew at
// MARK_BASE + K (the one of the round before removed), so that a set held in part shows as rows
// that disagree, or as two markers or none.
constexpr uint32_t MARK_BASE = 1000000;
OwnedChanges Round(int round, uint32_t rows) {
  OwnedChanges set;
  if (round > 0) set.Add(ORVU_CHANGE_REMOVE, {MARK_BASE + round - 1});
  set.Add(ORVU_CHANGE_CREATE, {MARK_BASE + round});
  for (uint32_t row = 1; row <= rows; ++row) {
    set.Add(ORVU_CHANGE_SET, Column(2, row), ORVU_SYNTAX_OCTETS, 0,
            &set.texts.emplace_back(RoundText(round, row)));
    set.Add(ORVU_CHANGE_SET, Column(3, row), ORVU_SYNTAX_INTEGER, 20 + round % 1000);
    set.Add(ORVU_CHANGE_SET, Column(9, row), ORVU_SYNTAX_GAUGE32, round % 101);
    set.Add(ORVU_CHANGE_SET, Column(10, row), ORVU_SYNTAX_TIMETICKS, round);
    set.Add(ORVU_CHANGE_SET, Column(8, row), ORVU_SYNTAX_CNTR32, round * 7);
  }
  return set;
}

uint32_t ReadNumber(AgentHandle agent, uint32_t column, uint32_t row, std::string* text = nullptr) {
  std::vector<uint32_t> ids = Column(column, row);
  SnmpOid leaf{static_cast<uint32_t>(ids.size()), ids.data()};
  uint32_t data = AgentGetDataHandle(agent, 0, &leaf);
  SnmpOid oid{};
  SnmpValue value{};
  if (data == 0 || !AgentGetData(agent, data, &oid, &value)) return UINT32_MAX;
  if (text) text->assign(reinterpret_cast<const char*>(value.data), value.number);
  uint32_t number = value.number;
  AgentFreeValue(ORVU_SYNTAX_OID, &oid);
  AgentFreeValue(value.syntax, &value.number);
  return number;
}

bool RowThere(AgentHandle agent, uint32_t row) {
  std::vector<uint32_t> ids = Column(3, row);
  SnmpOid leaf{static_cast<uint32_t>(ids.size()), ids.data()};
  return AgentGetDataHandle(agent, 0, &leaf) != 0;
}

// The round whose set the agent holds, checked to be whole: every row written by it, its marker
// alone; -1 (with a failure) when it is not.
int RoundHeld(AgentHandle agent, uint32_t rows, int lastRound) {
  std::string text;
  ReadNumber(agent, 2, 1, &text);
  int round = std::atoi(text.c_str() + std::min<size_t>(6, text.size()));
  for (uint32_t row = 1; row <= rows; ++row) {
    ReadNumber(agent, 2, row, &text);
    if (text != RoundText(round, row) || ReadNumber(agent, 10, row) != uint32_t(round) ||
        ReadNumber(agent, 8, row) != uint32_t(round * 7)) {
      ADD_FAILURE() << "row " << row << " holds \"" << text << "\", row 1 round " << round;
      return -1;
    }
  }
  for (int other = std::max(0, lastRound - 2); other <= lastRound + 1; ++other) {
    if (RowThere(agent, MARK_BASE + other) != (other == round)) {
      ADD_FAILURE() << "the marker of round " << other << " is wrong; round " << round;
      return -1;
    }
  }
  return round;
}

// Large change sets with the agent killed at random moments: after each start the agent holds the
// last acknowledged set or the one in flight, whole, never a part of one. Before them, the largest
// set a fleet tool sends: 10,000 rows made with 100,000 values in one unit; then one that removes
// the rows the rounds leave alone.
TEST(AgentTearTest, KilledChangeSetsAreWholeOrAbsent) {
  const int seed = EnvNumber("OASET_CHANGESET_SEED", 20261208);
  const int kills = EnvNumber("OASET_CHANGESET_KILLS", 6);
  const uint32_t rows = static_cast<uint32_t>(EnvNumber("OASET_CHANGESET_ROWS", 500));
  constexpr uint32_t FIRST_ROWS = 10000;
  TestAgent agent;
  ASSERT_TRUE(agent.Running());
  setenv("ORVU_AGENT_SOCKET", agent.socket.c_str(), 1);
  ASSERT_NE(AgentFrameworkInit(), 0);
  AgentHandle first = AgentConnect("changes", 0, 0, 0);
  ASSERT_NE(first, 0u);
  OwnedChanges large, removal;
  for (uint32_t row = 1; row <= FIRST_ROWS; ++row) {
    large.Add(ORVU_CHANGE_CREATE, {row});
    if (row > rows) removal.Add(ORVU_CHANGE_REMOVE, {row});
    const std::string* text = &large.texts.emplace_back("first " + std::to_string(row));
    const uint32_t numbers[][3] = {{3, ORVU_SYNTAX_INTEGER, 440},
                                   {4, ORVU_SYNTAX_INTEGER, 2},
                                   {8, ORVU_SYNTAX_CNTR32, 0},
                                   {9, ORVU_SYNTAX_GAUGE32, 50},
                                   {10, ORVU_SYNTAX_TIMETICKS, 25}};
    for (const auto& [column, syntax, number] : numbers)
      large.Add(ORVU_CHANGE_SET, Column(column, row), syntax, number);
    const uint32_t octets[][2] = {{2, ORVU_SYNTAX_OCTETS},
                                  {11, ORVU_SYNTAX_OPAQUE},
                                  {12, ORVU_SYNTAX_NSAPADDR},
                                  {14, ORVU_SYNTAX_OCTETS}};
    for (const auto& [column, syntax] : octets)
      large.Add(ORVU_CHANGE_SET, Column(column, row), syntax, 0, text);
    large.Add(ORVU_CHANGE_SET, Column(7, row), ORVU_SYNTAX_IPADDR, 0,
              &large.texts.emplace_back("\x7f\0\0\x01", 4));
  }
  auto start = std::chrono::steady_clock::now();
  char why[512];
  ASSERT_EQ(large.Apply(first), 0) << AgentErrorText(AgentGetLastError(), why, sizeof why);
  std::printf("changesets: the first set, %zu changes, took %lld ms\n", large.changes.size(),
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count()));
  std::string descr;
  EXPECT_EQ(ReadNumber(first, 10, FIRST_ROWS, &descr), 25u);
  ReadNumber(first, 2, FIRST_ROWS, &descr);
  EXPECT_EQ(descr, "first " + std::to_string(FIRST_ROWS));
  ASSERT_EQ(removal.Apply(first), 0);
  EXPECT_FALSE(RowThere(first, FIRST_ROWS));
  ASSERT_EQ(Round(0, rows).Apply(first), 0);
  AgentDisconnect(first);

  std::mt19937 random(static_cast<uint32_t>(seed));
  std::uniform_int_distribution<int> busyUs(2000, 120000);
  int acknowledged = 0, round = 0, survived = 0, inFlightKept = 0;
  for (int kill = 0; kill < kills; ++kill) {
    AgentHandle client = AgentConnect("changes", 0, 0, 0);
    ASSERT_NE(client, 0u);
    int held = RoundHeld(client, rows, round);
    if (held < 0) break;
    EXPECT_TRUE(held == acknowledged || held == round) << "kill " << kill << ": " << held;
    if (held == round && round != acknowledged) ++inFlightKept;
    acknowledged = round = held;
    std::atomic<bool> stop{false};
    std::thread setter([&] {
      while (!stop) {
        OwnedChanges set = Round(++round, rows);
        if (set.Apply(client) != 0) break;
        acknowledged = round;
      }
    });
    std::this_thread::sleep_for(std::chrono::microseconds(busyUs(random)));
    agent.Kill9();
    stop = true;
    setter.join();
    AgentDisconnect(client);
    if (!agent.Start()) {
      ADD_FAILURE() << "the agent did not start again after kill " << kill + 1;
      break;
    }
    ++survived;
  }
  AgentHandle last = AgentConnect("changes", 0, 0, 0);
  int held = RoundHeld(last, rows, round);
  EXPECT_TRUE(held == acknowledged || held == round) << held;
  AgentFrameworkCleanup();
  EXPECT_EQ(survived, kills);
  std::printf(
      "changesets: %d kills survived (seed %d), %d sets of %u values acknowledged, %d sets in "
      "flight kept whole, none held in part\n",
      survived, seed, acknowledged, rows * 5, inFlightKept);
}

}  // namespace
}  // namespace hardening
