// The run from banner to "Finished." against a real agent: the parts that need no connection, the
// module and client lists, and every way the framework can fail along the way.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "agent_process.h"

namespace {

const std::string NOTHING_TO_SET = "\nNothing to set.\n";

const std::string VERSION_BLOCK =
    "\n\nOrvu SNMP Agent version information:\n"
    "\n  Orvu SNMP Agent version: 1.0 (Build 1)"
    "\n  Orvu SNMP Agent spec: Orvu stand-in agent framework 1.0"
    "\n  Vendor name: Orvu stand-in platform"
    "\n  Vendor OID: 1.3.6.1.4.1.32473"
    "\n  Vendor IANA enterprise number: 32473"
    "\n  Vendor WEB: https://www.example.com/orvu"
    "\n  Vendor E-Mail: orvu@example.com"
    "\n";

std::string Injected(const std::string& operation, int code) {
  return "injected fault in " + operation + " (error code " + std::to_string(code) + ")";
}

std::string Hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof(text), "%08X", value);
  return text;
}

// The block of this tool's own connection: the agent numbers its clients from 1 and derives the
// other handles from that number.
std::string OwnClientBlock(int index, uint32_t handle, const OasetRun& run, bool overTcp = false) {
  std::string file = ClientFileName(overTcp);
  ClientIds ids = OwnClientIds(run);
  return "\n  Client " + std::to_string(index) + ":" + "\n    Name: OASetUtility" +
         "\n    File name: " + file + "\n    Handle: 0x" + Hex8(handle) + "\n    Id: 0x" +
         Hex8(1000 + handle) + "\n    Flags: 0x00000001" +
         "\n    Registration time: Fri Jan 02 00:00:00 1970\n" + "    Process: 0x" +
         Hex8(2000 + handle) + " (handle), " + ids.processId + " (id)" + "\n    Thread: 0x" +
         Hex8(3000 + handle) + " (handle), " + ids.threadId + " (id)" + "\n";
}

TestAgentOptions ServingModules(std::vector<std::string> modules) {
  TestAgentOptions options;
  options.modules = std::move(modules);
  return options;
}

const std::string CLIENTS_HEADING = "\nClients connected to Orvu Agent:\n";
const std::string MODULES_HEADING = "\nMIB modules handled by Orvu Agent:\n";

TEST(VersionE2e, VersionComesBeforeTheFrameworkAndOnlyOneCountsAsSuccess) {
  TestAgent agent;
  OasetRun run = RunOaset(&agent, {"-v"});
  EXPECT_EQ(run.out, BannerText() + VERSION_BLOCK + NOTHING_TO_SET + FinishedText());
  EXPECT_EQ(run.status, 0);

  OasetRun two = RunOaset(&agent, {"-v"}, {{"ORVU_FAULTS", "AgentGetVersionInfo=2"}});
  EXPECT_EQ(two.out, BannerText() + "\n\nOrvu SNMP Agent version information:\n\nFailed.\n\n" +
                         NOTHING_TO_SET + FinishedText());
  EXPECT_EQ(two.status, 0);

  // The whole block stands before the failed start.
  OasetRun start = RunOaset(&agent, {"-v"}, {{"ORVU_FAULTS", "AgentFrameworkInit=0/1001"}});
  EXPECT_EQ(start.out, BannerText() + VERSION_BLOCK + "\nFramework initialization error: " +
                           Injected("AgentFrameworkInit", 1001) + FinishedText());
  EXPECT_EQ(start.status, 0);
}

TEST(ModuleLoadingE2e, OneTwoAndAFailureThatStopsNothing) {
  TestAgent agent;
  OasetRun one = RunOaset(&agent, {"-wVORNEL-VNBEEP-MIB"});
  EXPECT_EQ(one.out, BannerText() + "\nLoading module:\n\n1: VORNEL-VNBEEP-MIB ... OK\n" +
                         NOTHING_TO_SET + FinishedText());

  OasetRun two = RunOaset(&agent, {"-wVORNEL-VNBEEP-MIB", "/WRFC1213-MIB"});
  EXPECT_EQ(two.out,
            BannerText() +
                "\nLoading modules:\n\n1: VORNEL-VNBEEP-MIB ... OK\n2: RFC1213-MIB ... OK\n" +
                NOTHING_TO_SET + FinishedText());

  OasetRun failing = RunOaset(&agent, {"-wNO-SUCH-MIB", "-wVORNEL-VNBEEP-MIB", "-o"});
  EXPECT_EQ(failing.out,
            BannerText() +
                "\nLoading modules:\n\n1: NO-SUCH-MIB ... FAILED\n2: VORNEL-VNBEEP-MIB ... OK\n" +
                MODULES_HEADING + "\n  Module 1: VORNEL-VNBEEP-MIB (handle = 1)\n" +
                NOTHING_TO_SET + FinishedText());
  EXPECT_EQ(failing.status, 0);
}

