#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "agent_process.h"

namespace orvu::agent {

namespace {

volatile std::sig_atomic_t* gStop = nullptr;

void OnStopSignal(int) { *gStop = 1; }

bool WritePid(const std::string& path, pid_t pid) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "%ld\n", static_cast<long>(pid));
  return std::fclose(f) == 0;
}

}  // namespace

std::string DefaultStatePath(const std::string& socketPath, const std::string& defaultSocketPath) {
  std::string folder;
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state) {
    folder = std::string(state) + "/oaset/";
  } else {
    const char* home = std::getenv("HOME");
    folder = std::string(home && *home ? home : ".") + "/.local/state/oaset/";
  }
  if (socketPath == defaultSocketPath) return folder + "agent.state";
  std::string absolute = socketPath;
  if (absolute.empty() || absolute[0] != '/') {
    char* cwd = getcwd(nullptr, 0);
    absolute = std::string(cwd ? cwd : ".") + "/" + socketPath;
    std::free(cwd);
  }
  std::string name = "agent-";
  for (char c : absolute) {
    if (c == '%')
      name += "%25";
    else if (c == '/')
      name += "%2F";
    else
      name += c;
  }
  return folder + name + ".state";
}

bool MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

void InstallStopSignals(volatile std::sig_atomic_t* stop) {
  gStop = stop;
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
}

DetachOutcome Detach(const std::string& pidFile, std::string* error) {
  pid_t child = fork();
  if (child < 0) {
    *error = std::string("cannot detach: ") + std::strerror(errno);
    return DetachOutcome::Failed;
  }
  if (child > 0) {
    if (!pidFile.empty() && !WritePid(pidFile, child)) {
      std::fprintf(stderr, "orvu-agentd: cannot write %s\n", pidFile.c_str());
    }
    return DetachOutcome::CallerReturns;
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
  return DetachOutcome::InBackground;
}

bool WritePidFile(const std::string& path) { return WritePid(path, getpid()); }

void RemovePidFile(const std::string& path) { unlink(path.c_str()); }

}  // namespace orvu::agent
