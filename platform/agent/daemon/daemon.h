// The agent as a process; main.cc strings these together:
// - agent_command_line.h: the options;
// - process_control.h: signals, detaching, the pid file;
// - server.h: the event loop over the sockets, handing requests to AgentCore;
// - free_memory.h: giving freed heap back to the system after a burst.
#pragma once

#include "agent/daemon/agent_command_line.h"
#include "agent/daemon/free_memory.h"
#include "agent/daemon/process_control.h"
#include "agent/daemon/server.h"