// A module that does not load says why on standard error, in the MIB reader's words: the files
// tried, or where the text broke. A MIB library without MibGetLastReason (an older distribution)
// still binds and runs, and then the tool has no reason to give but what it knows itself.
TEST(ModuleLoadingE2e, AFailedModuleGivesTheReadersReasonUnlessTheLibraryHasNone) {
  TestAgent agent;
  std::string dir = ::testing::TempDir() + "oaset-mibreason-" + std::to_string(getpid());
  std::filesystem::create_directories(dir + "/mibs");
  {
    std::ofstream broken(dir + "/mibs/BROKEN-MIB");
    broken << "BROKEN-MIB DEFINITIONS ::= BEGIN\n"
              "IMPORTS enterprises FROM SNMPv2-SMI;\n"
              "broken OBJECT IDENTIFIER ::= { enterprises\n"
              "END\n";
  }
  std::string mibs = WindowsMode() ? WindowsPath(dir + "/mibs") : dir + "/mibs";
  std::string tried;
  for (const char* suffix : {"", ".txt", ".mib", ".my"}) {
    tried += (tried.empty() ? "" : ", ") + mibs + "/NO-SUCH-MIB" + suffix;
  }
  const std::string loading = "\nLoading module:\n\n1: ";
  const std::map<std::string, std::string> path = {{"ORVU_MIB_PATH", mibs}};

  OasetRun missing = RunOaset(&agent, {"-wNO-SUCH-MIB"}, path);
  EXPECT_EQ(missing.out,
            BannerText() + loading + "NO-SUCH-MIB ... FAILED\n" + NOTHING_TO_SET + FinishedText());
  EXPECT_EQ(missing.err,
            "oaset: cannot load NO-SUCH-MIB: module NO-SUCH-MIB not found (tried " + tried + ")\n");
  EXPECT_EQ(missing.status, 0);

  OasetRun broken = RunOaset(&agent, {"-wBROKEN-MIB"}, path);
  EXPECT_EQ(broken.out,
            BannerText() + loading + "BROKEN-MIB ... FAILED\n" + NOTHING_TO_SET + FinishedText());
  // The reader's own words after the position are its business; one line, file, line, column.
  const std::string where = "oaset: cannot load BROKEN-MIB: " + mibs + "/BROKEN-MIB:4:1: ";
  EXPECT_EQ(broken.err.substr(0, where.size()), where);
  EXPECT_GT(broken.err.size(), where.size() + 1);
  EXPECT_EQ(broken.err.find('\n'), broken.err.size() - 1);

  // The tool with the library as older distributions ship it.
  std::string copy = dir + "/" + std::filesystem::path(OasetPath()).filename().string();
  std::filesystem::copy_file(OasetPath(), copy);
  std::vector<std::string> libraries = LibraryFiles();
  std::filesystem::copy_file(BinDir() + "/" + libraries[0], dir + "/" + libraries[0]);
  std::filesystem::copy_file(BinDir() + "/" + libraries[1], dir + "/" + libraries[1]);
  std::filesystem::copy_file(BinDir() + "/without-last-reason/" + libraries[2],
                             dir + "/" + libraries[2]);
  std::map<std::string, std::string> older = path;
  older["LD_LIBRARY_PATH"] = "";
  OasetRun silent = RunOasetProgram(copy, &agent, {"-wNO-SUCH-MIB"}, older);
  EXPECT_EQ(silent.out, missing.out);
  EXPECT_EQ(silent.err, "");
  EXPECT_EQ(silent.status, 0);

  older["ORVU_MIB_PATH"] = WindowsMode() ? WindowsPath(MibsDir()) : MibsDir();
  OasetRun name =
      RunOasetProgram(copy, &agent, {"-wVORNEL-VNBEEP-MIB", "-sspeakerContrl", "-mi2"}, older);
  EXPECT_EQ(name.out, BannerText() + loading + "VORNEL-VNBEEP-MIB ... OK\n" +
                          "\nSetting OID:\n\n1: speakerContrl *** (int, int32) 2 ... " +
                          "\n  FAILED (While converting OID to internal form)\n" + FinishedText());
  EXPECT_EQ(name.err,
            "oaset: 1: speakerContrl: not set: no object speakerContrl in the loaded modules "
            "VORNEL-VNBEEP-MIB\n");
  std::filesystem::remove_all(dir);
}

