#include "protocol/agent_errors.h"

namespace orvu {

const char* AgentErrorDefaultText(int32_t code) {
  switch (code) {
    case AGENT_OK: return "no error";
    case AGENT_ERR_NOT_STARTED: return "the agent framework is not started";
    case AGENT_ERR_NO_AGENT: return "no agent answers";
    case AGENT_ERR_BAD_CONNECTION: return "no such agent connection";
    case AGENT_ERR_BAD_ARGUMENT: return "bad argument";
    case AGENT_ERR_RECORD_SIZE: return "wrong record size";
    case AGENT_ERR_CONNECTION_LOST: return "the connection to the agent was lost";
    case AGENT_ERR_NO_MORE_ENTRIES: return "no more entries";
    case AGENT_ERR_OUT_OF_MEMORY: return "out of memory";
    case AGENT_ERR_VALUE_TOO_LARGE: return "value too large";
    case AGENT_ERR_REFUSED: return "the agent refused the connection";
    case AGENT_ERR_BAD_REQUEST: return "malformed request";
    case AGENT_ERR_NOT_REGISTERED: return "client not registered";
    case AGENT_ERR_NO_SUCH_ENTRY: return "no such table entry";
    case AGENT_ERR_INSTANCE_EXISTS: return "instance already exists";
    case AGENT_ERR_NO_SUCH_INSTANCE: return "no such instance";
    case AGENT_ERR_BAD_INSTANCE: return "bad instance OID";
    case AGENT_ERR_NO_SUCH_OBJECT: return "no such object";
    case AGENT_ERR_NO_SUCH_DATA: return "no such data handle";
    case AGENT_ERR_READ_ONLY: return "object is read-only";
    case AGENT_ERR_WRONG_SYNTAX: return "wrong syntax for object";
    case AGENT_ERR_WRONG_LENGTH: return "wrong length for object";
    case AGENT_ERR_STORAGE: return "the agent could not store the change";
    case AGENT_ERR_WRONG_VALUE: return "wrong value for object";
    default: return nullptr;
  }
}

}  // namespace orvu
