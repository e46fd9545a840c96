// orvuctl against a real agent: every subcommand with and without --json, whole standard output,
// standard error and exit status compared.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "agent_process.h"

namespace {

const std::string ORVUCTL_USAGE =
    "usage: orvuctl get NAME... [--json]\n"
    "       orvuctl show ENTRY [--json]\n"
    "       orvuctl set NAME=VALUE... [--json]\n"
    "       orvuctl apply FILE [--check] [--diff] [--json]\n"
    "       orvuctl modules [--json]\n"
    "       orvuctl clients [--json]\n"
    "       orvuctl notify NAME [INDEX] [--json]\n";

// The Windows build has no orvuctl: it needs YAML and JSON libraries that MinGW lacks.
#define SKIP_WITHOUT_ORVUCTL() \
  if (WindowsMode()) GTEST_SKIP() << "orvuctl is built for POSIX only"

OasetRun RunOrvuctl(const TestAgent* agent, std::vector<std::string> args,
                    std::map<std::string, std::string> env = {}) {
  return RunOasetProgram(BinDir() + "/orvuctl", agent, std::move(args), std::move(env));
}

std::string WriteFile(const TestAgent& agent, const std::string& name, const std::string& text) {
  std::string path = agent.dir + "/" + name;
  std::ofstream(path) << text;
  return path;
}

void ExpectRun(const OasetRun& run, const std::string& out, const std::string& err, int status) {
  EXPECT_EQ(run.out, out);
  EXPECT_EQ(run.err, err);
  EXPECT_EQ(run.status, status);
}

const std::string DESIRED =
    "values:\n"
    "  speakerVolume: 40\n"
    "tables:\n"
    "  speakerFreqEntry:\n"
    "    exclusive: false\n"
    "    rows:\n"
    "      - index: 21\n"
    "        speakerFreqDescr: \"low beep\"\n"
    "        speakerFreqHertz: 220\n"
    "        speakerFreqMode: repeat\n"
    "      - index: 22\n"
    "        state: absent\n";

TEST(OrvuctlE2e, ModulesAndClients) {
  SKIP_WITHOUT_ORVUCTL();
  TestAgent agent;
  ExpectRun(RunOrvuctl(&agent, {"modules"}), "VORNEL-VNBEEP-MIB\n", "", 0);
  ExpectRun(RunOrvuctl(&agent, {"--json", "modules"}),
            "{\"modules\":[{\"name\":\"VORNEL-VNBEEP-MIB\"}]}\n", "", 0);
  // orvuctl itself is the one client; the agent's clock is fixed at 86400.
  // Under a checker the agent names the checker's program, as for oaset.
  const char* wrapped = std::getenv("OASET_E2E_WRAPPER_PROGRAM");
  std::string file = wrapped != nullptr && *wrapped != '\0'
                         ? wrapped
                         : std::filesystem::canonical(BinDir() + "/orvuctl").string();
  OasetRun text = RunOrvuctl(&agent, {"clients"});
  ExpectRun(text, "orvuctl pid " + std::to_string(text.pid) + " " + file + "\n", "", 0);
  OasetRun json = RunOrvuctl(&agent, {"clients", "--json"});
  std::string pid = std::to_string(json.pid);
  ExpectRun(json,
            "{\"clients\":[{\"name\":\"orvuctl\",\"processId\":" + pid + ",\"threadId\":" + pid +
                ",\"registered\":86400,\"file\":\"" + file + "\"}]}\n",
            "", 0);
}

TEST(OrvuctlE2e, GetAndShowInPlainForm) {
  SKIP_WITHOUT_ORVUCTL();
  TestAgent agent;
  ASSERT_EQ(RunOaset(&agent, {"-a1.3.6.1.4.1.32473.99.1.9.1", "-i21"}).status, 0);
  ExpectRun(RunOrvuctl(&agent, {"get", "speakerVolume", "VORNEL-VNBEEP-MIB::speakerControl.0",
                                "speakerFreqRawOctets.21", "1.3.6.1.4.1.32473.99.1.9.1.6.21",
                                "speakerFreqDescr.21"}),
            "speakerVolume.0 = 50\nspeakerControl.0 = idle(1)\nspeakerFreqRawOctets.21 = 0xbeef\n"
            "speakerFreqWaveform.21 = 0.0\nspeakerFreqDescr.21 = \"\"\n",
            "", 0);
  ExpectRun(RunOrvuctl(&agent, {"get", "--json", "speakerMuted", "speakerFreqPattern.21"}),
            "{\"values\":[{\"object\":\"speakerMuted.0\",\"oid\":\"1.3.6.1.4.1.32473.99.1.3.0\","
            "\"syntax\":\"INTEGER\",\"type\":\"TruthValue\",\"value\":2,\"label\":\"false\"},"
            "{\"object\":\"speakerFreqPattern.21\",\"oid\":\"1.3.6.1.4.1.32473.99.1.9.1.5.21\","
            "\"syntax\":\"OCTET STRING\",\"value\":{\"hex\":\"80\"},\"bits\":[\"short\"]}]}\n",
            "", 0);
  std::string row =
      "speakerFreqEntry.21 speakerFreqDescr=\"\" speakerFreqHertz=440 speakerFreqMode=once(1) "
      "speakerFreqPattern=0x80 speakerFreqWaveform=0.0 speakerFreqSourceAddress=127.0.0.1 "
      "speakerFreqPlayCount=0 speakerFreqLevel=100 speakerFreqDuration=25 "
      "speakerFreqVendorData=\"\" speakerFreqNsap=\"\" speakerFreqMarker=null "
      "speakerFreqRawOctets=0xbeef speakerFreqTotalPlays=0 speakerFreqLastChange=0\n";
  ExpectRun(RunOrvuctl(&agent, {"show", "speakerFreqEntry"}), row, "", 0);
  // The table names its entry as well.
  OasetRun json = RunOrvuctl(&agent, {"show", "speakerFreqTable", "--json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.err, "");
  const std::string head =
      "{\"entry\":\"speakerFreqEntry\",\"oid\":\"1.3.6.1.4.1.32473.99.1.9.1\",\"columns\":"
      "[{\"name\":\"speakerFreqIndex\",\"syntax\":\"INTEGER\",\"type\":\"Integer32\","
      "\"access\":\"not-accessible\"},";
  EXPECT_EQ(json.out.substr(0, head.size()), head);
  EXPECT_NE(json.out.find("\"rows\":[{\"index\":\"21\",\"values\":{\"speakerFreqDescr\":\"\","
                          "\"speakerFreqHertz\":440,\"speakerFreqMode\":1,"
                          "\"speakerFreqPattern\":{\"hex\":\"80\"},"),
            std::string::npos)
      << json.out;

  ExpectRun(RunOrvuctl(&agent, {"get", "speakerVolum", "speakerFreqDescr", "speakerFreqDescr.9"}),
            "",
            "orvuctl: speakerVolum: no object speakerVolum in the loaded modules SNMPv2-SMI, "
            "RFC1155-SMI, VORNEL-VNBEEP-MIB; the closest name is speakerVolume\n"
            "orvuctl: speakerFreqDescr: is a column: name a row by its index "
            "(speakerFreqDescr.1)\n",
            1);
  // Many rows of one table are read by walking it: the rows it holds, in the order asked, and
  // each one it does not hold refused.
  std::vector<std::string> many = {"get"};
  for (int row = 70; row >= 1; --row) many.push_back("speakerFreqHertz." + std::to_string(row));
  OasetRun walked = RunOrvuctl(&agent, many);
  EXPECT_EQ(walked.out, "");
  EXPECT_EQ(std::count(walked.err.begin(), walked.err.end(), '\n'), 69) << walked.err;
  EXPECT_EQ(walked.err.find("speakerFreqHertz.21:"), std::string::npos) << walked.err;
  EXPECT_EQ(walked.status, 1);
  many.resize(1);
  for (int twice = 0; twice < 2; ++twice)
    for (int column = 2; column <= 4; ++column)
      for (int copy = 0; copy < 22; ++copy)
        many.push_back("1.3.6.1.4.1.32473.99.1.9.1." + std::to_string(column) + ".21");
  OasetRun same = RunOrvuctl(&agent, many);
  std::string three = "speakerFreqDescr.21 = \"\"\n";
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(same.out.substr(0, three.size()), three);
  EXPECT_EQ(std::count(same.out.begin(), same.out.end(), '\n'), 132);
  OasetRun absent = RunOrvuctl(&agent, {"get", "speakerFreqDescr.9"});
  EXPECT_EQ(absent.out, "");
  EXPECT_EQ(absent.err.rfind("orvuctl: speakerFreqDescr.9: ", 0), 0u) << absent.err;
  EXPECT_EQ(absent.status, 1);
}

TEST(OrvuctlE2e, SetIsAllOrNothing) {
  SKIP_WITHOUT_ORVUCTL();
  TestAgent agent;
  ASSERT_EQ(RunOaset(&agent, {"-a1.3.6.1.4.1.32473.99.1.9.1", "-i21"}).status, 0);
  ExpectRun(RunOrvuctl(&agent, {"set", "speakerVolume=40", "speakerControl=beep",
                                "speakerFreqDescr.21=low beep", "speakerFreqRawOctets.21=0x00ff"}),
            "set speakerVolume.0: 50 -> 40\nset speakerControl.0: idle(1) -> beep(2)\n"
            "set speakerFreqDescr.21: \"\" -> \"low beep\"\n"
            "set speakerFreqRawOctets.21: 0xbeef -> 0x00ff\nchanged: 4\n",
            "", 0);
  const std::string unchanged = "speakerVolume.0 = 40\nspeakerFreqHertz.21 = 440\n";
  // One bad value of three: refused before anything is sent.
  ExpectRun(RunOrvuctl(&agent, {"set", "speakerVolume=41", "speakerFreqHertz.21=15",
                                "speakerControl=idle"}),
            "",
            "orvuctl: speakerFreqHertz.21 = 15: takes 20..20000\n"
            "orvuctl: nothing was changed\n",
            1);
  ExpectRun(RunOrvuctl(&agent, {"get", "speakerVolume", "speakerFreqHertz.21"}), unchanged, "", 0);
  // One the agent refuses (no row 99): the others are not written either.
  OasetRun refused = RunOrvuctl(
      &agent, {"set", "speakerVolume=41", "speakerFreqDescr.99=x", "speakerFreqHertz.21=300"});
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("speakerFreqDescr.99"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("(nothing was changed)\n"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.status, 1);
  ExpectRun(RunOrvuctl(&agent, {"get", "speakerVolume", "speakerFreqHertz.21"}), unchanged, "", 0);

  // A set that the library cannot store (an injected storage failure) changes nothing either.
  OasetRun unstored = RunOrvuctl(&agent, {"set", "speakerVolume=41", "--json"},
                                 {{"ORVU_FAULTS", "AgentApplyChanges=1022"}});
  EXPECT_EQ(unstored.out, "");
  EXPECT_EQ(unstored.err.rfind("orvuctl: ", 0), 0u) << unstored.err;
  EXPECT_NE(unstored.err.find("(nothing was changed)\n"), std::string::npos) << unstored.err;
  EXPECT_EQ(unstored.status, 1);
  ExpectRun(RunOrvuctl(&agent, {"get", "speakerVolume", "speakerFreqHertz.21"}), unchanged, "", 0);

  // Texts that oaset would read in part are refused whole here.
  ExpectRun(
      RunOrvuctl(&agent, {"set", "speakerVolume=12abc", "speakerDescr=x",
                          "speakerFreqSourceAddress.21=300.1.1.1", "speakerFreqMode.21=loud"}),
      "",
      "orvuctl: speakerVolume.0 = 12abc: takes a whole number from -2147483648 to "
      "2147483647\n"
      "orvuctl: speakerDescr.0 = x: is read-only\n"
      "orvuctl: speakerFreqSourceAddress.21 = 300.1.1.1: takes four dotted numbers from 0 "
      "to 255\n"
      "orvuctl: speakerFreqMode.21 = loud: takes one of once(1), repeat(2), disabled(3)\n"
      "orvuctl: nothing was changed\n",
      1);
  ExpectRun(RunOrvuctl(&agent, {"set", "speakerVolume=30", "--json"}),
            "{\"changed\":1,\"check\":false,\"changes\":[{\"action\":\"set\",\"object\":"
            "\"speakerVolume.0\",\"syntax\":\"INTEGER\",\"before\":40,\"after\":30}]}\n",
            "", 0);
  // A numeric OID in a served module is typed by it; outside them, by an explicit type.
  ExpectRun(RunOrvuctl(&agent, {"set", "1.3.6.1.4.1.32473.99.1.2.0=7"}),
            "set speakerVolume.0: 30 -> 7\nchanged: 1\n", "", 0);
  OasetRun untyped = RunOrvuctl(&agent, {"set", "1.3.6.1.4.1.32473.5.0=4"});
  EXPECT_EQ(untyped.err,
            "orvuctl: 1.3.6.1.4.1.32473.5.0 = 4: no served module defines it: write the value as "
            "TYPE:VALUE (INTEGER:5, OCTET STRING:text, ...)\norvuctl: nothing was changed\n");
  EXPECT_EQ(untyped.status, 1);
  // Typed, it reaches the agent, which serves no such object.
  OasetRun typed = RunOrvuctl(&agent, {"set", "1.3.6.1.4.1.32473.5.0=INTEGER:4"});
  EXPECT_NE(typed.err.find("no such object (nothing was changed)\n"), std::string::npos)
      << typed.err;
  EXPECT_EQ(typed.status, 1);
}

TEST(OrvuctlE2e, ApplyTwiceCheckAndDiff) {
  SKIP_WITHOUT_ORVUCTL();
  TestAgent agent;
  ASSERT_EQ(RunOaset(&agent, {"-a1.3.6.1.4.1.32473.99.1.9.1", "-i22"}).status, 0);
  std::string file = WriteFile(agent, "desired.yaml", DESIRED);
  const std::string changes =
      "set speakerVolume.0: 50 -> 40\n"
      "create speakerFreqEntry.21\n"
      "set speakerFreqDescr.21: (absent) -> \"low beep\"\n"
      "set speakerFreqHertz.21: (absent) -> 220\n"
      "set speakerFreqMode.21: (absent) -> repeat(2)\n"
      "remove speakerFreqEntry.22\n";
  const std::string diff =
      "--- before\n+++ after\n"
      "-speakerFreqEntry.22: present\n"
      "-speakerVolume.0 = 50\n"
      "+speakerFreqDescr.21 = \"low beep\"\n"
      "+speakerFreqEntry.21: present\n"
      "+speakerFreqHertz.21 = 220\n"
      "+speakerFreqMode.21 = repeat(2)\n"
      "+speakerVolume.0 = 40\n";
  ExpectRun(RunOrvuctl(&agent, {"apply", file, "--check", "--diff"}),
            changes + "would change: 6 (check: nothing was changed)\n" + diff, "", 0);
  ExpectRun(RunOrvuctl(&agent, {"apply", file, "--check", "--json"}),
            "{\"changed\":6,\"check\":true,\"changes\":["
            "{\"action\":\"set\",\"object\":\"speakerVolume.0\",\"syntax\":\"INTEGER\","
            "\"before\":50,\"after\":40},"
            "{\"action\":\"create\",\"object\":\"speakerFreqEntry.21\",\"before\":null,"
            "\"after\":null},"
            "{\"action\":\"set\",\"object\":\"speakerFreqDescr.21\",\"syntax\":\"OCTET STRING\","
            "\"before\":null,\"after\":\"low beep\"},"
            "{\"action\":\"set\",\"object\":\"speakerFreqHertz.21\",\"syntax\":\"INTEGER\","
            "\"before\":null,\"after\":220},"
            "{\"action\":\"set\",\"object\":\"speakerFreqMode.21\",\"syntax\":\"INTEGER\","
            "\"before\":null,\"after\":2},"
            "{\"action\":\"remove\",\"object\":\"speakerFreqEntry.22\",\"before\":null,"
            "\"after\":null}]}\n",
            "", 0);
  // --check changed nothing.
  ExpectRun(RunOrvuctl(&agent, {"get", "speakerVolume"}), "speakerVolume.0 = 50\n", "", 0);
  ExpectRun(RunOrvuctl(&agent, {"apply", file, "--diff"}), changes + "changed: 6\n" + diff, "", 0);
  ExpectRun(RunOrvuctl(&agent, {"apply", file}), "nothing to change\n", "", 0);
  ExpectRun(RunOrvuctl(&agent, {"apply", file, "--json", "--diff"}),
            "{\"changed\":0,\"check\":false,\"changes\":[],"
            "\"diff\":{\"before\":\"\",\"after\":\"\"}}\n",
            "", 0);
  ExpectRun(RunOrvuctl(&agent, {"get", "speakerFreqMode.21", "speakerFreqDescr.21"}),
            "speakerFreqMode.21 = repeat(2)\nspeakerFreqDescr.21 = \"low beep\"\n", "", 0);

  // JSON from standard input; an exclusive table loses the rows it does not list.
  ASSERT_EQ(RunOaset(&agent, {"-a1.3.6.1.4.1.32473.99.1.9.1", "-i30"}).status, 0);
  std::string exclusive = WriteFile(
      agent, "exclusive.json",
      "{\"tables\": {\"speakerFreqEntry\": {\"exclusive\": true, \"rows\": [{\"index\": 21}]}}}");
  ExpectRun(RunOrvuctl(&agent, {"apply", exclusive}), "remove speakerFreqEntry.30\nchanged: 1\n",
            "", 0);
}

TEST(OrvuctlE2e, ABadCommandLineOrFileSendsNothing) {
  SKIP_WITHOUT_ORVUCTL();
  TestAgent agent;
  ExpectRun(RunOrvuctl(&agent, {}), "", "orvuctl: no subcommand\n" + ORVUCTL_USAGE, 2);
  ExpectRun(RunOrvuctl(&agent, {"--help"}), ORVUCTL_USAGE, "", 0);
  ExpectRun(RunOrvuctl(&agent, {"get", "--check", "speakerVolume"}), "",
            "orvuctl: get takes no --check or --diff\n" + ORVUCTL_USAGE, 2);
  ExpectRun(RunOrvuctl(&agent, {"set", "speakerVolume"}), "",
            "orvuctl: speakerVolume: takes NAME=VALUE\n", 2);
  std::string missing = agent.dir + "/missing.yaml";
  ExpectRun(RunOrvuctl(&agent, {"apply", missing}), "",
            "orvuctl: " + missing + ": cannot be read\n", 2);
  std::string shape = WriteFile(agent, "shape.yaml",
                                "values:\n  speakerVolume: 40\ntables:\n  speakerFreqEntry:\n"
                                "    rows:\n      - speakerFreqHertz: 220\n");
  ExpectRun(RunOrvuctl(&agent, {"apply", shape}), "",
            "orvuctl: " + shape + ": line 6: a row without its index\n", 2);
  // The file is read before the agent is looked for.
  ExpectRun(RunOrvuctl(nullptr, {"apply", shape}), "",
            "orvuctl: " + shape + ": line 6: a row without its index\n", 2);
  std::string broken = WriteFile(agent, "broken.yaml", "values: {speakerVolume: 40\n");
  OasetRun parse = RunOrvuctl(&agent, {"apply", broken});
  EXPECT_EQ(parse.err.rfind("orvuctl: " + broken + ": line 2: ", 0), 0u) << parse.err;
  EXPECT_EQ(parse.status, 2);
  ExpectRun(RunOrvuctl(&agent, {"get", "speakerVolume"}), "speakerVolume.0 = 50\n", "", 0);
}

TEST(OrvuctlE2e, OlderLibrariesAreRefusedCleanly) {
  SKIP_WITHOUT_ORVUCTL();
  TestAgent agent;
  // The MIB library as older distributions ship it cannot describe objects.
  std::string dir = agent.dir + "/older";
  std::filesystem::create_directory(dir);
  std::string copy = dir + "/orvuctl";
  std::filesystem::copy_file(BinDir() + "/orvuctl", copy);
  std::vector<std::string> libraries = LibraryFiles();
  std::filesystem::copy_file(BinDir() + "/" + libraries[0], dir + "/" + libraries[0]);
  std::filesystem::copy_file(BinDir() + "/" + libraries[1], dir + "/" + libraries[1]);
  std::filesystem::copy_file(BinDir() + "/without-last-reason/" + libraries[2],
                             dir + "/" + libraries[2]);
  OasetRun run = RunOasetProgram(copy, &agent, {"get", "speakerVolume"}, {{"LD_LIBRARY_PATH", ""}});
  ExpectRun(run, "",
            "orvuctl: the MIB library cannot describe objects (it has no MibGetObjectFacet): "
            "install the libraries that come with orvuctl\n",
            1);
  ExpectRun(RunOasetProgram(copy, &agent, {"modules"}, {{"LD_LIBRARY_PATH", ""}}),
            "VORNEL-VNBEEP-MIB\n", "", 0);
}

}  // namespace
