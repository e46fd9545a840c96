// The agent serving real modules of the IETF corpus (IF-MIB, Q-BRIDGE-MIB, SNMP-VIEW-BASED-ACM-MIB
// and others): rows of every index form are created with -a, written with -s (names qualified by
// their module, too), listed with -e and -t, and read by SNMP managers through AgentX; an entry
// that AUGMENTS another shares its rows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "agent_process.h"
#include "snmp_master.h"

namespace {

const std::string CORPUS = OASET_TEST_MIB_CORPUS;
const std::string IF_ENTRY = "1.3.6.1.2.1.2.2.1";
const std::string IFX_ENTRY = "1.3.6.1.2.1.31.1.1.1";
const std::string NOTHING_TO_SET = "\nNothing to set.\n";
const std::string FRIDAY = "Fri Jan 02 00:00:00 1970\n";

bool CorpusThere() {
  struct stat info;
  return stat((CORPUS + "/ietf/IF-MIB").c_str(), &info) == 0;
}

std::map<std::string, std::string> CorpusPath() {
  // Windows separates the folders as PATH does, since drive letters hold colons.
  if (WindowsMode())
    return {{"ORVU_MIB_PATH", WindowsPath(CORPUS + "/ietf") + ";" + WindowsPath(CORPUS + "/iana")}};
  return {{"ORVU_MIB_PATH", CORPUS + "/ietf:" + CORPUS + "/iana"}};
}

TestAgentOptions Serving(std::vector<std::string> modules, const std::string& state = "") {
  TestAgentOptions options;
  options.modules = std::move(modules);
  options.env = {{"ORVU_MIB_PATH", CORPUS + "/ietf:" + CORPUS + "/iana"}};
  options.initialState = state;
  return options;
}

std::string Block(int number, const std::string& entry, const std::string& index,
                  const std::string& handle, const std::string& client) {
  return "\n " + std::to_string(number) + ": Table entry instance OID - " + entry + ".<index>." +
         index + "\n    Table entry instace handle: 0x" + handle + "\n    Client handle: 0x" +
         client + "\n    Instance creation: " + FRIDAY;
}

std::string Added(const std::string& entry, const std::string& index, const std::string& handle) {
  return "\nAdding table entry " + entry + ".<index>." + index +
         " ...\nTable entry succesfully added and enabled (handle = " + handle + ").\n";
}

// The lines of a -t listing that hold a leaf, without their indentation.
std::vector<std::string> Leaves(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    if (line.find(" **** ") != std::string::npos) lines.push_back(line.substr(4));
    start = end + 1;
  }
  return lines;
}

class RealModulesE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CorpusThere()) GTEST_SKIP() << "no MIB corpus at " << CORPUS;
  }
  OasetRun Run(const TestAgent& agent, std::vector<std::string> args) {
    return RunOaset(&agent, std::move(args), CorpusPath());
  }
};

// ifXEntry AUGMENTS ifEntry: a row added to either is a row of both, IF-MIB::name picks the
// module, and a removal from either removes it from both.
TEST_F(RealModulesE2e, IfMibRowsAreSharedWithTheirAugments) {
  TestAgent agent(Serving({"IF-MIB"}));
  ASSERT_TRUE(agent.Running());
  OasetRun run = Run(agent, {"-a" + IFX_ENTRY, "-i3", "-wIF-MIB", "-sIF-MIB::ifAdminStatus.3",
                             "-mi2", "-sifAlias.3", "-mouplink", "-e" + IF_ENTRY});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, BannerText() + "\nLoading module:\n\n1: IF-MIB ... OK\n\n" +
                         Added(IFX_ENTRY, "3", "00000001") + "\nAllocated table entries for " +
                         IF_ENTRY + ":\n" + Block(1, IF_ENTRY, "3", "00000002", "00000001") +
                         "\n\nSetting OIDs:\n\n"
                         "1: IF-MIB::ifAdminStatus.3 *** (int, int32) 2 ... OK\n"
                         "2: ifAlias.3 *** (octets) uplink ... OK\n" +
                         FinishedText());

  std::vector<std::string> ifLeaves = Leaves(Run(agent, {"-t" + IF_ENTRY}).out);
  ASSERT_EQ(ifLeaves.size(), 22u);
  EXPECT_EQ(ifLeaves[0], "1: 1.3.6.1.2.1.2.2.1.1.3 **** (int,int32) 3");
  EXPECT_EQ(ifLeaves[6], "7: 1.3.6.1.2.1.2.2.1.7.3 **** (int,int32) 2");
  std::vector<std::string> ifxLeaves = Leaves(Run(agent, {"-t" + IFX_ENTRY}).out);
  ASSERT_EQ(ifxLeaves.size(), 19u);
  EXPECT_EQ(ifxLeaves[17], "18: 1.3.6.1.2.1.31.1.1.1.18.3 **** (octets) uplink");

  // The same row cannot be added again through the other entry.
  run = Run(agent, {"-a" + IF_ENTRY, "-i3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("instance already exists: 3"), std::string::npos) << run.out;

  run = Run(agent, {"-r" + IF_ENTRY, "-i3", "-e" + IFX_ENTRY});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, BannerText() + "\n\nRemoving table entry " + IF_ENTRY +
                         ".<index>.3 ...\nTable entry succesfully removed.\n" +
                         "\nAllocated table entries for " + IFX_ENTRY + ":\n\n\n  None.\n" +
                         NOTHING_TO_SET + FinishedText());
}

