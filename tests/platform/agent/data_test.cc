#include <cstring>
#include <string>
#include <vector>

#include "framework_fixture.h"
#include "protocol/agent_errors.h"
#include "snmp_master.h"

namespace orvu::test {
namespace {

class DataTest : public AgentTest {
 protected:
  // Reads OBJECT; the caller frees what came back.
  bool Read(AgentHandle agent, TestOid& object, SnmpOid* oid, SnmpValue* value) {
    std::memset(oid, 0, sizeof *oid);
    std::memset(value, 0, sizeof *value);
    uint32_t data = AgentGetDataHandle(agent, 0, object.Ptr());
    return data != 0 && AgentGetData(agent, data, oid, value) != 0;
  }
  int Write(AgentHandle agent, TestOid& object, const SnmpValue& value) {
    uint32_t data = AgentGetDataHandle(agent, 1, object.Ptr());
    return data != 0 && AgentSetData(agent, 1, data, &value);
  }
  void Release(SnmpOid* oid, SnmpValue* value) {
    EXPECT_EQ(AgentFreeValue(value->syntax, &value->number), 1);
    EXPECT_EQ(AgentFreeValue(ORVU_SYNTAX_OID, oid), 1);
    EXPECT_EQ(oid->ids, nullptr);
    EXPECT_EQ(value->data, 0u);
  }
};

SnmpValue Bytes(uint32_t syntax, const std::string& bytes) {
  SnmpValue v{};
  v.syntax = syntax;
  v.number = static_cast<uint32_t>(bytes.size());
  v.data = reinterpret_cast<uintptr_t>(bytes.data());
  return v;
}

SnmpValue Number(uint32_t syntax, uint32_t number, uintptr_t data = 0) {
  SnmpValue v{};
  v.syntax = syntax;
  v.number = number;
  v.data = data;
  return v;
}

TEST_F(DataTest, ScalarIsNamedWithOrWithoutItsInstanceSuffix) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  TestOid bare(std::vector<uint32_t>(std::begin(CONTROL_IDS), std::end(CONTROL_IDS)));
  TestOid withZero = bare;
  withZero.ids.push_back(0);
  uint32_t handle = AgentGetDataHandle(agent, 0, bare.Ptr());
  ASSERT_NE(handle, 0u) << LastErrorText();
  EXPECT_EQ(AgentGetDataHandle(agent, 0, withZero.Ptr()), handle);

  ASSERT_EQ(Write(agent, bare, Number(ORVU_SYNTAX_INTEGER, 2)), 1) << LastErrorText();
  SnmpOid oid;
  SnmpValue value;
  ASSERT_TRUE(Read(agent, withZero, &oid, &value)) << LastErrorText();
  EXPECT_EQ(std::vector<uint32_t>(oid.ids, oid.ids + oid.count), withZero.ids);
  EXPECT_EQ(value.syntax, static_cast<uint32_t>(ORVU_SYNTAX_INTEGER));
  EXPECT_EQ(value.number, 2u);
  Release(&oid, &value);
}

TEST_F(DataTest, EverySyntaxSurvivesASetAndARestart) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  CreateInstance(agent, 50);
  std::string text = "Some octets";
  std::string address("\x0a\x00\x00\x01", 4);
  std::string opaque("\x01\x02\x03\xff", 4);
  std::string nsap("\x47\x00\x05", 3);
  uint32_t waveform[] = {1, 3, 6, 1, 4294967295u};
  struct Case {
    uint32_t column;
    SnmpValue value;
  } cases[] = {
      {2, Bytes(ORVU_SYNTAX_OCTETS, text)},
      {3, Number(ORVU_SYNTAX_INTEGER, 20000)},
      {6, Number(ORVU_SYNTAX_OID, 5, reinterpret_cast<uintptr_t>(waveform))},
      {7, Bytes(ORVU_SYNTAX_IPADDR, address)},
      {8, Number(ORVU_SYNTAX_CNTR32, 4294967295u)},
      {9, Number(ORVU_SYNTAX_GAUGE32, 7)},
      {10, Number(ORVU_SYNTAX_TIMETICKS, 360000)},
      {11, Bytes(ORVU_SYNTAX_OPAQUE, opaque)},
      {12, Bytes(ORVU_SYNTAX_NSAPADDR, nsap)},
      {13, Number(ORVU_SYNTAX_NULL, 0)},
      {14, Bytes(ORVU_SYNTAX_OCTETS, std::string())},
  };
  for (const Case& c : cases) {
    TestOid leaf = LeafOid(c.column, {50});
    EXPECT_EQ(Write(agent, leaf, c.value), 1) << "column " << c.column << ": " << LastErrorText();
  }
  AgentFrameworkCleanup();
  StopAgent();
  ASSERT_TRUE(StartAgent({}));
  agent = Connect();
  for (const Case& c : cases) {
    TestOid leaf = LeafOid(c.column, {50});
    SnmpOid oid;
    SnmpValue value;
    ASSERT_TRUE(Read(agent, leaf, &oid, &value)) << LastErrorText();
    EXPECT_EQ(std::vector<uint32_t>(oid.ids, oid.ids + oid.count), leaf.ids);
    EXPECT_EQ(value.syntax, c.value.syntax) << "column " << c.column;
    EXPECT_EQ(value.number, c.value.number) << "column " << c.column;
    size_t unit = c.value.syntax == ORVU_SYNTAX_OID ? 4 : 1;
    if (c.value.syntax == ORVU_SYNTAX_NULL || c.value.syntax == ORVU_SYNTAX_INTEGER ||
        (c.value.syntax >= ORVU_SYNTAX_CNTR32 && c.value.syntax <= ORVU_SYNTAX_TIMETICKS)) {
      EXPECT_EQ(value.data, 0u);
    } else if (c.value.number == 0) {
      EXPECT_EQ(value.data, 0u);
    } else {
      EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(value.data),
                            reinterpret_cast<void*>(c.value.data), c.value.number * unit),
                0)
          << "column " << c.column;
    }
    Release(&oid, &value);
  }
}

