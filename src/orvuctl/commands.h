// orvuctl's subcommands; each returns the exit status.
#pragma once

#include "orvuctl/agent_connection.h"
#include "orvuctl/command_line.h"

int RunGet(const AgentSession& session, const OrvuctlCommand& command);
int RunShow(const AgentSession& session, const OrvuctlCommand& command);
int RunModules(const AgentSession& session, const OrvuctlCommand& command);
int RunClients(const AgentSession& session, const OrvuctlCommand& command);
int RunSet(const AgentSession& session, const OrvuctlCommand& command);
int RunApply(const AgentSession& session, const OrvuctlCommand& command);