TEST(ModuleListE2e, NoneOneAndTwo) {
  TestAgent none(ServingModules({}));
  OasetRun empty = RunOaset(&none, {"-o"});
  EXPECT_EQ(empty.out,
            BannerText() + MODULES_HEADING + "\n\n  None.\n" + NOTHING_TO_SET + FinishedText());

  TestAgent one;
  EXPECT_EQ(RunOaset(&one, {"-o"}).out, BannerText() + MODULES_HEADING +
                                            "\n  Module 1: VORNEL-VNBEEP-MIB (handle = 1)\n" +
                                            NOTHING_TO_SET + FinishedText());

  TestAgent two(ServingModules({"VORNEL-VNBEEP-MIB", "RFC1213-MIB"}));
  EXPECT_EQ(RunOaset(&two, {"-o"}).out,
            BannerText() + MODULES_HEADING + "\n  Module 1: VORNEL-VNBEEP-MIB (handle = 1)" +
                "\n  Module 2: RFC1213-MIB (handle = 2)\n" + NOTHING_TO_SET + FinishedText());
}

TEST(ClientListE2e, NoneWhenTheFirstCallFailsOtherwiseThisToolItself) {
  TestAgent agent;
  OasetRun none = RunOaset(&agent, {"-c"}, {{"ORVU_FAULTS", "AgentEnumClients=0"}});
  // No line end after "None." here: the value-setting stage brings its own.
  EXPECT_EQ(none.out,
            BannerText() + CLIENTS_HEADING + "\n\n  None." + NOTHING_TO_SET + FinishedText());

  OasetRun own = RunOaset(&agent, {"-c"});
  EXPECT_EQ(own.out, BannerText() + CLIENTS_HEADING + OwnClientBlock(1, 2, own) + NOTHING_TO_SET +
                         FinishedText());
}

// Either list ends quietly only where the library says it has no more entries (1007); any other
// failure is reported, ends the run's operations and makes the exit status 1, so that a refused
// or broken enumeration never shows as "None.".
TEST(ListsE2e, OnlyTheListsEndIsQuiet) {
  TestAgent agent(ServingModules({"VORNEL-VNBEEP-MIB", "RFC1213-MIB"}));
  const std::string module1 = "\n  Module 1: VORNEL-VNBEEP-MIB (handle = 1)";
  struct Case {
    std::vector<std::string> args;
    std::string faults;
    std::string out;
    int status;
  };
  // The index-0 call is the first of each enumeration; the second is index 1.
  for (const Case& c : std::vector<Case>{
           {{"-o"},
            "AgentEnumModules=0/1007@2",
            MODULES_HEADING + "\n\n  None.\n" + NOTHING_TO_SET,
            0},
           {{"-o", "-c"},
            "AgentEnumModules=0/1002@2",
            MODULES_HEADING + "\nModule list error: " + Injected("AgentEnumModules", 1002) + "\n",
            1},
           {{"-o", "-s1.3.6.1.4.1.32473.99.1.4", "-mi2"},
            "AgentEnumModules=0/1003@3",
            MODULES_HEADING + module1 +
                "\nModule list error: " + Injected("AgentEnumModules", 1003) + "\n",
            1},
           {{"-c"},
            "AgentEnumClients=0/1002@2",
            CLIENTS_HEADING + "\nClient list error: " + Injected("AgentEnumClients", 1002) + "\n",
            1},
           {{"-c"},
            "AgentEnumClients=0/1007@2",
            CLIENTS_HEADING + "\n\n  None." + NOTHING_TO_SET,
            0},
       }) {
    SCOPED_TRACE(c.faults);
    OasetRun run = RunOaset(&agent, c.args, {{"ORVU_FAULTS", c.faults}});
    EXPECT_EQ(run.out, BannerText() + c.out + FinishedText());
    EXPECT_EQ(run.status, c.status);
  }
}

