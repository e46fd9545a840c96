#include "protocol/messages.h"

#include <type_traits>

#include "protocol/wire_codec.h"

namespace orvu::proto {

using wire::Reader;
using wire::Writer;

namespace {

void PutValue(Writer& writer, const Value& value) {
  writer.U32(value.syntax);
  writer.U8(static_cast<uint8_t>(value.kind));
  switch (value.kind) {
    case ValueKind::Number: writer.U32(value.number); break;
    case ValueKind::Pair:
      writer.U32(value.number);
      writer.U32(value.second);
      break;
    case ValueKind::Bytes: writer.Text(value.bytes); break;
    case ValueKind::Oid: writer.Ids(value.ids); break;
  }
}

// Into *VALUE as into a fresh one, its room for bytes and ids kept.
void GetValue(Reader& reader, Value* value) {
  value->syntax = reader.U32();
  value->kind = ValueKind::Number;
  value->number = 0;
  value->second = 0;
  value->bytes.clear();
  value->ids.clear();
  uint8_t kind = reader.U8();
  switch (kind) {
    case 0: value->number = reader.U32(); break;
    case 1:
      value->kind = ValueKind::Pair;
      value->number = reader.U32();
      value->second = reader.U32();
      break;
    case 2:
      value->kind = ValueKind::Bytes;
      reader.Bytes(&value->bytes);
      break;
    case 3:
      value->kind = ValueKind::Oid;
      reader.Ids(&value->ids);
      break;
    default: reader.Fail(); break;
  }
}

// Each operation's fields in wire order, declared once for both directions: F is an Encoder
// (over a const message) or a Decoder. A list travels as a u32 count and then its records.
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
  } else if constexpr (std::is_same_v<Record, Change>) {
    f(record.kind);
    f(record.entry);
    f(record.object);
    f(record.value);
  } else {
    static_assert(std::is_same_v<Record, DataItem>);
    f(record.dataHandle);
    f(record.oid);
    f(record.value);
  }
}

// False for an operation code that names none.
template <typename F, typename Q>
bool RequestFields(F& f, Q& request) {
  switch (request.op) {
    case Op::Register:
      f(request.version);
      f(request.clientName);
      f(request.threadId);
      f(request.flags);
      f(request.proof);
      f(request.processId);
      f(request.fileName);
      return true;
    case Op::EnumModules:
    case Op::EnumClients:
    case Op::Unregister: return true;
    case Op::FindEntry: f(request.oid); return true;
    case Op::EnumInstances:
      f(request.entryHandle);
      f(request.flags);
      f(request.position);
      f(request.count);
      return true;
    case Op::ReadRows: f(request.handles); return true;
    case Op::Challenge: f(request.nonce); return true;
    case Op::FindInstance:
      f(request.entryHandle);
      f(request.index);
      return true;
    case Op::CreateInstance:
      f(request.oid);
      f(request.index);
      return true;
    case Op::EnableInstance:
      f(request.entryHandle);
      f(request.instanceHandle);
      f(request.flags);
      return true;
    case Op::RemoveInstance:
      f(request.entryHandle);
      f(request.instanceHandle);
      return true;
    case Op::GetDataHandle:
      f(request.context);
      f(request.oid);
      f(request.count);
      return true;
    case Op::GetData: f(request.dataHandle); return true;
    case Op::Notify:
      f(request.notification);
      f(request.index);
      return true;
    case Op::SetData:
      f(request.context);
      f(request.dataHandle);
      f(request.value);
      return true;
    case Op::ApplyChanges: f(request.changes); return true;
  }
  return false;
}

// The fields of a successful reply; a failed one carries its text instead.
template <typename F, typename P>
void ReplyFields(F& f, Op op, P& reply) {
  switch (op) {
    case Op::Register:
    case Op::FindEntry:
    case Op::FindInstance: f(reply.handle); break;
    case Op::GetDataHandle:
      f(reply.handle);
      f(reply.generation);
      f(reply.entryLength);
      f(reply.columns);
      f(reply.ahead);
      break;
    case Op::CreateInstance:
      f(reply.handle);
      f(reply.instanceHandle);
      break;
    case Op::EnumModules: f(reply.modules); break;
    case Op::EnumClients: f(reply.clients); break;
    case Op::EnumInstances:
      f(reply.handle);
      f(reply.instances);
      break;
    case Op::GetData:
    case Op::ReadRows: f(reply.items); break;
    case Op::Challenge:
      f(reply.nonce);
      f(reply.proof);
      break;
    case Op::SetData:
    case Op::ApplyChanges: f(reply.generation); break;
    case Op::EnableInstance:
    case Op::RemoveInstance:
    case Op::Notify:
    case Op::Unregister: break;
  }
}

struct Encoder {
  Writer& writer;
  void operator()(uint32_t value) { writer.U32(value); }
  void operator()(int32_t value) { writer.I32(value); }
  void operator()(const std::string& value) { writer.Text(value); }
  void operator()(const std::vector<uint32_t>& value) { writer.Ids(value); }
  void operator()(const Value& value) { PutValue(writer, value); }
  template <typename Record>
  void operator()(const std::vector<Record>& list) {
    writer.U32(static_cast<uint32_t>(list.size()));
    for (const Record& record : list) RecordFields(*this, record);
  }
};

