// orvu-agentd's command line: its options and their parsing.
#pragma once

#include <string>

#include "agent/core/agent_core.h"

namespace orvu::agent {

struct AgentCommandLine {
  AgentOptions options;    // statePath stays empty when --state is not given
  std::string socketPath;  // empty when --socket is not given
  std::string pidFile;
  std::string agentxAddress;  // empty: no AgentX subagent
  std::string agentxUser;     // --agentx-user NAME: the master's own user, trusted too
  bool agentxTrustUnprivilegedPort = false;
  std::string tcpAddress;    // --tcp 127.0.0.1:PORT; empty: the Unix socket only
  std::string tcpHost;       // its loopback address, checked
  uint16_t tcpPort = 0;      // its port; 0 takes a free one
  std::string endpointFile;  // --endpoint FILE; empty: beside the socket
  std::string group;         // --group NAME; empty: the agent's own user only
  bool detach = false;
  bool help = false;     // --help or -h
  bool version = false;  // --version
};

// False with *error set for an unknown option, a missing value or a bad --clock value.
bool ParseAgentCommandLine(int argc, char** argv, AgentCommandLine* commandLine,
                           std::string* error);

// The --help text; DEFAULT_MIB_DIR is where modules are searched when ORVU_MIB_PATH is unset.
std::string AgentUsage(const std::string& defaultMibDir);

// The --version text: the program's name and version.
std::string AgentVersion();

}  // namespace orvu::agent
