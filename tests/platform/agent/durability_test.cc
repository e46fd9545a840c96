#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "agent/core/agent_core.h"
#include "framework_fixture.h"
#include "protocol/agent_errors.h"
#include "protocol/transport.h"

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

// Sets NUMBER into OBJECT, which the agent must refuse for want of storage: the reason it gives.
std::string RefusedForStorage(AgentHandle agent, TestOid& object, uint32_t number) {
  SnmpValue value{};
  value.syntax = ORVU_SYNTAX_INTEGER;
  value.number = number;
  EXPECT_EQ(AgentSetData(agent, 0, AgentGetDataHandle(agent, 0, object.Ptr()), &value), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_STORAGE);
  return AgentTest::LastErrorText();
}

// A change set as a test writes it: each change owns its OIDs and bytes.
struct TestChange {
  uint32_t kind = ORVU_CHANGE_SET;
  std::vector<uint32_t> entry;
  std::vector<uint32_t> object;
  uint32_t syntax = ORVU_SYNTAX_INTEGER;
  uint32_t number = 0;
  std::string bytes;
};

const std::vector<uint32_t> FREQ_ENTRY(std::begin(ENTRY_IDS), std::end(ENTRY_IDS));
const std::vector<uint32_t> SCHEDULE_ENTRY = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 12, 1};

TestChange Create(const std::vector<uint32_t>& entry, uint32_t index) {
  return {ORVU_CHANGE_CREATE, entry, {index}, 0, 0, {}};
}
TestChange Remove(const std::vector<uint32_t>& entry, uint32_t index) {
  return {ORVU_CHANGE_REMOVE, entry, {index}, 0, 0, {}};
}
TestChange SetColumn(const std::vector<uint32_t>& entry, uint32_t column, uint32_t index,
                     uint32_t number, uint32_t syntax = ORVU_SYNTAX_INTEGER) {
  std::vector<uint32_t> object = entry;
  object.push_back(column);
  object.push_back(index);
  return {ORVU_CHANGE_SET, {}, object, syntax, number, {}};
}
TestChange SetText(uint32_t column, uint32_t index, const std::string& text) {
  TestChange change = SetColumn(FREQ_ENTRY, column, index, 0, ORVU_SYNTAX_OCTETS);
  change.bytes = text;
  return change;
}

// The agent's answer to CHANGES: its status, and the refused change's position in *failed.
int Apply(AgentHandle agent, const std::vector<TestChange>& changes, uint32_t* failed) {
  std::vector<AgentChange> records(changes.size());
  for (size_t i = 0; i < changes.size(); ++i) {
    const TestChange& c = changes[i];
    AgentChange& r = records[i];
    r.kind = c.kind;
    r.entry = {static_cast<uint32_t>(c.entry.size()), const_cast<uint32_t*>(c.entry.data())};
    r.object = {static_cast<uint32_t>(c.object.size()), const_cast<uint32_t*>(c.object.data())};
    r.value.syntax = c.syntax;
    r.value.number = c.bytes.empty() ? c.number : static_cast<uint32_t>(c.bytes.size());
    if (!c.bytes.empty()) r.value.data = reinterpret_cast<uintptr_t>(c.bytes.data());
  }
  return AgentApplyChanges(agent, records.data(), static_cast<uint32_t>(records.size()), failed);
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
  TableInstanceInfo info = FirstInstance(agent, entryHandle);
  EXPECT_EQ(info.instanceHandle, instanceHandle);
  EXPECT_EQ(info.reserved, 8u);
  EXPECT_EQ(info.creationTime, TEST_CLOCK);
  KillAgent();
  AgentFrameworkCleanup();

  // The file that start wrote is read as it is by the next, which changes nothing in it and
  // appends onto its last seal; the start after that reads the change and writes the file anew.
  auto fileId = [&] {
    struct stat st {};
    EXPECT_EQ(stat(state_.c_str(), &st), 0);
    return std::make_pair(st.st_ino, st.st_size);
  };
  auto written = fileId();
  ASSERT_TRUE(StartAgent({}));
  EXPECT_EQ(fileId(), written) << "read, not rewritten";
  agent = Connect();
  SetInteger(agent, hertz, 4321);
  KillAgent();
  AgentFrameworkCleanup();
  ASSERT_TRUE(StartAgent({}));
  EXPECT_NE(fileId().first, written.first) << "a file with a change appended is rewritten";
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, hertz), 4321u);
  StopAgent();
  AgentFrameworkCleanup();

  // A start that adds a module writes it into the file, so a start without it still loads it.
  written = fileId();
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--module", "RFC1213-MIB"}));
  EXPECT_NE(fileId().first, written.first);
  StopAgent();
  std::ifstream file(state_);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("module RFC1213-MIB"), std::string::npos);
}

