// Adding and removing table instances against a real agent, whole output compared.
#include <gtest/gtest.h>

#include <string>

#include "agent_process.h"

namespace {

const std::string ENTRY = "1.3.6.1.4.1.32473.99.1.9.1";
const std::string NOTHING_TO_SET = "\nNothing to set.\n";

std::string Adding(const std::string& entry, const std::string& instance) {
  return "\n\nAdding table entry " + entry + ".<index>." + instance + " ...";
}

std::string Removing(const std::string& entry, const std::string& instance) {
  return "\n\nRemoving table entry " + entry + ".<index>." + instance + " ...";
}

std::string Added(const std::string& handle) {
  return "\nTable entry succesfully added and enabled (handle = " + handle + ").\n";
}

const std::string REMOVED = "\nTable entry succesfully removed.\n";

TEST(TableEntriesE2e, AddListRemoveListInSeparateRuns) {
  TestAgent agent;
  ASSERT_TRUE(agent.Running());

  OasetRun add = RunOaset(&agent, {"-a" + ENTRY, "-i50"});
  EXPECT_EQ(add.out, BannerText() + Adding(ENTRY, "50") + Added("00000001") + NOTHING_TO_SET +
                         FinishedText());
  EXPECT_EQ(add.status, 0);

  // The agent recorded the creating client (this tool's first run) at its fixed clock.
  OasetRun listed = RunOaset(&agent, {"-e" + ENTRY});
  EXPECT_EQ(listed.out, BannerText() + "\nAllocated table entries for " + ENTRY + ":\n" +
                            "\n 1: Table entry instance OID - " + ENTRY + ".<index>.50" +
                            "\n    Table entry instace handle: 0x00000001" +
                            "\n    Client handle: 0x00000001" +
                            "\n    Instance creation: Fri Jan 02 00:00:00 1970\n" + "\n" +
                            NOTHING_TO_SET + FinishedText());

  OasetRun remove = RunOaset(&agent, {"-r" + ENTRY, "-i50"});
  EXPECT_EQ(remove.out,
            BannerText() + Removing(ENTRY, "50") + REMOVED + NOTHING_TO_SET + FinishedText());
  EXPECT_EQ(remove.status, 0);

  OasetRun empty = RunOaset(&agent, {"-e" + ENTRY});
  EXPECT_EQ(empty.out, BannerText() + "\nAllocated table entries for " + ENTRY + ":\n" +
                           "\n\n  None.\n" + NOTHING_TO_SET + FinishedText());
  EXPECT_EQ(empty.status, 0);
}

TEST(TableEntriesE2e, AddAndRemoveInOneRunThenTheAgentHoldsNothing) {
  TestAgent agent;
  OasetRun run = RunOaset(&agent, {"-a" + ENTRY, "-r" + ENTRY, "-i7"});
  EXPECT_EQ(run.out, BannerText() + Adding(ENTRY, "7") + Added("00000001") + Removing(ENTRY, "7") +
                         REMOVED + NOTHING_TO_SET + FinishedText());
  EXPECT_EQ(run.status, 0);
  OasetRun listed = RunOaset(&agent, {"-e" + ENTRY});
  EXPECT_NE(listed.out.find("\n\n  None.\n"), std::string::npos) << listed.out;
}

TEST(TableEntriesE2e, AFailedCreationEndsTheRunBeforeRemovalListingAndSetting) {
  TestAgent agent;
  // The instance exists already, so the agent refuses to create it again.
  ASSERT_EQ(RunOaset(&agent, {"-a" + ENTRY, "-i50"}).status, 0);
  OasetRun run = RunOaset(&agent, {"-a" + ENTRY, "-i50", "-r" + ENTRY, "-e" + ENTRY,
                                   "-s1.3.6.1.4.1.32473.99.1.4", "-mi2"});
  EXPECT_EQ(run.out, BannerText() + Adding(ENTRY, "50") +
                         "\nFailed to add a table entry: instance already exists: 50\n" +
                         FinishedText());
  EXPECT_EQ(run.err, "oaset: -a" + ENTRY + " -i50: not created: instance already exists: 50\n");
  EXPECT_EQ(run.status, 1);
  // The failed run removed nothing.
  EXPECT_NE(RunOaset(&agent, {"-e" + ENTRY}).out.find(" 1: "), std::string::npos);
}

TEST(TableEntriesE2e, BadTextsAndUnknownInstancesFailWithStatusOne) {
  TestAgent agent;
  struct Case {
    std::vector<std::string> args;
    std::string expected;
    std::string reason;  // the standard-error line after "oaset: -a… -i…: not created: "
  };
  auto notNumeric = [](const std::string& text) {
    return "\"" + text + "\" is not a numeric OID (dotted numbers, as 1.3.6.1)";
  };
  std::vector<Case> cases = {
      {{"-a", "-i50"}, Adding("", "50") + "\nBad table entry oid: \n", notNumeric("")},
      {{"-aspeakerFreqEntry", "-i50"},
       Adding("speakerFreqEntry", "50") + "\nBad table entry oid: speakerFreqEntry\n",
       notNumeric("speakerFreqEntry")},
      {{"-a" + ENTRY, "-i"}, Adding(ENTRY, "") + "\nBad instance oid: \n", notNumeric("")},
      {{"-a" + ENTRY, "-i5..0"},
       Adding(ENTRY, "5..0") + "\nBad instance oid: 5..0\n",
       notNumeric("5..0")},
      {{"-r", "-i50"}, Removing("", "50") + "\nBad table entry oid: \n", notNumeric("")},
      {{"-r" + ENTRY, "-ix"}, Removing(ENTRY, "x") + "\nBad instance oid: x\n", notNumeric("x")},
      {{"-r1.3.6.1.4.1.32473.99.1.4", "-i50"},
       Removing("1.3.6.1.4.1.32473.99.1.4", "50") +
           "\nBad table entry oid: 1.3.6.1.4.1.32473.99.1.4\n",
       "no such table entry: 1.3.6.1.4.1.32473.99.1.4"},
      {{"-r" + ENTRY, "-i77"},
       Removing(ENTRY, "77") + "\nBad instance oid: 77\n",
       "no such instance: 77"},
  };
  // Instance OIDs that the entry's INDEX clause does not give.
  const std::string station = "1.3.6.1.4.1.32473.99.1.10.1";
  const std::string alias = "1.3.6.1.4.1.32473.99.1.11.1";
  std::string name33 = "33";
  for (int i = 0; i < 33; ++i) name33 += ".97";
  const std::vector<std::pair<std::string, std::string>> misfits = {
      {ENTRY + " 0", "speakerFreqIndex takes one sub-identifier of 1..2147483647, not 0"},
      {ENTRY + " 4294967295",
       "speakerFreqIndex takes one sub-identifier of 1..2147483647, not 4294967295"},
      {ENTRY + " 7.1",
       "1 sub-identifier left over after speakerFreqIndex, the last object of "
       "speakerFreqEntry's INDEX"},
      {station + " " + name33 + ".10.0.0.1.120.121",
       "speakerStationName takes a length of 1..32 and as many bytes, not 33 bytes"},
      {station + " 2.300.98.10.0.0.1.120.121",
       "speakerStationName takes a length of 1..32 and as many bytes, not 300 at byte 1"},
      {station + " 2.97.98.10.0.0",
       "speakerStationAddress takes an IpAddress: 4 sub-identifiers of 0..255, but only 3 "
       "sub-identifiers left"},
      {station + " 2.97.98.10.0.0.256.120.121",
       "speakerStationAddress takes an IpAddress: 4 sub-identifiers of 0..255, not 256 at byte 4"},
      {station + " 2.97.98.10.0.0.1.120",
       "speakerStationSite takes 2 bytes, one sub-identifier each, but only 1 sub-identifier "
       "left"},
      {alias + " 3.1.3.6",
       "speakerAliasName takes 1..32 bytes, one sub-identifier each (IMPLIED: the rest of the "
       "index), not 0 bytes"},
      {alias + " 9.1.3.6",
       "speakerAliasWaveform takes a length and as many sub-identifiers, but after the length 9 "
       "only 3 sub-identifiers left"},
  };
  for (const auto& [entryAndIndex, why] : misfits) {
    std::string entry = entryAndIndex.substr(0, entryAndIndex.find(' '));
    std::string index = entryAndIndex.substr(entry.size() + 1);
    cases.push_back({{"-a" + entry, "-i" + index},
                     Adding(entry, index) + "\nFailed to add a table entry: bad instance OID " +
                         index + ": " + why + "\n",
                     "bad instance OID " + index + ": " + why});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    OasetRun run = RunOaset(&agent, c.args);
    EXPECT_EQ(run.out, BannerText() + c.expected + FinishedText());
    // Every failed step has one line on standard error that names it as it was asked for.
    bool adding = c.args[0].rfind("-a", 0) == 0;
    EXPECT_EQ(run.err, "oaset: " + c.args[0] + " " + c.args[1] +
                           (adding ? ": not created: " : ": not removed: ") + c.reason + "\n");
    EXPECT_EQ(run.status, 1);
  }
}

TEST(TableEntriesE2e, SwitchesWithoutTheirPartnerAreIgnored) {
  TestAgent agent;
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-a" + ENTRY}, std::vector<std::string>{"-r" + ENTRY},
        std::vector<std::string>{"-i50"}}) {
    OasetRun run = RunOaset(&agent, args);
    EXPECT_EQ(run.out, BannerText() + NOTHING_TO_SET + FinishedText());
    EXPECT_EQ(run.status, 0);
  }
}

