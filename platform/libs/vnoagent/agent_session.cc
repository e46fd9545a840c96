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

bool AgentSession::Call(const proto::Request& request, proto::Reply* reply) {
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
  return true;
}

}  // namespace orvu::client
