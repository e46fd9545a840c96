#include "server.h"

#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "agent_errors.h"
#include "messages.h"
#include "wire_codec.h"

namespace orvu::agent {
namespace {

struct Connection {
  transport::Socket socket = transport::NO_SOCKET;
  ClientContext context;
  std::string in;
  std::string out;
  size_t sent = 0;
  bool closeAfterSend = false;
  bool dead = false;
};

std::string ErrorFrame(int32_t code, const std::string& text) {
  proto::Reply reply;
  reply.status = code;
  reply.text = text;
  return proto::Frame(proto::EncodeReply(proto::Op::Register, reply));
}

// Best effort on a connection that is closed right after: the refused peer learns why.
void SendAndClose(transport::Socket s, const std::string& frame) {
  transport::WriteSome(s, frame.data(), frame.size());
  transport::Close(s);
}

void HandleInput(AgentCore* core, Connection* c) {
  while (c->out.empty() && c->in.size() >= 4) {
    uint32_t size = wire::GetU32(reinterpret_cast<const uint8_t*>(c->in.data()));
    if (size > proto::PROTO_MAX_REQUEST) {
      c->out = ErrorFrame(AGENT_ERR_BAD_REQUEST, "request of " + std::to_string(size) +
                                                     " bytes is larger than the agent accepts");
      c->closeAfterSend = true;
      c->in.clear();
      return;
    }
    if (c->in.size() < 4 + static_cast<size_t>(size)) return;
    proto::Request request;
    std::string error;
    const uint8_t* body = reinterpret_cast<const uint8_t*>(c->in.data()) + 4;
    proto::Reply reply;
    if (proto::DecodeRequest(body, size, &request, &error)) {
      reply = core->Handle(&c->context, request);
    } else {
      reply.status = AGENT_ERR_BAD_REQUEST;
      reply.text = "malformed request: " + error;
    }
    c->out = proto::Frame(proto::EncodeReply(request.op, reply));
    c->sent = 0;
    c->in.erase(0, 4 + static_cast<size_t>(size));
  }
}

void ReadFrom(AgentCore* core, Connection* c) {
  char buffer[65536];
  while (c->out.empty() && c->in.size() <= 4 + proto::PROTO_MAX_REQUEST) {
    long n = transport::ReadSome(c->socket, buffer, sizeof buffer);
    if (n < 0) {
      c->dead = true;
      return;
    }
    if (n == 0) return;
    c->in.append(buffer, static_cast<size_t>(n));
    HandleInput(core, c);
  }
}

void WriteTo(AgentCore* core, Connection* c) {
  while (c->sent < c->out.size()) {
    long n = transport::WriteSome(c->socket, c->out.data() + c->sent, c->out.size() - c->sent);
    if (n < 0) {
      c->dead = true;
      return;
    }
    if (n == 0) return;
    c->sent += static_cast<size_t>(n);
  }
  c->out.clear();
  c->sent = 0;
  if (c->closeAfterSend) {
    c->dead = true;
    return;
  }
  HandleInput(core, c);  // a request may have arrived while the reply was on its way
}

// Newcomers are taken in batches: peers that connect back to back could otherwise keep the loop
// here for good, and the connected clients (and their departures) would never be looked at.
constexpr int SERVER_ACCEPT_BATCH = 16;

void AcceptSome(transport::Socket listener, size_t maxClients, std::list<Connection>* connections) {
  for (int batch = 0; batch < SERVER_ACCEPT_BATCH; ++batch) {
    transport::Socket s = transport::Accept(listener);
    if (s == transport::NO_SOCKET) return;
    uint32_t pid = 0, uid = 0;
    if (!transport::PeerCredentials(s, &pid, &uid) || uid != transport::OwnUserId()) {
      SendAndClose(s, ErrorFrame(AGENT_ERR_REFUSED,
                                 "the agent refused the connection: it serves its own user only"));
      continue;
    }
    if (connections->size() >= maxClients) {
      SendAndClose(
          s, ErrorFrame(AGENT_ERR_REFUSED, "the agent refused the connection: too many clients"));
      continue;
    }
    Connection c;
    c.socket = s;
    c.context.processId = pid;
    connections->push_back(std::move(c));
  }
}

}  // namespace

size_t ClientCapacity() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 64;
  if (limit.rlim_cur < limit.rlim_max && limit.rlim_cur < SERVER_MAX_CLIENTS + 64) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, SERVER_MAX_CLIENTS + 64);
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  // Room for the listener, the state file, the standard streams and one refused peer at a time.
  rlim_t spare = 16;
  if (limit.rlim_cur <= spare + 1) return 1;
  return std::min<size_t>(SERVER_MAX_CLIENTS, static_cast<size_t>(limit.rlim_cur - spare));
}

void RunServer(AgentCore* core, transport::Socket listener, size_t maxClients,
               volatile std::sig_atomic_t* stop, const ExtraEvents* extra) {
  std::list<Connection> connections;
  std::vector<pollfd> fds;
  std::vector<Connection*> order;
  sigset_t waitMask;
  sigemptyset(&waitMask);
  while (!*stop) {
    fds.clear();
    order.clear();
    fds.push_back({listener, POLLIN, 0});
    for (Connection& c : connections) {
      fds.push_back({c.socket, static_cast<short>(c.out.empty() ? POLLIN : POLLOUT), 0});
      order.push_back(&c);
    }
    size_t extraFirst = fds.size();
    int timeoutMs = -1;
    if (extra) extra->pollSet(&fds, &timeoutMs);
    timespec wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    int ready = ppoll(fds.data(), fds.size(), timeoutMs < 0 ? nullptr : &wait, &waitMask);
    if (extra) extra->dispatch(fds.data() + extraFirst, fds.size() - extraFirst);
    if (ready < 0) continue;  // EINTR: the signal handler has set *stop
    for (size_t i = 0; i < order.size(); ++i) {
      Connection* c = order[i];
      if (fds[i + 1].revents == 0) continue;
      if (!c->out.empty()) {
        WriteTo(core, c);
      } else {
        ReadFrom(core, c);
        if (!c->dead && !c->out.empty()) WriteTo(core, c);
      }
    }
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->dead) {
        core->Disconnect(it->context);
        transport::Close(it->socket);
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
    if (fds[0].revents & POLLIN) AcceptSome(listener, maxClients, &connections);
  }
  for (Connection& c : connections) {
    core->Disconnect(c.context);
    transport::Close(c.socket);
  }
}

}  // namespace orvu::agent