TEST(ClientListE2e, ResidentClientWithOddValuesComesFirst) {
  TestAgentOptions options;
  options.initialState =
      "client handle=4294967295 id=2147483648 process-handle=0 process=4294967295 "
      "thread-handle=3735928559 thread=1 time=-1 flags=4294967295 name=Resident%20Name "
      "file=C:\\odd%3Dpath\\r.exe\n"
      "client handle=10 id=11 process-handle=12 process=13 thread-handle=14 thread=15 "
      "time=2147483647 flags=0 name=Second file=/usr/bin/second\n";
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  OasetRun run = RunOaset(&agent, {"-c"});
  EXPECT_EQ(run.out,
            BannerText() + CLIENTS_HEADING +
                "\n  Client 1:"
                "\n    Name: Resident Name"
                "\n    File name: C:\\odd=path\\r.exe"
                "\n    Handle: 0xFFFFFFFF"
                "\n    Id: 0x80000000"
                "\n    Flags: 0xFFFFFFFF"
                "\n    Registration time: (null)    Process: 0x00000000 (handle), 4294967295 (id)"
                "\n    Thread: 0xDEADBEEF (handle), 1 (id)"
                "\n"
                "\n  Client 2:"
                "\n    Name: Second"
                "\n    File name: /usr/bin/second"
                "\n    Handle: 0x0000000A"
                "\n    Id: 0x0000000B"
                "\n    Flags: 0x00000000"
                "\n    Registration time: Tue Jan 19 03:14:07 2038\n"
                "    Process: 0x0000000C (handle), 13 (id)"
                "\n    Thread: 0x0000000E (handle), 15 (id)"
                "\n" +
                OwnClientBlock(3, 11, run) + NOTHING_TO_SET + FinishedText());
  EXPECT_EQ(run.status, 0);
}

// Cleanup is injected to fail as well wherever it must not be called: its message would show.
TEST(FrameworkStateE2e, FailedStartSkipsEverythingAndCleansNothingUp) {
  TestAgent agent;
  OasetRun run =
      RunOaset(&agent, {"-o", "-c", "-s1.3.6.1.4.1.32473.99.1.4.0", "-mi2"},
               {{"ORVU_FAULTS", "AgentFrameworkInit=0/1001;AgentFrameworkCleanup=0/1006"}});
  EXPECT_EQ(run.out, BannerText() + "\nFramework initialization error: " +
                         Injected("AgentFrameworkInit", 1001) + FinishedText());
  EXPECT_EQ(run.status, 0);
}

TEST(FrameworkStateE2e, FailedConnectSkipsTheConnectedWorkButCleansUp) {
  OasetRun absent = RunOaset(nullptr, {"-o", "-c", "-e1.3.6.1.4.1.32473.99.1.9.1"});
  // What exists where the tool runs: this source tree's oaset.sh, or on Windows the agent's TCP
  // listener, which writes the endpoint file.
  const std::string advice = WindowsMode()
                                 ? "; start the agent with orvu-agentd --tcp 127.0.0.1:0 "
                                   "--endpoint naming this file, or set ORVU_AGENT_ENDPOINT to "
                                   "the endpoint file of an agent that runs"
                                 : "; start one with ./oaset.sh or orvu-agentd --detach";
  EXPECT_EQ(absent.out, BannerText() + "\nAgent connection failed:  no agent answers at " +
                            AgentAddress(nullptr) + ": " + NothingThereText() + advice +
                            FinishedText());
  EXPECT_EQ(absent.status, 0);

  // A killed agent leaves its socket behind: nobody listens there any more.
  {
    TestAgent killed;
    killed.Kill9();
    OasetRun refused = RunOaset(&killed, {"-o"});
    EXPECT_EQ(refused.out, BannerText() + "\nAgent connection failed:  no agent answers at " +
                               AgentAddress(&killed) + ": " + NobodyListensText(killed) + advice +
                               FinishedText());
    EXPECT_EQ(refused.status, 0);
  }

  TestAgent agent;
  OasetRun injected =
      RunOaset(&agent, {"-o", "-a1.3.6.1.4.1.32473.99.1.9.1", "-i5"},
               {{"ORVU_FAULTS", "AgentConnect=0/1010;AgentFrameworkCleanup=0/1006"}});
  EXPECT_EQ(injected.out,
            BannerText() + "\nAgent connection failed:  " + Injected("AgentConnect", 1010) +
                "\nFramework cleanup error: " + Injected("AgentFrameworkCleanup", 1006) +
                FinishedText());
  EXPECT_EQ(injected.status, 0);
}