// A change set is checked whole before anything is written: a refused one leaves the state file
// as it was, to the byte, and names the change at fault; one that passes is applied whole, each
// change seeing what the ones before it made or removed, and all of it is there after a kill.
TEST_F(DurabilityTest, AChangeSetIsAppliedWholeOrRefusedWhole) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  const std::vector<uint32_t> volume = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 2, 0};
  const std::vector<uint32_t> nowhere = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 99, 1};
  TestChange tooLong = SetText(2, 21, std::string(65, 'a'));
  struct Case {
    std::vector<TestChange> changes;
    int status;
    uint32_t failed;
    const char* text;
  };
  const Case cases[] = {
      {{Create(FREQ_ENTRY, 21),
        SetText(2, 21, "low beep"),
        SetColumn(FREQ_ENTRY, 3, 21, 220),
        SetColumn(FREQ_ENTRY, 4, 21, 2),
        {ORVU_CHANGE_SET, {}, volume, ORVU_SYNTAX_INTEGER, 40, {}}},
       0,
       5,
       ""},
      {{Create(FREQ_ENTRY, 22), SetColumn(FREQ_ENTRY, 3, 22, 19)},
       AGENT_ERR_WRONG_VALUE,
       1,
       "change [1] set speakerFreqHertz.22 = 19 (syntax 2): wrong value for object "
       "speakerFreqHertz.22: it takes 20..20000, not 19"},
      {{SetColumn(FREQ_ENTRY, 3, 21, 300), Create(FREQ_ENTRY, 21)},
       AGENT_ERR_INSTANCE_EXISTS,
       1,
       "change [1] create speakerFreqEntry.21: instance already exists"},
      {{Remove(FREQ_ENTRY, 21), SetColumn(FREQ_ENTRY, 3, 21, 300)},
       AGENT_ERR_NO_SUCH_INSTANCE,
       1,
       "change [1] set speakerFreqHertz.21 = 300 (syntax 2): no such instance"},
      {{SetColumn(FREQ_ENTRY, 3, 21, 5)}, AGENT_ERR_WRONG_VALUE, 0, "it takes 20..20000, not 5"},
      {{SetText(3, 21, "loud")},
       AGENT_ERR_WRONG_SYNTAX,
       0,
       "change [0] set speakerFreqHertz.21 = \"loud\" (syntax 4): wrong syntax"},
      {{tooLong}, AGENT_ERR_WRONG_LENGTH, 0, "it takes 0..64 bytes, not 65"},
      {{Create(FREQ_ENTRY, 23), Create(FREQ_ENTRY, 0)},
       AGENT_ERR_BAD_INSTANCE,
       1,
       "change [1] create speakerFreqEntry.0: bad instance OID"},
      {{Create(nowhere, 1)}, AGENT_ERR_NO_SUCH_ENTRY, 0, "no such table entry"},
      {{Create(FREQ_ENTRY, 24), {9, {}, volume, 0, 0, {}}},
       AGENT_ERR_BAD_ARGUMENT,
       1,
       "no such kind"},
      // RowStatus: rows come by CREATE; active needs every column without a default, which a
      // later change of the same set may give.
      {{Create(SCHEDULE_ENTRY, 5), SetColumn(SCHEDULE_ENTRY, 4, 5, 4)},
       AGENT_ERR_WRONG_VALUE,
       1,
       "active(1) or notInService(2) only"},
      {{Create(SCHEDULE_ENTRY, 5), SetColumn(SCHEDULE_ENTRY, 4, 5, 1)},
       AGENT_ERR_WRONG_VALUE,
       1,
       "lacks a value without a default"},
      {{Create(SCHEDULE_ENTRY, 5), SetColumn(SCHEDULE_ENTRY, 4, 5, 1),
        SetColumn(SCHEDULE_ENTRY, 2, 5, 7)},
       0,
       3,
       ""},
      // A row removed and made anew in one set starts from its defaults.
      {{Remove(FREQ_ENTRY, 21), Create(FREQ_ENTRY, 21), SetColumn(FREQ_ENTRY, 3, 21, 880)},
       0,
       3,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string before = ReadState();
    uint32_t failed = 0;
    EXPECT_EQ(Apply(agent, c.changes, &failed), c.status) << LastErrorText();
    EXPECT_EQ(failed, c.failed);
    if (c.status == 0) continue;
    EXPECT_NE(LastErrorText().find(c.text), std::string::npos) << LastErrorText();
    EXPECT_EQ(ReadState(), before) << "a refused set wrote nothing";
  }
  EXPECT_NE(ReadState().find("\ngroup records=5 crc="), std::string::npos) << ReadState();
  // A set larger than one request may take is refused before anything is sent.
  char byte = 'x';
  TestOid descr = LeafOid(2, {21});
  AgentChange huge{ORVU_CHANGE_SET,
                   {},
                   *descr.Ptr(),
                   {ORVU_SYNTAX_OCTETS, 40u << 20, reinterpret_cast<uintptr_t>(&byte)}};
  uint32_t failed = 0;
  EXPECT_EQ(AgentApplyChanges(agent, &huge, 1, &failed), AGENT_ERR_VALUE_TOO_LARGE);
  EXPECT_EQ(failed, 0u);
  KillAgent();
  AgentFrameworkCleanup();
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  TestOid hertz = LeafOid(3, {21}), mode = LeafOid(4, {21});
  TestOid tone{1, 3, 6, 1, 4, 1, 32473, 99, 1, 12, 1, 2, 5};
  TestOid volumeOid{1, 3, 6, 1, 4, 1, 32473, 99, 1, 2};
  EXPECT_EQ(ReadInteger(agent, hertz), 880u);
  EXPECT_EQ(ReadInteger(agent, mode), 1u) << "the row made anew has its defaults";
  EXPECT_EQ(ReadInteger(agent, tone), 7u);
  EXPECT_EQ(ReadInteger(agent, volumeOid), 40u);
  TestOid absent = LeafOid(3, {23});
  EXPECT_EQ(AgentGetDataHandle(agent, 0, absent.Ptr()), 0u) << "no part of a refused set stays";
}

// A module whose second table AUGMENTS the first: each row is a family of two instances.
constexpr const char* FAMILY_MIB =
    "FAM-MIB DEFINITIONS ::= BEGIN\n"
    "IMPORTS OBJECT-TYPE, Integer32, enterprises FROM SNMPv2-SMI;\n"
    "famTable OBJECT-TYPE SYNTAX SEQUENCE OF FamEntry MAX-ACCESS not-accessible STATUS current\n"
    "  DESCRIPTION \"t\" ::= { enterprises 32473 98 1 }\n"
    "famEntry OBJECT-TYPE SYNTAX FamEntry MAX-ACCESS not-accessible STATUS current\n"
    "  DESCRIPTION \"e\" INDEX { famIndex } ::= { famTable 1 }\n"
    "FamEntry ::= SEQUENCE { famIndex Integer32, famValue Integer32 }\n"
    "famIndex OBJECT-TYPE SYNTAX Integer32 (1..100) MAX-ACCESS not-accessible STATUS current\n"
    "  DESCRIPTION \"i\" ::= { famEntry 1 }\n"
    "famValue OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-write STATUS current\n"
    "  DESCRIPTION \"v\" DEFVAL { 1 } ::= { famEntry 2 }\n"
    "famXTable OBJECT-TYPE SYNTAX SEQUENCE OF FamXEntry MAX-ACCESS not-accessible STATUS current\n"
    "  DESCRIPTION \"t\" ::= { enterprises 32473 98 2 }\n"
    "famXEntry OBJECT-TYPE SYNTAX FamXEntry MAX-ACCESS not-accessible STATUS current\n"
    "  DESCRIPTION \"e\" AUGMENTS { famEntry } ::= { famXTable 1 }\n"
    "FamXEntry ::= SEQUENCE { famXValue Integer32 }\n"
    "famXValue OBJECT-TYPE SYNTAX Integer32 MAX-ACCESS read-write STATUS current\n"
    "  DESCRIPTION \"x\" DEFVAL { 1 } ::= { famXEntry 1 }\n"
    "END\n";
const std::vector<uint32_t> FAM_ENTRY = {1, 3, 6, 1, 4, 1, 32473, 98, 1, 1};
const std::vector<uint32_t> FAMX_ENTRY = {1, 3, 6, 1, 4, 1, 32473, 98, 2, 1};

