// The AgentX protocol's packets (RFC 2741) as the subagent reads and writes them: a 20-byte
// header, then the payload in the byte order that the header's flag names. Reading takes either
// order and checks every length against what arrived; writing always uses network byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/messages.h"

namespace orvu::agent::agentx {

using Oid = std::vector<uint32_t>;

// Numbered as RFC 2741 numbers them, from 1 on.
enum PduType : uint8_t {
  AGENTX_OPEN = 1,
  AGENTX_CLOSE,
  AGENTX_REGISTER,
  AGENTX_UNREGISTER,
  AGENTX_GET,
  AGENTX_GETNEXT,
  AGENTX_GETBULK,
  AGENTX_TESTSET,
  AGENTX_COMMITSET,
  AGENTX_UNDOSET,
  AGENTX_CLEANUPSET,
  AGENTX_NOTIFY,
  AGENTX_PING,
  AGENTX_ADD_AGENT_CAPS = 16,
  AGENTX_RESPONSE = 18,
};

// The header's flags that the subagent reads.
constexpr uint8_t AGENTX_NON_DEFAULT_CONTEXT = 0x08;
constexpr uint8_t AGENTX_NETWORK_BYTE_ORDER = 0x10;

// Varbind types beyond the SMI's own tags, which AgentX shares.
enum VarBindType : uint16_t {
  AGENTX_NULL = 5,
  AGENTX_NO_SUCH_OBJECT = 128,
  AGENTX_NO_SUCH_INSTANCE = 129,
  AGENTX_END_OF_MIB_VIEW = 130,
};

// res.error values of AgentX's own (RFC 2741 6.2.16); SNMP's error-status codes go as they are.
constexpr uint16_t AGENTX_UNSUPPORTED_CONTEXT = 262;
constexpr uint16_t AGENTX_PARSE_ERROR = 266;
constexpr uint16_t AGENTX_PROCESSING_ERROR = 268;
// Why a session ends, in a Close.
constexpr uint8_t AGENTX_CLOSE_PARSE_ERROR = 2;
constexpr uint8_t AGENTX_CLOSE_SHUTDOWN = 5;

constexpr size_t AGENTX_HEADER_SIZE = 20;
// Far above any SNMP message a master forwards; a larger announced payload means a broken stream.
constexpr uint32_t AGENTX_MAX_PAYLOAD = 4u << 20;

struct Header {
  uint8_t version = 1;
  uint8_t type = 0;
  uint8_t flags = 0;
  uint32_t sessionId = 0;
  uint32_t transactionId = 0;
  uint32_t packetId = 0;
  uint32_t payloadLength = 0;
};

struct SearchRange {
  Oid start;
  bool include = false;
  Oid end;  // empty: no upper bound
};

// A varbind's value keeps the agent's form: syntax is the varbind type for the SMI's types, and
// for the exceptions (noSuchObject, ...) the value stays empty.
struct VarBind {
  Oid name;
  proto::Value value;
};

// What the subagent reads out of one packet; the fields that its type does not carry stay empty.
struct Pdu {
  Header header;
  std::vector<SearchRange> ranges;  // Get, GetNext, GetBulk
  uint16_t nonRepeaters = 0;        // GetBulk
  uint16_t maxRepetitions = 0;
  std::vector<VarBind> varbinds;  // TestSet, Response
  uint16_t error = 0;             // Response
  uint32_t upTime = 0;            // Response: the master's sysUpTime
  uint16_t errorIndex = 0;
  uint8_t reason = 0;  // Close
};

// Reads the header at DATA (at least AGENTX_HEADER_SIZE bytes); false with *why for a header
// that no AgentX peer sends (a version other than 1, a payload beyond the limit).
bool ReadHeader(const uint8_t* data, Header* header, std::string* why);

// Reads the payload of a packet whose header is PDU->header; false with *why when it does not
// hold what its type needs, or holds more.
bool ReadPayload(const uint8_t* payload, Pdu* pdu, std::string* why);

// Appends a packet: BeginPacket writes the header with a zero length, EndPacket sets the length
// once the payload is in. Both return or take the packet's offset in *OUT.
size_t BeginPacket(std::string* out, uint8_t type, uint32_t sessionId, uint32_t transactionId,
                   uint32_t packetId);
void EndPacket(std::string* out, size_t start);

void PutU8(std::string* out, uint8_t v);
void PutU16(std::string* out, uint16_t v);
void PutU32(std::string* out, uint32_t v);
void PutOid(std::string* out, const Oid& oid, bool include = false);
void PutOctets(std::string* out, const char* data, size_t size);
// A varbind of type TYPE: the value's form must be the one the type takes (exceptions and Null
// carry nothing).
void PutVarBind(std::string* out, uint16_t type, const Oid& name, const proto::Value& value);

// The AgentX type under which VALUE goes to a master: its syntax where the value has that
// syntax's form, otherwise the type of its form. AgentX has no NsapAddress (net-snmp's master
// answers one with genError and drops the session), so it goes as an OCTET STRING.
uint16_t TypeOfValue(const proto::Value& value);

}  // namespace orvu::agent::agentx
