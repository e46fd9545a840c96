#include "agent/snmp/agentx_subagent.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "agent/core/notifications.h"
#include "agent/core/up_time.h"
#include "agent/snmp/agentx_answers.h"
#include "agent/snmp/agentx_master_trust.h"
#include "agent/snmp/agentx_pdu.h"
#include "agent/snmp/master_modules.h"
#include "common/faults.h"

namespace orvu::agent {
namespace {

using namespace agentx;
using Clock = std::chrono::steady_clock;

constexpr char SUBAGENT_NAME[] = "orvu-agentd";
// How soon the subagent tries again to open a session while there is none, and how long it waits
// for the master's answer to its Open and Register before it starts over.
constexpr int AGENTX_RETRY_MS = 20;
constexpr int AGENTX_ANSWER_WAIT_MS = 1000;
constexpr uint8_t AGENTX_PRIORITY = 127;  // the RFC's default
constexpr size_t AGENTX_READ_CHUNK = 65536;
// A master that refuses the session, or that the agent does not trust, is tried again only after
// this long.
constexpr int AGENTX_REFUSED_RETRY_MS = 1000;
// Answers wait for a master that reads them up to this many bytes; beyond it the subagent reads no
// further request until the master has taken some.
constexpr size_t AGENTX_QUEUE_BYTES = 4u << 20;
// A master that takes none of the answers waiting for it for this long is no longer reading: the
// session ends and a new one starts.
constexpr int AGENTX_STALL_MS = 5000;
// How long the goodbye at the agent's exit may wait for the master to take it.
constexpr int AGENTX_GOODBYE_MS = 500;
// A subtree the master refused (another subagent, or snmpd itself, has it) is asked for again
// this often, so that a standby agent takes over soon after the one before it stops.
constexpr int AGENTX_REGISTER_RETRY_MS = 3000;
constexpr int AGENTX_DUPLICATE_REGISTRATION = 263;
// The open session's wait wakes this often to send the notifications that the agent's own loop
// queued (those of SNMP sets go out right after their answer) and to ask for refused subtrees.
constexpr int AGENTX_NOTIFY_WAKE_MS = 100;

// Where the master listens: a Unix socket, or a TCP host and port.
struct MasterAddress {
  std::string text;
  std::string path;
  std::string host;
  std::string port;
  MasterTrust trust;
};

enum class Phase { Closed, Connecting, Opening, Registering, Open };

struct Session {
  int fd = -1;
  Phase phase = Phase::Closed;
  uint32_t id = 0;
  uint32_t nextPacket = 1;
  uint32_t awaited = 0;  // the packet id of the Open or Register whose answer is due
  size_t registered = 0;
  Clock::time_point deadline;  // for the answer awaited, or, when open, for the master to read
  std::string in;
  std::string out;
  size_t sent = 0;  // of OUT, taken by the master already (cut off once it is half of it)
  PendingSet set;
  bool saidUnreachable = false;      // once per loss of the master, not per attempt
  std::string saidUntrusted;         // the last reason a master was refused for, said once
  std::vector<Oid> refused;          // subtrees the master did not take, to ask for again
  std::map<uint32_t, Oid> retrying;  // packet id -> subtree asked for again
  Clock::time_point nextRetry;
};

AgentCore* gCore = nullptr;
bool gStarted = false;
MasterAddress gAddress;
std::vector<Oid> gRoots;
// The core belongs to whoever holds gCoreLock: the main loop, but for its waits, and the
// subagent's thread while it answers a request. The main loop comes first: once it asks
// (gMainWaits), the thread lets go of the core between two steps of its answer, so that however
// much a request asks for, a client of the agent waits for one step at most.
std::mutex gCoreLock;
std::unique_lock<std::mutex> gMainHold;
std::atomic<bool> gMainWaits{false};
std::unique_lock<std::mutex>* gAnswerHold = nullptr;
std::thread gThread;
std::atomic<bool> gStop{false};
int gWake[2] = {-1, -1};
Clock::time_point gNextAttempt;
SubagentCounters gCounters;
Session gSession;

bool ParseAddress(const std::string& text, MasterAddress* address, std::string* error) {
  address->text = text;
  std::string rest = text;
  if (rest.rfind("unix:", 0) == 0) {
    address->path = rest.substr(5);
  } else if (rest.rfind("tcp:", 0) == 0) {
    rest = rest.substr(4);
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
      *error = "--agentx " + text + ": a TCP address is tcp:HOST:PORT";
      return false;
    }
    address->host = rest.substr(0, colon);
    address->port = rest.substr(colon + 1);
    if (address->host.size() > 2 && address->host.front() == '[' && address->host.back() == ']')
      address->host = address->host.substr(1, address->host.size() - 2);
    if (address->port.find_first_not_of("0123456789") != std::string::npos ||
        address->port.size() > 5 || std::stoul(address->port) == 0 ||
        std::stoul(address->port) > 65535) {
      *error = "--agentx " + text + ": the port is a number from 1 to 65535";
      return false;
    }
  } else if (rest.rfind("udp:", 0) == 0 || rest.rfind("udp6:", 0) == 0) {
    *error = "--agentx " + text + ": AgentX runs over a Unix socket or TCP, not UDP";
    return false;
  } else {
    address->path = rest;
  }
  if (address->host.empty() && address->path.empty()) {
    *error = "--agentx needs an address";
    return false;
  }
  if (!address->path.empty() && address->path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    *error = "--agentx " + text + ": a Unix socket path is at most 107 bytes";
    return false;
  }
  return true;
}

void SaidUnreachable(const std::string& why) {
  if (gSession.saidUnreachable) return;
  gSession.saidUnreachable = true;
  std::fprintf(
      stderr, "orvu-agentd: no AgentX master answers at %s yet (%s); trying again until one does\n",
      gAddress.text.c_str(), why.c_str());
}

void CloseSession() {
  if (gSession.fd >= 0) close(gSession.fd);
  gSession.fd = -1;
  gSession.phase = Phase::Closed;
  gSession.in.clear();
  gSession.out.clear();
  gSession.sent = 0;
  gSession.set = PendingSet();
  gNextAttempt = Clock::now() + std::chrono::milliseconds(AGENTX_RETRY_MS);
}

// The master went away or broke the protocol: the session ends and a new one starts as soon as a
// master answers.
void LoseSession(const std::string& why) {
  bool wasOpen = gSession.phase == Phase::Open;
  CloseSession();
  if (wasOpen) {
    std::fprintf(
        stderr, "orvu-agentd: the AgentX master went away (%s); joining it again once it answers\n",
        why.c_str());
    gSession.saidUnreachable = true;
  } else {
    SaidUnreachable(why);
  }
}

// Writes what the session has queued, as much as the socket takes; false when the master is gone.
// An open session's deadline is then the time by which the master must have taken more of it.
bool Flush() {
  bool moved = false;
  std::string& out = gSession.out;
  while (gSession.sent < out.size()) {
    ssize_t n =
        send(gSession.fd, out.data() + gSession.sent, out.size() - gSession.sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;  // the loop waits for room
      LoseSession(std::strerror(errno));
      return false;
    }
    gSession.sent += static_cast<size_t>(n);
    moved = true;
  }
  // An answer of many MiB goes out in many sends: what they took is cut off now and then, not
  // after each of them.
  if (gSession.sent == out.size()) {
    out.clear();
    if (out.capacity() > AGENTX_QUEUE_BYTES) out.shrink_to_fit();  // after an answer of many MiB
    gSession.sent = 0;
  } else if (gSession.sent > out.size() / 2) {
    out.erase(0, gSession.sent);
    gSession.sent = 0;
  }
  if (gSession.phase == Phase::Open && (moved || gSession.out.empty()))
    gSession.deadline = Clock::now() + std::chrono::milliseconds(AGENTX_STALL_MS);
  return true;
}

// Tells the master why the session ends; what it does with that is up to it.
void SendClose(uint8_t reason) {
  std::string& out = gSession.out;
  size_t start = BeginPacket(&out, AGENTX_CLOSE, gSession.id, 0, gSession.nextPacket++);
  PutU8(&out, reason);
  PutU8(&out, 0);
  PutU16(&out, 0);
  EndPacket(&out, start);
  Flush();
}

void SendOpen() {
  std::string& out = gSession.out;
  gSession.awaited = gSession.nextPacket++;
  size_t start = BeginPacket(&out, AGENTX_OPEN, 0, 0, gSession.awaited);
  PutU8(&out, 0);  // no timeout of the session's own: the master's default
  PutU8(&out, 0);
  PutU16(&out, 0);
  PutOid(&out, {});
  PutOctets(&out, SUBAGENT_NAME, sizeof SUBAGENT_NAME - 1);
  EndPacket(&out, start);
  gSession.phase = Phase::Opening;
  gSession.deadline = Clock::now() + std::chrono::milliseconds(AGENTX_ANSWER_WAIT_MS);
}

void SendRegister(const Oid& subtree, uint32_t packetId) {
  std::string& out = gSession.out;
  size_t start = BeginPacket(&out, AGENTX_REGISTER, gSession.id, 0, packetId);
  PutU8(&out, 0);
  PutU8(&out, AGENTX_PRIORITY);
  PutU8(&out, 0);
  PutU8(&out, 0);
  PutOid(&out, subtree);
  EndPacket(&out, start);
}

// One sysORTable row per served module; the master's answers need no waiting for.
void AddAgentCaps() {
  for (const SnmpModule& module : gCore->SnmpModules()) {
    std::string& out = gSession.out;
    size_t start = BeginPacket(&out, AGENTX_ADD_AGENT_CAPS, gSession.id, 0, gSession.nextPacket++);
    PutOid(&out, module.identity);
    PutOctets(&out, module.description.data(), module.description.size());
    EndPacket(&out, start);
  }
}

// Registers the next of the agent's subtrees, or opens the session for requests after the last.
void RegisterNext() {
  if (gSession.registered == gRoots.size()) {
    AddAgentCaps();
    gSession.phase = Phase::Open;
    gSession.saidUnreachable = false;
    gSession.saidUntrusted.clear();
    gSession.deadline = Clock::now() + std::chrono::milliseconds(AGENTX_STALL_MS);
    gSession.nextRetry = Clock::now() + std::chrono::milliseconds(AGENTX_REGISTER_RETRY_MS);
    return;
  }
  gSession.awaited = gSession.nextPacket++;
  SendRegister(gRoots[gSession.registered], gSession.awaited);
  gSession.phase = Phase::Registering;
  gSession.deadline = Clock::now() + std::chrono::milliseconds(AGENTX_ANSWER_WAIT_MS);
}

// Opens the session once the connection is made, with a master that no other user can be.
void OpenIfTrusted() {
  std::string why;
  if (!gAddress.path.empty()) why = UntrustedUnixMaster(gSession.fd, gAddress.path, gAddress.trust);
  if (why.empty()) return SendOpen();
  CloseSession();
  gNextAttempt = Clock::now() + std::chrono::milliseconds(AGENTX_REFUSED_RETRY_MS);
  if (why == gSession.saidUntrusted) return;
  gSession.saidUntrusted = why;
  std::fprintf(stderr,
               "orvu-agentd: refused the AgentX master at %s: %s; trying again until a trusted "
               "master answers there\n",
               gAddress.text.c_str(), why.c_str());
}

// Starts a connection to the master; the session opens once it is made.
void Connect() {
  gNextAttempt = Clock::now() + std::chrono::milliseconds(AGENTX_RETRY_MS);
  int fd = -1;
  int made = -1;
  if (!gAddress.path.empty()) {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return SaidUnreachable(std::strerror(errno));
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    std::memcpy(where.sun_path, gAddress.path.data(), gAddress.path.size());
    made = connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where);
  } else {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int status = getaddrinfo(gAddress.host.c_str(), gAddress.port.c_str(), &hints, &found);
    if (status != 0) return SaidUnreachable(gai_strerror(status));
    // A name may stand for several addresses (localhost: ::1 and 127.0.0.1); the first that
    // takes the connection, or may still take it, is the master's.
    int lastError = 0;
    for (addrinfo* at = found; at; at = at->ai_next) {
      fd = socket(at->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd < 0) {
        lastError = errno;
        continue;
      }
      // Answers go out at once; a master whose host vanished is noticed by the kernel's probes,
      // since the open session waits in its read without a timeout.
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
      made = connect(fd, at->ai_addr, at->ai_addrlen);
      if (made == 0 || errno == EINPROGRESS) break;
      lastError = errno;
      close(fd);
      fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0) return SaidUnreachable(std::strerror(lastError));
  }
  gSession.fd = fd;
  gSession.id = 0;
  gSession.registered = 0;
  gSession.refused.clear();
  gSession.retrying.clear();
  if (made == 0) {
    OpenIfTrusted();
  } else if (errno == EINPROGRESS) {
    gSession.phase = Phase::Connecting;
    gSession.deadline = Clock::now() + std::chrono::milliseconds(AGENTX_ANSWER_WAIT_MS);
  } else {
    std::string why = std::strerror(errno);
    CloseSession();
    SaidUnreachable(why);
  }
}