std::string UserText(uid_t uid) {
  struct passwd* entry = getpwuid(uid);
  std::string id = "uid " + std::to_string(uid);
  return entry != nullptr ? std::string(entry->pw_name) + " (" + id + ")" : id;
}

// A socket that is there but not this user's to open is no missing agent: the failure names its
// owner, or the owner of the folder that may not be entered, and what to do. Root may open
// everything, so as root the tool runs as nobody.
TEST(FrameworkStateE2e, ASocketThisUserMayNotOpenNamesItsOwner) {
  if (WindowsMode()) GTEST_SKIP() << "a Windows client reaches the agent over TCP only";
  TestAgent agent;
  bool root = geteuid() == 0;
  constexpr uid_t NOBODY = 65534;
  std::string owner = UserText(geteuid());
  std::string runner = root ? UserText(NOBODY) : owner;
  auto run = [&]() {
    if (!root) return RunOaset(&agent, {"-o"});
    return RunProgram("/usr/bin/setpriv",
                      {"--reuid=" + std::to_string(NOBODY), "--regid=" + std::to_string(NOBODY),
                       "--clear-groups", OasetPath(), "-o"},
                      {{"ORVU_AGENT_SOCKET", agent.socket}, {"TZ", "UTC"}});
  };
  // Neither the folder nor the socket is open to the group, so joining it would not help.
  const std::string remedy = ": only " + owner + " (or root) may use it; run oaset as " + owner +
                             ", or start an agent of your own at another socket "
                             "(ORVU_AGENT_SOCKET)";

  ASSERT_EQ(chmod(agent.dir.c_str(), root ? 0700 : 0), 0);
  OasetRun folder = run();
  chmod(agent.dir.c_str(), 0700);
  EXPECT_EQ(folder.out, BannerText() + "\nAgent connection failed:  the socket " + agent.socket +
                            " lies in the folder " + agent.dir + " of " + owner +
                            ", which this user, " + runner + ", may not enter" + remedy +
                            FinishedText());

  ASSERT_EQ(chmod(agent.dir.c_str(), 0755), 0);
  ASSERT_EQ(chmod(agent.socket.c_str(), root ? 0600 : 0), 0);
  OasetRun socket = run();
  chmod(agent.socket.c_str(), 0600);
  chmod(agent.dir.c_str(), 0700);
  EXPECT_EQ(socket.out, BannerText() + "\nAgent connection failed:  the socket " + agent.socket +
                            " belongs to " + owner + ", and this user, " + runner +
                            ", may not open it" + remedy + FinishedText());
  EXPECT_EQ(socket.status, 0);
}

TEST(FrameworkStateE2e, FailedDisconnectSkipsTheCleanup) {
  TestAgent agent;
  OasetRun run = RunOaset(&agent, {"-o"},
                          {{"ORVU_FAULTS", "AgentDisconnect=0/1006;AgentFrameworkCleanup=0/1006"}});
  EXPECT_EQ(run.out, BannerText() + MODULES_HEADING +
                         "\n  Module 1: VORNEL-VNBEEP-MIB (handle = 1)\n" + NOTHING_TO_SET +
                         "\nFramework disconnect agent error:  " +
                         Injected("AgentDisconnect", 1006) + FinishedText());
  EXPECT_EQ(run.status, 0);
}

TEST(FrameworkStateE2e, FailedCleanupIsReportedAndTheRunStillFinishes) {
  TestAgent agent;
  OasetRun run = RunOaset(&agent, {"x"}, {{"ORVU_FAULTS", "AgentFrameworkCleanup=0/1006"}});
  EXPECT_EQ(run.out, BannerText() + NOTHING_TO_SET + "\nFramework cleanup error: " +
                         Injected("AgentFrameworkCleanup", 1006) + FinishedText());
  EXPECT_EQ(run.status, 0);
}