// A change of several records (a row of an AUGMENTS family made or removed, a change set) is one
// unit on disk. Its append is cut short (within the group line, right after its first record,
// one byte before its end), the cut that should take it back fails, and the agent dies before it
// can try again: the next start leaves the whole unit out, never a part of it.
TEST_F(DurabilityTest, AChangeOfSeveralRecordsCutShortCountsForNothing) {
  std::ofstream(dir_ + "/FAM-MIB") << FAMILY_MIB;
  agent_->options.env["ORVU_MIB_PATH"] = dir_ + ":" + MibsDir();
  const std::vector<std::string> args = {"--module", "VORNEL-VNBEEP-MIB", "--module", "FAM-MIB"};
  SnmpOid famEntry{static_cast<uint32_t>(FAM_ENTRY.size()),
                   const_cast<uint32_t*>(FAM_ENTRY.data())};
  auto leaf = [](const std::vector<uint32_t>& entry, uint32_t column, uint32_t index) {
    std::vector<uint32_t> ids = entry;
    ids.insert(ids.end(), {column, index});
    return TestOid(ids);
  };
  auto there = [&](AgentHandle agent, const std::vector<uint32_t>& entry, uint32_t index) {
    TestOid object = leaf(entry, entry == FAM_ENTRY ? 2 : 1, index);
    return AgentGetDataHandle(agent, 0, object.Ptr()) != 0;
  };
  TestOid volume{1, 3, 6, 1, 4, 1, 32473, 99, 1, 2};
  struct Case {
    const char* what;
    std::function<bool(AgentHandle)> change;  // true when the agent acknowledged it
  };
  const Case cases[] = {
      {"a row made in both entries",
       [&](AgentHandle agent) {
         uint32_t seven = 7, instance = 0;
         SnmpOid index{1, &seven};
         return AgentCreateTableEntry(agent, 0, 0, &famEntry, &index, &instance) != 0;
       }},
      {"a row removed from both entries",
       [&](AgentHandle agent) {
         uint32_t eight = 8;
         SnmpOid index{1, &eight};
         uint32_t entry = AgentFindTableEntry(agent, &famEntry);
         return AgentRemoveTableEntry(agent, 0, entry,
                                      AgentFindTableInstance(agent, entry, &index)) != 0;
       }},
      {"a change set",
       [&](AgentHandle agent) {
         uint32_t failed = 0;
         return Apply(agent,
                      {Create(FAM_ENTRY, 9),
                       SetColumn(FAM_ENTRY, 2, 9, 99),
                       SetColumn(FAMX_ENTRY, 1, 9, 98),
                       {ORVU_CHANGE_SET, {}, {1, 3, 6, 1, 4, 1, 32473, 99, 1, 2, 0}, 2, 77, {}}},
                      &failed) == 0;
       }},
  };
  TestOid extra = leaf(FAMX_ENTRY, 1, 8);
  // The rows and value that each case starts from are the first two appends.
  auto begin = [&](const std::string& faults) {
    std::filesystem::remove(state_);
    if (!faults.empty()) agent_->options.env["ORVU_FAULTS"] = faults;
    EXPECT_TRUE(StartAgent(args));
    AgentHandle agent = Connect();
    uint32_t eight = 8, instance = 0;
    SnmpOid index{1, &eight};
    EXPECT_NE(AgentCreateTableEntry(agent, 0, 0, &famEntry, &index, &instance), 0u);
    SetInteger(agent, extra, 5);
    return agent;
  };
  for (const Case& c : cases) {
    // What the change appends when nothing fails, to cut it short where it tells.
    AgentHandle agent = begin("");
    size_t before = ReadState().size();
    ASSERT_TRUE(c.change(agent)) << LastErrorText();
    std::string unit = ReadState().substr(before);
    AgentFrameworkCleanup();
    StopAgent();
    ASSERT_EQ(unit.rfind("group records=", 0), 0u) << unit;
    size_t firstRecord = unit.find('\n', unit.find('\n') + 1) + 1;
    for (size_t bytes : {size_t{10}, firstRecord, unit.size() - 1}) {
      SCOPED_TRACE(std::string(c.what) + ", cut after " + std::to_string(bytes) + " of " +
                   std::to_string(unit.size()) + " bytes");
      agent = begin("StateWrite=" + std::to_string(bytes) + "/5@3;StateCut=0");
      EXPECT_FALSE(c.change(agent));
      EXPECT_EQ(AgentGetLastError(), AGENT_ERR_STORAGE) << LastErrorText();
      KillAgent();
      AgentFrameworkCleanup();
      // As if the agent died before it noted the cut that failed.
      std::filesystem::remove(socket_ + ".cut");
      agent_->options.env.erase("ORVU_FAULTS");
      ASSERT_TRUE(StartAgent(args));
      agent = Connect();
      for (const auto& entry : {FAM_ENTRY, FAMX_ENTRY}) {
        EXPECT_FALSE(there(agent, entry, 7));
        EXPECT_TRUE(there(agent, entry, 8));
        EXPECT_FALSE(there(agent, entry, 9));
      }
      EXPECT_EQ(ReadInteger(agent, extra), 5u) << "the row kept its value";
      EXPECT_EQ(ReadInteger(agent, volume), 50u);
      AgentFrameworkCleanup();
      StopAgent();
    }
  }
}

// A client knows the data handles of the rows after the one it asked for. A row that another
// client removes meanwhile fails the set as if it had gone between the handle and the set; a row
// made anew under the same index takes the value, never the row that was.
TEST_F(DurabilityTest, RowsChangedByAnotherClientBetweenSetsTakeNoValueAstray) {
  ASSERT_TRUE(StartAgent());
  AgentHandle first = Connect();
  AgentHandle second = Connect("Other");
  uint32_t handles[4] = {};
  uint32_t entryHandle = 0;
  for (uint32_t index = 1; index <= 3; ++index)
    entryHandle = CreateInstance(first, index, &handles[index]);
  TestOid row1 = LeafOid(3, {1}), row2 = LeafOid(3, {2}), row3 = LeafOid(3, {3});
  SetInteger(first, row1, 101);

  ASSERT_EQ(AgentRemoveTableEntry(second, 0, entryHandle, handles[2]), 1);
  uint32_t again = 0;
  CreateInstance(second, 2, &again);
  ASSERT_NE(again, handles[2]);
  SetInteger(first, row2, 202);
  EXPECT_EQ(ReadInteger(second, row2), 202u);

  ASSERT_EQ(AgentRemoveTableEntry(second, 0, entryHandle, handles[3]), 1);
  SnmpValue value{};
  value.syntax = ORVU_SYNTAX_INTEGER;
  value.number = 303;
  uint32_t gone = AgentGetDataHandle(first, 0, row3.Ptr());
  if (gone != 0) {
    EXPECT_EQ(AgentSetData(first, 0, gone, &value), 0);
    EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_DATA);
  }
  EXPECT_EQ(AgentGetDataHandle(first, 0, row3.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_INSTANCE);
  EXPECT_EQ(ReadInteger(second, row1), 101u);
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

// A large state file that the agent did not write itself is served as soon as it is read and
// rewritten sealed between requests. Until the rewrite is in place the file read stays as it
// was: a stop in between leaves it so, and a change first finishes the rewrite, so that a kill
// right after the change loses neither.
TEST_F(DurabilityTest, ALargeHandWrittenFileIsServedAtOnceAndSealedBetweenRequests) {
  constexpr uint32_t ROWS = 12000;  // more records than one part of the rewrite
  std::string text = "module VORNEL-VNBEEP-MIB\n";
  const std::string fill(600, 'a');
  for (uint32_t i = 1; i <= ROWS; ++i) {
    std::string n = std::to_string(i);
    text += "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=" + n + " handle=" + n +
            " creator=1 time=86400 enabled=8\nvalue handle=" + n +
            " column=3 syntax=2 number=" + n + "\nvalue handle=" + n +
            " column=14 syntax=4 bytes=" + fill + "\n";
  }
  ASSERT_GE(text.size(), agent::AGENT_REWRITE_IN_PARTS_BYTES);
  const std::string sealedStart = "# orvu-agentd state:";
  auto sealed = [&] { return ReadState().rfind(sealedStart, 0) == 0; };
  auto leftBeside = [&] { return std::filesystem::exists(state_ + ".new"); };
  TestOid first = LeafOid(3, {1}), last = LeafOid(3, {ROWS});

  WriteState(text);
  ASSERT_TRUE(StartAgent({}));
  StopAgent();
  EXPECT_TRUE(ReadState() == text || sealed()) << "the file read, or its rewrite whole";
  EXPECT_FALSE(leftBeside());

  WriteState(text);
  ASSERT_TRUE(StartAgent({}));
  AgentHandle agent = Connect();
  EXPECT_EQ(ReadInteger(agent, last), ROWS);
  SetInteger(agent, first, 4242);
  KillAgent();
  AgentFrameworkCleanup();
  // The change went into the file as read, without waiting for the copy (and into the copy).
  EXPECT_TRUE(sealed() || ReadState().rfind(text, 0) == 0);
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, first), 4242u);
  EXPECT_EQ(ReadInteger(agent, last), ROWS);
  StopAgent();
  AgentFrameworkCleanup();

  // A copy that fails (here at its first write) leaves the file as it was, with the changes
  // made meanwhile, and the next change writes the copy again, whole, before it goes in.
  WriteState(text);
  agent_->options.env["ORVU_FAULTS"] = "StateRewrite=100/5@1";
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  SetInteger(agent, last, 77);
  for (int i = 0; i < 1000 && leftBeside(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  SetInteger(agent, last, 78);
  KillAgent();
  AgentFrameworkCleanup();
  agent_->options.env.erase("ORVU_FAULTS");
  EXPECT_TRUE(sealed());
  EXPECT_FALSE(leftBeside());
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, last), 78u);
  StopAgent();
  AgentFrameworkCleanup();

  // Left to itself, the agent seals the file without a change to prompt it; the copy kept of the
  // file written by hand is that file as it was, without the change made during the rewrite.
  WriteState(text);
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  SetInteger(agent, last, 99);
  for (int i = 0; i < 1000 && !sealed(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(sealed());
  std::ifstream old(state_ + ".old");
  EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(old), std::istreambuf_iterator<char>()) ==
              text);
  StopAgent();
  AgentFrameworkCleanup();
  EXPECT_FALSE(leftBeside());
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, first), 1u);
  EXPECT_EQ(ReadInteger(agent, last), 99u);
}