TEST_F(DataTest, UnsetLeavesHoldTheirDefaultsAndTheIndexColumnItsIndex) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  CreateInstance(agent, 50);
  SnmpOid oid;
  SnmpValue value;
  TestOid hertz = LeafOid(3, {50});
  ASSERT_TRUE(Read(agent, hertz, &oid, &value)) << LastErrorText();
  EXPECT_EQ(value.number, 440u);
  Release(&oid, &value);
  TestOid index = LeafOid(1, {50});
  ASSERT_TRUE(Read(agent, index, &oid, &value)) << LastErrorText();
  EXPECT_EQ(value.number, 50u);
  Release(&oid, &value);
  TestOid raw = LeafOid(14, {50});
  ASSERT_TRUE(Read(agent, raw, &oid, &value)) << LastErrorText();
  ASSERT_EQ(value.number, 2u);
  EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(value.data), "\xbe\xef", 2), 0);
  Release(&oid, &value);
}

TEST_F(DataTest, WritesThatTheObjectDoesNotTakeAreRefused) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  CreateInstance(agent, 50);
  // A client writes read-only objects (it is the instrumentation); the index column it may not.
  TestOid totalPlays = LeafOid(15, {50});
  EXPECT_EQ(Write(agent, totalPlays, Number(ORVU_SYNTAX_CNTR64, 1, 2)), 1) << LastErrorText();
  TestOid indexColumn = LeafOid(1, {50});
  EXPECT_EQ(Write(agent, indexColumn, Number(ORVU_SYNTAX_INTEGER, 50)), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_READ_ONLY);
  EXPECT_EQ(LastErrorText(), "object is read-only: speakerFreqIndex.50");

  TestOid control(std::vector<uint32_t>(std::begin(CONTROL_IDS), std::end(CONTROL_IDS)));
  std::string text = "2";
  EXPECT_EQ(Write(agent, control, Bytes(ORVU_SYNTAX_OCTETS, text)), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_WRONG_SYNTAX);
  EXPECT_EQ(LastErrorText(), "wrong syntax for object speakerControl: it takes syntax 2, not 4");

  TestOid address = LeafOid(7, {50});
  std::string three("\x01\x02\x03", 3);
  EXPECT_EQ(Write(agent, address, Bytes(ORVU_SYNTAX_IPADDR, three)), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_WRONG_LENGTH);

  // The MIB's ranges, enumerations and sizes, each refusal naming what the object takes.
  struct Limit {
    TestOid object;
    SnmpValue value;
    int32_t error;
    std::string text;
  };
  std::string longText(65, 'x');
  std::string longOctets(33, '\x01');
  std::string overSnmp(65536, '\x02');
  Limit limits[] = {
      {LeafOid(3, {50}), Number(ORVU_SYNTAX_INTEGER, 19), AGENT_ERR_WRONG_VALUE,
       "wrong value for object speakerFreqHertz.50: it takes 20..20000, not 19"},
      {LeafOid(3, {50}), Number(ORVU_SYNTAX_INTEGER, static_cast<uint32_t>(-5)),
       AGENT_ERR_WRONG_VALUE,
       "wrong value for object speakerFreqHertz.50: it takes 20..20000, not -5"},
      {control, Number(ORVU_SYNTAX_INTEGER, 4), AGENT_ERR_WRONG_VALUE,
       "wrong value for object speakerControl: it takes 1..3, not 4"},
      {LeafOid(9, {50}), Number(ORVU_SYNTAX_GAUGE32, 4294967295u), AGENT_ERR_WRONG_VALUE,
       "wrong value for object speakerFreqLevel.50: it takes 0..100, not 4294967295"},
      {LeafOid(2, {50}), Bytes(ORVU_SYNTAX_OCTETS, longText), AGENT_ERR_WRONG_LENGTH,
       "wrong length for object speakerFreqDescr.50: it takes 0..64 bytes, not 65"},
      {LeafOid(14, {50}), Bytes(ORVU_SYNTAX_OCTETS, longOctets), AGENT_ERR_WRONG_LENGTH,
       "wrong length for object speakerFreqRawOctets.50: it takes 0..32 bytes, not 33"},
      // No SIZE clause, but no SNMP message carries more.
      {LeafOid(11, {50}), Bytes(ORVU_SYNTAX_OPAQUE, overSnmp), AGENT_ERR_WRONG_LENGTH,
       "wrong length for object speakerFreqVendorData.50: SNMP carries a value of at most 65535 "
       "bytes, not 65536"},
  };
  for (Limit& l : limits) {
    EXPECT_EQ(Write(agent, l.object, l.value), 0) << l.text;
    EXPECT_EQ(AgentGetLastError(), l.error) << l.text;
    EXPECT_EQ(LastErrorText(), l.text);
  }

  SnmpValue noData = Number(ORVU_SYNTAX_OCTETS, 4, 0);
  TestOid descr = LeafOid(2, {50});
  EXPECT_EQ(Write(agent, descr, noData), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_BAD_ARGUMENT);

  TestOid missingInstance = LeafOid(2, {51});
  EXPECT_EQ(AgentGetDataHandle(agent, 0, missingInstance.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_INSTANCE);
  TestOid missingColumn = LeafOid(17, {50});
  EXPECT_EQ(AgentGetDataHandle(agent, 0, missingColumn.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_OBJECT);
  TestOid nothing{1, 3, 6, 1, 9};
  EXPECT_EQ(AgentGetDataHandle(agent, 0, nothing.Ptr()), 0u);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_OBJECT);
  SnmpOid oid{};
  SnmpValue value{};
  EXPECT_EQ(AgentGetData(agent, 99999, &oid, &value), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_DATA);
}

