// orvuctl's connection to the agent: the libraries bound, the framework started, the client
// registered and the modules the agent serves loaded into the MIB library.
#pragma once

#include <string>
#include <vector>

#include "agentapi/snmp_oid.h"

struct AgentSession {
  AgentHandle agent = 0;
  std::vector<std::string> modules;  // served, in the agent's order
};

// Binds, starts and connects; with LOAD_MODULES loads every served module. False (with the
// reason on standard error) when any of it fails.
bool OpenSession(AgentSession* session, bool loadModules);
void CloseSession(AgentSession* session);