// An agent core in this process, asked as a library client would ask the agent.
struct CoreClient {
  explicit CoreClient(agent::AgentCore* agentCore) : core(agentCore) {
    proto::Request request;
    request.op = proto::Op::Register;
    request.clientName = "core client";
    EXPECT_EQ(core->Handle(&context, request).status, 0);
    request.op = proto::Op::FindEntry;
    request.oid = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};
    entry = core->Handle(&context, request).handle;
  }
  proto::Reply SetHertz(uint32_t instance, uint32_t hertz) {
    proto::Request request;
    request.op = proto::Op::SetData;
    request.dataHandle = proto::PackedColumnHandle(instance, 3);
    request.value.syntax = ORVU_SYNTAX_INTEGER;
    request.value.number = hertz;
    return core->Handle(&context, request);
  }
  proto::Reply Create(uint32_t index) {
    proto::Request request;
    request.op = proto::Op::CreateInstance;
    request.oid = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};
    request.index = {index};
    return core->Handle(&context, request);
  }
  proto::Reply Remove(uint32_t instance) {
    proto::Request request;
    request.op = proto::Op::RemoveInstance;
    request.entryHandle = entry;
    request.instanceHandle = instance;
    return core->Handle(&context, request);
  }
  agent::AgentCore* core;
  agent::ClientContext context;
  uint32_t entry = 0;
};

// A state of ROWS rows (more than one part of a rewrite), as an agent wrote it, with a change
// appended after its snapshot: a start serves it and rewrites it between requests.
void WriteLargeSealedState(const std::string& path, uint32_t rows) {
  agent::StateJournal journal;
  std::string error;
  ASSERT_TRUE(journal.Lock(path, false, &error)) << error;
  auto records = [rows](const std::function<void(const agent::StateRecord&)>& out) {
    agent::StateRecord record;
    record.moduleName = "VORNEL-VNBEEP-MIB";
    out(record);
    for (uint32_t i = 1; i <= rows; ++i) {
      agent::StateRecord row;
      row.type = agent::RecordType::Instance;
      row.entryOid = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};
      row.indexOid = {i};
      row.handle = i;
      row.creator = 1;
      out(row);
      agent::StateRecord value;
      value.type = agent::RecordType::Value;
      value.handle = i;
      value.column = 3;
      value.value.syntax = ORVU_SYNTAX_INTEGER;
      value.value.number = i;
      out(value);
      value.column = 14;
      value.value.syntax = ORVU_SYNTAX_OCTETS;
      value.value.kind = proto::ValueKind::Bytes;
      value.value.bytes.assign(600, 'a');
      out(value);
    }
  };
  ASSERT_TRUE(journal.Rewrite(records, &error)) << error;
  agent::StateRecord appended;
  appended.type = agent::RecordType::Enable;
  appended.handle = 1;
  appended.enabledFlags = 8;
  ASSERT_TRUE(journal.Append(appended, &error)) << error;
}

// Changes while a large state is rewritten between requests go in at once, without finishing
// the rewrite: into the file as read, and after the new file's snapshot. A stop before the new
// file is in place (the rewrite dropped) and one after it both keep every change, rows behind
// and ahead of the rewrite's progress, made and removed alike.
TEST_F(DurabilityTest, ChangesDuringTheRewriteAfterStartGoInAtOnceAndSurviveEitherEnd) {
  constexpr uint32_t ROWS = 12000;
  agent::AgentOptions options;
  options.statePath = state_;
  options.mibPath = {MibsDir()};
  for (bool finished : {false, true}) {
    SCOPED_TRACE(finished ? "rewrite finished" : "rewrite dropped");
    std::filesystem::remove(state_);
    WriteLargeSealedState(state_, ROWS);
    uint32_t made = 0;
    {
      agent::AgentCore core;
      std::string error;
      ASSERT_TRUE(core.Start(options, &error)) << error;
      ASSERT_TRUE(core.RewriteUnderway());
      core.ContinueRewrite();
      ASSERT_TRUE(core.RewriteUnderway());
      CoreClient client(&core);
      EXPECT_EQ(client.SetHertz(1, 101).status, 0);
      EXPECT_EQ(client.SetHertz(ROWS, 202).status, 0);
      proto::Reply created = client.Create(ROWS + 5);
      EXPECT_EQ(created.status, 0) << created.text;
      made = created.instanceHandle;
      EXPECT_EQ(client.SetHertz(made, 303).status, 0);
      EXPECT_EQ(client.Remove(2).status, 0);
      EXPECT_EQ(client.Remove(ROWS - 1).status, 0);
      EXPECT_EQ(client.SetHertz(ROWS, 204).status, 0);
      EXPECT_TRUE(core.RewriteUnderway()) << "the changes left the rewrite to go on";
      while (finished && core.RewriteUnderway()) core.ContinueRewrite();
    }
    EXPECT_FALSE(std::filesystem::exists(state_ + ".new"));
    // The snapshot states row 1 enabled in its instance record; the file as read, in a record of
    // its own.
    EXPECT_EQ(ReadState().find("\nenable handle=1 ") == std::string::npos, finished);
    agent::AgentCore core;
    std::string error;
    ASSERT_TRUE(core.Start(options, &error)) << error;
    while (core.RewriteUnderway()) core.ContinueRewrite();
    auto hertz = [&](uint32_t index) {
      agent::SnmpVarBind found;
      agent::Oid oid = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 3, index};
      return core.SnmpGet(oid, &found) == agent::SnmpOutcome::Ok ? found.value.number : 0u;
    };
    EXPECT_EQ(hertz(1), 101u);
    EXPECT_EQ(hertz(2), 0u);
    EXPECT_EQ(hertz(3), 3u);
    EXPECT_EQ(hertz(ROWS - 1), 0u);
    EXPECT_EQ(hertz(ROWS), 204u);
    EXPECT_EQ(hertz(ROWS + 5), 303u);
  }
}

