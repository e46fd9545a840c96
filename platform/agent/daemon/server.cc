#include "agent/daemon/server.h"

#include <dirent.h>
#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "agent/daemon/free_memory.h"
#include "protocol/agent_errors.h"
#include "protocol/endpoint_file.h"
#include "protocol/messages.h"
#include "protocol/proof.h"
#include "protocol/wire_codec.h"

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
  // A TCP peer until it proves that it knows this secret (by registerBy, as every peer); null
  // once proven, and on the Unix socket, whose peers the kernel vouches for.
  const std::string* secret = nullptr;
  // What the peer's registration must carry, once the agent has answered its challenge.
  std::string expectedProof;
};

std::string ErrorFrame(int32_t code, const std::string& text) {
  proto::Reply reply;
  reply.status = code;
  reply.text = text;
  return proto::FramedReply(proto::Op::Register, reply);
}

// What all connections hold of unfinished requests and unsent replies, against the budget.
// Peers that have not proved themselves (TCP peers before their registration) are counted apart:
// the budget is the proven clients' alone, and a stranger holds at most one small request.
struct Buffers {
  size_t held = 0;
  size_t strangers = 0;
};

size_t Held(const Connection& c) { return c.in.size() + (c.out.size() - c.sent); }

bool IsStranger(const Connection& c) { return c.secret != nullptr; }

size_t& Pool(Buffers* buffers, const Connection& c) {
  return IsStranger(c) ? buffers->strangers : buffers->held;
}

// The largest request a stranger may send: a challenge, or a registration with the longest names.
constexpr size_t SERVER_STRANGER_REQUEST = 16 * 1024;

constexpr const char* SERVER_UNPROVEN_TEXT =
    "the agent refused the connection: the peer did not prove that it knows the secret of its "
    "endpoint file";

// A TCP peer first sends its challenge, which the agent answers with its own proof and nonce,
// then registers with its proof of the agent's nonce; until then nothing else reaches the agent.
// Anything out of that order is refused, and the peer gets no second try.
proto::Reply Handshake(AgentCore* core, Connection* c, const proto::Request& request) {
  proto::Reply reply;
  if (request.op == proto::Op::Challenge && c->expectedProof.empty() &&
      request.nonce.size() == proof::PROOF_NONCE_BYTES) {
    reply.nonce = proof::FreshNonce();
    if (!reply.nonce.empty() &&
        proof::AgentProof(*c->secret, request.nonce, reply.nonce, &reply.proof) &&
        proof::ClientProof(*c->secret, request.nonce, reply.nonce, &c->expectedProof)) {
      return reply;
    }
    reply = proto::Reply{};
    reply.text = "the agent cannot prove itself: its random source or its HMAC failed";
  } else if (request.op == proto::Op::Register && !c->expectedProof.empty() &&
             endpoint::SameSecret(request.proof, c->expectedProof)) {
    c->secret = nullptr;
    c->context.selfReported = true;
    return core->Handle(&c->context, request);
  }
  if (reply.text.empty()) reply.text = SERVER_UNPROVEN_TEXT;
  reply.status = AGENT_ERR_REFUSED;
  c->closeAfterSend = true;
  return reply;
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
    // A registered client's change set may be larger than other requests; its limit depends on
    // the operation code, which follows the length. Anyone else is held to the plain limit at once.
    bool larger = !IsStranger(*c) && c->context.clientHandle != 0 &&
                  size > proto::PROTO_MAX_REQUEST && size <= proto::PROTO_MAX_CHANGES_REQUEST;
    if (larger && c->in.size() < 8) return;
    uint32_t limit =
        IsStranger(*c) ? SERVER_STRANGER_REQUEST
        : larger
            ? proto::RequestLimit(wire::GetU32(reinterpret_cast<const uint8_t*>(c->in.data()) + 4))
            : proto::PROTO_MAX_REQUEST;
    if (size > limit) {
      c->out =
          ErrorFrame(AGENT_ERR_BAD_REQUEST,
                     "request of " + std::to_string(size) + " bytes is larger than the agent " +
                         (IsStranger(*c) ? "accepts before a peer proves itself" : "accepts"));
      c->closeAfterSend = true;
      Pool(buffers, *c) += c->out.size() - c->in.size();
      std::string().swap(c->in);
      return;
    }
    if (c->in.size() < 4 + static_cast<size_t>(size)) return;
    proto::Request request;
    std::string error;
    const uint8_t* body = reinterpret_cast<const uint8_t*>(c->in.data()) + 4;
    proto::Reply reply;
    bool decoded = proto::DecodeRequest(body, size, &request, &error);
    if (decoded && IsStranger(*c)) {
      size_t before = Held(*c);
      reply = Handshake(core, c, request);
      // Proven now: what it holds counts with the clients from here on.
      if (!IsStranger(*c)) {
        buffers->strangers -= before;
        buffers->held += before;
      }
    } else if (decoded && request.op != proto::Op::Challenge) {
      reply = core->Handle(&c->context, request);
    } else {
      reply.status = AGENT_ERR_BAD_REQUEST;
      reply.text = decoded ? "no challenge is expected here" : "malformed request: " + error;
      if (c->secret != nullptr) c->closeAfterSend = true;
    }
    c->out = proto::FramedReply(request.op, reply);
    core->Recycle(std::move(reply));
    c->sent = 0;
    c->in.erase(0, 4 + static_cast<size_t>(size));
    Pool(buffers, *c) -= 4 + static_cast<size_t>(size);
    // Only large replies (listings, rows) are ever refused: what a change answers is small, and a
    // change that was made is never reported as failed.
    if (c->out.size() > SERVER_SMALL_REPLY &&
        buffers->held + c->out.size() > SERVER_BUFFER_BUDGET) {
      size_t wanted = c->out.size();
      reply = proto::Reply{};
      reply.status = AGENT_ERR_REFUSED;
      reply.text = "the agent refused a reply of " + std::to_string(wanted) +
                   " bytes: it would pass its budget of " + BudgetText();
      c->out = proto::FramedReply(request.op, reply);
    }
    Pool(buffers, *c) += c->out.size();
    if (c->in.empty()) std::string().swap(c->in);
  }
}