struct Decoder {
  Reader& reader;
  void operator()(uint32_t& value) { value = reader.U32(); }
  void operator()(int32_t& value) { value = reader.I32(); }
  void operator()(std::string& value) { reader.Bytes(&value); }
  void operator()(std::vector<uint32_t>& value) { reader.Ids(&value); }
  void operator()(Value& value) { GetValue(reader, &value); }
  // Nothing is reserved from the count: every record takes bytes, so a forged count ends the loop
  // as soon as the input runs short. Records already in LIST are written over, every field of
  // them, so that their strings and vectors keep their room.
  template <typename Record>
  void operator()(std::vector<Record>& list) {
    uint32_t count = reader.U32();
    size_t n = 0;
    for (; n < count && reader.Ok(); ++n) {
      if (n == list.size()) list.emplace_back();
      RecordFields(*this, list[n]);
    }
    list.resize(n);
  }
};

}  // namespace

void TrimKeptItems(std::vector<DataItem>* items) {
  for (DataItem& item : *items) {
    if (item.value.bytes.capacity() > PROTO_KEPT_VALUE_BYTES) std::string().swap(item.value.bytes);
    if (item.value.ids.capacity() * sizeof(uint32_t) > PROTO_KEPT_VALUE_BYTES)
      std::vector<uint32_t>().swap(item.value.ids);
  }
}

std::string EncodeRequest(const Request& request) {
  Writer writer;
  writer.U32(static_cast<uint32_t>(request.op));
  Encoder encoder{writer};
  RequestFields(encoder, request);
  return std::move(writer.Out());
}

bool DecodeRequest(const uint8_t* data, size_t size, Request* request, std::string* error) {
  *request = Request{};
  Reader reader(data, size);
  uint32_t op = reader.U32();
  if (!reader.Ok()) {
    *error = "request too short";
    return false;
  }
  request->op = static_cast<Op>(op);
  Decoder decoder{reader};
  if (!RequestFields(decoder, *request)) {
    *error = "unknown operation " + std::to_string(op);
    return false;
  }
  if (!reader.Ok()) {
    *error = "truncated request";
    return false;
  }
  if (!reader.AtEnd()) {
    *error = "trailing bytes after the request";
    return false;
  }
  if (request->op == Op::Register && request->clientName.size() > PROTO_MAX_NAME) {
    *error = "client name too long";
    return false;
  }
  if (request->op == Op::Register &&
      (request->fileName.size() > PROTO_MAX_NAME || request->proof.size() > PROTO_MAX_PROOF)) {
    *error = "client file name or proof too long";
    return false;
  }
  if (request->op == Op::Challenge && request->nonce.size() > PROTO_MAX_PROOF) {
    *error = "challenge too long";
    return false;
  }
  return true;
}

namespace {

// At least the bytes that a reply's items take: rows of a listing come a page at a time, and a
// writer that grows as it goes copies the page several times over.
size_t ItemBytes(const Reply& reply) {
  size_t size = 4;
  for (const DataItem& item : reply.items) {
    size += 4 + 4 + 4 * item.oid.size() + 4 + 1 + 8 + item.value.bytes.size() +
            4 * item.value.ids.size();
  }
  return size;
}

void PutReply(Writer& writer, Op op, const Reply& reply) {
  writer.I32(reply.status);
  if (reply.status != 0) {
    writer.Text(reply.text);
    if (op == Op::ApplyChanges && reply.failedChange != 0) writer.U32(reply.failedChange);
    return;
  }
  Encoder encoder{writer};
  ReplyFields(encoder, op, reply);
}

}  // namespace

std::string EncodeReply(Op op, const Reply& reply) {
  Writer writer;
  writer.Reserve(ItemBytes(reply));
  PutReply(writer, op, reply);
  return std::move(writer.Out());
}

std::string FramedReply(Op op, const Reply& reply) {
  Writer writer;
  writer.Reserve(4 + ItemBytes(reply));
  writer.U32(0);
  PutReply(writer, op, reply);
  std::string& out = writer.Out();
  wire::PutU32(reinterpret_cast<uint8_t*>(out.data()), static_cast<uint32_t>(out.size() - 4));
  return std::move(out);
}

bool DecodeReply(Op op, const uint8_t* data, size_t size, Reply* reply) {
  // The items a reply held before are written over in place (a listing decodes its rows a page
  // at a time into one reply); everything else starts afresh.
  std::vector<DataItem> items = std::move(reply->items);
  *reply = Reply{};
  Reader reader(data, size);
  reply->status = reader.I32();
  if (reader.Ok() && reply->status != 0) {
    reader.Bytes(&reply->text);
    // A refused change set names the change; a refusal before the request was read does not.
    if (op == Op::ApplyChanges && !reader.AtEnd()) {
      reply->failedChange = reader.U32();
      if (reply->failedChange == 0) return false;
    }
    return reader.AtEnd();
  }
  if (op == Op::GetData || op == Op::ReadRows) reply->items = std::move(items);
  Decoder decoder{reader};
  ReplyFields(decoder, op, *reply);
  return reader.AtEnd();
}

std::string Frame(const std::string& body) {
  std::string out(4, '\0');
  wire::PutU32(reinterpret_cast<uint8_t*>(out.data()), static_cast<uint32_t>(body.size()));
  out += body;
  return out;
}

}  // namespace orvu::proto
