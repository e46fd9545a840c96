#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "agent_process.h"
#include "load_clients.h"
#include "orvu/agent_framework.h"
#include "protocol/agent_errors.h"
#include "protocol/messages.h"
#include "protocol/wire_codec.h"

namespace hardening {
namespace {

namespace proto = orvu::proto;
using Clock = std::chrono::steady_clock;

constexpr int REPLY_TIMEOUT_MS = 5000;
constexpr int32_t NO_REPLY = -1;    // the agent closed the connection
constexpr int32_t LATE_REPLY = -2;  // nothing came within the time limit

int ConnectRaw(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendRaw(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveRaw(int fd, void* data, size_t size, Clock::time_point deadline, bool* late) {
  size_t got = 0;
  while (got < size) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) <= 0) {
      *late = true;
      return false;
    }
    ssize_t n = recv(fd, static_cast<char*>(data) + got, size - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// The status of the next reply frame, NO_REPLY or LATE_REPLY.
int32_t ReplyStatus(int fd) {
  auto deadline = Clock::now() + std::chrono::milliseconds(REPLY_TIMEOUT_MS);
  bool late = false;
  uint8_t header[4];
  if (!ReceiveRaw(fd, header, 4, deadline, &late)) return late ? LATE_REPLY : NO_REPLY;
  uint32_t size = orvu::wire::GetU32(header);
  if (size < 4 || size > proto::PROTO_MAX_REPLY) return NO_REPLY;
  std::string body(size, '\0');
  if (!ReceiveRaw(fd, body.data(), size, deadline, &late)) return late ? LATE_REPLY : NO_REPLY;
  return static_cast<int32_t>(orvu::wire::GetU32(reinterpret_cast<const uint8_t*>(body.data())));
}

// Requests of every kind, whole and valid, for the flood to damage.
std::vector<std::string> ValidBodies() {
  std::vector<uint32_t> entry = LOAD_ENTRY_OID;
  std::vector<std::string> bodies;
  proto::Request q;
  q.op = proto::Op::Register;
  q.clientName = "flood";
  bodies.push_back(proto::EncodeRequest(q));
  for (proto::Op op : {proto::Op::EnumModules, proto::Op::EnumClients, proto::Op::FindEntry,
                       proto::Op::EnumInstances, proto::Op::FindInstance, proto::Op::EnableInstance,
                       proto::Op::RemoveInstance, proto::Op::GetDataHandle, proto::Op::GetData}) {
    q = proto::Request{};
    q.op = op;
    q.entryHandle = 1;
    q.instanceHandle = 1;
    q.dataHandle = 1;
    q.oid = entry;
    q.index = {7};
    bodies.push_back(proto::EncodeRequest(q));
  }
  q = proto::Request{};
  q.op = proto::Op::SetData;
  q.dataHandle = 1;
  q.value.syntax = ORVU_SYNTAX_OCTETS;
  q.value.kind = proto::ValueKind::Bytes;
  q.value.bytes = "flood";
  bodies.push_back(proto::EncodeRequest(q));
  return bodies;
}

// A client of the library that keeps adding, writing, listing and removing one instance while the
// flood goes on; every call must succeed within the bound.
struct Witness {
  std::atomic<bool> stop{false};
  int calls = 0;
  long maxWaitMs = 0;
  std::vector<std::string> faults;

  void Run(const std::string& socket) {
    setenv("ORVU_AGENT_SOCKET", socket.c_str(), 1);
    AgentFrameworkInit();
    AgentHandle agent = AgentConnect("flood-witness", 0, 0, 0);
    std::vector<uint32_t> entryIds = LOAD_ENTRY_OID;
    SnmpOid entryOid{static_cast<uint32_t>(entryIds.size()), entryIds.data()};
    uint32_t entry = agent != 0 ? AgentFindTableEntry(agent, &entryOid) : 0;
    if (entry == 0) {
      faults.push_back("cannot connect: " + std::to_string(AgentGetLastError()));
      stop = true;
    }
    for (uint32_t round = 1; !stop; ++round) {
      std::vector<uint32_t> indexIds = {900000 + round};
      SnmpOid indexOid{1, indexIds.data()};
      uint32_t instance = 0;
      TableInstanceInfo info{};
      info.size = ORVU_INSTANCE_INFO_SIZE;
      Timed("create", [&] {
        return AgentCreateTableEntry(agent, 0, 0, &entryOid, &indexOid, &instance) != 0;
      });
      Timed("list", [&] { return AgentEnumTableInstances(agent, 0, entry, &info) != 0; });
      Timed("remove", [&] { return AgentRemoveTableEntry(agent, 0, entry, instance) != 0; });
    }
    AgentDisconnect(agent);
    AgentFrameworkCleanup();
  }

  template <typename F>
  void Timed(const char* what, F call) {
    auto start = Clock::now();
    bool ok = call();
    long waited = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    maxWaitMs = std::max(maxWaitMs, waited);
    ++calls;
    if (!ok && faults.size() < 10)
      faults.push_back(std::string(what) + " failed: " + std::to_string(AgentGetLastError()));
  }
};

class Flood {
 public:
  Flood(const std::string& socket, uint32_t seed)
      : socket_(socket), random_(seed), bodies_(ValidBodies()) {}
  ~Flood() {
    for (int fd : stalled_) close(fd);
    for (int fd : talking_) close(fd);
  }

  // One hostile input; false (with *fault) when the agent answered it wrongly or not at all.
  bool Send(std::string* fault) {
    switch (Pick(7)) {
      case 0: return Answered(RandomBytes(Pick(64)), "random body", fault);
      case 1: return Answered(Mutated(), "damaged request", fault);
      case 2: return Answered(BigBody(), "large body", fault);
      case 3: return Oversized(fault);
      case 4: return CutShort();
      case 5: return Stall();
      default: {
        int fd = ConnectRaw(socket_);
        if (fd >= 0) close(fd);
        return true;
      }
    }
  }

 private:
  uint32_t Pick(uint32_t count) {
    return std::uniform_int_distribution<uint32_t>(0, count - 1)(random_);
  }

  std::string RandomBytes(size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(Pick(256));
    return bytes;
  }

  std::string Mutated() {
    std::string body = bodies_[Pick(static_cast<uint32_t>(bodies_.size()))];
    switch (Pick(3)) {
      case 0:
        for (uint32_t i = 0, n = 1 + Pick(4); i < n && !body.empty(); ++i)
          body[Pick(static_cast<uint32_t>(body.size()))] = static_cast<char>(Pick(256));
        break;
      case 1: body.resize(Pick(static_cast<uint32_t>(body.size()) + 1)); break;
      default: body += RandomBytes(1 + Pick(16)); break;
    }
    return body;
  }

  // Near the agent's limit: a valid operation with a forged count, or a long OID.
  std::string BigBody() {
    orvu::wire::Writer w;
    bool dataHandle = Pick(2) != 0;
    w.U32(static_cast<uint32_t>(dataHandle ? proto::Op::GetDataHandle : proto::Op::FindEntry));
    if (dataHandle) w.U32(0);
    if (Pick(2)) {
      w.U32(0xFFFFFFFFu);
    } else {
      w.Ids(std::vector<uint32_t>(1 + Pick((proto::PROTO_MAX_REQUEST - 16) / 4), 1));
    }
    return w.Out();
  }

  // A connection that talks on: half of them registered.
  int Talker() {
    if (talking_.size() < 8) {
      int fd = ConnectRaw(socket_);
      if (fd < 0) return -1;
      if (registered_.size() * 2 <= talking_.size()) {
        SendRaw(fd, proto::Frame(bodies_[0]));
        ReplyStatus(fd);
        registered_.push_back(fd);
      }
      talking_.push_back(fd);
    }
    return talking_[Pick(static_cast<uint32_t>(talking_.size()))];
  }

  bool Answered(const std::string& body, const char* what, std::string* fault) {
    int fd = Talker();
    bool sent = fd >= 0 && SendRaw(fd, proto::Frame(body));
    if (!sent && fd >= 0 && Unregistered(fd)) {
      // The agent closes a connection that has not registered within its deadline, which a
      // slow run (a sanitizer, a busy machine) reaches: a fresh one takes its place.
      std::erase(talking_, fd);
      close(fd);
      fd = Talker();
      sent = fd >= 0 && SendRaw(fd, proto::Frame(body));
    }
    if (!sent) {
      *fault = std::string("cannot send a ") + what;
      return false;
    }
    int32_t status = ReplyStatus(fd);
    if (status == NO_REPLY || status == LATE_REPLY) {
      *fault =
          std::string(what) + (status == NO_REPLY ? ": connection closed" : ": no reply in time");
      return false;
    }
    return true;
  }

  bool Oversized(std::string* fault) {
    int fd = ConnectRaw(socket_);
    if (fd < 0) return true;
    std::string header(4, '\0');
    uint32_t size = proto::PROTO_MAX_REQUEST + 1 + Pick(0x7FFFFFFF);
    orvu::wire::PutU32(reinterpret_cast<uint8_t*>(header.data()), size);
    SendRaw(fd, header + RandomBytes(Pick(64)));
    int32_t status = ReplyStatus(fd);
    int32_t after = ReplyStatus(fd);
    close(fd);
    if (status != orvu::AGENT_ERR_BAD_REQUEST || after != NO_REPLY) {
      *fault = "oversized request of " + std::to_string(size) + " bytes: status " +
               std::to_string(status) + ", then " + std::to_string(after);
      return false;
    }
    return true;
  }

  bool CutShort() {
    int fd = ConnectRaw(socket_);
    if (fd < 0) return true;
    std::string frame = proto::Frame(Mutated());
    SendRaw(fd, frame.substr(0, Pick(static_cast<uint32_t>(frame.size()))));
    close(fd);
    return true;
  }

  // Half a request, and then silence: the agent must not wait for the rest.
  bool Stall() {
    if (stalled_.size() >= 64) return true;
    int fd = ConnectRaw(socket_);
    if (fd < 0) return true;
    if (Pick(4) == 0) {
      // A request as large as the agent takes, of which up to half ever arrives.
      std::string header(4, '\0');
      orvu::wire::PutU32(reinterpret_cast<uint8_t*>(header.data()), proto::PROTO_MAX_REQUEST);
      SendRaw(fd, header + std::string(Pick(proto::PROTO_MAX_REQUEST / 2), '\7'));
    } else {
      std::string frame = proto::Frame(bodies_[Pick(static_cast<uint32_t>(bodies_.size()))]);
      SendRaw(fd, frame.substr(0, 1 + Pick(static_cast<uint32_t>(frame.size()) - 1)));
    }
    stalled_.push_back(fd);
    return true;
  }

  std::string socket_;
  std::mt19937 random_;
  std::vector<std::string> bodies_;
  std::vector<int> stalled_;
  std::vector<int> talking_;
  std::vector<int> registered_;

  bool Unregistered(int fd) const {
    return std::find(registered_.begin(), registered_.end(), fd) == registered_.end();
  }
};

TEST(AgentFloodTest, MalformedAndOversizedRequestsLeaveTheAgentServingOthers) {
  const int inputs = EnvNumber("OASET_FLOOD_INPUTS", 3000);
  const int seed = EnvNumber("OASET_FLOOD_SEED", 20261207);
  TestAgent agent;
  ASSERT_TRUE(agent.Running());

  Witness witness;
  std::thread witnessThread([&] { witness.Run(agent.socket); });
  int faults = 0;
  {
    Flood flood(agent.socket, static_cast<uint32_t>(seed));
    for (int i = 0; i < inputs; ++i) {
      std::string fault;
      if (!flood.Send(&fault) && ++faults <= 10) ADD_FAILURE() << "input " << i << ": " << fault;
    }
    witness.stop = true;
    witnessThread.join();
  }

  EXPECT_EQ(faults, 0);
  EXPECT_GT(witness.calls, 0);
  EXPECT_LE(witness.maxWaitMs, LOAD_WAIT_BOUND_MS);
  for (const std::string& fault : witness.faults) ADD_FAILURE() << "witness: " << fault;
  int status = 0;
  ASSERT_EQ(waitpid(agent.pid, &status, WNOHANG), 0) << "the agent ended during the flood";
  std::string error;
  ReadTable(agent.socket, &error);
  EXPECT_EQ(error, "");
  std::printf(
      "flood: %d hostile inputs (seed %d), witness made %d calls, longest %ld ms, "
      "agent still serving\n",
      inputs, seed, witness.calls, witness.maxWaitMs);
}

// Strangers of another user that open connection after connection at the TCP listener, each
// challenging the agent and never proving itself, push out one another but never the owner's
// clients, which are unproven too for their first two round trips.
TEST(AgentFloodTest, ChurningStrangersLeaveEveryOwnerRunServed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the strangers as another user";
  const int churners = EnvNumber("OASET_CHURNING_STRANGERS", 6);
  const int runs = EnvNumber("OASET_CHURNED_RUNS", 30);
  TestAgentOptions options;
  options.tcp = true;
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  std::ifstream endpointFile(agent.endpoint);
  std::string port;
  for (std::string line; std::getline(endpointFile, line);)
    if (line.rfind("port=", 0) == 0) port = line.substr(5);
  ASSERT_FALSE(port.empty());
  std::vector<int> strangers;
  for (int i = 0; i < churners; ++i)
    strangers.push_back(StartProgram(BinDir() + "/churning_stranger", {port, "65534"}, {}));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int served = 0;
  std::string failures;
  for (int i = 0; i < runs; ++i) {
    OasetRun run = RunOaset(&agent, {"-o"}, {{"ORVU_AGENT_ENDPOINT", agent.endpoint}});
    if (run.status == 0 && run.out.find("Module 1: VORNEL-VNBEEP-MIB") != std::string::npos) {
      ++served;
    } else if (failures.empty()) {
      failures = run.err;
    }
  }
  for (int pid : strangers) EXPECT_NE(StopProgram(pid), -1);
  EXPECT_EQ(served, runs) << failures;
  std::printf("churning strangers: %d of them, %d of %d owner runs over TCP served\n", churners,
              served, runs);
}

}  // namespace
}  // namespace hardening