// Sends the notifications queued since the last time, each an AgentX Notify.
void SendNotifications() {
  std::vector<SnmpVarBind> varbinds;
  // The master has as long to take these as it has for answers: from the moment they wait.
  if (gSession.out.empty())
    gSession.deadline = Clock::now() + std::chrono::milliseconds(AGENTX_STALL_MS);
  while (TakeNotification(&varbinds)) {
    std::string& out = gSession.out;
    size_t start = BeginPacket(&out, AGENTX_NOTIFY, gSession.id, 0, gSession.nextPacket++);
    for (const SnmpVarBind& vb : varbinds)
      PutVarBind(&out, TypeOfValue(vb.value), vb.oid, vb.value);
    EndPacket(&out, start);
  }
}

// Asks again for the subtrees the master refused, once their time has come.
void RetryRefused() {
  if (gSession.refused.empty() || Clock::now() < gSession.nextRetry) return;
  if (gSession.out.empty())
    gSession.deadline = Clock::now() + std::chrono::milliseconds(AGENTX_STALL_MS);
  for (const Oid& subtree : gSession.refused) {
    uint32_t packet = gSession.nextPacket++;
    SendRegister(subtree, packet);
    gSession.retrying[packet] = subtree;
  }
  gSession.refused.clear();
  gSession.nextRetry = Clock::now() + std::chrono::milliseconds(AGENTX_REGISTER_RETRY_MS);
}

