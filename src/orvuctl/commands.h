// orvuctl's subcommands.
#pragma once

#include "orvuctl/agent_connection.h"
#include "orvuctl/command_line.h"

// Each takes the command as main parsed it (apply lets go of its desired state as it goes) and
// returns the exit status.
int RunGet(const AgentSession& session, OrvuctlCommand& command);
int RunShow(const AgentSession& session, OrvuctlCommand& command);
int RunModules(const AgentSession& session, OrvuctlCommand& command);
int RunClients(const AgentSession& session, OrvuctlCommand& command);
int RunSet(const AgentSession& session, OrvuctlCommand& command);
int RunApply(const AgentSession& session, OrvuctlCommand& command);
int RunNotify(const AgentSession& session, OrvuctlCommand& command);
