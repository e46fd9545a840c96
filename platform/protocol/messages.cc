#include "messages.h"

#include <type_traits>

#include "wire_codec.h"

namespace orvu::proto {

using wire::Reader;
using wire::Writer;

namespace {

void PutValue(Writer& w, const Value& v) {
  w.U32(v.syntax);
  w.U8(static_cast<uint8_t>(v.kind));
  switch (v.kind) {
    case ValueKind::Number: w.U32(v.number); break;
    case ValueKind::Pair:
      w.U32(v.number);
      w.U32(v.second);
      break;
    case ValueKind::Bytes: w.Text(v.bytes); break;
    case ValueKind::Oid: w.Ids(v.ids); break;
  }
}

Value GetValue(Reader& r) {
  Value v;
  v.syntax = r.U32();
  uint8_t kind = r.U8();
  switch (kind) {
    case 0:
      v.kind = ValueKind::Number;
      v.number = r.U32();
      break;
    case 1:
      v.kind = ValueKind::Pair;
      v.number = r.U32();
      v.second = r.U32();
      break;
    case 2:
      v.kind = ValueKind::Bytes;
      v.bytes = r.Bytes();
      break;
    case 3:
      v.kind = ValueKind::Oid;
      v.ids = r.Ids();
      break;
    default: r.Fail(); break;
  }
  return v;
}

// Each operation's fields in wire order, declared once for both directions: F is an Encoder
// (Q and P const) or a Decoder. A list travels as a u32 count and then its records.
template <typename F, typename R>
void RecordFields(F& f, R& record) {
  using Record = std::remove_const_t<R>;
  if constexpr (std::is_same_v<Record, ModuleRecord>) {
    f(record.name);
    f(record.handle);
  } else if constexpr (std::is_same_v<Record, ClientRecord>) {
    f(record.clientHandle);
    f(record.clientId);
    f(record.processHandle);
    f(record.processId);
    f(record.threadHandle);
    f(record.threadId);
    f(record.registrationTime);
    f(record.flags);
    f(record.name);
    f(record.fileName);
  } else if constexpr (std::is_same_v<Record, InstanceRecord>) {
    f(record.instanceHandle);
    f(record.clientHandle);
    f(record.creationTime);
    f(record.flags);
    f(record.leafCount);
    f(record.entryOid);
    f(record.indexOid);
  } else {
    static_assert(std::is_same_v<Record, DataItem>);
    f(record.dataHandle);
    f(record.oid);
    f(record.value);
  }
}

// False for an operation code that names none.
template <typename F, typename Q>
bool RequestFields(F& f, Q& q) {
  switch (q.op) {
    case Op::Register:
      f(q.version);
      f(q.clientName);
      f(q.threadId);
      f(q.flags);
      return true;
    case Op::EnumModules:
    case Op::EnumClients:
    case Op::Unregister: return true;
    case Op::FindEntry: f(q.oid); return true;
    case Op::EnumInstances: f(q.entryHandle); return true;
    case Op::FindInstance:
      f(q.entryHandle);
      f(q.index);
      return true;
    case Op::CreateInstance:
      f(q.oid);
      f(q.index);
      return true;
    case Op::EnableInstance:
      f(q.entryHandle);
      f(q.instanceHandle);
      f(q.flags);
      return true;
    case Op::RemoveInstance:
      f(q.entryHandle);
      f(q.instanceHandle);
      return true;
    case Op::GetDataHandle:
      f(q.context);
      f(q.oid);
      return true;
    case Op::GetData: f(q.dataHandle); return true;
    case Op::SetData:
      f(q.context);
      f(q.dataHandle);
      f(q.value);
      return true;
  }
  return false;
}

// The fields of a successful reply; a failed one carries its text instead.
template <typename F, typename P>
void ReplyFields(F& f, Op op, P& p) {
  switch (op) {
    case Op::Register:
    case Op::FindEntry:
    case Op::FindInstance: f(p.handle); break;
    case Op::CreateInstance:
      f(p.handle);
      f(p.handle2);
      break;
    case Op::EnumModules: f(p.modules); break;
    case Op::EnumClients: f(p.clients); break;
    case Op::EnumInstances: f(p.instances); break;
    case Op::GetDataHandle:
    case Op::GetData: f(p.items); break;
    case Op::EnableInstance:
    case Op::RemoveInstance:
    case Op::SetData:
    case Op::Unregister: break;
  }
}

struct Encoder {
  Writer& w;
  void operator()(uint32_t v) { w.U32(v); }
  void operator()(int32_t v) { w.I32(v); }
  void operator()(const std::string& v) { w.Text(v); }
  void operator()(const std::vector<uint32_t>& v) { w.Ids(v); }
  void operator()(const Value& v) { PutValue(w, v); }
  template <typename Record>
  void operator()(const std::vector<Record>& list) {
    w.U32(static_cast<uint32_t>(list.size()));
    for (const Record& record : list) RecordFields(*this, record);
  }
};

struct Decoder {
  Reader& r;
  void operator()(uint32_t& v) { v = r.U32(); }
  void operator()(int32_t& v) { v = r.I32(); }
  void operator()(std::string& v) { v = r.Bytes(); }
  void operator()(std::vector<uint32_t>& v) { v = r.Ids(); }
  void operator()(Value& v) { v = GetValue(r); }
  // Nothing is reserved from the count: every record takes bytes, so a forged count ends the loop
  // as soon as the input runs short.
  template <typename Record>
  void operator()(std::vector<Record>& list) {
    uint32_t count = r.U32();
    for (uint32_t i = 0; i < count && r.Ok(); ++i) RecordFields(*this, list.emplace_back());
  }
};

}  // namespace

std::string EncodeRequest(const Request& q) {
  Writer w;
  w.U32(static_cast<uint32_t>(q.op));
  Encoder encoder{w};
  RequestFields(encoder, q);
  return std::move(w.Out());
}

bool DecodeRequest(const uint8_t* data, size_t size, Request* q, std::string* error) {
  *q = Request{};
  Reader r(data, size);
  uint32_t op = r.U32();
  if (!r.Ok()) {
    *error = "request too short";
    return false;
  }
  q->op = static_cast<Op>(op);
  Decoder decoder{r};
  if (!RequestFields(decoder, *q)) {
    *error = "unknown operation " + std::to_string(op);
    return false;
  }
  if (!r.Ok()) {
    *error = "truncated request";
    return false;
  }
  if (!r.AtEnd()) {
    *error = "trailing bytes after the request";
    return false;
  }
  if (q->op == Op::Register && q->clientName.size() > PROTO_MAX_NAME) {
    *error = "client name too long";
    return false;
  }
  return true;
}

std::string EncodeReply(Op op, const Reply& p) {
  Writer w;
  w.I32(p.status);
  if (p.status != 0) {
    w.Text(p.text);
    return std::move(w.Out());
  }
  Encoder encoder{w};
  ReplyFields(encoder, op, p);
  return std::move(w.Out());
}

bool DecodeReply(Op op, const uint8_t* data, size_t size, Reply* p) {
  *p = Reply{};
  Reader r(data, size);
  p->status = r.I32();
  if (r.Ok() && p->status != 0) {
    p->text = r.Bytes();
    return r.AtEnd();
  }
  Decoder decoder{r};
  ReplyFields(decoder, op, *p);
  return r.AtEnd();
}

std::string Frame(const std::string& body) {
  std::string out(4, '\0');
  wire::PutU32(reinterpret_cast<uint8_t*>(out.data()), static_cast<uint32_t>(body.size()));
  out += body;
  return out;
}

}  // namespace orvu::proto
