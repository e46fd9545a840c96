#include "server.h"

#include <dirent.h>
#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "agent_errors.h"
#include "endpoint_file.h"
#include "free_memory.h"
#include "messages.h"
#include "wire_codec.h"

namespace orvu::agent {
namespace {

using Clock = std::chrono::steady_clock;

struct Connection {
  transport::Socket socket = transport::NO_SOCKET;
  Clock::time_point registerBy;  // dropped when still unregistered then
  ClientContext context;
  std::string in;
  std::string out;
  size_t sent = 0;
  bool closeAfterSend = false;
  bool dead = false;
  // A TCP peer until it registers with this secret (by registerBy, as every peer); null once
  // proven, and on the Unix socket, whose peers the kernel vouches for.
  const std::string* secret = nullptr;
};

std::string ErrorFrame(int32_t code, const std::string& text) {
  proto::Reply reply;
  reply.status = code;
  reply.text = text;
  return proto::Frame(proto::EncodeReply(proto::Op::Register, reply));
}

// What all connections hold of unfinished requests and unsent replies, against the budget.
struct Buffers {
  size_t held = 0;
};

size_t Held(const Connection& c) { return c.in.size() + (c.out.size() - c.sent); }

// The first request of a TCP peer must be a registration carrying the endpoint file's secret;
// until then nothing else reaches the agent. True when REQUEST may go on.
bool ProveLoopbackPeer(Connection* c, const proto::Request& request) {
  if (c->secret == nullptr) return true;
  if (request.op != proto::Op::Register || !endpoint::SameSecret(request.secret, *c->secret)) {
    return false;
  }
  c->secret = nullptr;
  c->context.selfReported = true;
  return true;
}

// Set once by AdmitGroup, before the loop starts.
bool gGroupAdmitted = false;
transport::GroupAccess gAdmittedGroup;

// The kernel vouches for a peer of the Unix socket: the agent's own user, or with --group root and
// the group's members.
bool PeerAdmitted(transport::Socket s, uint32_t uid) {
  if (uid == transport::OwnUserId()) return true;
  return gGroupAdmitted && (uid == 0 || transport::PeerInGroup(s, gAdmittedGroup.groupId));
}

std::string PeerRefusal() {
  return gGroupAdmitted ? "the agent refused the connection: it serves its own user and the "
                          "members of group " +
                              gAdmittedGroup.groupName + " only"
                        : "the agent refused the connection: it serves its own user only";
}

// Best effort on a connection that is closed right after: the refused peer learns why.
void SendAndClose(transport::Socket s, const std::string& frame) {
  transport::WriteSome(s, frame.data(), frame.size());
  transport::Close(s);
}

std::string BudgetText() {
  return std::to_string(SERVER_BUFFER_BUDGET >> 20) +
         " MiB for all unfinished requests and unsent replies";
}

void HandleInput(AgentCore* core, Connection* c, Buffers* buffers) {
  while (c->out.empty() && c->in.size() >= 4) {
    uint32_t size = wire::GetU32(reinterpret_cast<const uint8_t*>(c->in.data()));
    if (size > proto::PROTO_MAX_REQUEST) {
      c->out = ErrorFrame(AGENT_ERR_BAD_REQUEST, "request of " + std::to_string(size) +
                                                     " bytes is larger than the agent accepts");
      c->closeAfterSend = true;
      buffers->held += c->out.size() - c->in.size();
      std::string().swap(c->in);
      return;
    }
    if (c->in.size() < 4 + static_cast<size_t>(size)) return;
    proto::Request request;
    std::string error;
    const uint8_t* body = reinterpret_cast<const uint8_t*>(c->in.data()) + 4;
    proto::Reply reply;
    bool decoded = proto::DecodeRequest(body, size, &request, &error);
    if (decoded && ProveLoopbackPeer(c, request)) {
      reply = core->Handle(&c->context, request);
    } else if (decoded) {
      reply.status = AGENT_ERR_REFUSED;
      reply.text =
          "the agent refused the connection: no registration with the secret of its endpoint file";
    } else {
      reply.status = AGENT_ERR_BAD_REQUEST;
      reply.text = "malformed request: " + error;
    }
    // An unproven peer gets no second try.
    if (c->secret != nullptr) c->closeAfterSend = true;
    c->out = proto::Frame(proto::EncodeReply(request.op, reply));
    c->sent = 0;
    c->in.erase(0, 4 + static_cast<size_t>(size));
    buffers->held -= 4 + static_cast<size_t>(size);
    // Only large replies (listings, rows) are ever refused: what a change answers is small, and a
    // change that was made is never reported as failed.
    if (c->out.size() > SERVER_SMALL_REPLY &&
        buffers->held + c->out.size() > SERVER_BUFFER_BUDGET) {
      size_t wanted = c->out.size();
      reply = proto::Reply{};
      reply.status = AGENT_ERR_REFUSED;
      reply.text = "the agent refused a reply of " + std::to_string(wanted) +
                   " bytes: it would pass its budget of " + BudgetText();
      c->out = proto::Frame(proto::EncodeReply(request.op, reply));
    }
    buffers->held += c->out.size();
    if (c->in.empty()) std::string().swap(c->in);
  }
}

void ReadFrom(AgentCore* core, Connection* c, Buffers* buffers) {
  char buffer[65536];
  while (c->out.empty() && c->in.size() <= 4 + proto::PROTO_MAX_REQUEST) {
    long n = transport::ReadSome(c->socket, buffer, sizeof buffer);
    if (n < 0) {
      c->dead = true;
      return;
    }
    if (n == 0) return;
    if (buffers->held + static_cast<size_t>(n) > SERVER_BUFFER_BUDGET) {
      buffers->held -= c->in.size();
      std::string().swap(c->in);
      c->out =
          ErrorFrame(AGENT_ERR_REFUSED,
                     "the agent refused the request: it would pass its budget of " + BudgetText());
      c->closeAfterSend = true;
      buffers->held += c->out.size();
      return;
    }
    // Room for the whole frame at once, so that what is held is what the budget counts.
    if (c->in.size() < 4 && c->in.size() + static_cast<size_t>(n) >= 4) {
      char header[4] = {};
      size_t have = c->in.size();
      std::copy(c->in.begin(), c->in.end(), header);
      std::copy(buffer, buffer + (4 - have), header + have);
      uint32_t size = wire::GetU32(reinterpret_cast<const uint8_t*>(header));
      if (size <= proto::PROTO_MAX_REQUEST) c->in.reserve(4 + static_cast<size_t>(size));
    }
    c->in.append(buffer, static_cast<size_t>(n));
    buffers->held += static_cast<size_t>(n);
    HandleInput(core, c, buffers);
  }
}

void WriteTo(AgentCore* core, Connection* c, Buffers* buffers) {
  while (c->sent < c->out.size()) {
    long n = transport::WriteSome(c->socket, c->out.data() + c->sent, c->out.size() - c->sent);
    if (n < 0) {
      c->dead = true;
      return;
    }
    if (n == 0) return;
    c->sent += static_cast<size_t>(n);
    buffers->held -= static_cast<size_t>(n);
  }
  std::string().swap(c->out);
  c->sent = 0;
  if (c->closeAfterSend) {
    c->dead = true;
    return;
  }
  HandleInput(core, c, buffers);  // a request may have arrived while the reply was on its way
}

// Newcomers are taken in batches: peers that connect back to back could otherwise keep the loop
// here for good, and the connected clients (and their departures) would never be looked at.
constexpr int SERVER_ACCEPT_BATCH = 16;

// False when the process ran out of descriptors: the caller waits a little before it tries again,
// rather than spinning on a listener that stays readable. With SECRET (the TCP listener) a peer
// proves itself by its registration instead of by its credentials.
bool AcceptSome(transport::Socket listener, size_t maxClients, std::list<Connection>* connections,
                const std::string* secret = nullptr) {
  for (int batch = 0; batch < SERVER_ACCEPT_BATCH; ++batch) {
    bool exhausted = false;
    transport::Socket s = transport::Accept(listener, &exhausted);
    if (s == transport::NO_SOCKET) return !exhausted;
    uint32_t pid = 0, uid = 0;
    if (secret == nullptr &&
        (!transport::PeerCredentials(s, &pid, &uid) || !PeerAdmitted(s, uid))) {
      SendAndClose(s, ErrorFrame(AGENT_ERR_REFUSED, PeerRefusal()));
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
    c.registerBy = Clock::now() + std::chrono::seconds(SERVER_REGISTER_SECONDS);
    c.secret = secret;
    connections->push_back(std::move(c));
  }
  return true;
}

size_t OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return 0;
  size_t count = 0;
  while (readdir(dir)) ++count;
  closedir(dir);
  return count > 3 ? count - 3 : 0;  // ".", ".." and the folder's own descriptor
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
  // Reckoned from what is actually free: the descriptors already open (the listener, the state
  // file, the locks, whatever the parent left us), plus room for a rewrite of the state file,
  // one refused peer at a time and the reading of /proc.
  rlim_t spare = 8 + OpenDescriptors();
  if (limit.rlim_cur <= spare + 1) return 1;
  return std::min<size_t>(SERVER_MAX_CLIENTS, static_cast<size_t>(limit.rlim_cur - spare));
}

void AdmitGroup(const transport::GroupAccess& group) {
  gAdmittedGroup = group;
  gGroupAdmitted = true;
}

void RunServer(AgentCore* core, transport::Socket listener, size_t maxClients,
               volatile std::sig_atomic_t* stop, const ExtraEvents* extra,
               const LoopbackListener* loopback) {
  std::list<Connection> connections;
  std::vector<pollfd> fds;
  std::vector<Connection*> order;
  Buffers buffers;
  Clock::time_point acceptAgain;  // after running out of descriptors
  sigset_t waitMask;
  sigemptyset(&waitMask);
  while (!*stop) {
    Clock::time_point now = Clock::now();
    Clock::time_point wake = Clock::time_point::max();
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->context.clientHandle != 0) {
        ++it;
        continue;
      }
      if (it->registerBy > now) {
        wake = std::min(wake, it->registerBy);
        ++it;
        continue;
      }
      buffers.held -= Held(*it);
      SendAndClose(it->socket,
                   ErrorFrame(AGENT_ERR_REFUSED,
                              "the agent closed the connection: it did not register "
                              "within " +
                                  std::to_string(SERVER_REGISTER_SECONDS) + " seconds"));
      it = connections.erase(it);
    }
    fds.clear();
    order.clear();
    bool accepting = now >= acceptAgain;
    fds.push_back({accepting ? listener : -1, POLLIN, 0});
    fds.push_back({accepting && loopback ? loopback->socket : -1, POLLIN, 0});
    if (!accepting) wake = std::min(wake, acceptAgain);
    for (Connection& c : connections) {
      fds.push_back({c.socket, static_cast<short>(c.out.empty() ? POLLIN : POLLOUT), 0});
      order.push_back(&c);
    }
    size_t extraFirst = fds.size();
    int timeoutMs = -1;
    if (wake != Clock::time_point::max()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
      timeoutMs = static_cast<int>(std::clamp<long long>(left + 1, 0, 60000));
    }
    if (extra) extra->pollSet(&fds, &timeoutMs);
    timespec wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    int ready = ppoll(fds.data(), fds.size(), timeoutMs < 0 ? nullptr : &wait, &waitMask);
    if (extra) extra->dispatch(fds.data() + extraFirst, fds.size() - extraFirst);
    if (ready < 0) continue;  // EINTR: the signal handler has set *stop
    for (size_t i = 0; i < order.size(); ++i) {
      Connection* c = order[i];
      if (fds[i + 2].revents == 0) continue;
      if (!c->out.empty()) {
        WriteTo(core, c, &buffers);
      } else {
        ReadFrom(core, c, &buffers);
        if (!c->dead && !c->out.empty()) WriteTo(core, c, &buffers);
      }
    }
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->dead) {
        buffers.held -= Held(*it);
        bool listed = core->Disconnect(it->context) || it->context.droppedSnapshot;
        transport::Close(it->socket);
        it = connections.erase(it);
        if (listed) ReturnFreeMemory();
      } else {
        ++it;
      }
    }
    bool roomLeft = true;
    if (accepting && (fds[0].revents & POLLIN))
      roomLeft = AcceptSome(listener, maxClients, &connections);
    if (accepting && roomLeft && (fds[1].revents & POLLIN))
      roomLeft = AcceptSome(loopback->socket, maxClients, &connections, &loopback->secret);
    if (!roomLeft) {
      acceptAgain = Clock::now() + std::chrono::milliseconds(SERVER_ACCEPT_PAUSE_MS);
    }
  }
  for (Connection& c : connections) {
    core->Disconnect(c.context);
    transport::Close(c.socket);
  }
}

}  // namespace orvu::agent