void Refused(const Oid& subtree, uint16_t error) {
  std::string why =
      error == AGENTX_DUPLICATE_REGISTRATION
          ? "another subagent or the master itself serves it; " + DuplicateAdvice(subtree)
          : "error " + std::to_string(error);
  std::fprintf(stderr,
               "orvu-agentd: the AgentX master did not take the subtree %s (%s); managers do not "
               "see it through this master until it does, and the agent asks again every %d "
               "seconds\n",
               OidText(subtree).c_str(), why.c_str(), AGENTX_REGISTER_RETRY_MS / 1000);
  gSession.refused.push_back(subtree);
}

// The master's answer to the Open or the Register the session waits for.
void TakeResponse(const Pdu& pdu) {
  auto retried = gSession.retrying.find(pdu.header.packetId);
  if (retried != gSession.retrying.end()) {
    Oid subtree = std::move(retried->second);
    gSession.retrying.erase(retried);
    if (pdu.error != 0) {
      gSession.refused.push_back(std::move(subtree));
      return;
    }
    std::fprintf(stderr, "orvu-agentd: the AgentX master took the subtree %s at last\n",
                 OidText(subtree).c_str());
    return;
  }
  if (pdu.header.packetId != gSession.awaited) return;  // a late answer to an earlier session
  if (gSession.phase == Phase::Opening) {
    if (pdu.error != 0) {
      LoseSession("the master refused the session, error " + std::to_string(pdu.error));
      gNextAttempt = Clock::now() + std::chrono::milliseconds(AGENTX_REFUSED_RETRY_MS);
      return;
    }
    gSession.id = pdu.header.sessionId;
    // The agent's TimeStamps count in the master's sysUpTime, which managers compare them with.
    NoteMasterUpTime(pdu.upTime);
    RegisterNext();
  } else if (gSession.phase == Phase::Registering) {
    if (pdu.error != 0) Refused(gRoots[gSession.registered], pdu.error);
    ++gSession.registered;
    RegisterNext();
  }
}