TEST(EchoE2e, WithoutSetOnlyTheFlagsThenTheRunGoesOn) {
  TestAgent agent;
  OasetRun run = RunOaset(&agent, {"-p", "-wVORNEL-VNBEEP-MIB", "-mi4"});
  EXPECT_EQ(
      run.out,
      BannerText() + "\nParameters:\n\nPrint parameters: TRUE\nPrint Orvu Agent version: FALSE\n" +
          "\nLoading module:\n\n1: VORNEL-VNBEEP-MIB ... OK\n" + NOTHING_TO_SET + FinishedText());
}

// The run is stopped at the framework start so that only the echo of the entries shows.
TEST(EchoE2e, EntriesWithFoldedSwitchesLettersAndUnpairedValues) {
  OasetRun run =
      RunOaset(nullptr,
               {"/P", "-v", "/S1.3.6.1.2.1.1.4.0", "/mohello", "-s1.3.6.1.2.1.1.5.0", "-mb0F",
                "-s1.3.6.1.2.1.1.6.0", "-mu7", "-s1.3.6.1.2.1.1.7.0", "-mn", "-s1.3.6.1.2.1.1.8.0",
                "-mOx", "-s1.3.6.1.2.1.1.9.0", "-m", "-s1.3.6.1.2.1.1.1.0"},
               {{"ORVU_FAULTS", "AgentFrameworkInit=0/1001;AgentGetVersionInfo=2"}});
  EXPECT_EQ(run.out, BannerText() +
                         "\nParameters:\n"
                         "\n1: 1.3.6.1.2.1.1.4.0 *** (octets) hello "
                         "\n2: 1.3.6.1.2.1.1.5.0 *** (octets) 0F "
                         "\n3: 1.3.6.1.2.1.1.6.0 *** (int, int32) 7 "
                         "\n4: 1.3.6.1.2.1.1.7.0 *** (null)  "
                         "\n5: 1.3.6.1.2.1.1.8.0 *** (bad syntax) x "
                         "\n6: 1.3.6.1.2.1.1.9.0 *** (bad syntax)  "
                         "\n7: 1.3.6.1.2.1.1.1.0 *** "
                         "\n"
                         "\nPrint parameters: TRUE"
                         "\nPrint Orvu Agent version: TRUE"
                         "\n" +
                         "\n\nOrvu SNMP Agent version information:\n\nFailed.\n\n" +
                         "\nFramework initialization error: " +
                         Injected("AgentFrameworkInit", 1001) + FinishedText());
  EXPECT_EQ(run.status, 0);
}

}  // namespace

