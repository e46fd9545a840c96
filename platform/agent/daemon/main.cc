// orvu-agentd: the stand-in Orvu agent. See platform/README.md. The daemon is POSIX-only: Windows
// clients (under Wine) reach it over TCP loopback (--tcp), never run it themselves.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "agent/core/agent_core.h"
#include "agent/daemon/agent_command_line.h"
#include "agent/daemon/free_memory.h"
#include "agent/daemon/process_control.h"
#include "agent/daemon/server.h"
#include "agent/snmp/agentx_subagent.h"
#include "mibreader/mib_search_path.h"
#include "protocol/endpoint_file.h"
#include "protocol/transport.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

int UsageError(const std::string& message) {
  std::fprintf(stderr, "orvu-agentd: %s\nTry 'orvu-agentd --help'.\n", message.c_str());
  return 2;
}

int StartFailed(const std::string& error) {
  std::fprintf(stderr, "orvu-agentd: %s\n", error.c_str());
  return 1;
}

// What start-up made, undone in the reverse order on every way out of main: each step is added by
// the code that made the thing it undoes, right after making it. The caller of --detach, whose
// background process carries on with all of it, leaves without them.
class Undo {
 public:
  Undo() = default;
  Undo(const Undo&) = delete;
  Undo& operator=(const Undo&) = delete;
  ~Undo() {
    while (!steps_.empty()) {
      steps_.back()();
      steps_.pop_back();
    }
  }
  void Then(std::function<void()> step) { steps_.push_back(std::move(step)); }

 private:
  std::vector<std::function<void()>> steps_;
};

// Opens and locks PIDFILE into *PID_FD; removed again on the way out.
bool TakePidFile(const std::string& pidFile, int* pidFd, Undo* undo, std::string* error) {
  if ((*pidFd = orvu::agent::OpenPidFile(pidFile, error)) < 0) return false;
  undo->Then([pidFile, fd = *pidFd] { orvu::agent::RemovePidFile(fd, pidFile); });
  return true;
}