// Between two steps of an answer: lets the main loop have the core when it asks for it, and
// tells the answer to give up when the agent stops.
bool Breathe() {
  if (gStop.load(std::memory_order_relaxed)) return false;
  if (!gMainWaits.load(std::memory_order_acquire)) return true;
  gAnswerHold->unlock();
  while (gMainWaits.load(std::memory_order_acquire)) std::this_thread::yield();
  gAnswerHold->lock();
  return !gStop.load(std::memory_order_relaxed);
}

void Dispatch(const Pdu& pdu) {
  if (pdu.header.type == AGENTX_RESPONSE) return TakeResponse(pdu);
  if (pdu.header.type == AGENTX_CLOSE) return LoseSession("it closed the session");
  if (gSession.phase != Phase::Open) return;
  if (pdu.header.flags & AGENTX_NON_DEFAULT_CONTEXT) {
    if (pdu.header.type != AGENTX_CLEANUPSET)
      Respond(&gSession.out, pdu.header, AGENTX_UNSUPPORTED_CONTEXT, 0);
    return;
  }
  // The core is the main loop's too; it lets go of it only while it waits for its clients.
  std::unique_lock<std::mutex> hold(gCoreLock);
  gAnswerHold = &hold;
  size_t before = gSession.out.size();
  AnswerRequest({gCore, &gSession.set, &gCounters, &gSession.out, Breathe}, pdu);
  gAnswerHold = nullptr;
  // An answer cut short by the agent's stop is no answer.
  if (gStop.load()) gSession.out.resize(before);
}