TEST_F(DataTest, StateFileValuesAreHandedOutAsTheyAre) {
  std::string big(200000, 'a');
  std::string bigHex;
  for (size_t i = 0; i < big.size(); ++i) bigHex += "61";
  WriteState(
      "module VORNEL-VNBEEP-MIB\n"
      "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=5 handle=3 creator=1 time=0\n"
      "value handle=3 column=2 syntax=4711 bytes=00ff10\n"
      "value handle=3 column=3 syntax=77 number=4294967295\n"
      "value handle=3 column=15 syntax=70 number=1 second=4294967295\n"
      "value handle=3 column=14 syntax=4 bytes=" +
      bigHex +
      "\n"
      "scalar oid=1.3.6.1.4.1.32473.99.1.4 syntax=130 number=0\n");
  ASSERT_TRUE(StartAgent({}));
  AgentHandle agent = Connect();
  SnmpOid oid;
  SnmpValue value;
  TestOid odd = LeafOid(2, {5});
  ASSERT_TRUE(Read(agent, odd, &oid, &value)) << LastErrorText();
  EXPECT_EQ(value.syntax, 4711u);
  ASSERT_EQ(value.number, 3u);
  EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(value.data), "\x00\xff\x10", 3), 0);
  Release(&oid, &value);

  TestOid number = LeafOid(3, {5});
  ASSERT_TRUE(Read(agent, number, &oid, &value));
  EXPECT_EQ(value.syntax, 77u);
  EXPECT_EQ(value.number, 4294967295u);
  EXPECT_EQ(value.data, 0u);
  Release(&oid, &value);

  TestOid counter = LeafOid(15, {5});
  ASSERT_TRUE(Read(agent, counter, &oid, &value));
  EXPECT_EQ(value.number, 1u);
  EXPECT_EQ(value.data, 4294967295u);
  Release(&oid, &value);

  TestOid large = LeafOid(14, {5});
  ASSERT_TRUE(Read(agent, large, &oid, &value)) << LastErrorText();
  ASSERT_EQ(value.number, big.size());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(value.data), value.number), big);
  Release(&oid, &value);

  TestOid control(std::vector<uint32_t>(std::begin(CONTROL_IDS), std::end(CONTROL_IDS)));
  ASSERT_TRUE(Read(agent, control, &oid, &value));
  EXPECT_EQ(value.syntax, static_cast<uint32_t>(ORVU_SYNTAX_ENDOFMIBVIEW));
  Release(&oid, &value);
}

