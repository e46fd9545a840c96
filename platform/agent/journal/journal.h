// The agent's state file, a journal of records (see platform/README.md for its lines):
// - state_records.h: the record types, their fields and one line of text each;
// - state_integrity.h: the seal that chains each line to the one before it;
// - state_journal.h: reading the file at start, appending a change, rewriting it whole;
// - dotted_oid.h: OIDs as the file and the agent's texts write them.
// What a record does to the live state is AgentCore's (agent/core/agent_core.h).
#pragma once

#include "agent/journal/dotted_oid.h"
#include "agent/journal/state_integrity.h"
#include "agent/journal/state_journal.h"
#include "agent/journal/state_records.h"