// Answers the whole packets that the session has read, until as many answers wait for the master
// as it may have; the rest waits in the session.
void TakePackets() {
  size_t at = 0;
  const std::string& data = gSession.in;
  Pdu pdu;
  std::string why;
  while (gSession.fd >= 0 && data.size() - at >= AGENTX_HEADER_SIZE &&
         gSession.out.size() < AGENTX_QUEUE_BYTES && !gStop.load()) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data() + at);
    pdu = Pdu();
    if (!ReadHeader(bytes, &pdu.header, &why)) {
      SendClose(AGENTX_CLOSE_PARSE_ERROR);
      LoseSession("it sent " + why);
      return;
    }
    if (data.size() - at < AGENTX_HEADER_SIZE + pdu.header.payloadLength) break;
    // The master has as long to take an answer as it had for the ones before: from the moment
    // the first of the waiting ones is made.
    if (gSession.phase == Phase::Open && gSession.out.empty())
      gSession.deadline = Clock::now() + std::chrono::milliseconds(AGENTX_STALL_MS);
    why.clear();
    if (ReadPayload(bytes + AGENTX_HEADER_SIZE, &pdu, &why)) {
      Dispatch(pdu);
    } else if (pdu.header.type != AGENTX_RESPONSE && pdu.header.type != AGENTX_CLEANUPSET) {
      Respond(&gSession.out, pdu.header, AGENTX_PARSE_ERROR, 0);
    }
    at += AGENTX_HEADER_SIZE + pdu.header.payloadLength;
  }
  if (gSession.fd >= 0) gSession.in.erase(0, at);
}

// Reads what the master sent and answers every whole packet in it.
void Receive() {
  static char chunk[AGENTX_READ_CHUNK];
  ssize_t n = recv(gSession.fd, chunk, sizeof chunk, 0);
  if (n <= 0) {
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
    LoseSession(n == 0 ? "it closed the connection" : std::strerror(errno));
    return;
  }
  gSession.in.append(chunk, static_cast<size_t>(n));
  TakePackets();
}

// The descriptor for the next wait and how long the wait may last: while the session is being
// made, until the master's answer is due; once it is open, for as long as the master takes the
// answers waiting for it. With a full queue of answers only the master's reading is waited for.
void Prepare(std::vector<pollfd>* fds, int* timeoutMs) {
  auto now = Clock::now();
  auto until = [&](Clock::time_point when) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(when - now).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 3600000));
  };
  if (gSession.fd < 0) {
    *timeoutMs = until(gNextAttempt);
    return;
  }
  short events = gSession.phase == Phase::Connecting ? POLLOUT : 0;
  if (gSession.phase != Phase::Connecting && gSession.out.size() < AGENTX_QUEUE_BYTES)
    events |= POLLIN;
  if (!gSession.out.empty()) events |= POLLOUT;
  fds->push_back({gSession.fd, events, 0});
  if (gSession.phase != Phase::Open || !gSession.out.empty()) *timeoutMs = until(gSession.deadline);
}

void Serve(const pollfd& polled) {
  if (gSession.phase == Phase::Connecting) {
    if (!(polled.revents & (POLLOUT | POLLERR | POLLHUP))) return;
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(gSession.fd, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error != 0) {
      CloseSession();
      SaidUnreachable(std::strerror(error));
      return;
    }
    OpenIfTrusted();
  } else {
    if (polled.revents & POLLOUT) Flush();
    if (gSession.fd >= 0 && polled.revents & (POLLIN | POLLHUP | POLLERR)) Receive();
  }
  if (gSession.fd >= 0) Flush();
}