TEST_F(DataTest, AListingReadsARowInOneRoundTripAndReadsAgainAfterwards) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  CreateInstance(agent, 50);
  // Stored values between columns that show their defaults: the row carries both.
  TestOid stored = LeafOid(3, {50});
  ASSERT_TRUE(Write(agent, stored, Number(ORVU_SYNTAX_INTEGER, 777))) << LastErrorText();
  std::string text = "xyz";
  TestOid storedText = LeafOid(14, {50});
  ASSERT_TRUE(Write(agent, storedText, Bytes(ORVU_SYNTAX_OCTETS, text))) << LastErrorText();
  SnmpOid oid;
  SnmpValue value;
  TestOid first = LeafOid(1, {50});
  ASSERT_TRUE(Read(agent, first, &oid, &value));
  Release(&oid, &value);
  KillAgent();
  for (uint32_t column = 2; column <= 16; ++column) {
    TestOid leaf = LeafOid(column, {50});
    ASSERT_TRUE(Read(agent, leaf, &oid, &value)) << "column " << column << ": " << LastErrorText();
    ASSERT_EQ(oid.count, leaf.Ptr()->count);
    EXPECT_EQ(oid.ids[oid.count - 2], column);
    if (column == 3) {
      EXPECT_EQ(value.number, 777u);
    }
    if (column == 14) {
      ASSERT_EQ(value.number, text.size());
      EXPECT_EQ(std::string(reinterpret_cast<char*>(value.data), value.number), text);
    }
    Release(&oid, &value);
  }
  // Each leaf of the row is handed out once; reading one again asks the agent, which is gone.
  TestOid again = LeafOid(2, {50});
  EXPECT_FALSE(Read(agent, again, &oid, &value));
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_CONNECTION_LOST);
}

// A listing of many instances costs a round trip per page of records and one per batch of rows
// read ahead, not one per instance: with the agent gone after the first leaf, the rest of the
// batch is still listed whole, and the first instance past it needs the agent again.
TEST_F(DataTest, AListingReadsRowsAheadInBatchesAndPagesTheSnapshot) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  uint32_t entry = 0;
  for (uint32_t index = 1; index <= 70; ++index) entry = CreateInstance(agent, index);
  TableInstanceInfo info{};
  info.size = ORVU_INSTANCE_INFO_SIZE;
  ASSERT_EQ(AgentEnumTableInstances(agent, 0, entry, &info), 1);
  SnmpOid oid;
  SnmpValue value;
  for (uint32_t i = 1; i <= 64; ++i) {
    ASSERT_EQ(AgentEnumTableInstances(agent, i, entry, &info), 1) << "instance " << i;
    ASSERT_EQ(info.indexOidIds[0], i);
    for (uint32_t column = 1; column <= info.leafCount; ++column) {
      TestOid leaf = LeafOid(column, {i});
      ASSERT_TRUE(Read(agent, leaf, &oid, &value)) << i << "." << column << ": " << LastErrorText();
      Release(&oid, &value);
    }
    if (i == 1) KillAgent();
  }
  ASSERT_EQ(AgentEnumTableInstances(agent, 65, entry, &info), 1);
  TestOid past = LeafOid(1, {65});
  EXPECT_FALSE(Read(agent, past, &oid, &value));
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_CONNECTION_LOST);
}

