// Setting values (-s with -m) against a real agent: whole output compared, stored values read back
// from the agent's state file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "agent_process.h"

namespace {

const std::string SPEAKER_CONTROL = "1.3.6.1.4.1.32473.99.1.4";
const std::string ENTRY = "1.3.6.1.4.1.32473.99.1.9.1";
const std::string MODULE = "VORNEL-VNBEEP-MIB";
const std::string LOADED = "\nLoading module:\n\n1: VORNEL-VNBEEP-MIB ... OK\n";
const std::string OID_FAILED = "\n  FAILED (While converting OID to internal form)";
const std::string VALUE_FAILED = "\n  FAILED (While converting value to internal form)";
const std::string SOME_OCTETS_HEX = "536f6d65206f6374657473";
const std::string TYPE_LETTERS =
    "the letters are o OCTET STRING (any text), b BITS (any text, "
    "written as octets), i INTEGER (a decimal number), u INTEGER (the "
    "same as i), c Counter32, g Gauge32 and t TimeTicks (a decimal "
    "number from 0 to 4294967295), d OBJECT IDENTIFIER (dotted numbers, "
    "1.3.6.1), a IpAddress (four dotted numbers from 0 to 255), q Opaque "
    "(four dotted numbers, as four bytes), p NsapAddress (two-digit hex "
    "bytes joined by dots, 47.00.05), n NULL (no text)";

std::string Column(int column, const std::string& instance = "50") {
  return ENTRY + "." + std::to_string(column) + "." + instance;
}

// The trace line of an entry that has its value and syntax.
std::string Line(int n, const std::string& oid, const std::string& syntax,
                 const std::string& value) {
  return "\n" + std::to_string(n) + ": " + oid + " *** (" + syntax + ") " + value + " ... ";
}

// A whole run that only sets values: banner, optional module load, the stage, "Finished.".
std::string SetRun(const std::string& entries, bool several, bool loaded = false) {
  return BannerText() + (loaded ? LOADED : "") + "\nSetting OID" + (several ? "s" : "") + ":\n" +
         entries + "\n" + FinishedText();
}

// The agent journals every change; the last record that starts with PREFIX is the stored one.
// A line of the state file without the seal the agent ends it with (" crc=" and 8 hex digits).
std::string Unsealed(const std::string& line) {
  size_t seal = line.size() >= 13 ? line.size() - 13 : std::string::npos;
  return seal != std::string::npos && line.compare(seal, 5, " crc=") == 0 ? line.substr(0, seal)
                                                                          : line;
}

std::string LastRecord(const TestAgent& agent, const std::string& prefix) {
  std::istringstream lines(agent.ReadState());
  std::string found;
  for (std::string line; std::getline(lines, line);) {
    line = Unsealed(line);
    if (line.rfind(prefix, 0) == 0) found = line.substr(prefix.size());
  }
  return found;
}

int CountRecords(const TestAgent& agent, const std::string& record) {
  std::istringstream lines(agent.ReadState());
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += Unsealed(line) == record ? 1 : 0;
  return count;
}

std::string StoredScalar(const TestAgent& agent, const std::string& oid) {
  return LastRecord(agent, "scalar object=" + oid + " ");
}

std::string StoredColumn(const TestAgent& agent, int column) {
  // The first instance the agent creates has handle 1.
  return LastRecord(agent, "value handle=1 column=" + std::to_string(column) + " ");
}

void CreateInstance50(const TestAgent& agent) {
  ASSERT_EQ(RunOaset(&agent, {"-a" + ENTRY, "-i50"}).status, 0);
}

TEST(SetValuesE2e, UsageExamplesSetTheirValues) {
  TestAgent agent;
  ASSERT_TRUE(agent.Running());

  OasetRun numeric = RunOaset(&agent, {"-s" + SPEAKER_CONTROL, "-mi2"});
  EXPECT_EQ(numeric.out, SetRun(Line(1, SPEAKER_CONTROL, "int, int32", "2") + "OK", false));
  EXPECT_EQ(numeric.status, 0);
  EXPECT_EQ(StoredScalar(agent, SPEAKER_CONTROL), "syntax=2 number=2");

  RunOaset(&agent, {"-s" + SPEAKER_CONTROL, "-mi3"});
  OasetRun symbolic = RunOaset(&agent, {"-w" + MODULE, "-sspeakerControl", "-mi2"});
  EXPECT_EQ(symbolic.out, SetRun(Line(1, "speakerControl", "int, int32", "2") + "OK", false, true));
  EXPECT_EQ(symbolic.status, 0);
  EXPECT_EQ(StoredScalar(agent, SPEAKER_CONTROL), "syntax=2 number=2");

  CreateInstance50(agent);
  struct Example {
    std::vector<std::string> args;
    std::string oidText;
  };
  const std::vector<Example> examples = {
      {{"-s" + Column(2), "-moSome octets"}, Column(2)},
      {{"-w" + MODULE, "-sspeakerFreqDescr.50", "-moSome octets"}, "speakerFreqDescr.50"},
      {{"-w" + MODULE, "-sspeakerFreqEntry.2.50", "-moSome octets"}, "speakerFreqEntry.2.50"},
  };
  for (const Example& example : examples) {
    // Another text first, so that each example has to write its own.
    ASSERT_EQ(RunOaset(&agent, {"-s" + Column(2), "-moreset"}).status, 0);
    ASSERT_EQ(StoredColumn(agent, 2), "syntax=4 bytes=7265736574");
    OasetRun run = RunOaset(&agent, example.args);
    bool loaded = example.args.size() == 3;
    EXPECT_EQ(run.out,
              SetRun(Line(1, example.oidText, "octets", "Some octets") + "OK", false, loaded));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(StoredColumn(agent, 2), "syntax=4 bytes=" + SOME_OCTETS_HEX) << example.oidText;
  }
}

TEST(SetValuesE2e, EveryTypeLetterIsStoredAndReadBack) {
  TestAgent agent;
  CreateInstance50(agent);
  struct Case {
    int column;
    std::string letter, syntaxName, text, stored;
  };
  const std::vector<Case> cases = {
      {2, "o", "octets", "Some octets", "syntax=4 bytes=" + SOME_OCTETS_HEX},
      {3, "i", "int, int32", "880", "syntax=2 number=880"},
      {4, "u", "int, int32", "2", "syntax=2 number=2"},
      {5, "b", "octets", "AB", "syntax=4 bytes=4142"},
      {6, "d", "oid", "1.3.6.1.2", "syntax=6 oid=1.3.6.1.2"},
      {7, "a", "ipaddr", "10.0.0.1", "syntax=64 bytes=0a000001"},
      {8, "c", "cntr32", "4294967295", "syntax=65 number=4294967295"},
      {9, "g", "gauge32", "55", "syntax=66 number=55"},
      {10, "t", "timeticks", "100", "syntax=67 number=100"},
      {11, "q", "opaque", "1.2.3.4", "syntax=68 bytes=01020304"},
      {12, "p", "nsapaddr", "47.00.05", "syntax=69 bytes=470005"},
      {13, "n", "null", "", "syntax=5 number=0"},
  };
  std::vector<std::string> args;
  std::string entries;
  int n = 0;
  for (const Case& c : cases) {
    args.push_back("-s" + Column(c.column));
    args.push_back("-m" + c.letter + c.text);
    entries += Line(++n, Column(c.column), c.syntaxName, c.text) + "OK";
  }
  OasetRun run = RunOaset(&agent, args);
  EXPECT_EQ(run.out, SetRun(entries, true));
  EXPECT_EQ(run.status, 0);
  for (const Case& c : cases) {
    EXPECT_EQ(StoredColumn(agent, c.column), c.stored) << "-m" << c.letter;
  }

  // The agent serves the stored values back to a listing as well.
  OasetRun listed = RunOaset(&agent, {"-t" + ENTRY});
  EXPECT_NE(listed.out.find(Column(7) + " **** (ipaddr) 10.0.0.1\n"), std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find(Column(2) + " **** (octets) Some octets\n"), std::string::npos);
}

// ROWS instances of the sample table with every column past the index stored, as a provisioning
// script leaves them; row 1 holds a long text, a negative INTEGER and numbers past one byte.
std::string ProvisionedRows(int rows) {
  std::string state = "module " + MODULE + "\n";
  for (int i = 1; i <= rows; ++i) {
    std::string h = "value handle=" + std::to_string(i) + " column=";
    state += "instance entry=" + ENTRY + " index=" + std::to_string(i) +
             " handle=" + std::to_string(i) + " creator=1 time=86400 enabled=8\n";
    state += h + "2 syntax=4 bytes=" + (i == 1 ? SOME_OCTETS_HEX + SOME_OCTETS_HEX : "746f6e65") +
             "\n" + h + "3 syntax=2 number=" + std::to_string(20 + i) + "\n" + h +
             "4 syntax=2 number=" + (i == 1 ? "-5" : "2") + "\n" + h + "5 syntax=4 bytes=a0\n" + h +
             "6 syntax=6 oid=1.3.6.1.4.1.32473.99\n" + h + "7 syntax=64 bytes=0a000001\n" + h +
             "8 syntax=65 number=4294967295\n" + h + "9 syntax=66 number=100\n" + h +
             "10 syntax=67 number=8640000\n" + h + "11 syntax=68 bytes=4f\n" + h +
             "12 syntax=69 bytes=470005\n" + h + "13 syntax=5 bytes=\n" + h +
             "14 syntax=4 bytes=beef\n" + h + "15 syntax=70 number=1 second=171\n" + h +
             "16 syntax=67 number=128\n";
  }
  return state;
}

TEST(SetValuesE2e, ProvisionedRowsListAlikeAndEveryAcknowledgedSetSurvivesAKillRightAfter) {
  // More rows than one handle reply tells of, so that the run outgrows what the library knows.
  const int rows = 300;
  TestAgentOptions options;
  options.initialState = ProvisionedRows(rows);
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  OasetRun handWritten = RunOaset(&agent, {"-t" + ENTRY});
  const std::string row1 = "\n    Instance leafs:\n    1: " + Column(1, "1") +
                           " **** (int,int32) 1\n    2: " + Column(2, "1") +
                           " **** (octets) Some octetsSome octets\n    3: " + Column(3, "1") +
                           " **** (int,int32) 21\n    4: " + Column(4, "1") +
                           " **** (int,int32) -5\n    5: " + Column(5, "1") +
                           " **** (octets) a0 (hex)\n    6: " + Column(6, "1") +
                           " **** (oid) enterprises.32473.99\n    7: " + Column(7, "1") +
                           " **** (ipaddr) 10.0.0.1\n    8: " + Column(8, "1") +
                           " **** (cntr32) 4294967295\n    9: " + Column(9, "1") +
                           " **** (gauge32) 100\n    10: " + Column(10, "1") +
                           " **** (timeticks) 1 day 00h:00m:00s.00th\n    11: " + Column(11, "1") +
                           " **** (opaque) 4f (hex)\n    12: " + Column(12, "1") +
                           " **** (nsapaddr) 47.00.05 (hex)\n    13: " + Column(13, "1") +
                           " **** (null) NULL\n    14: " + Column(14, "1") +
                           " **** (octets) be.ef (hex)\n    15: " + Column(15, "1") +
                           " **** (cntr64) 1.ab (hex)\n    16: " + Column(16, "1") +
                           " **** (timeticks) 0 days 00h:00m:01s.28th\n";
  EXPECT_NE(handWritten.out.find(row1), std::string::npos) << handWritten.out.substr(0, 2000);
  // Sealed by the start, the state reads back to the same rows.
  ASSERT_EQ(agent.Stop(), 0);
  ASSERT_TRUE(agent.Start());
  EXPECT_EQ(RunOaset(&agent, {"-t" + ENTRY}).out, handWritten.out);

  // Every row in order, a row that does not exist amid them, and the first row once more.
  std::vector<std::string> args;
  for (int i = 1; i <= rows; ++i) {
    args.push_back("-s" + Column(3, std::to_string(i)));
    args.push_back("-mi" + std::to_string(1000 + i));
    if (i == 100) args.insert(args.end(), {"-s" + Column(3, "999"), "-mi500"});
  }
  args.insert(args.end(), {"-s" + Column(3, "1"), "-mi2000"});
  OasetRun sets = RunOaset(&agent, args);
  size_t acknowledged = 0;
  for (size_t at = 0; (at = sets.out.find(" ... OK\n", at)) != std::string::npos; ++at)
    ++acknowledged;
  EXPECT_EQ(acknowledged, static_cast<size_t>(rows + 1));
  EXPECT_NE(
      sets.out.find(Column(3, "999") + " *** (int, int32) 500 ... \nGet data handle failed: "),
      std::string::npos);
  agent.Kill9();

  ASSERT_TRUE(agent.Start());
  // The rows as they were, but for the values set; the values around them are untouched.
  std::string expected = handWritten.out;
  for (int i = 1; i <= rows; ++i) {
    std::string line = "3: " + Column(3, std::to_string(i)) + " **** (int,int32) ";
    size_t at = expected.find(line + std::to_string(20 + i) + "\n");
    ASSERT_NE(at, std::string::npos) << "row " << i;
    expected.replace(at + line.size(), std::to_string(20 + i).size(),
                     std::to_string(i == 1 ? 2000 : 1000 + i));
  }
  EXPECT_EQ(RunOaset(&agent, {"-t" + ENTRY}).out, expected);
}

TEST(SetValuesE2e, SwitchCountsThatDoNotMatch) {
  TestAgent agent;
  OasetRun moreOids =
      RunOaset(&agent, {"-s" + SPEAKER_CONTROL, "-mi3", "-s" + SPEAKER_CONTROL, "-p"});
  EXPECT_EQ(moreOids.out, BannerText() + "\nParameters:\n\n1: " + SPEAKER_CONTROL +
                              " *** (int, int32) 3 \n2: " + SPEAKER_CONTROL + " *** \n" +
                              "\nPrint parameters: TRUE\nPrint Orvu Agent version: FALSE\n" +
                              "\nSetting OIDs:\n" + Line(1, SPEAKER_CONTROL, "int, int32", "3") +
                              "OK\n2: " + SPEAKER_CONTROL + " \n  FAILED (No value specified)\n" +
                              FinishedText());
  EXPECT_EQ(moreOids.status, 0);
  EXPECT_EQ(StoredScalar(agent, SPEAKER_CONTROL), "syntax=2 number=3");

  OasetRun moreValues = RunOaset(&agent, {"-mi1", "-mi2", "-s" + SPEAKER_CONTROL});
  EXPECT_EQ(moreValues.out, SetRun(Line(1, SPEAKER_CONTROL, "int, int32", "1") + "OK", false));
  EXPECT_EQ(StoredScalar(agent, SPEAKER_CONTROL), "syntax=2 number=1");
}

TEST(SetValuesE2e, OidsThatDoNotConvertFailAndTheNextEntryStillRuns) {
  TestAgent agent;
  // No -w: the MIB library knows no names.
  OasetRun run = RunOaset(&agent, {"-sspeakerControl", "-mi2", "-s1.3.6.x", "-mi2", "-s", "-mi2",
                                   "-sspeakerControl.", "-mi2", "-s" + SPEAKER_CONTROL, "-mi3"});
  EXPECT_EQ(run.out, SetRun(Line(1, "speakerControl", "int, int32", "2") + OID_FAILED +
                                Line(2, "1.3.6.x", "int, int32", "2") + OID_FAILED +
                                Line(3, "", "int, int32", "2") + OID_FAILED +
                                Line(4, "speakerControl.", "int, int32", "2") + OID_FAILED +
                                Line(5, SPEAKER_CONTROL, "int, int32", "3") + "OK",
                            true));
  EXPECT_EQ(run.status, 0);

  // With the module loaded, an empty instance suffix still leaves a trailing dot behind.
  OasetRun loaded =
      RunOaset(&agent, {"-w" + MODULE, "-sspeakerControl.", "-mi2", "-sspeakerControl.0", "-mi2"});
  EXPECT_EQ(loaded.out, SetRun(Line(1, "speakerControl.", "int, int32", "2") + OID_FAILED +
                                   Line(2, "speakerControl.0", "int, int32", "2") + "OK",
                               true, true));
  EXPECT_EQ(StoredScalar(agent, SPEAKER_CONTROL), "syntax=2 number=2");
}

// Read-only objects are the agent's clients' to write: MAX-ACCESS binds SNMP managers only.
TEST(SetValuesE2e, TheAgentRefusesWrongSyntaxUnknownObjectsAndValuesOutOfRange) {
  TestAgent agent;
  CreateInstance50(agent);
  OasetRun run =
      RunOaset(&agent, {"-w" + MODULE, "-sspeakerControl", "-moloud", "-sspeakerDescr", "-mox",
                        "-s" + Column(15), "-mi1", "-s1.3.6.1.4.1.32473.99.1.7", "-mi1",
                        "-s" + Column(3, "51"), "-mi1", "-s" + Column(3), "-mx1", "-s" + Column(7),
                        "-ma10.0.0", "-s" + Column(3), "-mi19", "-sspeakerControl", "-mi4"});
  EXPECT_EQ(run.out,
            SetRun(Line(1, "speakerControl", "octets", "loud") +
                       "\nSet data failed: wrong syntax for object speakerControl: it takes "
                       "syntax 2, not 4" +
                       Line(2, "speakerDescr", "octets", "x") + "OK" +
                       Line(3, Column(15), "int, int32", "1") +
                       "\nSet data failed: wrong syntax for object speakerFreqTotalPlays.50: it "
                       "takes syntax 70, not 2" +
                       Line(4, "1.3.6.1.4.1.32473.99.1.7", "int, int32", "1") +
                       "\nGet data handle failed: no such object: 1.3.6.1.4.1.32473.99.1.7" +
                       Line(5, Column(3, "51"), "int, int32", "1") +
                       "\nGet data handle failed: no such instance: 51 of speakerFreqEntry" +
                       Line(6, Column(3), "bad syntax", "1") + VALUE_FAILED +
                       Line(7, Column(7), "ipaddr", "10.0.0") + VALUE_FAILED +
                       Line(8, Column(3), "int, int32", "19") +
                       "\nSet data failed: wrong value for object speakerFreqHertz.50: it takes "
                       "20..20000, not 19" +
                       Line(9, "speakerControl", "int, int32", "4") +
                       "\nSet data failed: wrong value for object speakerControl: it takes 1..3, "
                       "not 4",
                   true, true));
  // Each refusal also has its one line on standard error, for scripts that read only that.
  EXPECT_EQ(run.err,
            "oaset: \"-mx1\": \"x\" is no type letter of -m; " + TYPE_LETTERS +
                "\n"
                "oaset: 1: speakerControl: not set: it takes INTEGER (-mi), not OCTET STRING\n"
                "oaset: 3: " +
                Column(15) +
                ": not set: it takes Counter64, not INTEGER\n"
                "oaset: 4: 1.3.6.1.4.1.32473.99.1.7: not set: no such object: "
                "1.3.6.1.4.1.32473.99.1.7\n"
                "oaset: 5: " +
                Column(3, "51") +
                ": not set: no such instance: 51 of speakerFreqEntry\n"
                "oaset: 6: " +
                Column(3) + ": not set: no type letter; " + TYPE_LETTERS +
                "\n"
                "oaset: 7: " +
                Column(7) +
                ": not set: \"10.0.0\" is refused: it holds 3 numbers; an IpAddress takes four "
                "dotted numbers from 0 to 255, as 192.0.2.1\n"
                "oaset: 8: " +
                Column(3) +
                ": not set: wrong value for object speakerFreqHertz.50: it takes 20..20000, not "
                "19\n"
                "oaset: 9: speakerControl: not set: wrong value for object speakerControl: it "
                "takes 1..3, not 4\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(StoredScalar(agent, "1.3.6.1.4.1.32473.99.1.1"), "syntax=4 bytes=78");
}

// An OBJECT IDENTIFIER value that SNMP cannot encode would break every SNMP read that reaches
// it: the agent refuses it, and takes the longest and widest ones that SNMP does carry.
TEST(SetValuesE2e, OidValuesThatSnmpCannotCarryAreRefused) {
  TestAgent agent;
  CreateInstance50(agent);
  std::string longest = "1.3";
  for (int i = 2; i < 128; ++i) longest += "." + std::to_string(i);
  const std::string tooLong = longest + ".128";
  const std::string snmp =
      "\nSet data failed: wrong value for object speakerFreqWaveform.50: SNMP "
      "carries an OBJECT IDENTIFIER ";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {tooLong, "of 2 to 128 sub-identifiers, not 129"},
      {"1", "of 2 to 128 sub-identifiers, not 1"},
      {"3.3", "that starts with 0, 1 or 2, not 3"},
      {"1.99", "whose second sub-identifier is at most 39 under 1, not 99"},
      {"0.40.1", "whose second sub-identifier is at most 39 under 0, not 40"},
      {"2.2147483568", "whose second sub-identifier is at most 2147483567 under 2, not 2147483568"},
      {"2.4294967215", "whose second sub-identifier is at most 2147483567 under 2, not 4294967215"},
  };
  std::vector<std::string> args;
  std::string expected;
  int n = 0;
  for (const auto& [value, why] : refused) {
    args.insert(args.end(), {"-s" + Column(6), "-md" + value});
    expected += Line(++n, Column(6), "oid", value) + snmp + why;
  }
  const std::string before = agent.ReadState();
  OasetRun run = RunOaset(&agent, args);
  EXPECT_EQ(run.out, SetRun(expected, true));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(agent.ReadState(), before);

  for (const std::string& value : {longest, std::string("2.2147483567"), std::string("0.39")}) {
    OasetRun taken = RunOaset(&agent, {"-s" + Column(6), "-md" + value});
    EXPECT_EQ(taken.out, SetRun(Line(1, Column(6), "oid", value) + "OK", false));
    EXPECT_EQ(StoredColumn(agent, 6), "syntax=6 oid=" + value);
  }
}

TEST(SetValuesE2e, InjectedFailuresOfEachLibraryCall) {
  TestAgent agent;
  const std::vector<std::string> numeric = {"-s" + SPEAKER_CONTROL, "-mi1"};
  const std::string numericLine = Line(1, SPEAKER_CONTROL, "int, int32", "1");
  const std::vector<std::string> symbolic = {"-w" + MODULE, "-sspeakerControl", "-mi1",
                                             "-s" + SPEAKER_CONTROL, "-mi2"};
  const std::string symbolicLine = Line(1, "speakerControl", "int, int32", "1");
  const std::string secondLine = Line(2, SPEAKER_CONTROL, "int, int32", "2") + "OK";

  EXPECT_EQ(RunOaset(&agent, numeric, {{"ORVU_FAULTS", "SnmpStringToOid=0"}}).out,
            SetRun(numericLine + OID_FAILED, false));
  for (const char* fault :
       {"MibLookupName=0", "MibGetObjectOid=0", "SnmpOidToString=0", "SnmpStringToOid=0@2"}) {
    OasetRun run = RunOaset(&agent, symbolic, {{"ORVU_FAULTS", fault}});
    EXPECT_EQ(run.out, SetRun(symbolicLine + OID_FAILED + secondLine, true, true)) << fault;
    EXPECT_EQ(run.status, 0) << fault;
  }
  EXPECT_EQ(StoredScalar(agent, SPEAKER_CONTROL), "syntax=2 number=2");

  OasetRun handle = RunOaset(&agent, numeric, {{"ORVU_FAULTS", "AgentGetDataHandle=0/77"}});
  EXPECT_EQ(handle.out, SetRun(numericLine + "\nGet data handle failed: injected fault in "
                                             "AgentGetDataHandle (error code 77)",
                               false));
  EXPECT_EQ(handle.err, "oaset: 1: " + SPEAKER_CONTROL +
                            ": not set: injected fault in AgentGetDataHandle (error code 77)\n");
  EXPECT_EQ(handle.status, 0);

  OasetRun set = RunOaset(&agent,
                          {"-s" + SPEAKER_CONTROL, "-mi1", "-s" + SPEAKER_CONTROL, "-mi3",
                           "-s" + SPEAKER_CONTROL, "-mi2"},
                          {{"ORVU_FAULTS", "AgentSetData=0/5@2"}});
  EXPECT_EQ(set.out, SetRun(Line(1, SPEAKER_CONTROL, "int, int32", "1") + "OK" +
                                Line(2, SPEAKER_CONTROL, "int, int32", "3") +
                                "\nSet data failed: injected fault in AgentSetData (error code 5)" +
                                Line(3, SPEAKER_CONTROL, "int, int32", "2") + "OK",
                            true));
  EXPECT_EQ(set.status, 0);
  EXPECT_EQ(CountRecords(agent, "scalar object=" + SPEAKER_CONTROL + " syntax=2 number=3"), 0);
}

TEST(SetValuesE2e, NothingIsSetWhenTheListingStoppedTheRun) {
  TestAgent agent;
  OasetRun run = RunOaset(&agent, {"-ebogus", "-s" + SPEAKER_CONTROL, "-mi2"});
  EXPECT_EQ(run.out,
            BannerText() + "\nAllocated table entries for bogus:\n\nBad OID." + FinishedText());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(StoredScalar(agent, SPEAKER_CONTROL), "");
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool BUILT_WITH_ASAN = true;
#elif defined(__has_feature)
constexpr bool BUILT_WITH_ASAN = __has_feature(address_sanitizer);
#else
constexpr bool BUILT_WITH_ASAN = false;
#endif

std::string FindValgrind() {
  for (const char* path : {"/usr/bin/valgrind", "/usr/local/bin/valgrind"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

// An AddressSanitizer build checks leaks at exit by itself, and a run under OASET_E2E_WRAPPER is
// already checked by the wrapper; Valgrind cannot run inside either, nor run oaset.exe under Wine
// (where the test still checks what the run prints).
bool CheckedWithoutValgrind() {
  return BUILT_WITH_ASAN || std::getenv("OASET_E2E_WRAPPER") != nullptr || WindowsMode();
}

TEST(SetValuesE2e, ManyEntriesLeakNothing) {
  bool checkedAnyway = CheckedWithoutValgrind();
  std::string valgrind = checkedAnyway ? "" : FindValgrind();
  if (!checkedAnyway && valgrind.empty()) GTEST_SKIP() << "valgrind is not installed";
  TestAgent agent;
  CreateInstance50(agent);
  std::vector<std::string> args = {"-w" + MODULE};
  // Every path that attaches storage: each syntax with a payload, symbolic names, value and
  // agent failures.
  const std::vector<std::string> entries = {"-sspeakerFreqEntry.2.50",
                                            "-moSome octets",
                                            "-s" + Column(6),
                                            "-md1.3.6.1.2",
                                            "-sspeakerFreqSourceAddress.50",
                                            "-ma10.0.0.1",
                                            "-s" + Column(11),
                                            "-mq1.2.3.4",
                                            "-s" + Column(12),
                                            "-mp47.00",
                                            "-s" + Column(13),
                                            "-mn",
                                            "-sspeakerDescr",
                                            "-mox",
                                            "-s" + Column(7),
                                            "-ma10.0.0",
                                            "-s" + Column(6, "51"),
                                            "-md1.2",
                                            "-sspeakerFreqMode.50",
                                            "-mi2",
                                            "-snoSuchName",
                                            "-mox",
                                            "-s" + Column(3),
                                            "-mx"};
  for (int round = 0; round < 4; ++round) args.insert(args.end(), entries.begin(), entries.end());
  if (!valgrind.empty()) {
    args.insert(args.begin(), {"--leak-check=full", "--error-exitcode=1", "--quiet", OasetPath()});
  }
  OasetRun run =
      valgrind.empty() ? RunOaset(&agent, args) : RunOasetProgram(valgrind, &agent, args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("Setting OIDs:"), BannerText().size() + LOADED.size() + 1);
  EXPECT_NE(run.out.find("\n48: " + Column(3) + " *** (bad syntax)"), std::string::npos);
}

// A value read in part, wrapped or held, and a value that went astray after a space: the trace
// stays as it always was, and standard error names each with what was written instead.
TEST(SetValuesE2e, ValuesReadInPartOrAstrayAreNamedOnStandardError) {
  TestAgent agent;
  CreateInstance50(agent);
  const std::string spaceRule =
      " got an empty parameter: no space may stand between a switch and its parameter; write ";
  struct Case {
    std::vector<std::string> args;
    std::string entries;
    std::string err;
    int column;  // whose stored value is checked
    std::string stored;
  };
  // A value split off its -m by a space is not written: the empty text would replace the value.
  ASSERT_EQ(RunOaset(&agent, {"-s" + Column(2), "-mokeep", "-s" + Column(9), "-mg7",
                              "-s" + Column(3), "-mi880"})
                .status,
            0);
  auto splitOff = [&](const std::string& column, const std::string& value,
                      const std::string& word) {
    std::string hint = value + (word.find(' ') != std::string::npos ? "\"" + word + "\"" : word);
    return "oaset: \"" + word + "\" is not a switch and is ignored, and \"" + value + "\"" +
           spaceRule + hint + "\noaset: 1: " + column + ": not set: \"" + value +
           "\" got an empty value, and \"" + word +
           "\" after the space is not taken as its value; "
           "write " +
           hint + "\n";
  };
  const std::vector<Case> cases = {
      {{"-s" + Column(2), "-mo", "Speaker two"},
       Line(1, Column(2), "octets", "") + VALUE_FAILED,
       splitOff(Column(2), "-mo", "Speaker two"),
       2,
       "syntax=4 bytes=6b656570"},
      {{"-s" + Column(9), "-mg", "80"},
       Line(1, Column(9), "gauge32", "") + VALUE_FAILED,
       splitOff(Column(9), "-mg", "80"),
       9,
       "syntax=66 number=7"},
      {{"-s" + Column(3), "-mi", "12abc"},
       Line(1, Column(3), "int, int32", "") + VALUE_FAILED,
       splitOff(Column(3), "-mi", "12abc"),
       3,
       "syntax=2 number=880"},
      // A NULL takes no text, so the word after -mn costs nothing and the NULL is written.
      {{"-s" + Column(13), "-mn", "x"},
       Line(1, Column(13), "null", "") + "OK",
       "oaset: \"x\" is not a switch and is ignored, and \"-mn\"" + spaceRule + "-mnx\n",
       13,
       "syntax=5 number=0"},
      {{"-s" + Column(3), "-mi880abc"},
       Line(1, Column(3), "int, int32", "880abc") + "OK",
       "oaset: 1: " + Column(3) + ": \"880abc\" is read as 880 (\"abc\" is ignored)\n",
       3,
       "syntax=2 number=880"},
      {{"-s" + Column(10), "-mtabc"},
       Line(1, Column(10), "timeticks", "abc") + "OK",
       "oaset: 1: " + Column(10) + ": \"abc\" is read as 0 (there is no number in it)\n",
       10,
       "syntax=67 number=0"},
      {{"-s" + Column(7), "-ma300.1.2.3"},
       Line(1, Column(7), "ipaddr", "300.1.2.3") + "OK",
       "oaset: 1: " + Column(7) +
           ": \"300.1.2.3\" is read as 44.1.2.3 (\"300\" is beyond 255 and wraps to 44)\n",
       7,
       "syntax=64 bytes=2c010203"},
      {{"-s" + Column(8), "-mc4294967296"},
       Line(1, Column(8), "cntr32", "4294967296") + "OK",
       "oaset: 1: " + Column(8) +
           ": \"4294967296\" is read as 4294967295 (the number is beyond 32 bits and holds at "
           "4294967295)\n",
       8,
       "syntax=65 number=4294967295"},
  };
  for (const Case& c : cases) {
    OasetRun run = RunOaset(&agent, c.args);
    std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(run.out, SetRun(c.entries, false)) << label;
    EXPECT_EQ(run.err, c.err) << label;
    EXPECT_EQ(run.status, 0) << label;
    if (!c.stored.empty()) {
      EXPECT_EQ(StoredColumn(agent, c.column), c.stored) << label;
    }
  }

  // "/srv/x" after a space is the switch -s with "rv/x", an entry without a value of its own.
  OasetRun path = RunOaset(&agent, {"-s" + Column(2), "-mo", "/srv/x"});
  EXPECT_EQ(path.out, SetRun(Line(1, Column(2), "octets", "") + "OK" + "\n2: rv/x " +
                                 "\n  FAILED (No value specified)",
                             true));
  EXPECT_EQ(
      path.err,
      "oaset: \"/srv/x\" looks like a path but is read as the switch -s with \"rv/x\"; if it "
      "is the value of \"-mo\", write -mo/srv/x\noaset: 2: rv/x: not set: no -m for this -s (the "
      "n-th -m belongs to the n-th -s)\n");
}

// Every FAILED and every refusal of the agent says why on standard error, in the words a user
// writes: type letters and SMI names, not codes; the closest name for a misspelled one.
TEST(SetValuesE2e, FailuresAndRefusalsSayWhyOnStandardError) {
  TestAgent agent;
  struct Case {
    std::vector<std::string> args;
    std::string entries;
    std::string err;
    bool loaded;
  };
  const std::string& letters = TYPE_LETTERS;
  const std::vector<Case> cases = {
      {{"-s" + SPEAKER_CONTROL, "-mo2"},
       Line(1, SPEAKER_CONTROL, "octets", "2") +
           "\nSet data failed: wrong syntax for object speakerControl: it takes syntax 2, not 4",
       "oaset: 1: " + SPEAKER_CONTROL + ": not set: it takes INTEGER (-mi), not OCTET STRING\n",
       false},
      {{"-s" + SPEAKER_CONTROL, "-mx2"},
       Line(1, SPEAKER_CONTROL, "bad syntax", "2") + VALUE_FAILED,
       "oaset: \"-mx2\": \"x\" is no type letter of -m; " + letters +
           "\noaset: 1: " + SPEAKER_CONTROL + ": not set: no type letter; " + letters + "\n",
       false},
      {{"-s" + SPEAKER_CONTROL, "-ma10.0.0"},
       Line(1, SPEAKER_CONTROL, "ipaddr", "10.0.0") + VALUE_FAILED,
       "oaset: 1: " + SPEAKER_CONTROL +
           ": not set: \"10.0.0\" is refused: it holds 3 numbers; an IpAddress takes four dotted "
           "numbers "
           "from 0 to 255, as 192.0.2.1\n",
       false},
      {{"-sspeakerControl", "-mi2"},
       Line(1, "speakerControl", "int, int32", "2") + OID_FAILED,
       "oaset: 1: speakerControl: not set: no MIB module is loaded, so speakerControl is not "
       "known; load the module that "
       "defines it with -w, as -wVORNEL-VNBEEP-MIB\n",
       false},
      {{"-w" + MODULE, "-sspeakerContrl", "-mi2"},
       Line(1, "speakerContrl", "int, int32", "2") + OID_FAILED,
       "oaset: 1: speakerContrl: not set: no object speakerContrl in the loaded modules "
       "SNMPv2-SMI, RFC1155-SMI, "
       "VORNEL-VNBEEP-MIB; "
       "the closest name is speakerControl\n",
       true},
      {{"-w" + MODULE, "-snothingLikeIt.50", "-mi2"},
       Line(1, "nothingLikeIt.50", "int, int32", "2") + OID_FAILED,
       "oaset: 1: nothingLikeIt.50: not set: no object nothingLikeIt in the loaded modules "
       "SNMPv2-SMI, RFC1155-SMI, "
       "VORNEL-VNBEEP-MIB\n",
       true},
      {{"-w" + MODULE, "-sspeakerControl.", "-mi2"},
       Line(1, "speakerControl.", "int, int32", "2") + OID_FAILED,
       "oaset: 1: speakerControl.: not set: \"speakerControl.\": speakerControl is known, but what "
       "follows it is no "
       "instance suffix (dotted numbers, as speakerControl.0 or speakerControl.50)\n",
       true},
      {{"-s.1.3", "-mi2"},
       Line(1, ".1.3", "int, int32", "2") + OID_FAILED,
       "oaset: 1: .1.3: not set: \".1.3\" is not a numeric OID (dotted numbers, as 1.3.6.1)\n",
       false},
      {{"-s1.3.6..1", "-mi2"},
       Line(1, "1.3.6..1", "int, int32", "2") + OID_FAILED,
       "oaset: 1: 1.3.6..1: not set: \"1.3.6..1\" is not a numeric OID (dotted numbers, as "
       "1.3.6.1)\n",
       false},
  };
  for (const Case& c : cases) {
    OasetRun run = RunOaset(&agent, c.args);
    std::string label = ::testing::PrintToString(c.args);
    EXPECT_EQ(run.out, SetRun(c.entries, false, c.loaded)) << label;
    EXPECT_EQ(run.err, c.err) << label;
    EXPECT_EQ(run.status, 0) << label;
  }
}

}  // namespace