// The file is the agent's own until it lets go: a state file replaced or moved away while its
// rewrite is under way, or a new file swapped for the one the agent writes, is never renamed
// over or written to; changes are refused with the reason, and every file stays as it was.
TEST_F(DurabilityTest, AFileThatIsNoLongerTheAgentsOwnIsLeftAlone) {
  constexpr uint32_t ROWS = 12000;
  agent::AgentOptions options;
  options.statePath = state_;
  options.mibPath = {MibsDir()};
  const std::string other = "# another agent's state\nmodule VORNEL-VNBEEP-MIB\n";
  struct Case {
    const char* what;
    bool replace;     // another file at the state file's path
    bool moveAway;    // the state file moved away
    bool swapNew;     // another file at PATH.new
    const char* why;  // the refusal of a change
  };
  for (const Case& c :
       {Case{"replaced", true, true, false, "was replaced by another file while the agent ran"},
        Case{"moved away", false, true, false, "was moved or removed while the agent ran"},
        Case{"new file swapped", false, false, true, nullptr}}) {
    SCOPED_TRACE(c.what);
    for (const char* left : {"", ".moved", ".new"}) std::filesystem::remove(state_ + left);
    WriteLargeSealedState(state_, ROWS);
    const std::string original = ReadState();
    agent::AgentCore core;
    std::string error;
    ASSERT_TRUE(core.Start(options, &error)) << error;
    core.ContinueRewrite();
    ASSERT_TRUE(core.RewriteUnderway());
    if (c.moveAway) std::filesystem::rename(state_, state_ + ".moved");
    if (c.replace) WriteState(other);
    if (c.swapNew) {
      std::filesystem::remove(state_ + ".new");
      std::ofstream(state_ + ".new") << other;
    }
    while (core.RewriteUnderway()) core.ContinueRewrite();
    if (c.moveAway) {
      std::ifstream moved(state_ + ".moved");
      EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(moved),
                              std::istreambuf_iterator<char>()) == original);
    }
    if (c.replace) {
      EXPECT_EQ(ReadState(), other);
    }
    if (c.swapNew) {
      EXPECT_TRUE(ReadState() == original);
      std::ifstream swapped(state_ + ".new");
      EXPECT_EQ(
          std::string(std::istreambuf_iterator<char>(swapped), std::istreambuf_iterator<char>()),
          other);
    } else {
      EXPECT_FALSE(std::filesystem::exists(state_ + ".new"));
    }
    if (!c.why) continue;
    CoreClient client(&core);
    proto::Reply refused = client.SetHertz(1, 50);
    EXPECT_EQ(refused.status, AGENT_ERR_STORAGE);
    EXPECT_NE(refused.text.find("state file " + state_ + " " + c.why), std::string::npos)
        << refused.text;
    if (c.replace) {
      EXPECT_EQ(ReadState(), other);
    }
  }
}

// A record whose write was cut short (the agent killed in the middle of it) was never
// acknowledged, and NUL bytes at the end are a size that reached the disk before the bytes
// written there (a power cut): the next start leaves either out, says so, keeps the file as it
// was beside it (never in place of the copy kept before), and takes everything before it.
TEST_F(DurabilityTest, ARecordCutShortIsLeftOutAndTheFileKeptBesideIt) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  uint32_t entryHandle = 0;
  for (uint32_t index : {11, 12, 13}) entryHandle = CreateInstance(agent, index);
  TestOid hertz = LeafOid(3, {11});
  SetInteger(agent, hertz, 4242);
  KillAgent();
  AgentFrameworkCleanup();
  const std::string torn = ": left out a record cut short (it was never acknowledged)";
  const std::string nuls = " NUL bytes at its end, after its last whole record";
  struct Cut {
    std::string tail;
    std::string said;  // after the file's name
  };
  const Cut cuts[] = {
      {"remove handle=1", ":LINE" + torn},
      {"value handle=1 column=3 syntax=2 number=7", ":LINE" + torn},
      {"value handle=1 column=3 syntax=2 number=77 crc=0", ":LINE" + torn},
      {std::string(4096, '\0'), ": left out 4096" + nuls},
      {"value handle=1 col" + std::string(3000, '\0'), ": left out 3000" + nuls},
      {"value handle=1 col" + std::string(3000, '\0'), ":LINE" + torn},
  };
  std::string first;
  for (size_t n = 0; n < std::size(cuts); ++n) {
    const Cut& cut = cuts[n];
    SCOPED_TRACE(n);
    std::string whole = ReadState();
    WriteState(whole + cut.tail);
    if (n == 0) first = whole + cut.tail;
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
    std::string expected = cut.said;
    if (expected.rfind(":LINE", 0) == 0) expected.replace(1, 4, std::to_string(line));
    EXPECT_NE(said.find(state_ + expected), std::string::npos) << said;
    std::string copy = state_ + ".old" + (n == 0 ? "" : "." + std::to_string(n + 1));
    EXPECT_NE(said.find("the state file as found is kept as " + copy + "\n"), std::string::npos)
        << said;
    std::ifstream old(copy);
    std::string kept((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, whole + cut.tail);
  }
  std::ifstream old(state_ + ".old");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), std::istreambuf_iterator<char>()),
            first);
}

// One value of each syntax, as the library hands it in and out: bytes and OIDs in a block, the
// second half of a Counter64 in data.
struct SyntaxSample {
  uint32_t syntax;
  uint32_t number;
  std::string bytes;
  std::vector<uint32_t> ids;
  uint32_t second = 0;
};

std::vector<SyntaxSample> EverySyntax() {
  return {
      {ORVU_SYNTAX_INTEGER, static_cast<uint32_t>(-5), "", {}},
      {ORVU_SYNTAX_OCTETS, 0, std::string("a b=%\0\xff", 7), {}},
      {ORVU_SYNTAX_NULL, 0, "", {}},
      {ORVU_SYNTAX_OID, 0, "", {1, 3, 6, 1, 4, 1}},
      {ORVU_SYNTAX_IPADDR, 0, std::string("\x0a\x00\x00\x01", 4), {}},
      {ORVU_SYNTAX_CNTR32, 4294967295u, "", {}},
      {ORVU_SYNTAX_GAUGE32, 7, "", {}},
      {ORVU_SYNTAX_TIMETICKS, 100, "", {}},
      {ORVU_SYNTAX_OPAQUE, 0, "\x01\x02", {}},
      {ORVU_SYNTAX_NSAPADDR, 0, std::string("\x47\x00\x05", 3), {}},
      {ORVU_SYNTAX_CNTR64, 1, "", {}, 4294967295u},
  };
}

std::string SampleText(const SyntaxSample& s) {
  std::string text = std::to_string(s.syntax) + ": " + std::to_string(s.number) + "/" +
                     std::to_string(s.second) + " [";
  for (unsigned char c : s.bytes) text += std::to_string(c) + " ";
  text += "] {";
  for (uint32_t id : s.ids) text += std::to_string(id) + ".";
  return text + "}";
}

void SetSample(AgentHandle agent, TestOid& object, SyntaxSample sample) {
  SnmpValue value{};
  value.syntax = sample.syntax;
  value.number = sample.number;
  if (!sample.bytes.empty()) {
    value.number = static_cast<uint32_t>(sample.bytes.size());
    value.data = reinterpret_cast<uintptr_t>(sample.bytes.data());
  } else if (sample.syntax == ORVU_SYNTAX_OID) {
    value.number = static_cast<uint32_t>(sample.ids.size());
    value.data = reinterpret_cast<uintptr_t>(sample.ids.data());
  } else if (sample.syntax == ORVU_SYNTAX_CNTR64) {
    value.data = sample.second;
  }
  uint32_t data = AgentGetDataHandle(agent, 0, object.Ptr());
  ASSERT_NE(data, 0u) << AgentTest::LastErrorText();
  ASSERT_EQ(AgentSetData(agent, 0, data, &value), 1) << AgentTest::LastErrorText();
}

// An Opaque value of BYTES, which outlive it.
SnmpValue OpaqueOf(const std::string& bytes) {
  SnmpValue value{};
  value.syntax = ORVU_SYNTAX_OPAQUE;
  value.number = static_cast<uint32_t>(bytes.size());
  value.data = reinterpret_cast<uintptr_t>(bytes.data());
  return value;
}

// What OBJECT holds, in the shape of a sample of SYNTAX.
SyntaxSample ReadSample(AgentHandle agent, TestOid& object, const SyntaxSample& like) {
  SnmpOid oid{};
  SnmpValue value{};
  SyntaxSample got{like.syntax, 0, "", {}};
  uint32_t data = AgentGetDataHandle(agent, 0, object.Ptr());
  if (data == 0 || AgentGetData(agent, data, &oid, &value) == 0) {
    got.syntax = 0;
    return got;
  }
  got.syntax = value.syntax;
  got.number = value.number;
  const auto* block = reinterpret_cast<const char*>(value.data);
  if (!like.bytes.empty()) {
    got.bytes.assign(block, value.number);
    got.number = 0;
  } else if (like.syntax == ORVU_SYNTAX_OID) {
    const auto* ids = reinterpret_cast<const uint32_t*>(value.data);
    got.ids.assign(ids, ids + value.number);
    got.number = 0;
  } else if (like.syntax == ORVU_SYNTAX_CNTR64) {
    got.second = static_cast<uint32_t>(value.data);
  }
  AgentFreeValue(value.syntax, &value.number);
  AgentFreeValue(ORVU_SYNTAX_OID, &oid);
  return got;
}

