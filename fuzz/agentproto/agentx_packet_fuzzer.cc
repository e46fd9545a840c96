// Any bytes as a packet from an AgentX master. Nothing may read past the bytes, and the varbinds
// of a TestSet that reads must read back the same once written again (in network byte order,
// with the OID prefix the writer chooses).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/snmp/agentx_pdu.h"

namespace ax = orvu::agent::agentx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < ax::AGENTX_HEADER_SIZE) return 0;
  ax::Pdu pdu;
  std::string why;
  if (!ax::ReadHeader(data, &pdu.header, &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  if (size - ax::AGENTX_HEADER_SIZE < pdu.header.payloadLength) return 0;
  // A copy of exactly the payload, so that a read past it is the sanitizer's to see.
  std::string payload(reinterpret_cast<const char*>(data + ax::AGENTX_HEADER_SIZE),
                      pdu.header.payloadLength);
  if (!ax::ReadPayload(reinterpret_cast<const uint8_t*>(payload.data()), &pdu, &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  if (pdu.header.type != ax::AGENTX_TESTSET || pdu.header.flags & ax::AGENTX_NON_DEFAULT_CONTEXT)
    return 0;
  std::string again;
  size_t start = ax::BeginPacket(&again, ax::AGENTX_TESTSET, 1, 2, 3);
  for (const ax::VarBind& vb : pdu.varbinds) {
    ax::PutVarBind(&again, static_cast<uint16_t>(vb.value.syntax), vb.name, vb.value);
  }
  ax::EndPacket(&again, start);
  ax::Pdu back;
  const auto* bytes = reinterpret_cast<const uint8_t*>(again.data());
  if (!ax::ReadHeader(bytes, &back.header, &why) ||
      !ax::ReadPayload(bytes + ax::AGENTX_HEADER_SIZE, &back, &why))
    std::abort();
  if (back.varbinds.size() != pdu.varbinds.size()) std::abort();
  for (size_t i = 0; i < back.varbinds.size(); ++i) {
    if (back.varbinds[i].name != pdu.varbinds[i].name) std::abort();
    if (!(back.varbinds[i].value == pdu.varbinds[i].value)) std::abort();
  }
  return 0;
}
