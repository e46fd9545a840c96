// Failure replies shared by the agent's request handlers.
#pragma once

#include <string>

#include "protocol/agent_errors.h"
#include "protocol/messages.h"

namespace orvu::agent {

inline proto::Reply Fail(int32_t code, const std::string& text) {
  proto::Reply reply;
  reply.status = code;
  reply.text = text;
  return reply;
}

inline proto::Reply NoSuchEntryHandle(uint32_t entryHandle) {
  return Fail(AGENT_ERR_NO_SUCH_ENTRY,
              "no such table entry (handle " + std::to_string(entryHandle) + ")");
}

}  // namespace orvu::agent