// --tcp ADDR:PORT (checked with the command line): listens there and writes the endpoint file with
// the address, the port and a fresh secret; both are undone on the way out.
bool StartLoopback(const orvu::agent::AgentCommandLine& commandLine,
                   const std::string& endpointFile, orvu::agent::LoopbackListener* loopback,
                   Undo* undo, std::string* error) {
  using namespace orvu;
  uint16_t port = commandLine.tcpPort;
  loopback->socket = transport::ListenLoopback(commandLine.tcpHost, &port, error);
  if (loopback->socket == transport::NO_SOCKET) return false;
  undo->Then([loopback] { transport::Close(loopback->socket); });
  unsigned char secret[endpoint::ENDPOINT_SECRET_BYTES];
  if (!transport::RandomBytes(secret, sizeof secret)) {
    *error = "no random bytes for the endpoint secret";
    return false;
  }
  loopback->secret = endpoint::HexText(secret, sizeof secret);
  endpoint::Endpoint where{commandLine.tcpHost, port, loopback->secret};
  if (!transport::WritePrivateFile(endpointFile, endpoint::FormatEndpoint(where), error))
    return false;
  undo->Then([endpointFile] { transport::RemoveEndpoint(endpointFile); });
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvu;
  agent::AgentCommandLine commandLine;
  std::string error;
  if (!agent::ParseAgentCommandLine(argc, argv, &commandLine, &error)) return UsageError(error);
  if (commandLine.help) {
    std::fputs(agent::AgentUsage(mib::DefaultMibFolder()).c_str(), stdout);
    return 0;
  }
  if (commandLine.version) {
    std::fputs(agent::AgentVersion().c_str(), stdout);
    return 0;
  }
  transport::GroupAccess group{0, commandLine.group};
  if (!group.groupName.empty() && !transport::LookUpGroup(group.groupName, &group.groupId, &error))
    return UsageError(error);
  // The master is checked before anything is made: an address that any user could take is
  // refused as a bad option.
  agent::MasterTrust masterTrust;
  masterTrust.trustUnprivilegedPort = commandLine.agentxTrustUnprivilegedPort;
  if (!commandLine.agentxUser.empty() &&
      !agent::LookUpMasterUser(commandLine.agentxUser, &masterTrust, &error))
    return UsageError(error);
  if (!commandLine.agentxAddress.empty() &&
      !agent::CheckSubagentAddress(commandLine.agentxAddress, masterTrust, &error))
    return UsageError(error);
  agent::AgentOptions& options = commandLine.options;
  std::string socketPath = commandLine.socketPath;
  std::string pidFile = commandLine.pidFile;
  bool defaultSocket = socketPath.empty();
  if (defaultSocket) socketPath = transport::DefaultEndpoint();
  if (options.statePath.empty()) {
    options.statePath = agent::DefaultStatePath(socketPath, transport::DefaultEndpoint());
    if (!agent::MakeFolders(options.statePath)) {
      std::fprintf(stderr, "orvu-agentd: cannot create the folder of %s: %s\n",
                   options.statePath.c_str(), std::strerror(errno));
      return 1;
    }
  }
  options.mibPath = mib::DefaultSearchPath();
  // A detached agent always leaves a pid file, so that it can be stopped without searching for it.
  bool impliedPidFile = pidFile.empty() && commandLine.detach;
  if (impliedPidFile) pidFile = agent::DefaultPidFile(socketPath);

  agent::InstallStopSignals(&gStop);
  // The default socket's folder, which Listen makes private when it is missing.
  bool makeFolder = defaultSocket && socketPath.rfind("/tmp/orvu-agent-", 0) == 0;
  options.cutNotePath = agent::CutNotePath(socketPath, options.statePath, makeFolder);
  agent::GiveLargeBlocksTheirOwnPages();
  // The core's journal lets go of the state file by itself.
  agent::AgentCore core;
  if (!core.Start(options, &error)) return StartFailed(error);
  agent::ReturnFreeMemory();
  agent::LoopbackListener loopback;  // before the steps that close it
  Undo undo;
  // The pid file is taken before the socket listens, so that whoever finds the agent answering
  // finds its pid file written too.
  int pidFd = -1;
  if (!impliedPidFile && !pidFile.empty() && !TakePidFile(pidFile, &pidFd, &undo, &error))
    return StartFailed(error);
  if (pidFd >= 0 && !commandLine.detach && !agent::WritePidFile(pidFd)) {
    std::fprintf(stderr, "orvu-agentd: cannot write %s\n", pidFile.c_str());
  }
  std::string endpointFile = commandLine.endpointFile;
  if (endpointFile.empty())
    endpointFile = socketPath.substr(0, socketPath.rfind('/') + 1) + "orvu-agent.endpoint";
  if (!group.groupName.empty()) agent::AdmitGroup(group);
  transport::Socket listener =
      transport::Listen(socketPath, makeFolder, &error, group.groupName.empty() ? nullptr : &group);
  if (listener == transport::NO_SOCKET) return StartFailed(error);
  undo.Then([listener, socketPath] {
    transport::Close(listener);
    transport::RemoveEndpoint(socketPath);
  });
  // Beside the socket, so only once Listen has made and checked its folder.
  if (impliedPidFile && !TakePidFile(pidFile, &pidFd, &undo, &error)) return StartFailed(error);
  // After Listen, which makes the default socket's folder and checks that it is private, and before
  // the caller of --detach returns: whoever finds the agent running finds its endpoint file too.
  if (!commandLine.tcpAddress.empty() &&
      !StartLoopback(commandLine, endpointFile, &loopback, &undo, &error)) {
    return StartFailed(error);
  }
  if (commandLine.detach) {
    switch (agent::Detach(pidFd, &error)) {
      case agent::DetachOutcome::Failed: return StartFailed(error);
      case agent::DetachOutcome::CallerReturns:
        // The background process carries on with everything this one holds: tearing down a
        // state of a million rows here would only copy the pages the two still share.
        std::fflush(nullptr);
        _exit(0);
      case agent::DetachOutcome::InBackground: break;
    }
  }

  const std::string& agentxAddress = commandLine.agentxAddress;
  agent::ExtraEvents subagentEvents{agent::SubagentPollSet, agent::SubagentDispatch};
  bool subagent = !agentxAddress.empty();
  // After the detach: the session with the master belongs to the process that serves.
  if (subagent) core.PrepareDeviceWake();
  if (subagent && !agent::StartSubagent(&core, agentxAddress, masterTrust, &error))
    return StartFailed(error);
  if (subagent) undo.Then(agent::StopSubagent);
  if (!commandLine.detach) {
    std::fprintf(stderr, "orvu-agentd: ready at %s (pid %ld, state in %s); Ctrl-C stops it\n",
                 socketPath.c_str(), static_cast<long>(getpid()), options.statePath.c_str());
  }
  agent::RunServer(&core, listener, agent::ClientCapacity(), &gStop,
                   subagent ? &subagentEvents : nullptr,
                   loopback.socket != transport::NO_SOCKET ? &loopback : nullptr);
  if (subagent) {
    const agent::SubagentCounters& counts = agent::SubagentStatistics();
    std::fprintf(stderr,
                 "orvu-agentd: AgentX: %llu varbinds answered, %llu written, %llu refused, "
                 "%llu undone\n",
                 static_cast<unsigned long long>(counts.requests),
                 static_cast<unsigned long long>(counts.setsCommitted),
                 static_cast<unsigned long long>(counts.setsRefused),
                 static_cast<unsigned long long>(counts.setsUndone));
  }
  return 0;
}