// Every syntax into a scalar and into a column (objects that take any syntax, stated by the
// state file) is acknowledged, and reads back after a kill (the journal replayed) and after a
// stop (the file rewritten whole).
TEST_F(DurabilityTest, EveryValueOfEverySyntaxSurvivesARestartInAScalarAndAColumn) {
  const std::vector<SyntaxSample> samples = EverySyntax();
  std::string state =
      "module VORNEL-VNBEEP-MIB\n"
      "instance entry=1.3.6.1.4.1.32473.99.7.1 index=1 handle=1 creator=0 time=0\n";
  std::vector<TestOid> scalars, columns;
  for (size_t n = 1; n <= samples.size(); ++n) {
    state += "scalar oid=1.3.6.1.4.1.32473.99.5." + std::to_string(n) + " syntax=2 number=0\n";
    state += "value handle=1 column=" + std::to_string(n) + " syntax=2 number=0\n";
    scalars.push_back(TestOid{1, 3, 6, 1, 4, 1, 32473, 99, 5, static_cast<uint32_t>(n), 0});
    columns.push_back(TestOid{1, 3, 6, 1, 4, 1, 32473, 99, 7, 1, static_cast<uint32_t>(n), 1});
  }
  WriteState(state);
  ASSERT_TRUE(StartAgent({}));
  AgentHandle agent = Connect();
  for (size_t n = 0; n < samples.size(); ++n) {
    SetSample(agent, scalars[n], samples[n]);
    SetSample(agent, columns[n], samples[n]);
  }
  for (bool killed : {true, false}) {
    SCOPED_TRACE(killed ? "after a kill" : "after a stop");
    if (killed) {
      KillAgent();
    } else {
      StopAgent();
    }
    AgentFrameworkCleanup();
    ASSERT_TRUE(StartAgent({})) << ReadState();
    agent = Connect();
    for (size_t n = 0; n < samples.size(); ++n) {
      EXPECT_EQ(SampleText(ReadSample(agent, scalars[n], samples[n])), SampleText(samples[n]));
      EXPECT_EQ(SampleText(ReadSample(agent, columns[n], samples[n])), SampleText(samples[n]));
    }
  }
}

// Under a file-size limit, a set whose record would pass it is refused with 1022 (the write fails
// rather than SIGXFSZ killing the agent), is not applied, and the agent serves on.
TEST_F(DurabilityTest, ASetPastTheFileSizeLimitIsRefusedAndTheAgentServesOn) {
  WriteState(
      "module VORNEL-VNBEEP-MIB\n"
      "instance entry=1.3.6.1.4.1.32473.99.7.1 index=1 handle=1 creator=0 time=0\n"
      "value handle=1 column=1 syntax=4 bytes=6f6c64\n");
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit limited = before;
  limited.rlim_cur = 64 * 1024;  // the agent started here inherits it
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool started = StartAgent({});
  setrlimit(RLIMIT_FSIZE, &before);
  ASSERT_TRUE(started);
  AgentHandle agent = Connect();
  TestOid column{1, 3, 6, 1, 4, 1, 32473, 99, 7, 1, 1, 1};
  const SyntaxSample old{ORVU_SYNTAX_OCTETS, 0, "old", {}};
  // The longest value SNMP carries, whose record is twice as long.
  SyntaxSample large{ORVU_SYNTAX_OCTETS, 0, std::string(65535, 'x'), {}};
  SnmpValue value{};
  value.syntax = ORVU_SYNTAX_OCTETS;
  value.number = static_cast<uint32_t>(large.bytes.size());
  value.data = reinterpret_cast<uintptr_t>(large.bytes.data());
  uint32_t data = AgentGetDataHandle(agent, 0, column.Ptr());
  EXPECT_EQ(AgentSetData(agent, 0, data, &value), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_STORAGE) << LastErrorText();
  EXPECT_EQ(SampleText(ReadSample(agent, column, old)), SampleText(old));
  EXPECT_EQ(kill(agent_->pid, 0), 0) << "the agent still runs";
  // The part that fitted under the limit was cut off again: the next start finds no torn record.
  KillAgent();
  AgentFrameworkCleanup();
  std::filesystem::remove(state_ + ".old");  // kept by the first start, from the file above
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(SampleText(ReadSample(agent, column, old)), SampleText(old));
  EXPECT_FALSE(std::filesystem::exists(state_ + ".old")) << "nothing was left out";
}

// The varbinds of one SNMP set are one change: written in one append as a group and applied
// together; when the journal refuses them, none is applied.
TEST_F(DurabilityTest, AnSnmpSetIsOneChangeAllOrNothing) {
  agent::AgentCore core;
  agent::AgentOptions options;
  options.statePath = state_;
  options.modules = {"VORNEL-VNBEEP-MIB"};
  options.mibPath = {MibsDir()};
  std::string error;
  ASSERT_TRUE(core.Start(options, &error)) << error;
  const agent::Oid volume = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 2, 0};
  const agent::Oid control = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 4, 0};
  auto set = [&](uint32_t volumeValue, uint32_t controlValue) {
    std::vector<agent::SnmpSetTarget> targets(2);
    proto::Value value;
    value.syntax = ORVU_SYNTAX_INTEGER;
    std::string why;
    value.number = volumeValue;
    EXPECT_EQ(core.SnmpCheckSet(volume, value, &targets[0], &why), agent::SnmpOutcome::Ok) << why;
    value.number = controlValue;
    EXPECT_EQ(core.SnmpCheckSet(control, value, &targets[1], &why), agent::SnmpOutcome::Ok) << why;
    std::vector<agent::StateRecord> undo;
    return core.SnmpCommitWhole(targets, &undo);
  };
  auto read = [&](const agent::Oid& oid) {
    agent::SnmpVarBind found;
    core.SnmpGet(oid, &found);
    return found.value.number;
  };
  ASSERT_TRUE(set(42, 2));
  EXPECT_EQ(read(volume), 42u);
  EXPECT_EQ(read(control), 2u);
  EXPECT_NE(ReadState().find("\ngroup records=2 crc="), std::string::npos) << ReadState();
  // A journal that refuses the change (its file moved away) takes none of the varbinds.
  std::filesystem::rename(state_, state_ + ".moved");
  EXPECT_FALSE(set(43, 3));
  EXPECT_EQ(read(volume), 42u);
  EXPECT_EQ(read(control), 2u);
}