// The goodbye at the agent's exit: what is queued, then a Close, for as long as the master takes
// them within AGENTX_GOODBYE_MS; a master that reads nothing does not hold the exit.
void SayGoodbye() {
  SendClose(AGENTX_CLOSE_SHUTDOWN);
  auto until = Clock::now() + std::chrono::milliseconds(AGENTX_GOODBYE_MS);
  while (gSession.fd >= 0 && !gSession.out.empty()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) break;
    pollfd wait{gSession.fd, POLLOUT, 0};
    if (poll(&wait, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
    Flush();
  }
}

// The subagent's own thread: whatever the master does (stopped, slow, silent, gone, reading
// nothing), only this thread waits for it, and the agent's clients never do.
void Run() {
  gNextAttempt = Clock::now();
  std::vector<pollfd> fds;
  while (!gStop.load()) {
    if (gSession.fd < 0 && Clock::now() >= gNextAttempt) {
      Connect();
      if (gSession.fd >= 0) Flush();
    }
    if (gSession.phase == Phase::Open) {
      RetryRefused();
      SendNotifications();
      Flush();
    }
    // Requests read while the queue of answers was full are answered once the master took some.
    if (gSession.phase == Phase::Open && gSession.out.size() < AGENTX_QUEUE_BYTES &&
        gSession.in.size() >= AGENTX_HEADER_SIZE) {
      TakePackets();
      if (gSession.fd >= 0) Flush();
    }
    if (gSession.fd >= 0 && Clock::now() >= gSession.deadline &&
        (gSession.phase != Phase::Open || !gSession.out.empty())) {
      LoseSession(gSession.phase == Phase::Open
                      ? "it took none of the " +
                            std::to_string(gSession.out.size() - gSession.sent) +
                            " bytes of answers waiting for it within " +
                            std::to_string(AGENTX_STALL_MS / 1000) + " seconds"
                      : "no answer within a second");
      continue;
    }
    fds.clear();
    fds.push_back({gWake[0], POLLIN, 0});
    int timeoutMs = -1;
    Prepare(&fds, &timeoutMs);
    if (gSession.phase == Phase::Open && (timeoutMs < 0 || timeoutMs > AGENTX_NOTIFY_WAKE_MS))
      timeoutMs = AGENTX_NOTIFY_WAKE_MS;
    if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) break;
    if (fds.size() > 1 && fds[1].revents != 0) Serve(fds[1]);
    // What an SNMP set just made goes out right after its answer.
    if (gSession.phase == Phase::Open) {
      SendNotifications();
      Flush();
    }
  }
  if (gSession.phase == Phase::Open) SayGoodbye();
  CloseSession();
}

}  // namespace

bool StartSubagent(AgentCore* core, const std::string& address, const MasterTrust& trust,
                   std::string* error) {
  if (!CheckSubagentAddress(address, trust, error)) return false;
  ParseAddress(address, &gAddress, error);
  gAddress.trust = trust;
  InjectedFault fault;
  if (CheckFault("StartSubagent", &fault)) {
    *error = "cannot start the AgentX subagent at " + address + ": injected fault";
    return false;
  }
  gCore = core;
  gRoots = core->SnmpRoots();
  EnableNotifications();
  if (pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("cannot make the subagent's wake pipe: ") + std::strerror(errno);
    return false;
  }
  gSession = Session();
  gMainHold = std::unique_lock<std::mutex>(gCoreLock);
  gStop.store(false);
  // Signals are the main loop's: the thread starts with all of them blocked.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  gThread = std::thread(Run);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  gStarted = true;
  return true;
}

bool CheckSubagentAddress(const std::string& address, const MasterTrust& trust,
                          std::string* error) {
  if (address.empty()) {
    *error = "--agentx needs an address";
    return false;
  }
  MasterAddress parsed;
  if (!ParseAddress(address, &parsed, error)) return false;
  if (parsed.host.empty()) return true;
  return CheckMasterPort(address, static_cast<uint16_t>(std::stoul(parsed.port)), trust, error);
}

void SubagentPollSet(std::vector<pollfd>*, int*) {
  if (gStarted && gMainHold.owns_lock()) gMainHold.unlock();
}

void SubagentDispatch(const pollfd*, size_t) {
  if (!gStarted || gMainHold.owns_lock()) return;
  gMainWaits.store(true, std::memory_order_release);
  gMainHold.lock();
  gMainWaits.store(false, std::memory_order_release);
}

void StopSubagent() {
  if (!gStarted) return;
  gStop.store(true);
  char wake = 1;
  if (write(gWake[1], &wake, 1) < 0) {
    // The pipe is empty but for earlier wakes, so a failed write means one is waiting already.
  }
  if (gMainHold.owns_lock()) gMainHold.unlock();
  gThread.join();
  close(gWake[0]);
  close(gWake[1]);
  gStarted = false;
}

const SubagentCounters& SubagentStatistics() { return gCounters; }

}  // namespace orvu::agent
