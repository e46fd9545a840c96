// The one agent-process harness of the tests: a private orvu-agentd per test in its own temporary
// folder, and the built programs run against it with their whole output captured.
#pragma once

#include <map>
#include <string>
#include <vector>

struct TestAgentOptions {
  // Modules the agent serves, each given as --module.
  std::vector<std::string> modules = {"VORNEL-VNBEEP-MIB"};
  // Written to the state file before the agent starts; empty leaves the agent to create its own.
  std::string initialState;
  // Every time the agent records (--clock); makes whole outputs comparable byte for byte.
  long clock = 86400;
  std::vector<std::string> extraArgs;
  // Added to the agent's environment (ORVU_FAULTS for the agent side, for instance).
  std::map<std::string, std::string> env;
  // False leaves starting to the test (Start()).
  bool start = true;
  // The agent's open-file limit (soft and hard), when nonzero.
  unsigned fileLimit = 0;
  // Also listens on TCP loopback (--tcp 127.0.0.1:0) and writes the endpoint file; always so in
  // Windows mode, where oaset reaches the agent that way only.
  bool tcp = false;
  // The loopback address it listens at then.
  std::string tcpAddress = "127.0.0.1";
};

class TestAgent {
 public:
  explicit TestAgent(TestAgentOptions options = {});
  ~TestAgent();
  TestAgent(const TestAgent&) = delete;
  TestAgent& operator=(const TestAgent&) = delete;

  // Starts the agent in the foreground as a child and waits until its socket accepts
  // connections; false (with the reason on stderr) when it does not within 10 s.
  bool Start();
  // SIGTERM and wait; the state stays on disk, so Start() again resumes it. The exit status, or
  // -1 when no agent was running.
  int Stop();
  // SIGKILL and wait: nothing acknowledged may be lost.
  void Kill9();
  bool Running() const { return pid > 0; }

  std::string ReadState() const;
  void WriteState(const std::string& text) const;

  TestAgentOptions options;
  std::string dir;        // private temporary folder, removed with the agent
  std::string socket;     // dir/agent.sock
  std::string statePath;  // dir/state
  std::string endpoint;   // dir/endpoint, written when the agent listens on TCP
  int pid = -1;
};

struct OasetRun {
  std::string out;  // all of standard output
  std::string err;  // all of standard error
  int status = -1;  // exit status, or 128 + signal when killed
  int pid = -1;     // pid of the oaset process (its main thread's tid too)
};

// Windows mode: OASET_E2E_WINDOWS_BIN names the folder of oaset.exe and its DLLs (build/Win32/bin,
// as scripts/wine-tests.sh sets it). oaset.exe then runs under Wine, reaching every test's agent
// over TCP loopback through its endpoint file, and each run's output is checked to be the POSIX
// text with every "\n" written as "\r\n" before it is handed back with plain "\n" (a bare "\n"
// fails the test). Everything else that differs on Windows is below, in one place.
bool WindowsMode();
// The path by which a Windows program under Wine names PATH (Z:\...).
std::string WindowsPath(const std::string& path);

// What differs on Windows. The process and thread ids that a client shows: on POSIX both are the
// pid (the main thread's id is the pid); under Wine they are the Windows ids the client reported
// itself, which nothing outside it knows, so they are read back from RUN's own client block.
struct ClientIds {
  std::string processId;
  std::string threadId;
};
ClientIds OwnClientIds(const OasetRun& run);
// Where a client looks for AGENT (null: no agent at all), as its messages name it: the Unix socket
// on POSIX; under Wine, where there are no Unix sockets, the agent's endpoint file.
std::string AgentAddress(const TestAgent* agent);
// What the client says when nothing is at that address, and when it is there but nobody listens
// (the agent was killed).
std::string NothingThereText();
std::string NobodyListensText(const TestAgent& agent);
// The three libraries' file names, and the message of a run that cannot load those in MISSING
// (none found in DIR nor on the system's search path) and BROKEN (a damaged file in DIR): the
// loader's own words differ, and the Windows message names the folder as Windows does.
std::vector<std::string> LibraryFiles();
std::string CannotLoadText(const std::string& dir, const std::vector<std::string>& missing,
                           const std::string& broken);
// A Windows command line holds at most 32,767 characters: an argument meant to be huge is cut so
// that two of them fit there.
size_t LongestArgument(size_t wanted);

// Runs build/<type>/bin/oaset ARGS with TZ=UTC, ORVU_MIB_PATH at the repository's mibs/ and
// ORVU_AGENT_SOCKET at AGENT's socket (with no agent, at a path where nothing listens). Inherited
// ORVU_* variables are dropped; ENV is applied last (ORVU_FAULTS, or overrides). Killed after 30 s.
OasetRun RunOaset(const TestAgent* agent, std::vector<std::string> args,
                  std::map<std::string, std::string> env = {});
// The same with another copy of the program (a folder without the libraries, for instance).
OasetRun RunOasetProgram(const std::string& program, const TestAgent* agent,
                         std::vector<std::string> args,
                         std::map<std::string, std::string> env = {});

// Another program of the machine (net-snmp's tools), run and captured as oaset is, with ENV added
// to the inherited environment, but never under OASET_E2E_WRAPPER. Killed after 30 s.
OasetRun RunProgram(const std::string& program, std::vector<std::string> args,
                    const std::map<std::string, std::string>& env = {});
// Starts PROGRAM in the background with ENV added, its output on the test's stderr; its pid, or
// -1 when it cannot start.
int StartProgram(const std::string& program, std::vector<std::string> args,
                 const std::map<std::string, std::string>& env);
// SIGTERM, SIGKILL when it is still there after 10 s, and waits for it; its exit status, or -1
// when PID is not a process started here.
int StopProgram(int pid);
// Runs orvu-agentd ARGS to its end (for starts that must fail, or --detach), with ORVU_MIB_PATH at
// the repository's mibs/, ENV added, and FILE_LIMIT as in TestAgentOptions.
OasetRun RunAgentToEnd(const std::vector<std::string>& args, unsigned fileLimit = 0,
                       const std::map<std::string, std::string>& env = {});

std::string BinDir();
std::string MibsDir();
std::string OasetPath();  // the path a client's file name shows for oaset
// The file name the agent shows for a run of oaset: the program itself, or under
// OASET_E2E_WRAPPER the program that the wrapper runs as (OASET_E2E_WRAPPER_PROGRAM). A client on
// TCP reports its name itself, and a wrapper such as Valgrind hands it the program's own.
std::string ClientFileName(bool selfReported = false);
std::string AgentPath();

// Expected texts.
std::string BannerText();    // "\nOASET Utility, Version <v>\n<notice>\n"
std::string FinishedText();  // "\nFinished."
// The version text that the banner shows for this build.
std::string VersionText();
