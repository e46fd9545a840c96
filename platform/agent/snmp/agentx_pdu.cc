#include "agent/snmp/agentx_pdu.h"

#include <cstring>

namespace orvu::agent::agentx {
namespace {

using proto::Value;
using proto::ValueKind;

// 1.3.6.1, which an OID's prefix byte stands for together with its fifth sub-identifier.
constexpr uint32_t INTERNET[] = {1, 3, 6, 1};
constexpr size_t MAX_SUBIDS = 128;

// A bounded reader of one payload in the byte order its header names.
struct Reader {
  const uint8_t* at;
  const uint8_t* end;
  bool network;
  std::string* why;

  bool Fail(const char* what) {
    if (why->empty()) *why = what;
    return false;
  }
  bool Need(size_t n) { return static_cast<size_t>(end - at) >= n || Fail("a packet ends early"); }
  bool U8(uint8_t* v) {
    if (!Need(1)) return false;
    *v = *at++;
    return true;
  }
  bool U16(uint16_t* v) {
    if (!Need(2)) return false;
    *v = network ? static_cast<uint16_t>(at[0] << 8 | at[1])
                 : static_cast<uint16_t>(at[1] << 8 | at[0]);
    at += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    if (!Need(4)) return false;
    *v = network ? (uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3])
                 : (uint32_t{at[3]} << 24 | uint32_t{at[2]} << 16 | uint32_t{at[1]} << 8 | at[0]);
    at += 4;
    return true;
  }
  bool OidOf(Oid* oid, bool* include) {
    uint8_t count = 0;
    uint8_t prefix = 0;
    uint8_t inclusive = 0;
    uint8_t reserved = 0;
    if (!U8(&count) || !U8(&prefix) || !U8(&inclusive) || !U8(&reserved)) return false;
    oid->clear();
    if (prefix != 0) {
      oid->assign(std::begin(INTERNET), std::end(INTERNET));
      oid->push_back(prefix);
    }
    if (oid->size() + count > MAX_SUBIDS) return Fail("an OID has more than 128 sub-identifiers");
    if (!Need(size_t{count} * 4)) return false;
    for (uint8_t i = 0; i < count; ++i) {
      uint32_t id = 0;
      U32(&id);
      oid->push_back(id);
    }
    if (include) *include = inclusive != 0;
    return true;
  }
  bool Octets(std::string* s) {
    uint32_t size = 0;
    if (!U32(&size)) return false;
    size_t padded = (size_t{size} + 3) & ~size_t{3};
    if (!Need(padded)) return false;
    s->assign(reinterpret_cast<const char*>(at), size);
    at += padded;
    return true;
  }
  bool Context(const Header& header) {
    if (!(header.flags & AGENTX_NON_DEFAULT_CONTEXT)) return true;
    std::string context;
    return Octets(&context);
  }
  bool Ranges(std::vector<SearchRange>* ranges) {
    while (at < end) {
      SearchRange& range = ranges->emplace_back();
      if (!OidOf(&range.start, &range.include) || !OidOf(&range.end, nullptr)) return false;
    }
    return true;
  }
  bool Data(uint16_t type, Value* v) {
    *v = Value();
    v->syntax = type;
    switch (type) {
      case 2:   // INTEGER
      case 65:  // Counter32
      case 66:  // Gauge32
      case 67:  // TimeTicks
        v->kind = ValueKind::Number;
        return U32(&v->number);
      case 70: {  // Counter64: the high word first in either order's 64-bit layout
        uint32_t first = 0;
        uint32_t second = 0;
        if (!U32(&first) || !U32(&second)) return false;
        v->kind = ValueKind::Pair;
        v->number = network ? first : second;
        v->second = network ? second : first;
        return true;
      }
      case 4:   // OCTET STRING
      case 64:  // IpAddress
      case 68:  // Opaque
        v->kind = ValueKind::Bytes;
        return Octets(&v->bytes);
      case 6: v->kind = ValueKind::Oid; return OidOf(&v->ids, nullptr);
      case AGENTX_NULL:
      case AGENTX_NO_SUCH_OBJECT:
      case AGENTX_NO_SUCH_INSTANCE:
      case AGENTX_END_OF_MIB_VIEW: return true;
      default: return Fail("a varbind has a type that AgentX does not define");
    }
  }
  bool VarBinds(std::vector<VarBind>* varbinds) {
    while (at < end) {
      uint16_t type = 0;
      uint16_t reserved = 0;
      VarBind& vb = varbinds->emplace_back();
      if (!U16(&type) || !U16(&reserved) || !OidOf(&vb.name, nullptr) || !Data(type, &vb.value))
        return false;
    }
    return true;
  }
};

void PutRaw(std::string* out, uint32_t v, int bytes) {
  for (int i = bytes; i-- > 0;) out->push_back(static_cast<char>(v >> (8 * i)));
}

}  // namespace

bool ReadHeader(const uint8_t* data, Header* header, std::string* why) {
  Reader r{data, data + AGENTX_HEADER_SIZE, (data[2] & AGENTX_NETWORK_BYTE_ORDER) != 0, why};
  uint8_t reserved = 0;
  r.U8(&header->version);
  r.U8(&header->type);
  r.U8(&header->flags);
  r.U8(&reserved);
  r.U32(&header->sessionId);
  r.U32(&header->transactionId);
  r.U32(&header->packetId);
  r.U32(&header->payloadLength);
  if (header->version != 1) return r.Fail("a packet of an AgentX version other than 1");
  if (header->payloadLength > AGENTX_MAX_PAYLOAD) return r.Fail("a packet longer than 4 MiB");
  if (header->payloadLength % 4 != 0) return r.Fail("a payload that is not whole 4-byte words");
  return true;
}

