#include "agent_session.h"

#include "agent_errors.h"
#include "last_error.h"
#include "wire_codec.h"

namespace orvu::client {

AgentSession::~AgentSession() { transport::Close(socket_); }

bool AgentSession::Open(const std::string& endpoint, const std::string& name, uint32_t flags) {
  std::string error;
  socket_ = transport::Connect(endpoint, &error);
  if (socket_ == transport::NO_SOCKET) {
    SetLastError(AGENT_ERR_NO_AGENT, "no agent answers at " + endpoint);
    return false;
  }
  proto::Request request;
  request.op = proto::Op::Register;
  request.clientName = name.substr(0, proto::PROTO_MAX_NAME);
  request.threadId = transport::CurrentThreadId();
  request.flags = flags;
  proto::Reply reply;
  return Call(request, &reply);
}

namespace {

bool DropsRow(proto::Op op) {
  switch (op) {
    case proto::Op::CreateInstance:
    case proto::Op::EnableInstance:
    case proto::Op::RemoveInstance:
    case proto::Op::SetData:
    case proto::Op::GetDataHandle: return true;
    default: return false;
  }
}

}  // namespace

bool AgentSession::Call(const proto::Request& request, proto::Reply* reply) {
  if (DropsRow(request.op)) prefetchedRow_.clear();
  if (socket_ == transport::NO_SOCKET) {
    SetLastError(AGENT_ERR_CONNECTION_LOST);
    return false;
  }
  std::string body = proto::EncodeRequest(request);
  if (body.size() > proto::PROTO_MAX_REQUEST) {
    SetLastError(AGENT_ERR_VALUE_TOO_LARGE, "request too large for the agent");
    return false;
  }
  std::string frame = proto::Frame(body);
  // A send that fails is not the end yet: an agent that refused us has left its reason to read.
  transport::SendAll(socket_, frame.data(), frame.size());
  uint8_t header[4];
  std::string in;
  bool ok = transport::ReceiveAll(socket_, header, 4);
  uint32_t size = ok ? wire::GetU32(header) : 0;
  if (ok && size <= proto::PROTO_MAX_REPLY) {
    in.resize(size);
    ok = transport::ReceiveAll(socket_, in.data(), size) &&
         proto::DecodeReply(request.op, reinterpret_cast<const uint8_t*>(in.data()), size, reply);
  } else {
    ok = false;
  }
  if (!ok) {
    transport::Close(socket_);
    socket_ = transport::NO_SOCKET;
    SetLastError(AGENT_ERR_CONNECTION_LOST);
    return false;
  }
  if (reply->status != 0) {
    SetLastError(reply->status, reply->text);
    return false;
  }
  if (request.op == proto::Op::GetDataHandle) {
    for (const proto::DataItem& item : reply->items) prefetchedRow_.push_back({item, false});
  }
  return true;
}

const proto::Reply* AgentSession::Listing(proto::Op op, uint32_t entryHandle, bool fresh) {
  Taken& taken = op == proto::Op::EnumModules   ? modules_
                 : op == proto::Op::EnumClients ? clients_
                                                : instances_;
  if (!fresh && taken.valid && taken.entryHandle == entryHandle) return &taken.reply;
  taken = Taken{};
  proto::Request request;
  request.op = op;
  request.entryHandle = entryHandle;
  if (!Call(request, &taken.reply)) {
    taken = Taken{};
    return nullptr;
  }
  taken.valid = true;
  taken.entryHandle = entryHandle;
  return &taken.reply;
}

uint32_t AgentSession::RowHandleFor(const std::vector<uint32_t>& oid) const {
  for (const RowItem& held : prefetchedRow_) {
    if (!held.used && held.item.oid == oid) return held.item.dataHandle;
  }
  return 0;
}

const proto::DataItem* AgentSession::TakeFromRow(uint32_t dataHandle) {
  for (RowItem& held : prefetchedRow_) {
    if (!held.used && held.item.dataHandle == dataHandle) {
      held.used = true;
      return &held.item;
    }
  }
  return nullptr;
}

}  // namespace orvu::client
