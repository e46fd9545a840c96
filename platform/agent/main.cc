// orvu-agentd: the stand-in Orvu agent. See platform/README.md.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "agent_core.h"
#include "server.h"
#include "transport.h"

#ifndef ORVU_DEFAULT_MIB_DIR
#define ORVU_DEFAULT_MIB_DIR "mibs"
#endif

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnStopSignal(int) { gStop = 1; }

const char USAGE[] =
    "Usage: orvu-agentd [OPTION]...\n"
    "Runs the stand-in Orvu agent on a local socket.\n"
    "\n"
    "  --socket PATH     listen at PATH (default: $XDG_RUNTIME_DIR/orvu-agent.sock,\n"
    "                    else /tmp/orvu-agent-UID/orvu-agent.sock)\n"
    "  --state FILE      keep the agent's state in FILE (default:\n"
    "                    $XDG_STATE_HOME/orvu-agent/state, else ~/.local/state/orvu-agent/state)\n"
    "  --module NAME     serve the MIB module NAME too (and remember it); may be repeated\n"
    "  --clock SECONDS   record every time as SECONDS since 1970 instead of the real time\n"
    "  --detach          run in the background once the socket is ready\n"
    "  --pid-file FILE   write the agent's process id to FILE\n"
    "  --fsync           flush every change to the disk, not only to the operating system\n"
    "  --help            print this text and exit\n"
    "\n"
    "MIB modules are searched in ORVU_MIB_PATH (folders separated by ':'), else "
    "in\n" ORVU_DEFAULT_MIB_DIR ".\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "orvu-agentd: %s\nTry 'orvu-agentd --help'.\n", message.c_str());
  return 2;
}

bool MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string DefaultStatePath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state) return std::string(state) + "/orvu-agent/state";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/state/orvu-agent/state";
}

std::vector<std::string> MibSearchPath() {
  std::vector<std::string> path;
  const char* env = std::getenv("ORVU_MIB_PATH");
  std::string text = env ? env : "";
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t colon = text.find(':', start);
    std::string folder =
        text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!folder.empty()) path.push_back(folder);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (path.empty()) path.push_back(ORVU_DEFAULT_MIB_DIR);
  return path;
}

bool ParseClock(const std::string& text, int32_t* out) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool WritePidFile(const std::string& path, pid_t pid) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "%ld\n", static_cast<long>(pid));
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvu;
  agent::AgentOptions options;
  std::string socketPath, pidFile;
  bool detach = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasValue = true;
    }
    auto takeValue = [&](std::string* out) {
      if (hasValue) {
        *out = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    if (arg == "--help") {
      std::fputs(USAGE, stdout);
      return 0;
    } else if (arg == "--detach" && !hasValue) {
      detach = true;
    } else if (arg == "--fsync" && !hasValue) {
      options.syncEachChange = true;
    } else if (arg == "--socket" || arg == "--state" || arg == "--module" || arg == "--clock" ||
               arg == "--pid-file") {
      std::string v;
      if (!takeValue(&v) || v.empty()) return UsageError("option " + arg + " needs a value");
      if (arg == "--socket")
        socketPath = v;
      else if (arg == "--state")
        options.statePath = v;
      else if (arg == "--module")
        options.modules.push_back(v);
      else if (arg == "--pid-file")
        pidFile = v;
      else {
        int32_t clock = 0;
        if (!ParseClock(v, &clock)) return UsageError("bad --clock value: " + v);
        options.clock = clock;
      }
    } else {
      return UsageError("unknown option " + std::string(argv[i]));
    }
  }
  bool defaultSocket = socketPath.empty();
  if (defaultSocket) socketPath = transport::DefaultEndpoint();
  if (options.statePath.empty()) {
    options.statePath = DefaultStatePath();
    if (!MakeFolders(options.statePath)) {
      std::fprintf(stderr, "orvu-agentd: cannot create the folder of %s: %s\n",
                   options.statePath.c_str(), std::strerror(errno));
      return 1;
    }
  }
  options.mibPath = MibSearchPath();

  // Stop signals wait until the event loop can take them, so a stop is never half-handled.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  agent::AgentCore core;
  std::string error;
  if (!core.Start(options, &error)) {
    std::fprintf(stderr, "orvu-agentd: %s\n", error.c_str());
    return 1;
  }
  bool makeFolder = defaultSocket && socketPath.rfind("/tmp/orvu-agent-", 0) == 0;
  transport::Socket listener = transport::Listen(socketPath, makeFolder, &error);
  if (listener == transport::NO_SOCKET) {
    std::fprintf(stderr, "orvu-agentd: %s\n", error.c_str());
    return 1;
  }
  if (detach) {
    pid_t child = fork();
    if (child < 0) {
      std::fprintf(stderr, "orvu-agentd: cannot detach: %s\n", std::strerror(errno));
      transport::RemoveEndpoint(socketPath);
      return 1;
    }
    if (child > 0) {
      if (!pidFile.empty() && !WritePidFile(pidFile, child)) {
        std::fprintf(stderr, "orvu-agentd: cannot write %s\n", pidFile.c_str());
      }
      return 0;
    }
    setsid();
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      // All three, or a caller reading our output through a pipe would wait for us forever.
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      if (null > 2) close(null);
    }
  } else if (!pidFile.empty() && !WritePidFile(pidFile, getpid())) {
    std::fprintf(stderr, "orvu-agentd: cannot write %s\n", pidFile.c_str());
  }

  agent::RunServer(&core, listener, agent::ClientCapacity(), &gStop);
  transport::Close(listener);
  transport::RemoveEndpoint(socketPath);
  if (!pidFile.empty()) unlink(pidFile.c_str());
  return 0;
}