bool ReadPayload(const uint8_t* payload, Pdu* pdu, std::string* why) {
  const Header& h = pdu->header;
  Reader r{payload, payload + h.payloadLength, (h.flags & AGENTX_NETWORK_BYTE_ORDER) != 0, why};
  bool ok = true;
  switch (h.type) {
    case AGENTX_GET:
    case AGENTX_GETNEXT: ok = r.Context(h) && r.Ranges(&pdu->ranges); break;
    case AGENTX_GETBULK:
      ok = r.Context(h) && r.U16(&pdu->nonRepeaters) && r.U16(&pdu->maxRepetitions) &&
           r.Ranges(&pdu->ranges);
      break;
    case AGENTX_TESTSET: ok = r.Context(h) && r.VarBinds(&pdu->varbinds); break;
    case AGENTX_COMMITSET:
    case AGENTX_UNDOSET:
    case AGENTX_CLEANUPSET: break;
    case AGENTX_PING: ok = r.Context(h); break;
    case AGENTX_CLOSE: {
      uint8_t reserved[3];
      ok = r.U8(&pdu->reason) && r.U8(&reserved[0]) && r.U8(&reserved[1]) && r.U8(&reserved[2]);
      break;
    }
    case AGENTX_RESPONSE: {
      ok = r.U32(&pdu->upTime) && r.U16(&pdu->error) && r.U16(&pdu->errorIndex) &&
           r.VarBinds(&pdu->varbinds);
      break;
    }
    default: return r.Fail("a packet of a type that a master does not send to a subagent");
  }
  if (ok && r.at != r.end) return r.Fail("a packet holds more than its type carries");
  return ok;
}

size_t BeginPacket(std::string* out, uint8_t type, uint32_t sessionId, uint32_t transactionId,
                   uint32_t packetId) {
  size_t start = out->size();
  PutU8(out, 1);
  PutU8(out, type);
  PutU8(out, AGENTX_NETWORK_BYTE_ORDER);
  PutU8(out, 0);
  PutU32(out, sessionId);
  PutU32(out, transactionId);
  PutU32(out, packetId);
  PutU32(out, 0);
  return start;
}

void EndPacket(std::string* out, size_t start) {
  uint32_t length = static_cast<uint32_t>(out->size() - start - AGENTX_HEADER_SIZE);
  char bytes[4] = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                   static_cast<char>(length >> 8), static_cast<char>(length)};
  std::memcpy(out->data() + start + 16, bytes, 4);
}

void PutU8(std::string* out, uint8_t v) { out->push_back(static_cast<char>(v)); }
void PutU16(std::string* out, uint16_t v) { PutRaw(out, v, 2); }
void PutU32(std::string* out, uint32_t v) { PutRaw(out, v, 4); }

void PutOid(std::string* out, const Oid& oid, bool include) {
  size_t skip = 0;
  uint8_t prefix = 0;
  if (oid.size() >= 5 && std::equal(std::begin(INTERNET), std::end(INTERNET), oid.begin()) &&
      oid[4] != 0 && oid[4] <= 255) {
    prefix = static_cast<uint8_t>(oid[4]);
    skip = 5;
  }
  // The view hides every OID longer than SNMP allows; one that got here anyway is cut to fit
  // rather than sent with a count that wraps.
  size_t count = std::min(oid.size() - skip, MAX_SUBIDS);
  PutU8(out, static_cast<uint8_t>(count));
  PutU8(out, prefix);
  PutU8(out, include ? 1 : 0);
  PutU8(out, 0);
  for (size_t i = 0; i < count; ++i) PutU32(out, oid[skip + i]);
}

void PutOctets(std::string* out, const char* data, size_t size) {
  PutU32(out, static_cast<uint32_t>(size));
  out->append(data, size);
  out->append((4 - size % 4) % 4, '\0');
}

void PutVarBind(std::string* out, uint16_t type, const Oid& name, const proto::Value& value) {
  PutU16(out, type);
  PutU16(out, 0);
  PutOid(out, name);
  switch (type) {
    case 2:
    case 65:
    case 66:
    case 67: PutU32(out, value.number); break;
    case 70:
      PutU32(out, value.number);
      PutU32(out, value.second);
      break;
    case 4:
    case 64:
    case 68: PutOctets(out, value.bytes.data(), value.bytes.size()); break;
    case 6: PutOid(out, value.ids); break;
    default: break;  // Null and the exceptions carry nothing
  }
}

uint16_t TypeOfValue(const proto::Value& value) {
  bool known = false;
  ValueKind expected = proto::KindOfSyntax(value.syntax, &known);
  bool fits = known && expected == value.kind && value.syntax < 128;
  if (fits && value.syntax == ORVU_SYNTAX_IPADDR && value.bytes.size() != 4) fits = false;
  if (fits) return value.syntax == ORVU_SYNTAX_NSAPADDR ? 4 : static_cast<uint16_t>(value.syntax);
  switch (value.kind) {
    case ValueKind::Number: return 66;
    case ValueKind::Pair: return 70;
    case ValueKind::Bytes: return 4;
    case ValueKind::Oid: return 6;
  }
  return 4;
}

}  // namespace orvu::agent::agentx