// Pages of rows whose values change in kind and size from row to row, and a row with a leaf too
// large to come along (it is read on its own): each page is written and read over the room of
// the page before, and every leaf still reads as stored.
TEST_F(DataTest, RowsOfEveryShapeReadAsStoredPageAfterPage) {
  constexpr uint32_t ROWS = 150;
  constexpr uint32_t FAT_ROW = 70;
  auto text = [](uint32_t row) { return std::string(row % 23, static_cast<char>('a' + row % 26)); };
  auto oidOf = [](uint32_t row) {
    std::vector<uint32_t> ids = {1, 3};
    for (uint32_t n = 0; n < row % 6; ++n) ids.push_back(row * 10 + n);
    return ids;
  };
  std::string state = "module VORNEL-VNBEEP-MIB\n";
  for (uint32_t row = 1; row <= ROWS; ++row) {
    std::string handle = std::to_string(row);
    state += "instance entry=1.3.6.1.4.1.32473.99.1.9.1 index=" + handle + " handle=" + handle +
             " creator=1 time=0\n";
    std::string hex;
    for (unsigned char c : text(row))
      hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    if (row % 3 != 0) state += "value handle=" + handle + " column=2 syntax=4 bytes=" + hex + "\n";
    std::string dotted;
    for (uint32_t id : oidOf(row)) dotted += (dotted.empty() ? "" : ".") + std::to_string(id);
    state += "value handle=" + handle + " column=6 syntax=6 oid=" + dotted + "\n";
    if (row == FAT_ROW)
      state += "value handle=" + handle +
               " column=14 syntax=4 bytes=" + std::string(2 * 70000, '7') + "\n";
  }
  WriteState(state);
  ASSERT_TRUE(StartAgent({}));
  AgentHandle agent = Connect();
  TableInstanceInfo info{};
  info.size = ORVU_INSTANCE_INFO_SIZE;
  uint32_t entry = 0;
  TestOid entryOid{1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};
  entry = AgentFindTableEntry(agent, entryOid.Ptr());
  ASSERT_NE(entry, 0u) << LastErrorText();
  ASSERT_EQ(AgentEnumTableInstances(agent, 0, entry, &info), 1);
  SnmpOid oid;
  SnmpValue value;
  for (uint32_t row = 1; row <= ROWS; ++row) {
    ASSERT_EQ(AgentEnumTableInstances(agent, row, entry, &info), 1) << "instance " << row;
    for (uint32_t column : {2u, 6u, 14u}) {
      TestOid leaf = LeafOid(column, {row});
      ASSERT_TRUE(Read(agent, leaf, &oid, &value))
          << row << "." << column << ": " << LastErrorText();
      ASSERT_EQ(oid.count, leaf.Ptr()->count);
      EXPECT_EQ(oid.ids[oid.count - 1], row);
      std::string bytes(reinterpret_cast<char*>(value.data), value.data ? value.number : 0);
      if (column == 2 && row % 3 != 0) {
        EXPECT_EQ(bytes, text(row)) << row;
      }
      if (column == 6) {
        std::vector<uint32_t> ids = oidOf(row);
        ASSERT_EQ(value.number, ids.size()) << row;
        EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(value.data), ids.data(), 4 * ids.size()), 0);
      }
      if (column == 14 && row == FAT_ROW) {
        EXPECT_EQ(bytes, std::string(70000, '\x77'));
      }
      Release(&oid, &value);
    }
  }
}

// A client sends a notification that a served module defines: the agent fills its OBJECTS and the
// master sends it on to its trap sink.
TEST_F(DataTest, AClientSendsANotificationThatAServedModuleDefines) {
  TestTrapReceiver receiver;
  ASSERT_GT(receiver.pid, 0) << "snmptrapd did not start";
  TestMaster master(false);
  master.extraConfig = {"trap2sink " + receiver.address + " public"};
  ASSERT_TRUE(master.Start());
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--agentx", master.agentxSocket}));
  AgentHandle agent = Connect();
  TestOid none{};
  EXPECT_EQ(AgentSendNotification(agent, "speakerBeeped", none.Ptr()), 1) << LastErrorText();
  EXPECT_TRUE(receiver.WaitFor(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.32473.99.0.1"));
  EXPECT_NE(receiver.Log().find(".1.3.6.1.4.1.32473.99.1.5.0 = Counter32: 0"), std::string::npos);
  EXPECT_EQ(AgentSendNotification(agent, "noSuchNotification", none.Ptr()), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_SUCH_OBJECT);
  EXPECT_EQ(LastErrorText(), "no served module defines the notification noSuchNotification");
}

TEST_F(DataTest, FreeValueReleasesOnlyWhatTheLibraryAttached) {
  uint32_t number = 7;
  SnmpValue foreign = Number(9999, 5, reinterpret_cast<uintptr_t>(&number));
  EXPECT_EQ(AgentFreeValue(foreign.syntax, &foreign.number), 1);
  EXPECT_EQ(foreign.number, 0u);
  EXPECT_EQ(foreign.data, 0u);
  EXPECT_EQ(AgentFreeValue(ORVU_SYNTAX_OCTETS, nullptr), 0);
  EXPECT_EQ(AgentGetLastError(), AGENT_ERR_BAD_ARGUMENT);
}

}  // namespace
}  // namespace orvu::test