void ReadFrom(AgentCore* core, Connection* c, Buffers* buffers) {
  char buffer[65536];
  // HandleInput refuses a frame past its operation's limit as soon as its header is in.
  while (c->out.empty() && c->in.size() <= 4 + proto::PROTO_MAX_CHANGES_REQUEST) {
    // A stranger's bytes are read no further than its one small request.
    size_t want = sizeof buffer;
    if (IsStranger(*c)) {
      if (c->in.size() >= 4 + SERVER_STRANGER_REQUEST) return;
      want = std::min(want, 4 + SERVER_STRANGER_REQUEST - c->in.size());
    }
    long n = transport::ReadSome(c->socket, buffer, want);
    if (n < 0) {
      c->dead = true;
      return;
    }
    if (n == 0) return;
    if (!IsStranger(*c) && buffers->held + static_cast<size_t>(n) > SERVER_BUFFER_BUDGET) {
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
    Pool(buffers, *c) += static_cast<size_t>(n);
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
    Pool(buffers, *c) -= static_cast<size_t>(n);
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

// How many of MAX_CLIENTS places are kept for strangers: never more than a quarter, so that
// clients of the user always have theirs.
size_t StrangerPlaces(size_t maxClients) { return std::min(SERVER_MAX_STRANGERS, maxClients / 4); }

// Closes the oldest stranger, to make room for a newer one.
void EvictOldestStranger(std::list<Connection>* connections, Buffers* buffers) {
  auto oldest = std::find_if(connections->begin(), connections->end(), IsStranger);
  if (oldest == connections->end()) return;
  buffers->strangers -= Held(*oldest);
  SendAndClose(oldest->socket,
               ErrorFrame(AGENT_ERR_REFUSED,
                          "the agent closed the connection: newer peers came before this one "
                          "proved itself"));
  connections->erase(oldest);
}

// False when the process ran out of descriptors: the caller waits a little before it tries again,
// rather than spinning on a listener that stays readable. With SECRET (the TCP listener) a peer
// proves itself by its registration instead of by its credentials; until then it is a stranger,
// with places of its own (the oldest gives way to a newcomer), so that strangers never take the
// places of the user's clients.
bool AcceptSome(transport::Socket listener, size_t maxClients, std::list<Connection>* connections,
                Buffers* buffers, const std::string* secret = nullptr) {
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
    size_t strangers =
        static_cast<size_t>(std::count_if(connections->begin(), connections->end(), IsStranger));
    size_t places = StrangerPlaces(maxClients);
    if (secret != nullptr &&
        (strangers >= std::max<size_t>(places, 1) || connections->size() >= maxClients)) {
      if (strangers > 0) EvictOldestStranger(connections, buffers);
    }
    if (connections->size() >= maxClients ||
        (secret == nullptr && connections->size() - strangers >= maxClients - places)) {
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
      Pool(&buffers, *it) -= Held(*it);
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
    // Asked before pollSet, which lets the subagent's thread have the core during the wait.
    if (core->RewriteUnderway()) timeoutMs = 0;
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
        Pool(&buffers, *it) -= Held(*it);
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
      roomLeft = AcceptSome(listener, maxClients, &connections, &buffers);
    if (accepting && roomLeft && (fds[1].revents & POLLIN))
      roomLeft =
          AcceptSome(loopback->socket, maxClients, &connections, &buffers, &loopback->secret);
    if (!roomLeft) {
      acceptAgain = Clock::now() + std::chrono::milliseconds(SERVER_ACCEPT_PAUSE_MS);
    }
    if (core->RewriteUnderway()) {
      core->ContinueRewrite();
      if (!core->RewriteUnderway()) ReturnFreeMemory();
    }
  }
  for (Connection& c : connections) {
    core->Disconnect(c.context);
    transport::Close(c.socket);
  }
}

}  // namespace orvu::agent
