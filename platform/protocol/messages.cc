#include "messages.h"

#include "wire_codec.h"

namespace orvu::proto {

using wire::Reader;
using wire::Writer;

ValueKind KindOfSyntax(uint32_t syntax, bool* known) {
  *known = true;
  switch (syntax) {
    case 4:
    case 64:
    case 68:
    case 69: return ValueKind::Bytes;
    case 6: return ValueKind::Oid;
    case 70: return ValueKind::Pair;
    case 2:
    case 5:
    case 65:
    case 66:
    case 67:
    case 128:
    case 129:
    case 130: return ValueKind::Number;
    default: *known = false; return ValueKind::Number;
  }
}

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

}  // namespace

std::string EncodeRequest(const Request& q) {
  Writer w;
  w.U32(static_cast<uint32_t>(q.op));
  switch (q.op) {
    case Op::Register:
      w.U32(q.version);
      w.Text(q.clientName);
      w.U32(q.threadId);
      w.U32(q.flags);
      break;
    case Op::EnumModules:
    case Op::EnumClients:
    case Op::Unregister: break;
    case Op::FindEntry: w.Ids(q.oid); break;
    case Op::EnumInstances: w.U32(q.entryHandle); break;
    case Op::FindInstance:
      w.U32(q.entryHandle);
      w.Ids(q.index);
      break;
    case Op::CreateInstance:
      w.Ids(q.oid);
      w.Ids(q.index);
      break;
    case Op::EnableInstance:
      w.U32(q.entryHandle);
      w.U32(q.instanceHandle);
      w.U32(q.flags);
      break;
    case Op::RemoveInstance:
      w.U32(q.entryHandle);
      w.U32(q.instanceHandle);
      break;
    case Op::GetDataHandle:
      w.U32(q.context);
      w.Ids(q.oid);
      break;
    case Op::GetData: w.U32(q.dataHandle); break;
    case Op::SetData:
      w.U32(q.context);
      w.U32(q.dataHandle);
      PutValue(w, q.value);
      break;
  }
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
  switch (q->op) {
    case Op::Register:
      q->version = r.U32();
      q->clientName = r.Bytes();
      q->threadId = r.U32();
      q->flags = r.U32();
      break;
    case Op::EnumModules:
    case Op::EnumClients:
    case Op::Unregister: break;
    case Op::FindEntry: q->oid = r.Ids(); break;
    case Op::EnumInstances: q->entryHandle = r.U32(); break;
    case Op::FindInstance:
      q->entryHandle = r.U32();
      q->index = r.Ids();
      break;
    case Op::CreateInstance:
      q->oid = r.Ids();
      q->index = r.Ids();
      break;
    case Op::EnableInstance:
      q->entryHandle = r.U32();
      q->instanceHandle = r.U32();
      q->flags = r.U32();
      break;
    case Op::RemoveInstance:
      q->entryHandle = r.U32();
      q->instanceHandle = r.U32();
      break;
    case Op::GetDataHandle:
      q->context = r.U32();
      q->oid = r.Ids();
      break;
    case Op::GetData: q->dataHandle = r.U32(); break;
    case Op::SetData:
      q->context = r.U32();
      q->dataHandle = r.U32();
      q->value = GetValue(r);
      break;
    default: *error = "unknown operation " + std::to_string(op); return false;
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

namespace {

void PutClient(Writer& w, const ClientRecord& c) {
  w.U32(c.clientHandle);
  w.U32(c.clientId);
  w.U32(c.processHandle);
  w.U32(c.processId);
  w.U32(c.threadHandle);
  w.U32(c.threadId);
  w.I32(c.registrationTime);
  w.U32(c.flags);
  w.Text(c.name);
  w.Text(c.fileName);
}

ClientRecord GetClient(Reader& r) {
  ClientRecord c;
  c.clientHandle = r.U32();
  c.clientId = r.U32();
  c.processHandle = r.U32();
  c.processId = r.U32();
  c.threadHandle = r.U32();
  c.threadId = r.U32();
  c.registrationTime = r.I32();
  c.flags = r.U32();
  c.name = r.Bytes();
  c.fileName = r.Bytes();
  return c;
}

void PutInstance(Writer& w, const InstanceRecord& i) {
  w.U32(i.instanceHandle);
  w.U32(i.clientHandle);
  w.I32(i.creationTime);
  w.U32(i.flags);
  w.U32(i.leafCount);
  w.Ids(i.entryOid);
  w.Ids(i.indexOid);
}

InstanceRecord GetInstance(Reader& r) {
  InstanceRecord i;
  i.instanceHandle = r.U32();
  i.clientHandle = r.U32();
  i.creationTime = r.I32();
  i.flags = r.U32();
  i.leafCount = r.U32();
  i.entryOid = r.Ids();
  i.indexOid = r.Ids();
  return i;
}

// Nothing is reserved from the count: every element takes bytes, so a forged count ends the loop
// as soon as the input runs short.
template <typename T, typename F>
void GetList(Reader& r, std::vector<T>* out, F get) {
  uint32_t n = r.U32();
  for (uint32_t i = 0; i < n && r.Ok(); ++i) out->push_back(get(r));
}

}  // namespace

std::string EncodeReply(Op op, const Reply& p) {
  Writer w;
  w.I32(p.status);
  if (p.status != 0) {
    w.Text(p.text);
    return std::move(w.Out());
  }
  switch (op) {
    case Op::Register:
    case Op::FindEntry:
    case Op::FindInstance: w.U32(p.handle); break;
    case Op::CreateInstance:
      w.U32(p.handle);
      w.U32(p.handle2);
      break;
    case Op::EnumModules:
      w.U32(static_cast<uint32_t>(p.modules.size()));
      for (const auto& m : p.modules) {
        w.Text(m.name);
        w.U32(m.handle);
      }
      break;
    case Op::EnumClients:
      w.U32(static_cast<uint32_t>(p.clients.size()));
      for (const auto& c : p.clients) PutClient(w, c);
      break;
    case Op::EnumInstances:
      w.U32(static_cast<uint32_t>(p.instances.size()));
      for (const auto& i : p.instances) PutInstance(w, i);
      break;
    case Op::GetDataHandle:
    case Op::GetData:
      w.U32(static_cast<uint32_t>(p.items.size()));
      for (const auto& d : p.items) {
        w.U32(d.dataHandle);
        w.Ids(d.oid);
        PutValue(w, d.value);
      }
      break;
    case Op::EnableInstance:
    case Op::RemoveInstance:
    case Op::SetData:
    case Op::Unregister: break;
  }
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
  switch (op) {
    case Op::Register:
    case Op::FindEntry:
    case Op::FindInstance: p->handle = r.U32(); break;
    case Op::CreateInstance:
      p->handle = r.U32();
      p->handle2 = r.U32();
      break;
    case Op::EnumModules:
      GetList(r, &p->modules, [](Reader& rr) {
        ModuleRecord m;
        m.name = rr.Bytes();
        m.handle = rr.U32();
        return m;
      });
      break;
    case Op::EnumClients: GetList(r, &p->clients, GetClient); break;
    case Op::EnumInstances: GetList(r, &p->instances, GetInstance); break;
    case Op::GetDataHandle:
    case Op::GetData:
      GetList(r, &p->items, [](Reader& rr) {
        DataItem d;
        d.dataHandle = rr.U32();
        d.oid = rr.Ids();
        d.value = GetValue(rr);
        return d;
      });
      break;
    case Op::EnableInstance:
    case Op::RemoveInstance:
    case Op::SetData:
    case Op::Unregister: break;
  }
  return r.AtEnd();
}

std::string Frame(const std::string& body) {
  std::string out(4, '\0');
  wire::PutU32(reinterpret_cast<uint8_t*>(out.data()), static_cast<uint32_t>(body.size()));
  out += body;
  return out;
}

}  // namespace orvu::proto