// The framework library's text for a fault injected with the code 1022, and the line end.
std::string Injected(const std::string& operation) {
  return "injected fault in " + operation + " (error code 1022)\n";
}

TEST(TableEntriesE2e, InjectedFrameworkFailures) {
  TestAgent agent;
  struct Case {
    std::vector<std::string> args;
    std::string faults;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"-a" + ENTRY, "-i60"},
       "AgentCreateTableEntry=0/1022",
       Adding(ENTRY, "60") + "\nFailed to add a table entry: " + Injected("AgentCreateTableEntry")},
      {{"-a" + ENTRY, "-i61"},
       "AgentEnableTableEntry=0/1022",
       Adding(ENTRY, "61") + "\nFailed to add a table entry: " + Injected("AgentEnableTableEntry")},
      {{"-r" + ENTRY, "-i50"},
       "AgentRemoveTableEntry=0/1022",
       Removing(ENTRY, "50") +
           "\nFailed to remove a table entry: " + Injected("AgentRemoveTableEntry")},
      {{"-r" + ENTRY, "-i50"},
       "AgentFindTableEntry=0",
       Removing(ENTRY, "50") + "\nBad table entry oid: " + ENTRY + "\n"},
      {{"-r" + ENTRY, "-i50"},
       "AgentFindTableInstance=0",
       Removing(ENTRY, "50") + "\nBad instance oid: 50\n"},
      {{"-a" + ENTRY, "-i62"},
       "SnmpStringToOid=0@2",
       Adding(ENTRY, "62") + "\nBad instance oid: 62\n"},
  };
  ASSERT_EQ(RunOaset(&agent, {"-a" + ENTRY, "-i50"}).status, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    OasetRun run = RunOaset(&agent, c.args, {{"ORVU_FAULTS", c.faults}});
    EXPECT_EQ(run.out, BannerText() + c.expected + FinishedText());
    EXPECT_EQ(run.status, 1);
  }
  // The instance whose enabling failed was created all the same and stays; 50 was not removed.
  OasetRun listed = RunOaset(&agent, {"-e" + ENTRY});
  EXPECT_NE(listed.out.find(".<index>.50\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find(".<index>.61\n"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find(".<index>.60\n"), std::string::npos) << listed.out;
}

}  // namespace
