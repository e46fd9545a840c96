#include "agent_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

constexpr auto OASET_TIMEOUT = std::chrono::seconds(30);
// A checker in front of oaset (OASET_E2E_WRAPPER) slows it many times over.
constexpr auto WRAPPED_OASET_TIMEOUT = std::chrono::seconds(300);
// The status a wrapper gives when it found a fault (valgrind --error-exitcode=99).
constexpr int WRAPPER_FAULT_STATUS = 99;
constexpr auto AGENT_START_TIMEOUT = std::chrono::seconds(10);
constexpr auto AGENT_STOP_TIMEOUT = std::chrono::seconds(10);

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "oaset-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

// The inherited environment without ORVU_* (a developer's own agent must never leak into a test),
// then VARIABLES on top.
std::vector<std::string> BuildEnvironment(const std::map<std::string, std::string>& variables) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text(*entry);
    size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    std::string name = text.substr(0, equals);
    if (name.rfind("ORVU_", 0) == 0) continue;
    merged[name] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : variables) merged[name] = value;
  std::vector<std::string> result;
  for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> PointerArray(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

struct Spawned {
  pid_t pid = -1;
  int outFd = -1;
  int errFd = -1;
};

// Starts PROGRAM; with CAPTURE its stdout and stderr come back through pipes, otherwise they go
// to the test's own stderr (an agent's chatter must not mix into what the test compares).
Spawned Spawn(const std::string& program, std::vector<std::string> args,
              const std::map<std::string, std::string>& variables, bool capture) {
  args.insert(args.begin(), program);
  std::vector<std::string> environment = BuildEnvironment(variables);
  std::vector<char*> argv = PointerArray(args);
  std::vector<char*> envp = PointerArray(environment);

  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (capture) {
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
      std::perror("pipe2");
      std::abort();
    }
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  } else {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  Spawned spawned;
  int error =
      posix_spawn(&spawned.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (capture) {
    close(outPipe[1]);
    close(errPipe[1]);
    spawned.outFd = outPipe[0];
    spawned.errFd = errPipe[0];
  }
  if (error != 0) {
    std::fprintf(stderr, "e2e: cannot start %s: %s\n", program.c_str(), std::strerror(error));
    if (capture) {
      close(spawned.outFd);
      close(spawned.errFd);
    }
    spawned.pid = -1;
  }
  return spawned;
}

int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

// Reads both pipes to their end, so a big output never blocks the child; kills the child when
// it outlives DEADLINE.
void Drain(const Spawned& spawned, std::string* out, std::string* err,
           std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{spawned.outFd, POLLIN, 0}, {spawned.errFd, POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open = 2;
  bool killed = false;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !killed) {
      std::fprintf(stderr, "e2e: pid %d still running after the time limit; killed\n",
                   static_cast<int>(spawned.pid));
      kill(spawned.pid, SIGKILL);
      killed = true;
    }
    int ready = poll(fds, 2, killed ? 1000 : static_cast<int>(std::min<long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

// Under a file limit the program runs through the shell, which sets the limit and then becomes it.
std::string WithFileLimit(const std::string& program, std::vector<std::string>* args,
                          unsigned fileLimit) {
  if (fileLimit == 0) return program;
  args->insert(
      args->begin(),
      {"-c", "ulimit -n " + std::to_string(fileLimit) + " && exec \"$0\" \"$@\"", program});
  return "/bin/sh";
}

bool SocketAccepts(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
  bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return accepted;
}

std::string WindowsBin() {
  const char* folder = std::getenv("OASET_E2E_WINDOWS_BIN");
  return folder != nullptr ? folder : "";
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Windows mode: the console's text mode writes every "\n" as "\r\n". A bare "\n" is a fault of
// its own; the rest comes back as the POSIX text, which the tests then compare byte for byte.
void FromTextMode(std::string* text, const char* stream) {
  std::string plain;
  plain.reserve(text->size());
  for (size_t i = 0; i < text->size(); ++i) {
    char c = (*text)[i];
    if (c == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n') continue;
    if (c == '\n' && (i == 0 || (*text)[i - 1] != '\r')) {
      ADD_FAILURE() << "a bare \\n at byte " << i << " of oaset.exe's " << stream << ":\n" << *text;
      return;
    }
    plain += c;
  }
  *text = std::move(plain);
}

// The id shown after LABEL ("Process: 0x... (handle), ID (id)") in the block of the client named
// FILE in TEXT; empty when there is none.
std::string IdAfter(const std::string& text, const std::string& file, const std::string& label) {
  size_t block = text.find("File name: " + file + "\n");
  if (block == std::string::npos) return "";
  size_t line = text.find("\n    " + label + ": ", block);
  size_t start = line == std::string::npos ? line : text.find("(handle), ", line);
  if (start == std::string::npos) return "";
  start += std::strlen("(handle), ");
  size_t end = text.find(" (id)", start);
  return end == std::string::npos ? "" : text.substr(start, end - start);
}

}  // namespace

bool WindowsMode() { return !WindowsBin().empty(); }

std::string WindowsPath(const std::string& path) {
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

ClientIds OwnClientIds(const OasetRun& run) {
  if (!WindowsMode()) return {std::to_string(run.pid), std::to_string(run.pid)};
  return {IdAfter(run.out, ClientFileName(), "Process"),
          IdAfter(run.out, ClientFileName(), "Thread")};
}

size_t LongestArgument(size_t wanted) {
  // Two such, with room for the program's path and the other arguments.
  constexpr size_t WINDOWS_ARGUMENT = (32767 - 4096) / 2;
  return WindowsMode() ? std::min(wanted, WINDOWS_ARGUMENT) : wanted;
}

std::string AgentAddress(const TestAgent* agent) {
  if (WindowsMode())
    return WindowsPath(agent != nullptr ? agent->endpoint : "/nonexistent-oaset-e2e/endpoint");
  return agent != nullptr ? agent->socket : "/nonexistent-oaset-e2e/agent.sock";
}

std::string NothingThereText() {
  return WindowsMode() ? "no such endpoint file" : "no such socket";
}

std::string NobodyListensText(const TestAgent& agent) {
  if (!WindowsMode())
    return "the socket is there, but no agent listens at it (it stopped or was killed)";
  std::ifstream in(agent.endpoint);
  std::string port;
  while (std::getline(in, port) && port.rfind("port=", 0) != 0) {
  }
  return "the endpoint file is there, but no agent listens at its port " + port.substr(5) +
         " (it stopped or was killed)";
}

std::vector<std::string> LibraryFiles() {
  if (WindowsMode()) return {"vnoagent.dll", "VnWsnmp.dll", "VNXMIB.dll"};
  return {"libvnoagent.so", "libvnwsnmp.so", "libvnxmib.so"};
}

std::string CannotLoadText(const std::string& dir, const std::vector<std::string>& missing,
                           const std::string& broken) {
  // Windows reports ERROR_MOD_NOT_FOUND and ERROR_BAD_EXE_FORMAT by number.
  std::string folder = WindowsMode() ? WindowsPath(dir) + "\\" : dir + "/";
  std::string text = "oaset: cannot load the agent's libraries (looked in " + folder + " and " +
                     (WindowsMode() ? "the DLL search path" : "the system library search path") +
                     "):\n";
  for (const std::string& file : missing) {
    text += "  " + file + ": " +
            (WindowsMode() ? "Windows error 126"
                           : file + ": cannot open shared object file: No such file or directory") +
            "\n";
  }
  if (!broken.empty()) {
    text += "  " + broken + ": " +
            (WindowsMode() ? "Windows error 193" : folder + broken + ": invalid ELF header") + "\n";
  }
  return text + "oaset: put them beside oaset (in " + folder + ") or " +
         (WindowsMode()
              ? "in a folder on PATH"
              : "in " + folder + "../lib/oaset, or name their folder in LD_LIBRARY_PATH") +
         "\n";
}

std::string BinDir() { return WindowsMode() ? WindowsBin() : OASET_E2E_BIN_DIR; }
std::string MibsDir() { return OASET_E2E_MIBS_DIR; }
std::string OasetPath() { return BinDir() + (WindowsMode() ? "/oaset.exe" : "/oaset"); }
std::string ClientFileName(bool selfReported) {
  const char* wrapper = std::getenv("OASET_E2E_WRAPPER");
  const char* program = std::getenv("OASET_E2E_WRAPPER_PROGRAM");
  if (!selfReported && wrapper != nullptr && *wrapper != '\0' && program != nullptr &&
      *program != '\0')
    return program;
  std::string path = std::filesystem::canonical(OasetPath()).string();
  return WindowsMode() ? WindowsPath(path) : path;
}
std::string AgentPath() { return std::string(OASET_E2E_BIN_DIR) + "/orvu-agentd"; }

std::string VersionText() { return OASET_E2E_VERSION_TEXT; }
std::string BannerText() {
  return "\nOASET Utility, Version " + VersionText() + "\nAdministers a running Orvu SNMP agent.\n";
}
std::string FinishedText() { return "\nFinished."; }

TestAgent::TestAgent(TestAgentOptions agentOptions) : options(std::move(agentOptions)) {
  dir = MakeTempDir();
  socket = dir + "/agent.sock";
  statePath = dir + "/state";
  endpoint = dir + "/endpoint";
  if (WindowsMode()) options.tcp = true;
  if (!options.initialState.empty()) WriteState(options.initialState);
  if (options.start) Start();
}

TestAgent::~TestAgent() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

bool TestAgent::Start() {
  if (pid > 0) return true;
  std::vector<std::string> args = {"--socket", socket, "--state", statePath};
  for (const std::string& module : options.modules) {
    args.push_back("--module");
    args.push_back(module);
  }
  args.push_back("--clock");
  args.push_back(std::to_string(options.clock));
  if (options.tcp)
    args.insert(args.end(), {"--tcp", options.tcpAddress + ":0", "--endpoint", endpoint});
  args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
  std::map<std::string, std::string> variables = {{"ORVU_MIB_PATH", MibsDir()}};
  for (const auto& [name, value] : options.env) variables[name] = value;

  std::string program = WithFileLimit(AgentPath(), &args, options.fileLimit);
  Spawned spawned = Spawn(program, args, variables, false);
  if (spawned.pid <= 0) return false;
  pid = spawned.pid;
  auto deadline = std::chrono::steady_clock::now() + AGENT_START_TIMEOUT;
  while (std::chrono::steady_clock::now() < deadline) {
    if (SocketAccepts(socket) && (!options.tcp || FileExists(endpoint))) return true;
    int waitStatus = 0;
    if (waitpid(pid, &waitStatus, WNOHANG) == pid) {
      std::fprintf(stderr, "e2e: orvu-agentd ended early with status %d\n", StatusOf(waitStatus));
      pid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::fprintf(stderr, "e2e: orvu-agentd did not accept connections on %s\n", socket.c_str());
  Kill9();
  return false;
}

int TestAgent::Stop() {
  int status = StopProgram(pid);
  pid = -1;
  return status;
}

int StopProgram(int pid) {
  if (pid <= 0) return -1;
  kill(pid, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + AGENT_STOP_TIMEOUT;
  int waitStatus = 0;
  while (waitpid(pid, &waitStatus, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "e2e: pid %d ignored SIGTERM; killed\n", pid);
      kill(pid, SIGKILL);
      waitpid(pid, &waitStatus, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return StatusOf(waitStatus);
}

int StartProgram(const std::string& program, std::vector<std::string> args,
                 const std::map<std::string, std::string>& env) {
  return Spawn(program, std::move(args), env, false).pid;
}

OasetRun RunProgram(const std::string& program, std::vector<std::string> args,
                    const std::map<std::string, std::string>& env) {
  OasetRun run;
  Spawned spawned = Spawn(program, std::move(args), env, true);
  if (spawned.pid <= 0) return run;
  run.pid = spawned.pid;
  Drain(spawned, &run.out, &run.err, std::chrono::steady_clock::now() + OASET_TIMEOUT);
  int waitStatus = 0;
  while (waitpid(spawned.pid, &waitStatus, 0) < 0 && errno == EINTR) {
  }
  run.status = StatusOf(waitStatus);
  return run;
}

void TestAgent::Kill9() {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  int waitStatus = 0;
  waitpid(pid, &waitStatus, 0);
  pid = -1;
}

std::string TestAgent::ReadState() const {
  std::ifstream in(statePath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void TestAgent::WriteState(const std::string& text) const {
  std::ofstream out(statePath, std::ios::binary | std::ios::trunc);
  out << text;
}

OasetRun RunAgentToEnd(const std::vector<std::string>& args, unsigned fileLimit,
                       const std::map<std::string, std::string>& env) {
  std::vector<std::string> spawnedArgs = args;
  std::string program = WithFileLimit(AgentPath(), &spawnedArgs, fileLimit);
  std::map<std::string, std::string> variables = env;
  variables["ORVU_MIB_PATH"] = MibsDir();
  return RunProgram(program, spawnedArgs, variables);
}

OasetRun RunOaset(const TestAgent* agent, std::vector<std::string> args,
                  std::map<std::string, std::string> env) {
  return RunOasetProgram(OasetPath(), agent, std::move(args), std::move(env));
}

OasetRun RunOasetProgram(const std::string& program, const TestAgent* agent,
                         std::vector<std::string> args, std::map<std::string, std::string> env) {
  std::map<std::string, std::string> variables = {
      {"TZ", "UTC"},
      {"ORVU_MIB_PATH", MibsDir()},
      // With no agent, a path in a folder that does not exist: nothing can listen there.
      {"ORVU_AGENT_SOCKET", agent != nullptr ? agent->socket : "/nonexistent-oaset-e2e/agent.sock"},
  };
  // LeakSanitizer's own tracer crashes while it scans the thread-local storage of the libraries
  // oaset loads, depending only on where things land in memory (the length of the socket path is
  // enough to move it). Leaks are still looked for; thread-local storage is not taken as a root.
  // What that leaves to its built-in suppressions it must not report on standard error, which
  // the tests compare.
  if (std::getenv("LSAN_OPTIONS") == nullptr) {
    variables["LSAN_OPTIONS"] = "use_tls=0:print_suppressions=0";
  }
  if (WindowsMode()) {
    variables["ORVU_MIB_PATH"] = WindowsPath(MibsDir());
    variables["ORVU_AGENT_ENDPOINT"] = agent != nullptr
                                           ? WindowsPath(agent->endpoint)
                                           : WindowsPath("/nonexistent-oaset-e2e/endpoint");
    // Wine's own chatter must not mix into what the tests compare.
    variables["WINEDEBUG"] = "-all";
  }
  for (auto& [name, value] : env) variables[name] = value;
  auto endpointFile = variables.find("ORVU_AGENT_ENDPOINT");
  if (WindowsMode() && endpointFile != variables.end() && endpointFile->second.rfind('/', 0) == 0)
    endpointFile->second = WindowsPath(endpointFile->second);

  // OASET_E2E_WRAPPER="/path/to/checker --option ..." runs every oaset under that checker; its
  // words are split at spaces.
  std::vector<std::string> wrapper;
  if (const char* text = std::getenv("OASET_E2E_WRAPPER")) {
    std::istringstream words(text);
    for (std::string word; words >> word;) wrapper.push_back(word);
  }
  if (WindowsMode()) wrapper = {"/usr/bin/wine"};
  std::string spawnedProgram = program;
  if (!wrapper.empty()) {
    args.insert(args.begin(), program);
    args.insert(args.begin(), wrapper.begin() + 1, wrapper.end());
    spawnedProgram = wrapper.front();
  }

  OasetRun run;
  Spawned spawned = Spawn(spawnedProgram, std::move(args), variables, true);
  if (spawned.pid <= 0) return run;
  run.pid = spawned.pid;
  Drain(
      spawned, &run.out, &run.err,
      std::chrono::steady_clock::now() + (wrapper.empty() ? OASET_TIMEOUT : WRAPPED_OASET_TIMEOUT));
  int waitStatus = 0;
  while (waitpid(spawned.pid, &waitStatus, 0) < 0 && errno == EINTR) {
  }
  run.status = StatusOf(waitStatus);
  if (WindowsMode()) {
    FromTextMode(&run.out, "stdout");
    FromTextMode(&run.err, "stderr");
  } else if (!wrapper.empty() && run.status == WRAPPER_FAULT_STATUS) {
    ADD_FAILURE() << wrapper.front() << " found a fault in oaset (pid " << run.pid << "):\n"
                  << run.err;
  }
  return run;
}
