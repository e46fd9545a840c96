#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
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
  EXPECT_TRUE(sealed());
  EXPECT_FALSE(leftBeside());
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, first), 4242u);
  EXPECT_EQ(ReadInteger(agent, last), ROWS);
  StopAgent();
  AgentFrameworkCleanup();

  // A copy that fails (here at its first write) leaves the file as it was, and the next change
  // writes the copy again, whole, before it goes in.
  WriteState(text);
  agent_->options.env["ORVU_FAULTS"] = "StateRewrite=100/5@1";
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  SetInteger(agent, last, 77);
  KillAgent();
  AgentFrameworkCleanup();
  agent_->options.env.erase("ORVU_FAULTS");
  EXPECT_TRUE(sealed());
  EXPECT_FALSE(leftBeside());
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, last), 77u);
  StopAgent();
  AgentFrameworkCleanup();

  // Left to itself, the agent seals the file without a change to prompt it.
  WriteState(text);
  ASSERT_TRUE(StartAgent({}));
  for (int i = 0; i < 1000 && !sealed(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(sealed());
  std::ifstream old(state_ + ".old");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), std::istreambuf_iterator<char>()),
            text);
  StopAgent();
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  EXPECT_EQ(ReadInteger(agent, first), 1u);
  EXPECT_EQ(ReadInteger(agent, last), ROWS);
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
    return core.SnmpCommitSets(targets);
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
  };
  for (const Case& c : {Case{"StateSync=0/5@2", "Input/output error", false, false},
                        Case{"StateSync=0/5@2;StateCut=0@1", "Input/output error", true, false},
                        Case{"StateSync=0/5@2;StateCut=0", "Input/output error", false, true},
                        Case{"StateWrite=0/28@2", "No space left on device", false, false},
                        Case{"StateWrite=0/5@2", "Input/output error", false, false},
                        Case{"StateWrite=0/27@2", "File too large", false, false},
                        Case{"StateWrite=9/28@2", "No space left on device", false, false}}) {
    SCOPED_TRACE(c.faults);
    std::filesystem::remove(state_);
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
  }
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