// A change whose write or sync fails (a full disk, a failing device, a file-size limit, a write
// cut short) is refused with the reason and cut back off the file, so that "1022" means "not
// applied" after any restart, with --fsync too. When even the cut fails (a filesystem gone
// read-only), every later change is refused until the cut succeeds.
TEST_F(DurabilityTest, ARefusedChangeIsCutOffTheFile) {
  TestOid volume{1, 3, 6, 1, 4, 1, 32473, 99, 1, 2};
  struct Case {
    const char* faults;  // the second write or sync of the run fails
    const char* reason;
    bool laterRefused;  // the cut failed once: the next change is refused too
    bool cutNever;      // the cut fails to the end (read-only): the next start makes it
    // The socket lies in a folder that others may write in, where no note is believed: it is
    // noted beside the state instead.
    bool sharedSocketFolder = false;
  };
  for (const Case& c : {Case{"StateSync=0/5@2", "Input/output error", false, false},
                        Case{"StateSync=0/5@2;StateCut=0@1", "Input/output error", true, false},
                        Case{"StateSync=0/5@2;StateCut=0", "Input/output error", false, true},
                        Case{"StateSync=0/5@2;StateCut=0", "Input/output error", false, true, true},
                        Case{"StateWrite=0/28@2", "No space left on device", false, false},
                        Case{"StateWrite=0/5@2", "Input/output error", false, false},
                        Case{"StateWrite=0/27@2", "File too large", false, false},
                        Case{"StateWrite=9/28@2", "No space left on device", false, false}}) {
    SCOPED_TRACE(std::string(c.faults) + (c.sharedSocketFolder ? " (shared socket folder)" : ""));
    std::filesystem::remove(state_);
    std::string privateSocket = socket_;
    if (c.sharedSocketFolder) {
      std::string shared = dir_ + "/shared";
      mkdir(shared.c_str(), 01777);
      chmod(shared.c_str(), 01777);
      socket_ = agent_->socket = shared + "/agent.sock";
      setenv("ORVU_AGENT_SOCKET", socket_.c_str(), 1);
    }
    agent_->options.env["ORVU_FAULTS"] = c.faults;
    ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--fsync"}));
    AgentHandle agent = Connect();
    SetInteger(agent, volume, 11);
    std::string why = RefusedForStorage(agent, volume, 22);
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_EQ(ReadInteger(agent, volume), 11u);
    if (c.laterRefused) {
      EXPECT_NE(ReadState().find("number=22"), std::string::npos) << "the cut failed";
      // The cut is tried again first, and now succeeds: this change goes in.
      SetInteger(agent, volume, 33);
    }
    if (!c.cutNever) {
      EXPECT_EQ(ReadState().find("number=22"), std::string::npos) << ReadState();
    }
    KillAgent();
    AgentFrameworkCleanup();
    agent_->options.env.erase("ORVU_FAULTS");
    std::string said;
    ASSERT_TRUE(StartAgent({}));
    agent = Connect();
    EXPECT_EQ(ReadInteger(agent, volume), c.laterRefused ? 33u : 11u);
    AgentFrameworkCleanup();
    StopAgent();
    if (c.sharedSocketFolder) {
      EXPECT_FALSE(std::filesystem::exists(state_ + ".cut")) << "the note is taken";
      socket_ = agent_->socket = privateSocket;
      setenv("ORVU_AGENT_SOCKET", socket_.c_str(), 1);
    }
  }
  // A rewritten file whose name the folder's flush did not make durable takes no change until a
  // flush succeeds.
  std::filesystem::remove(state_);
  agent_->options.env["ORVU_FAULTS"] = "StateFolderSync=0/5";
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--fsync"}));
  AgentHandle agent = Connect();
  std::string why = RefusedForStorage(agent, volume, 22);
  EXPECT_NE(why.find("its folder could not be flushed to the disk: Input/output error"),
            std::string::npos)
      << why;
  AgentFrameworkCleanup();
  StopAgent();
  agent_->options.env.erase("ORVU_FAULTS");
  // A note beside the socket that names another state file is that file's agent's to make.
  std::string note = socket_ + ".cut";
  std::ofstream(note) << "size=1 state=" << dir_ << "/other-state\nx";
  std::filesystem::permissions(
      note, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ASSERT_TRUE(StartAgent({}));
  StopAgent();
  EXPECT_TRUE(std::filesystem::exists(note));
  std::filesystem::remove(note);
}

// With no room for its start-up rewrite (here a file-size limit below the state's size, as a
// full disk), the agent starts and serves the state it read; changes are refused with 1022 until
// there is room, and the first one after that rewrites the file and goes in.
TEST_F(DurabilityTest, NoRoomAtStartServesAndRefusesChangesUntilThereIsRoom) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  TestOid control(std::vector<uint32_t>(std::begin(CONTROL_IDS), std::end(CONTROL_IDS)));
  SetInteger(agent, control, 3);
  AgentFrameworkCleanup();
  StopAgent();
  std::string intact = ReadState();
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit limited = before;
  limited.rlim_cur = intact.size() / 2;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool started = StartAgent({});
  setrlimit(RLIMIT_FSIZE, &before);
  ASSERT_TRUE(started);
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, control), 3u);
  std::string why = RefusedForStorage(agent, control, 1);
  EXPECT_NE(why.find("File too large (the state file waits for room to be rewritten)"),
            std::string::npos)
      << why;
  EXPECT_EQ(ReadState(), intact);
  ASSERT_EQ(prlimit(agent_->pid, RLIMIT_FSIZE, &before, nullptr), 0);
  SetInteger(agent, control, 1);
  KillAgent();
  AgentFrameworkCleanup();
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, control), 1u);
}

// The journal is compacted on the bytes of its dead records: large values set again and again
// keep the file within a small multiple of the live state.
TEST_F(DurabilityTest, LargeValuesSetOverAndOverKeepTheFileNearTheLiveState) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  CreateInstance(agent, 1);
  TestOid vendorData = LeafOid(11, {1});  // Opaque, of any size
  uint32_t data = AgentGetDataHandle(agent, 0, vendorData.Ptr());
  std::string bytes(65535, 'a');  // the longest value SNMP carries
  SnmpValue value = OpaqueOf(bytes);
  uintmax_t largest = 0;
  for (int i = 0; i < 24; ++i) {
    bytes[0] = static_cast<char>('a' + i);
    ASSERT_EQ(AgentSetData(agent, 0, data, &value), 1) << LastErrorText();
    largest = std::max(largest, std::filesystem::file_size(state_));
  }
  // One live value is a line of 128 KiB of hex digits.
  EXPECT_LT(largest, 3u * (128u << 10) + 256 * 1024) << largest;
  KillAgent();
  AgentFrameworkCleanup();
  ASSERT_TRUE(StartAgent({}));
}

// --max-state-bytes bounds the file: a value that would take it past is refused with the reason
// and leaves nothing in the file, what older changes left in the journal is compacted to make
// room first (a value written again needs room for its new line beside the old one, which the
// file holds until then), and a removal always goes in and makes room again.
TEST_F(DurabilityTest, TheStateFileStaysWithinItsBound) {
  const uintmax_t bound = 400u << 10;
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--max-state-bytes", "400K"}));
  AgentHandle agent = Connect();
  std::string bytes(60000, 'v');  // a line of 120 KB of hex digits
  SnmpValue value = OpaqueOf(bytes);
  std::string why;
  uint32_t written = 0, entryHandle = 0, firstRow = 0;
  for (uint32_t row = 1; row <= 8 && why.empty(); ++row) {
    uint32_t instance = 0;
    entryHandle = CreateInstance(agent, row, &instance);
    if (row == 1) firstRow = instance;
    TestOid vendorData = LeafOid(11, {row});
    // The same row written twice: the first line is dead once the second is in.
    for (int again = 0; again < 2 && why.empty(); ++again) {
      bytes[0] = static_cast<char>('a' + again);
      if (AgentSetData(agent, 0, AgentGetDataHandle(agent, 0, vendorData.Ptr()), &value) != 0) {
        ++written;
      } else {
        EXPECT_EQ(AgentGetLastError(), AGENT_ERR_STORAGE);
        why = LastErrorText();
      }
    }
    EXPECT_LE(std::filesystem::file_size(state_), bound);
  }
  // Three live lines fit; the third row's second line would be a fourth until a compaction.
  EXPECT_EQ(written, 5u);
  EXPECT_NE(why.find("the agent could not store the change: the state file " + state_ +
                     " would pass its bound of 409600 bytes (--max-state-bytes)"),
            std::string::npos)
      << why;
  EXPECT_NE(AgentRemoveTableEntry(agent, 0, entryHandle, firstRow), 0) << LastErrorText();
  TestOid third = LeafOid(11, {3});
  EXPECT_NE(AgentSetData(agent, 0, AgentGetDataHandle(agent, 0, third.Ptr()), &value), 0)
      << LastErrorText();
  EXPECT_LE(std::filesystem::file_size(state_), bound);
}

