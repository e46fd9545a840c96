#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "agent/daemon/process_control.h"
#include "common/faults.h"
#include "protocol/transport.h"

namespace orvu::agent {

namespace {

volatile std::sig_atomic_t* gStop = nullptr;

void OnStopSignal(int) { *gStop = 1; }

// Every signal that someone sends to end the agent, and whose default would end it without its
// clean-up (the real-time signals too, below). The faults of the program itself (SIGSEGV,
// SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS) keep their default: nothing is safe to run
// after them.
constexpr int AGENT_STOP_SIGNALS[] = {SIGTERM, SIGINT,  SIGHUP, SIGQUIT,   SIGUSR1, SIGUSR2,
                                      SIGALRM, SIGPROF, SIGPWR, SIGVTALRM, SIGXCPU, SIGSTKFLT};
// Signals that only tell of something the agent hears of otherwise: a write past the file-size
// limit then fails with EFBIG and the change is refused, and no descriptor of the agent asks for
// SIGIO.
constexpr int AGENT_IGNORED_SIGNALS[] = {SIGPIPE, SIGXFSZ, SIGIO};

void AddStopSignals(sigset_t* set) {
  for (int signal : AGENT_STOP_SIGNALS) sigaddset(set, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(set, signal);
}

bool WritePid(int fd, pid_t pid) {
  std::string text = std::to_string(static_cast<long>(pid)) + "\n";
  return ftruncate(fd, 0) == 0 &&
         pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
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

std::string DefaultPidFile(const std::string& socketPath) {
  constexpr std::string_view SOCKET_SUFFIX = ".sock";
  std::string_view path = socketPath;
  if (path.ends_with(SOCKET_SUFFIX) && path.size() > SOCKET_SUFFIX.size() &&
      path[path.size() - SOCKET_SUFFIX.size() - 1] != '/') {
    path.remove_suffix(SOCKET_SUFFIX.size());
  }
  return std::string(path) + ".pid";
}

std::string CutNotePath(const std::string& socketPath, const std::string& statePath,
                        bool madePrivate) {
  size_t slash = socketPath.rfind('/');
  std::string folder = slash == std::string::npos ? "." : socketPath.substr(0, slash + 1);
  struct stat st;
  bool own = stat(folder.c_str(), &st) == 0
                 ? S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 022) == 0
                 : madePrivate && errno == ENOENT;
  return (own ? socketPath : statePath) + ".cut";
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
  AddStopSignals(&stopSignals);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigismember(&stopSignals, signal) == 1) sigaction(signal, &action, nullptr);
  }
  for (int signal : AGENT_IGNORED_SIGNALS) std::signal(signal, SIG_IGN);
}

int OpenPidFile(const std::string& path, std::string* error) {
  std::string why;
  int fd = transport::OpenOwnFile(path, 0644, &why);
  if (fd < 0) {
    *error = "refusing to write pid file " + path + ": " + why;
    return -1;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = "pid file " + path + " is held by a running agent";
    close(fd);
    return -1;
  }
  return fd;
}

DetachOutcome Detach(int pidFd, std::string* error) {
  InjectedFault fault;
  pid_t child = -1;
  if (CheckFault("Detach", &fault))
    errno = fault.hasCode ? fault.code : EAGAIN;
  else
    child = fork();
  if (child < 0) {
    *error = std::string("cannot detach: ") + std::strerror(errno);
    return DetachOutcome::Failed;
  }
  if (child > 0) {
    // The lock stays with the background process, which shares the open file.
    if (pidFd >= 0 && !WritePid(pidFd, child)) {
      std::fprintf(stderr, "orvu-agentd: cannot write the pid file\n");
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

bool WritePidFile(int pidFd) { return WritePid(pidFd, getpid()); }

void RemovePidFile(int pidFd, const std::string& path) {
  struct stat held, named;
  if (fstat(pidFd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino) {
    unlink(path.c_str());
  }
}

}  // namespace orvu::agent
