// The error codes that the agent and the framework library hand out, one per cause, and their
// texts. The agent sends a code with a text that may name the object concerned; the library keeps
// that text for AgentErrorText and falls back on these when it has nothing more precise.
#pragma once

#include <cstdint>

namespace orvu {

enum AgentError : int32_t {
  AGENT_OK = 0,
  AGENT_ERR_NOT_STARTED = 1001,      // library: a call before AgentFrameworkInit
  AGENT_ERR_NO_AGENT = 1002,         // library: nothing answers at the endpoint
  AGENT_ERR_BAD_CONNECTION = 1003,   // library: unknown AgentHandle
  AGENT_ERR_BAD_ARGUMENT = 1004,     // library: null pointer, empty OID, bad buffer
  AGENT_ERR_RECORD_SIZE = 1005,      // library: the record's size field is not the expected one
  AGENT_ERR_CONNECTION_LOST = 1006,  // library: the agent closed the connection or sent garbage
  AGENT_ERR_NO_MORE_ENTRIES = 1007,  // library: enumeration index past the end
  AGENT_ERR_OUT_OF_MEMORY = 1008,
  AGENT_ERR_VALUE_TOO_LARGE = 1009,
  AGENT_ERR_REFUSED = 1010,         // agent: a peer of another user, or too many clients
  AGENT_ERR_BAD_REQUEST = 1011,     // agent: malformed, truncated or oversized request
  AGENT_ERR_NOT_REGISTERED = 1012,  // agent: a request before the client registered
  AGENT_ERR_NO_SUCH_ENTRY = 1013,   // agent: the OID names no table entry
  AGENT_ERR_INSTANCE_EXISTS = 1014,
  AGENT_ERR_NO_SUCH_INSTANCE = 1015,
  AGENT_ERR_BAD_INSTANCE = 1016,    // agent: empty instance OID
  AGENT_ERR_NO_SUCH_OBJECT = 1017,  // agent: the OID names no scalar and no column of an instance
  AGENT_ERR_NO_SUCH_DATA = 1018,    // agent: unknown data handle, or its object is gone
  AGENT_ERR_READ_ONLY = 1019,
  AGENT_ERR_WRONG_SYNTAX = 1020,
  AGENT_ERR_WRONG_LENGTH = 1021,
  AGENT_ERR_STORAGE = 1022,      // agent: the change could not be written to the state file
  AGENT_ERR_WRONG_VALUE = 1023,  // agent: a value outside the ranges the MIB gives the object
};

// The fixed text of CODE, or nullptr when the code is none of ours.
const char* AgentErrorDefaultText(int32_t code);

}  // namespace orvu