// A compaction that cannot write its new file leaves the journal as it was: the change that
// set it off stays acknowledged and in the file, no half-written file is left beside it, the
// agent serves on and compacts at a later change.
TEST_F(DurabilityTest, ACompactionThatCannotWriteKeepsTheJournal) {
  TestOid vendorData = LeafOid(11, {1});  // Opaque, of any size
  // The first rewrite is the one at start; the second, the compaction after the first large set.
  for (const char* faults : {"StateRewrite=0/28@2", "StateRewrite=0/5@2", "StateRewrite=0/27@2",
                             "StateRewrite=100/28@2"}) {
    SCOPED_TRACE(faults);
    std::filesystem::remove(state_);
    agent_->options.env["ORVU_FAULTS"] = faults;
    ASSERT_TRUE(StartAgent());
    AgentHandle agent = Connect();
    CreateInstance(agent, 1);
    uint32_t data = AgentGetDataHandle(agent, 0, vendorData.Ptr());
    std::string bytes(65535, 'a');
    SnmpValue value = OpaqueOf(bytes);
    ASSERT_EQ(AgentSetData(agent, 0, data, &value), 1) << LastErrorText();
    uintmax_t uncompacted = std::filesystem::file_size(state_);
    EXPECT_GT(uncompacted, bytes.size() * 2) << "the record is still in the journal";
    EXPECT_FALSE(std::filesystem::exists(state_ + ".new"));
    bytes[0] = 'b';
    ASSERT_EQ(AgentSetData(agent, 0, data, &value), 1) << LastErrorText();
    // Compacted at the next change: one value left, not two.
    EXPECT_LT(std::filesystem::file_size(state_), uncompacted + bytes.size());
    KillAgent();
    AgentFrameworkCleanup();
    agent_->options.env.erase("ORVU_FAULTS");
    ASSERT_TRUE(StartAgent({}));
    agent = Connect();
    const SyntaxSample last{ORVU_SYNTAX_OPAQUE, 0, bytes, {}};
    EXPECT_TRUE(ReadSample(agent, vendorData, last).bytes == bytes);
    AgentFrameworkCleanup();
    StopAgent();
  }
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
      // Entries nested in each other would put two objects at one OID.
      {"module VORNEL-VNBEEP-MIB\n"
       "instance entry=1.3.6.1.4.1.32473.99.7.1 index=5 handle=1 creator=0 time=0\n"
       "instance entry=1.3.6.1.4.1.32473.99.7.1.2.5 index=1 handle=2 creator=0 time=0\n",
       ":3: entry 1.3.6.1.4.1.32473.99.7.1.2.5 lies inside entry 1.3.6.1.4.1.32473.99.7.1, so "
       "that two objects would have one OID"},
      {"instance entry=1.3.6.1.4.1.32473.99.7.1.2.5 index=1 handle=2 creator=0 time=0\n"
       "instance entry=1.3.6.1.4.1.32473.99.7.1 index=5 handle=1 creator=0 time=0\n",
       ":2: entry 1.3.6.1.4.1.32473.99.7.1.2.5 lies inside entry 1.3.6.1.4.1.32473.99.7.1, so "
       "that two objects would have one OID"},
      {"module VORNEL-VNBEEP-MIB\n"
       "instance entry=1.3.6.1.4.1.32473.99.1.9.1.3 index=1 handle=1 creator=0 time=0\n",
       ":2: entry 1.3.6.1.4.1.32473.99.1.9.1.3 lies inside entry 1.3.6.1.4.1.32473.99.1.9.1, so "
       "that two objects would have one OID"},
      {"\nmodule NO-SUCH-MIB\n", ":2: cannot load module NO-SUCH-MIB"},
      {"module VORNEL-VNBEEP-MIB\nclient handle=1 id=2 process-handle=3 process=4 thread-handle=5 "
       "thread=6 time=7 flags=8 name=a" +
           std::string(1, '\0') + " file=x\n",
       ":2: not a text line"},
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
  EXPECT_NE(
      errors.find(state_ + ":2: damaged record, or a record missing before it (its seal does not "
                           "match)"),
      std::string::npos)
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
  for (const char* bound : {"12X", "M", "-1", "99999999999999G"}) {
    EXPECT_EQ(RunAgent({"--max-state-bytes", bound}, &errors), 2) << bound;
    EXPECT_NE(errors.find(std::string("bad --max-state-bytes value (bytes, or a number with K, M "
                                      "or G): ") +
                          bound),
              std::string::npos)
        << errors;
  }
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

// A start that fails at any step undoes what the steps before it made: no pid file, socket,
// endpoint file or state file of its own making is left, only the socket's lock file, which
// stays by design (and a state file once the start has written it).
TEST_F(DurabilityTest, FailedStartsLeaveNothingBehind) {
  std::string error;
  uint16_t port = 0;
  transport::Socket taken = transport::ListenLoopback("127.0.0.1", &port, &error);
  ASSERT_NE(taken, transport::NO_SOCKET) << error;
  struct Case {
    const char* what;
    std::vector<std::string> args;
    const char* faults;
    std::string reason;
    std::set<std::string> left;
  };
  const std::set<std::string> started = {"state", "agent.sock.lock"};
  const Case cases[] = {
      {"bad module", {"--module", "NO-SUCH-MIB"}, "", "cannot load module NO-SUCH-MIB", {}},
      {"failed detach",
       {"--detach"},
       "Detach=0/11",
       "cannot detach: Resource temporarily",
       started},
      {"AgentX refused",
       {"--agentx", "tcp:127.0.0.1:1"},
       "StartSubagent=0",
       "cannot start the AgentX subagent at tcp:127.0.0.1:1",
       started},
      {"TCP address taken",
       {"--tcp", "127.0.0.1:" + std::to_string(port)},
       "",
       "127.0.0.1:" + std::to_string(port),
       started},
      {"socket taken", {"--socket", socket_}, "", "another agent answers at " + socket_, {"other"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const auto& file : std::filesystem::directory_iterator(dir_))
      std::filesystem::remove(file.path());
    bool taking = c.args[0] == "--socket";
    if (taking) {
      ASSERT_TRUE(StartAgent());
    }
    std::set<std::string> before;
    for (const auto& file : std::filesystem::directory_iterator(dir_))
      before.insert(file.path().filename());
    std::vector<std::string> args = AgentArgs({"--module", "VORNEL-VNBEEP-MIB", "--pid-file",
                                               dir_ + "/other.pid", "--tcp", "127.0.0.1:0"});
    if (taking) args = {"--state", dir_ + "/other", "--pid-file", dir_ + "/other.pid"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    agent_->options.env["ORVU_FAULTS"] = c.faults;
    std::string errors;
    EXPECT_EQ(RunAgent(args, &errors), 1);
    EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
    std::set<std::string> left;
    for (const auto& file : std::filesystem::directory_iterator(dir_)) {
      if (!before.count(file.path().filename())) left.insert(file.path().filename());
    }
    EXPECT_EQ(left, c.left);
    agent_->options.env.erase("ORVU_FAULTS");
    if (taking) StopAgent();
  }
  transport::Close(taken);
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