namespace {

// The lines of an endpoint file, by name.
std::map<std::string, std::string> EndpointLines(const std::string& path) {
  std::ifstream in(path);
  std::map<std::string, std::string> lines;
  for (std::string line; std::getline(in, line);) {
    size_t equals = line.find('=');
    if (equals != std::string::npos) lines[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return lines;
}

// A private file, as the client trusts it.
void WritePrivate(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
  chmod(path.c_str(), 0600);
}

std::string ClientPath(const std::string& path) { return WindowsMode() ? WindowsPath(path) : path; }

const std::string CONNECTION_FAILED = "\nAgent connection failed:  ";

// Another user's listener at ADDRESS:PORT: it answers every request as an agent would, with a
// proof it cannot have, and keeps every byte it is sent.
class Impostor {
 public:
  Impostor(const std::string& address, int port) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    listening_ = bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
                 listen(listener_, 8) == 0;
    if (listening_) thread_ = std::thread([this] { Serve(); });
  }
  ~Impostor() { Received(); }
  bool Listening() const { return listening_; }
  // Everything sent to it, once it stopped listening.
  const std::string& Received() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
    return received_;
  }

 private:
  void Serve() {
    while (!stop_) {
      pollfd wait{listener_, POLLIN, 0};
      if (poll(&wait, 1, 100) <= 0) continue;
      int peer = accept(listener_, nullptr, nullptr);
      if (peer < 0) continue;
      std::string in;
      char buffer[4096];
      for (ssize_t n; (n = Read(peer, buffer, sizeof buffer)) > 0;) {
        in.append(buffer, static_cast<size_t>(n));
        received_.append(buffer, static_cast<size_t>(n));
        while (in.size() >= 4 && in.size() >= 4 + Little(in.data())) {
          in.erase(0, 4 + Little(in.data()));
          std::string reply =
              Word(0) + Word(32) + std::string(32, 'n') + Word(32) + std::string(32, 'p');
          reply = Word(static_cast<uint32_t>(reply.size())) + reply;
          send(peer, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
      }
      close(peer);
    }
  }
  // Reads what comes within a second, so that a stop is never held up for long.
  static ssize_t Read(int peer, char* buffer, size_t size) {
    pollfd wait{peer, POLLIN, 0};
    return poll(&wait, 1, 1000) > 0 ? read(peer, buffer, size) : 0;
  }
  static uint32_t Little(const char* bytes) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
  }
  static std::string Word(uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
  }

  int listener_ = -1;
  bool listening_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::string received_;
};

}  // namespace

// The agent on TCP loopback as well (for Windows clients under Wine): a client that knows the
// endpoint file's secret is served and reports its own ids; any other is refused with a reason.
TEST(LoopbackE2e, TheSecretOpensTheDoorAndNothingElseDoes) {
  TestAgentOptions options;
  options.tcp = true;
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  const std::string& endpoint = agent.endpoint;
  struct stat info {};
  ASSERT_EQ(stat(endpoint.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  std::map<std::string, std::string> lines = EndpointLines(endpoint);
  std::string port = "port=" + lines["port"];
  EXPECT_EQ(lines["address"], "127.0.0.1");
  EXPECT_EQ(lines["secret"].size(), 32u) << "128 bits in hexadecimal";

  // Nobody at the Unix socket: the client takes the TCP road the variable names.
  std::map<std::string, std::string> tcp = {{"ORVU_AGENT_ENDPOINT", endpoint},
                                            {"ORVU_AGENT_SOCKET", "/nonexistent-oaset-e2e/s"}};
  OasetRun own = RunOaset(&agent, {"-c"}, tcp);
  EXPECT_EQ(own.out, BannerText() + CLIENTS_HEADING + OwnClientBlock(1, 1, own, true) +
                         NOTHING_TO_SET + FinishedText());

  // With another secret, the agent's own proof does not hold: the client stops there.
  std::string wrong = agent.dir + "/wrong";
  WritePrivate(wrong, port + "\nsecret=" + std::string(32, '0') + "\n");
  tcp["ORVU_AGENT_ENDPOINT"] = wrong;
  EXPECT_EQ(RunOaset(&agent, {"-o"}, tcp).out,
            BannerText() + CONNECTION_FAILED + "no trusted agent at " + ClientPath(wrong) +
                ": the listener at 127.0.0.1:" + lines["port"] +
                " did not prove that it knows the endpoint file's secret" + FinishedText());
  WritePrivate(wrong, port + "\n");
  OasetRun missing = RunOaset(&agent, {"-o"}, tcp);
  EXPECT_NE(missing.out.find("not an agent endpoint file"), std::string::npos) << missing.out;
  WritePrivate(wrong, "address=10.0.0.1\n" + port + "\nsecret=" + lines["secret"] + "\n");
  missing = RunOaset(&agent, {"-o"}, tcp);
  EXPECT_NE(missing.out.find("not a loopback address (127.x.x.x): 10.0.0.1"), std::string::npos)
      << missing.out;

  // A peer that never registers is told why and dropped after the bound; others are served
  // meanwhile.
  int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(lines["port"])));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval patience{15, 0};  // the test fails rather than waits for ever
  setsockopt(silent, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  tcp["ORVU_AGENT_ENDPOINT"] = endpoint;
  EXPECT_EQ(RunOaset(&agent, {"-c"}, tcp).status, 0);
  std::string reason;
  char buffer[512];
  for (ssize_t n; (n = read(silent, buffer, sizeof buffer)) > 0;) reason.append(buffer, n);
  close(silent);
  EXPECT_NE(reason.find("it did not register within 5 seconds"), std::string::npos) << reason;

  TestAgentOptions open;
  open.start = false;
  TestAgent anywhere(open);
  anywhere.options.extraArgs = {"--tcp", "0.0.0.0:0", "--endpoint", anywhere.dir + "/open"};
  EXPECT_FALSE(anywhere.Start()) << "an address beyond loopback is refused";
}

// The client dials the address the endpoint file names, and the agent proves itself before the
// client sends anything: a listener on another address at the same port, or one that takes the
// port once the agent is gone, learns nothing of the secret and changes nothing.
TEST(LoopbackE2e, OnlyTheAgentThatProvesItselfIsTalkedTo) {
  TestAgentOptions options;
  options.tcp = true;
  options.tcpAddress = "127.0.0.2";
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  std::map<std::string, std::string> lines = EndpointLines(agent.endpoint);
  EXPECT_EQ(lines["address"], "127.0.0.2");
  int port = std::stoi(lines["port"]);
  std::map<std::string, std::string> tcp = {{"ORVU_AGENT_ENDPOINT", agent.endpoint},
                                            {"ORVU_AGENT_SOCKET", "/nonexistent-oaset-e2e/s"}};
  const std::vector<std::string> set = {"-s1.3.6.1.4.1.32473.99.1.4", "-mi2"};
  {
    Impostor elsewhere("127.0.0.1", port);
    ASSERT_TRUE(elsewhere.Listening());
    OasetRun served = RunOaset(&agent, {"-o"}, tcp);
    EXPECT_EQ(served.out.find("Agent connection failed"), std::string::npos) << served.out;
    EXPECT_NE(served.out.find("VORNEL-VNBEEP-MIB"), std::string::npos) << served.out;
    EXPECT_EQ(elsewhere.Received(), "");
  }
  agent.Kill9();
  Impostor squatter("127.0.0.2", port);
  ASSERT_TRUE(squatter.Listening());
  OasetRun fooled = RunOaset(&agent, set, tcp);
  EXPECT_EQ(fooled.out,
            BannerText() + CONNECTION_FAILED + "no trusted agent at " + ClientPath(agent.endpoint) +
                ": the listener at 127.0.0.2:" + lines["port"] +
                " did not prove that it knows the endpoint file's secret" + FinishedText());
  const std::string& heard = squatter.Received();
  EXPECT_FALSE(heard.empty()) << "the client sends its challenge";
  EXPECT_EQ(heard.find(lines["secret"]), std::string::npos);
  EXPECT_EQ(heard.find("OASetUtility"), std::string::npos) << "no registration, no request";
}

// The endpoint file is believed only when it is the user's own, in a folder no other user may
// write; anything else is refused with the path and the reason, and a FIFO does not hold the run.
// oaset.exe reads the same from the owner and access list that Windows shows it (under Wine,
// made from the file's owner and mode: another user's file belongs to the anonymous SID, and
// others' rights are Everyone's).
TEST(LoopbackE2e, AnEndpointFileThatIsNotTheUsersOwnIsRefused) {
  const bool windows = WindowsMode();
  TestAgentOptions options;
  options.tcp = true;
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  std::ifstream original(agent.endpoint);
  std::string text((std::istreambuf_iterator<char>(original)), std::istreambuf_iterator<char>());
  std::string shared = agent.dir + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  struct Case {
    std::string path;
    std::function<void(const std::string&)> make;
    std::string reason;
  };
  std::vector<Case> cases = {
      {agent.dir + "/open",
       [&](const std::string& path) {
         WritePrivate(path, text);
         chmod(path.c_str(), 0644);
       },
       windows ? "others may use it (S-1-1-0 may open it)" : "others may use it (mode 644)"},
      {shared + "/endpoint", [&](const std::string& path) { WritePrivate(path, text); },
       windows ? "its folder " + ClientPath(shared) +
                     " may be written by other users (S-1-1-0 may write in it)"
               : "its folder " + shared + " may be written by other users (mode 1777)"},
  };
  if (!windows) {
    cases.push_back(
        {agent.dir + "/link",
         [&](const std::string& path) { symlink(agent.endpoint.c_str(), path.c_str()); },
         "it is a symbolic link"});
    cases.push_back({agent.dir + "/fifo",
                     [](const std::string& path) { mkfifo(path.c_str(), 0600); },
                     "it is not a regular file"});
  }
  if (geteuid() == 0) {
    cases.push_back({agent.dir + "/foreign",
                     [&](const std::string& path) {
                       WritePrivate(path, text);
                       ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
                     },
                     windows ? "it belongs to user S-1-5-7" : "it belongs to user 65534"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    c.make(c.path);
    OasetRun run = RunOaset(&agent, {"-o"}, {{"ORVU_AGENT_ENDPOINT", c.path}});
    EXPECT_EQ(run.out,
              BannerText() + CONNECTION_FAILED + "no trusted agent at " + ClientPath(c.path) +
                  ": the endpoint file is not this user's own: " + c.reason + FinishedText());
    EXPECT_EQ(run.status, 0);
  }
}