// oaset -w says on standard error what the reader forgave in a module that loads, and -s which
// module's object a name that two loaded modules define stands for; standard output is as ever.
TEST_F(RealModulesE2e, TheToolSaysWhatWasForgivenAndWhichNameItTook) {
  TestAgent agent(Serving({"PIM-STD-MIB"}));
  ASSERT_TRUE(agent.Running());
  OasetRun run = Run(agent, {"-wDSA-MIB", "-wPIM-MIB", "-wPIM-STD-MIB",
                             "-sPIM-STD-MIB::pimNeighborUpTime.1.4.1.2.3.4", "-mt5",
                             "-spimNeighborIfIndex.1.2.3.4", "-mi1", "-sNO-MIB::x.1", "-mi1"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(
      run.out.rfind(BannerText() + "\nLoading modules:\n\n1: DSA-MIB ... OK\n2: PIM-MIB ... OK\n"
                                   "3: PIM-STD-MIB ... OK\n",
                    0),
      0u)
      << run.out;
  for (const std::string& line :
       {std::string("DSA-MIB:111:20: Counter32 is used without being imported; taken from "
                    "SNMPv2-SMI (add it to the IMPORTS from SNMPv2-SMI)\n"),
        std::string("DSA-MIB:387:20: Gauge32 is used without being imported; taken from "
                    "SNMPv2-SMI (add it to the IMPORTS from SNMPv2-SMI)\n"),
        std::string("oaset: pimNeighborIfIndex is defined by PIM-MIB (1.3.6.1.3.61.1.1.3.1.2) and "
                    "by PIM-STD-MIB (1.3.6.1.2.1.157.1.2.1.1): PIM-MIB's is taken; write "
                    "MODULE::pimNeighborIfIndex for another\n"),
        std::string("oaset: 3: NO-MIB::x.1: not set: no loaded module is named NO-MIB\n")}) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << "\n" << run.err;
  }
  // The qualified name needed no note, and the modules' warnings come once each.
  EXPECT_EQ(run.err.find("pimNeighborUpTime is defined by"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Counter32"), run.err.rfind("Counter32")) << run.err;
}

// A state written before rows were shared may hold a row on one side only: the agent gives it to
// the other side when it starts, and keeps it across a restart.
TEST_F(RealModulesE2e, ARowOnOneSideOfAnAugmentsPairIsSharedAtStart) {
  TestAgent agent(Serving({"IF-MIB"}, "module IF-MIB\ninstance entry=" + IFX_ENTRY +
                                          " index=9 handle=4 creator=7 time=86400\n"
                                          "value handle=4 column=18 syntax=4 bytes=6c616e\n"));
  ASSERT_TRUE(agent.Running());
  std::string expected = BannerText() + "\nAllocated table entries for " + IF_ENTRY + ":\n" +
                         Block(1, IF_ENTRY, "9", "00000005", "00000007") + "\n" + NOTHING_TO_SET +
                         FinishedText();
  EXPECT_EQ(Run(agent, {"-e" + IF_ENTRY}).out, expected);
  EXPECT_EQ(agent.Stop(), 0);
  ASSERT_TRUE(agent.Start());
  EXPECT_EQ(Run(agent, {"-e" + IF_ENTRY}).out, expected);
  std::vector<std::string> leaves = Leaves(Run(agent, {"-t" + IFX_ENTRY}).out);
  ASSERT_EQ(leaves.size(), 19u);
  EXPECT_EQ(leaves[17], "18: 1.3.6.1.2.1.31.1.1.1.18.9 **** (octets) lan");
}

struct IndexFormCase {
  const char* form;
  const char* entry;
  const char* index;
  const char* set;        // a column of the row, written with -m below
  const char* value;      // the -m parameter
  const char* indexLeaf;  // the listing's line of an index column, read from the instance OID
};

const IndexFormCase INDEX_FORMS[] = {
    {"integer", "1.3.6.1.2.1.17.7.1.4.3.1", "10", "Q-BRIDGE-MIB::dot1qVlanStaticName.10", "oten",
     "1: 1.3.6.1.2.1.17.7.1.4.3.1.1.10 **** (octets) ten"},
    {"unsigned, fixed-size string and integer", "1.3.6.1.2.1.17.7.1.3.1.1", "5.0.17.34.51.68.85.2",
     "dot1qStaticUnicastStatus.5.0.17.34.51.68.85.2", "i3",
     "1: 1.3.6.1.2.1.17.7.1.3.1.1.1.5.0.17.34.51.68.85.2 **** (octets) 00.11.22.33.44.55 (hex)"},
    {"integer and variable string", "1.3.6.1.6.3.16.1.2.1", "3.4.117.115.101.114",
     "SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.3.4.117.115.101.114", "ogrp",
     "2: 1.3.6.1.6.3.16.1.2.1.2.3.4.117.115.101.114 **** (octets) user"},
    {"variable string and OBJECT IDENTIFIER", "1.3.6.1.6.3.16.1.5.2.1", "3.97.108.108.4.1.3.6.1",
     "vacmViewTreeFamilyType.3.97.108.108.4.1.3.6.1", "i1",
     "2: 1.3.6.1.6.3.16.1.5.2.1.2.3.97.108.108.4.1.3.6.1 **** (oid) internet"},
    {"IMPLIED string", "1.3.6.1.6.3.12.1.2.1", "116.49", "snmpTargetAddrTimeout.116.49", "i1500",
     "1: 1.3.6.1.6.3.12.1.2.1.1.116.49 **** (octets) t1"},
    {"IpAddress, IpAddress, integer and IpAddress", "1.3.6.1.2.1.4.24.4.1",
     "10.0.0.0.255.0.0.0.0.192.168.1.1", "ipCidrRouteMetric1.10.0.0.0.255.0.0.0.0.192.168.1.1",
     "i5", "4: 1.3.6.1.2.1.4.24.4.1.4.10.0.0.0.255.0.0.0.0.192.168.1.1 **** (ipaddr) 192.168.1.1"},
};

TEST_F(RealModulesE2e, EveryIndexFormIsAddedWrittenAndListed) {
  TestAgent agent(
      Serving({"Q-BRIDGE-MIB", "SNMP-VIEW-BASED-ACM-MIB", "SNMP-TARGET-MIB", "IP-FORWARD-MIB"}));
  ASSERT_TRUE(agent.Running());
  for (const IndexFormCase& form : INDEX_FORMS) {
    std::string entry = form.entry;
    OasetRun run = Run(agent, {"-a" + entry, std::string("-i") + form.index, "-wQ-BRIDGE-MIB",
                               "-wSNMP-VIEW-BASED-ACM-MIB", "-wSNMP-TARGET-MIB", "-wIP-FORWARD-MIB",
                               std::string("-s") + form.set, std::string("-m") + form.value});
    EXPECT_EQ(run.status, 0) << form.form << "\n" << run.out;
    EXPECT_NE(run.out.find(" ... OK\n\nFinished."), std::string::npos) << form.form << run.out;
    std::vector<std::string> leaves = Leaves(Run(agent, {"-t" + entry}).out);
    bool found = false;
    for (const std::string& leaf : leaves) found = found || leaf == form.indexLeaf;
    EXPECT_TRUE(found) << form.form << ": no leaf " << form.indexLeaf;
  }
}

// What the reader forgives is said and the module served; what it refuses stops the agent with the
// cause, the import chain or the reason an SMIng module is not read. These modules are the test's
// own, so the test needs no corpus.
TEST(RealModulesAgentE2e, TheAgentSaysWhatItForgivesAndWhyItRefuses) {
  TestAgentOptions options;
  options.start = false;
  TestAgent agent(options);
  auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(agent.dir + "/" + name) << text;
  };
  write("OLD-MIB",
        "OLD-MIB DEFINITIONS ::= BEGIN IMPORTS OBJECT-TYPE, enterprises FROM SNMPv2-SMI;\n"
        "up OBJECT-TYPE SYNTAX TimeTicks MAX-ACCESS read-only STATUS current\n"
        "  ::= { enterprises 32473 9 1 } END\n");
  write("TOP-MIB", "TOP-MIB DEFINITIONS ::= BEGIN IMPORTS low FROM LOW-MIB; END\n");
  write("LOW-MIB",
        "LOW-MIB DEFINITIONS ::= BEGIN IMPORTS enterprises FROM SNMPv2-SMI;\n"
        "low OBJECT IDENTIFIER ::= { nowhere 1 } END\n");
  write("NEW-MIB", "module NEW-MIB {\n  organization \"x\";\n};\n");
  auto run = [&](const std::string& module) {
    return RunProgram(AgentPath(),
                      {"--socket", agent.socket, "--state", agent.statePath, "--module", "OLD-MIB",
                       "--module", module},
                      {{"ORVU_MIB_PATH", agent.dir}});
  };
  OasetRun refused = run("TOP-MIB");
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("orvu-agentd: warning: " + agent.dir +
                             "/OLD-MIB:2:23: TimeTicks is used without being imported; taken "
                             "from SNMPv2-SMI (add it to the IMPORTS from SNMPv2-SMI)\n"),
            std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("cannot load module TOP-MIB: " + agent.dir +
                             "/LOW-MIB:2:29: unresolved OID parent nowhere; import chain: "
                             "TOP-MIB -> LOW-MIB:2"),
            std::string::npos)
      << refused.err;
  refused = run("NEW-MIB");
  EXPECT_NE(refused.err.find("cannot load module NEW-MIB: " + agent.dir +
                             "/NEW-MIB:1:1: NEW-MIB is an SMIng module, not SMIv1 or SMIv2"),
            std::string::npos)
      << refused.err;
}

// SNMP managers see the rows through AgentX, the shared rows of an AUGMENTS pair included
// (dot1qPortVlanEntry extends BRIDGE-MIB's dot1dBasePortEntry).
TEST_F(RealModulesE2e, ManagersReadTheRowsThroughAgentx) {
  if (WindowsMode()) GTEST_SKIP() << "the master runs on the POSIX side only";
  TestMaster master;
  ASSERT_GT(master.pid, 0) << "snmpd did not start";
  TestAgentOptions options = Serving({"BRIDGE-MIB", "Q-BRIDGE-MIB"});
  options.extraArgs = AgentxArgs(master);
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  // The port row of BRIDGE-MIB is also the row of Q-BRIDGE-MIB's dot1qPortVlanEntry.
  OasetRun run = Run(agent, {"-a1.3.6.1.2.1.17.1.4.1", "-i2"});
  ASSERT_EQ(run.status, 0) << run.out;
  run = Run(agent, {"-a1.3.6.1.2.1.17.7.1.4.3.1", "-i10"});
  ASSERT_EQ(run.status, 0) << run.out;
  run = Run(agent, {"-wQ-BRIDGE-MIB", "-sQ-BRIDGE-MIB::dot1qPvid.2", "-mg10",
                    "-sdot1qVlanStaticName.10", "-moten"});
  ASSERT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
  ASSERT_TRUE(WaitForSubagent(master, ".1.3.6.1.2.1.17.7.1.4.5.1.1.2"));
  run =
      Snmp(master, "snmpget", {".1.3.6.1.2.1.17.7.1.4.5.1.1.2", ".1.3.6.1.2.1.17.7.1.4.3.1.1.10"});
  EXPECT_EQ(run.out,
            ".1.3.6.1.2.1.17.7.1.4.5.1.1.2 = Gauge32: 10\n"
            ".1.3.6.1.2.1.17.7.1.4.3.1.1.10 = STRING: \"ten\"\n");
  // The VLAN row made by oaset still lacks its egress ports, which have no default: managers see
  // no value for them and a row that is notReady.
  run =
      Snmp(master, "snmpget", {".1.3.6.1.2.1.17.7.1.4.3.1.2.10", ".1.3.6.1.2.1.17.7.1.4.3.1.5.10"});
  EXPECT_EQ(run.out,
            ".1.3.6.1.2.1.17.7.1.4.3.1.2.10 = No Such Instance currently exists at this OID\n"
            ".1.3.6.1.2.1.17.7.1.4.3.1.5.10 = INTEGER: 3\n");
  run = Snmp(master, "snmpset", {".1.3.6.1.2.1.17.7.1.4.5.1.1.2", "u", "20"});
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::string> leaves = Leaves(Run(agent, {"-t1.3.6.1.2.1.17.7.1.4.5.1"}).out);
  ASSERT_FALSE(leaves.empty());
  EXPECT_EQ(leaves[0], "1: 1.3.6.1.2.1.17.7.1.4.5.1.1.2 **** (gauge32) 20");
}

// RFC 2579 through net-snmp's master: a TestAndIncr takes only the value it holds and then holds
// the next; a readOnly row takes no write, a permanent one is not destroyed, and neither a row's
// StorageType nor another's becomes permanent or readOnly by a set.
TEST_F(RealModulesE2e, SpinLocksAndStorageTypesBindManagers) {
  if (WindowsMode()) GTEST_SKIP() << "the master runs on the POSIX side only";
  // snmpd serves a schedule table of its own, which has to give way.
  TestMaster master(false);
  master.withoutModules = {"schedTable"};
  ASSERT_TRUE(master.Start());
  const std::string entry = "1.3.6.1.2.1.63.1.2.1";
  std::string state = "module UPS-MIB\nmodule DISMAN-SCHEDULE-MIB\n";
  // Owner "a", names "r" (readOnly), "p" (permanent) and "v" (nonVolatile).
  const std::vector<std::pair<std::string, int>> rows = {{"114", 5}, {"112", 4}, {"118", 3}};
  int handle = 0;
  for (const auto& [name, storage] : rows) {
    std::string h = std::to_string(++handle);
    state += "instance entry=" + entry + " index=1.97.1." + name + " handle=" + h +
             " creator=1 time=0\nvalue handle=" + h +
             " column=19 syntax=2 number=" + std::to_string(storage) + "\nvalue handle=" + h +
             " column=20 syntax=2 number=1\n";
  }
  TestAgentOptions options = Serving({}, state);
  options.extraArgs = AgentxArgs(master);
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  const std::string lock = ".1.3.6.1.2.1.33.1.7.2.0";
  ASSERT_TRUE(WaitForSubagent(master, lock));
  auto column = [&](int number, const std::string& name) {
    return "." + entry + "." + std::to_string(number) + ".1.97.1." + name;
  };
  auto refused = [&](std::vector<std::string> varbinds, const std::string& reason) {
    OasetRun run = Snmp(master, "snmpset", varbinds);
    return run.err == "Error in packet.\nReason: " + reason + "\nFailed object: " + varbinds[0] +
                          "\n\n"
               ? std::string()
               : run.err;
  };
  const std::string inconsistent =
      "inconsistentValue (The set value is illegal or unsupported in some way)";
  const std::string wrongValue = "wrongValue (The set value is illegal or unsupported in some way)";
  const std::string notWritable = "notWritable (That object does not support modification)";

  EXPECT_EQ(Snmp(master, "snmpget", {lock}).out, lock + " = INTEGER: 0\n");
  EXPECT_EQ(refused({lock, "i", "5"}, inconsistent), "");
  EXPECT_EQ(Snmp(master, "snmpset", {lock, "i", "0"}).status, 0);
  EXPECT_EQ(Snmp(master, "snmpget", {lock}).out, lock + " = INTEGER: 1\n");
  EXPECT_EQ(refused({lock, "i", "0"}, inconsistent), "");

  EXPECT_EQ(refused({column(3, "114"), "s", "x"}, notWritable), "");
  EXPECT_EQ(refused({column(20, "114"), "i", "6"}, notWritable), "");
  EXPECT_EQ(refused({column(19, "114"), "i", "3"}, wrongValue), "");
  EXPECT_EQ(Snmp(master, "snmpset", {column(3, "112"), "s", "x"}).status, 0);
  EXPECT_EQ(refused({column(19, "112"), "i", "3"}, wrongValue), "");
  EXPECT_EQ(refused({column(20, "112"), "i", "6"}, inconsistent), "");
  EXPECT_EQ(refused({column(19, "118"), "i", "4"}, wrongValue), "");
  EXPECT_EQ(Snmp(master, "snmpset", {column(19, "118"), "i", "2"}).status, 0);
  EXPECT_EQ(Snmp(master, "snmpset", {column(20, "118"), "i", "6"}).status, 0);
  OasetRun walk = Snmp(master, "snmpwalk", {"." + entry + ".20"});
  EXPECT_EQ(walk.out,
            column(20, "112") + " = INTEGER: 1\n" + column(20, "114") + " = INTEGER: 1\n");
}

// A served IF-MIB beside a stock snmpd: the agent registers the tables and scalar groups alone,
// so its other objects reach managers at once, while its ifTable rows wait until snmpd's own
// ifTable gives way (-I -ifTable, as README and orvu-agentd(8) say).
TEST_F(RealModulesE2e, ServedIfRowsReachManagersOnceSnmpdsOwnGiveWay) {
  if (WindowsMode()) GTEST_SKIP() << "the master runs on the POSIX side only";
  const std::string descr = ".1.3.6.1.2.1.2.2.1.2.4242";
  const std::string stackLastChange = ".1.3.6.1.2.1.31.1.6.0";
  for (bool giveWay : {false, true}) {
    SCOPED_TRACE(giveWay);
    TestMaster master(false);
    if (giveWay) master.withoutModules = {"ifTable"};
    ASSERT_TRUE(master.Start());
    TestAgentOptions options =
        Serving({"IF-MIB"}, "module IF-MIB\ninstance entry=" + IF_ENTRY +
                                " index=4242 handle=1 creator=1 time=0\nvalue handle=1 column=2 "
                                "syntax=4 bytes=6f72767530\n");
    options.extraArgs = AgentxArgs(master);
    TestAgent agent(options);
    ASSERT_TRUE(agent.Running());
    ASSERT_TRUE(WaitForSubagent(master, stackLastChange));
    EXPECT_EQ(Snmp(master, "snmpget", {descr}).out,
              descr + (giveWay ? " = STRING: \"orvu0\"\n"
                               : " = No Such Instance currently exists at this OID\n"));
  }
}

// A served ifOperStatus that goes down sends linkDown, and one that comes back linkUp, through
// the master to its trap sink, with ifIndex, ifAdminStatus and ifOperStatus (RFC 2863).
TEST_F(RealModulesE2e, AServedIfOperStatusSendsLinkDownAndLinkUp) {
  if (WindowsMode()) GTEST_SKIP() << "the master runs on the POSIX side only";
  TestTrapReceiver receiver;
  ASSERT_GT(receiver.pid, 0) << "snmptrapd did not start";
  TestMaster master(false);
  master.withoutModules = {"ifTable"};
  master.extraConfig = {"trap2sink " + receiver.address + " public"};
  ASSERT_TRUE(master.Start());
  TestAgentOptions options =
      Serving({"IF-MIB"}, "module IF-MIB\ninstance entry=" + IF_ENTRY +
                              " index=4242 handle=1 creator=1 time=0\nvalue handle=1 column=8 "
                              "syntax=2 number=1\n");
  options.extraArgs = AgentxArgs(master);
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  const std::string operStatus = "." + IF_ENTRY + ".8.4242";
  ASSERT_TRUE(WaitForSubagent(master, operStatus));
  const std::string trapOid = ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.6.3.1.1.5.";
  OasetRun run = Run(agent, {"-s" + IF_ENTRY + ".8.4242", "-mi2"});
  ASSERT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
  EXPECT_EQ(Snmp(master, "snmpget", {operStatus}).out, operStatus + " = INTEGER: 2\n");
  EXPECT_TRUE(receiver.WaitFor(trapOid + "3"));
  EXPECT_NE(receiver.Log().find("." + IF_ENTRY + ".1.4242 = INTEGER: 4242"), std::string::npos)
      << receiver.Log();
  run = Run(agent, {"-s" + IF_ENTRY + ".8.4242", "-mi1"});
  ASSERT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
  EXPECT_TRUE(receiver.WaitFor(trapOid + "4"));
}

}  // namespace
