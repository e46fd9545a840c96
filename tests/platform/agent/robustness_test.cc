#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "framework_fixture.h"
#include "protocol/agent_errors.h"
#include "protocol/messages.h"
#include "protocol/wire_codec.h"

namespace orvu::test {
namespace {

class RobustnessTest : public AgentTest {
 protected:
  int Raw() { return RawConnect(socket_); }
  static void Send(int s, const std::string& bytes) {
    ASSERT_EQ(send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // The status of the next reply, or -1 when the agent closed the connection instead.
  static int32_t ReplyStatus(int s) {
    uint8_t header[4];
    if (recv(s, header, 4, MSG_WAITALL) != 4) return -1;
    std::string body(wire::GetU32(header), '\0');
    if (!body.empty() &&
        recv(s, body.data(), body.size(), MSG_WAITALL) != static_cast<ssize_t>(body.size())) {
      return -1;
    }
    return static_cast<int32_t>(wire::GetU32(reinterpret_cast<const uint8_t*>(body.data())));
  }
  static std::string Register() {
    proto::Request q;
    q.op = proto::Op::Register;
    q.clientName = "raw";
    return proto::Frame(proto::EncodeRequest(q));
  }
  static std::string Body(std::initializer_list<uint32_t> words) {
    wire::Writer w;
    for (uint32_t word : words) w.U32(word);
    return w.Out();
  }
};

TEST_F(RobustnessTest, MalformedRequestsGetAnErrorAndTheAgentServesOn) {
  ASSERT_TRUE(StartAgent());
  int s = Raw();
  Send(s, proto::Frame(Body({static_cast<uint32_t>(proto::Op::EnumModules)})));
  EXPECT_EQ(ReplyStatus(s), AGENT_ERR_NOT_REGISTERED);
  Send(s, Register());
  EXPECT_EQ(ReplyStatus(s), 0);
  Send(s, Register());
  EXPECT_EQ(ReplyStatus(s), AGENT_ERR_BAD_REQUEST);
  Send(s, proto::Frame(Body({999})));
  EXPECT_EQ(ReplyStatus(s), AGENT_ERR_BAD_REQUEST);
  // An OID whose count promises far more than the frame holds.
  Send(s, proto::Frame(Body({static_cast<uint32_t>(proto::Op::FindEntry), 0x40000000, 1, 3})));
  EXPECT_EQ(ReplyStatus(s), AGENT_ERR_BAD_REQUEST);
  Send(s, proto::Frame(Body({static_cast<uint32_t>(proto::Op::EnumModules), 7})));
  EXPECT_EQ(ReplyStatus(s), AGENT_ERR_BAD_REQUEST);
  Send(s, proto::Frame(std::string()));
  EXPECT_EQ(ReplyStatus(s), AGENT_ERR_BAD_REQUEST);
  Send(s, proto::Frame(Body({static_cast<uint32_t>(proto::Op::EnumModules)})));
  EXPECT_EQ(ReplyStatus(s), 0);

  // Too large: refused, and the connection closed.
  Send(s, Body({0xFFFFFFF0u, 1, 2}));
  EXPECT_EQ(ReplyStatus(s), AGENT_ERR_BAD_REQUEST);
  EXPECT_EQ(ReplyStatus(s), -1);
  close(s);

  // Past the plain limit only a change set is taken: anything else is refused at its code.
  s = Raw();
  Send(s, Register());
  EXPECT_EQ(ReplyStatus(s), 0);
  Send(s, Body({2u << 20, static_cast<uint32_t>(proto::Op::FindEntry)}));
  EXPECT_EQ(ReplyStatus(s), AGENT_ERR_BAD_REQUEST);
  EXPECT_EQ(ReplyStatus(s), -1);
  close(s);

  // A client that leaves halfway through a request.
  s = Raw();
  Send(s, Register());
  EXPECT_EQ(ReplyStatus(s), 0);
  Send(s, Body({100, static_cast<uint32_t>(proto::Op::FindEntry)}));
  close(s);

  AgentHandle agent = Connect();
  char name[128];
  uint32_t handle = 0;
  EXPECT_NE(AgentEnumModules(agent, 1, name, 127, &handle), 0) << LastErrorText();
}

TEST_F(RobustnessTest, RandomRequestsOfEveryKindGetAReply) {
  ASSERT_TRUE(StartAgent());
  AgentHandle agent = Connect();
  CreateInstance(agent, 50);
  int s = Raw();
  Send(s, Register());
  ASSERT_EQ(ReplyStatus(s), 0);
  std::mt19937 random(2024);
  for (int i = 0; i < 2000; ++i) {
    wire::Writer w;
    w.U32(2 + random() % 11);  // every operation but registering and leaving
    size_t words = random() % 12;
    for (size_t k = 0; k < words; ++k) {
      // Small numbers hit real handles, counts and syntaxes; large ones hit the limits.
      w.U32(random() % 2 ? random() % 64 : static_cast<uint32_t>(random()));
    }
    if (random() % 2) w.U8(static_cast<uint8_t>(random()));
    Send(s, proto::Frame(w.Out()));
    ASSERT_NE(ReplyStatus(s), -1) << "request " << i;
  }
  close(s);
  char name[128];
  uint32_t handle = 0;
  EXPECT_NE(AgentEnumModules(agent, 0, name, 127, &handle), 0) << LastErrorText();
}

// A reply decoded over one decoded before (as a listing reads its pages of rows) reads as a
// fresh one: items of every value kind over each other, fewer items, a failure, other fields.
TEST(ReplyDecoding, OverAnEarlierReplyReadsAsFresh) {
  auto item = [](uint32_t handle, std::vector<uint32_t> oid, proto::Value value) {
    proto::DataItem made;
    made.dataHandle = handle;
    made.oid = std::move(oid);
    made.value = std::move(value);
    return made;
  };
  auto value = [](uint32_t syntax, proto::ValueKind kind) {
    proto::Value made;
    made.syntax = syntax;
    made.kind = kind;
    return made;
  };
  proto::Value number = value(2, proto::ValueKind::Number);
  number.number = 7;
  proto::Value pair = value(70, proto::ValueKind::Pair);
  pair.number = 1;
  pair.second = 2;
  proto::Value bytes = value(4, proto::ValueKind::Bytes);
  bytes.bytes = std::string(40, 'b');
  proto::Value ids = value(6, proto::ValueKind::Oid);
  ids.ids = {1, 3, 6, 1, 4, 1};
  proto::Reply rows;
  rows.items = {item(1, {1, 3, 6, 1, 2}, bytes), item(2, {1, 3, 6, 1, 3}, ids),
                item(3, {1, 3}, number)};
  proto::Reply fewer;
  fewer.items = {item(4, {9}, number), item(5, {}, pair)};
  proto::Reply failed;
  failed.status = 3;
  failed.text = "no";
  proto::Reply handle;
  handle.handle = 12;
  handle.columns = {2, 3};
  struct Step {
    proto::Op op;
    const proto::Reply* reply;
  };
  const Step steps[] = {{proto::Op::ReadRows, &rows},       {proto::Op::ReadRows, &fewer},
                        {proto::Op::ReadRows, &rows},       {proto::Op::GetData, &fewer},
                        {proto::Op::ReadRows, &failed},     {proto::Op::ReadRows, &rows},
                        {proto::Op::GetDataHandle, &handle}};
  proto::Reply reused;
  for (const Step& step : steps) {
    std::string body = proto::EncodeReply(step.op, *step.reply);
    EXPECT_EQ(proto::FramedReply(step.op, *step.reply), proto::Frame(body));
    auto* data = reinterpret_cast<const uint8_t*>(body.data());
    proto::Reply fresh;
    ASSERT_TRUE(proto::DecodeReply(step.op, data, body.size(), &fresh));
    ASSERT_TRUE(proto::DecodeReply(step.op, data, body.size(), &reused));
    EXPECT_EQ(reused.status, fresh.status);
    EXPECT_EQ(reused.text, fresh.text);
    EXPECT_EQ(reused.handle, fresh.handle);
    EXPECT_EQ(reused.columns, fresh.columns);
    ASSERT_EQ(reused.items.size(), step.reply->status == 0 ? step.reply->items.size() : 0);
    for (size_t n = 0; n < reused.items.size(); ++n) {
      EXPECT_EQ(reused.items[n].dataHandle, step.reply->items[n].dataHandle);
      EXPECT_EQ(reused.items[n].oid, step.reply->items[n].oid);
      EXPECT_EQ(reused.items[n].value, step.reply->items[n].value);
    }
  }
  // Items kept for reuse give back the room of large values and keep that of small ones.
  std::vector<proto::DataItem> kept = {item(1, {1}, bytes), item(2, {2}, ids)};
  kept[0].value.bytes.assign(100000, 'x');
  kept[1].value.ids.assign(1000, 7);
  kept.push_back(item(3, {3}, bytes));
  proto::TrimKeptItems(&kept);
  EXPECT_LE(kept[0].value.bytes.capacity(), proto::PROTO_KEPT_VALUE_BYTES);
  EXPECT_LE(kept[1].value.ids.capacity() * sizeof(uint32_t), proto::PROTO_KEPT_VALUE_BYTES);
  EXPECT_EQ(kept[2].value.bytes, bytes.bytes);
}

TEST_F(RobustnessTest, HundredsOfClientsAtOnce) {
  ASSERT_TRUE(StartAgent());
  ASSERT_NE(AgentFrameworkInit(), 0);
  std::vector<AgentHandle> agents;
  for (int i = 0; i < 300; ++i) {
    AgentHandle a = AgentConnect(("client " + std::to_string(i)).c_str(), 0, 0, 0);
    ASSERT_NE(a, 0u) << i << ": " << LastErrorText();
    agents.push_back(a);
  }
  std::vector<int> idle;
  for (int i = 0; i < 100; ++i) idle.push_back(Raw());
  AgentClientInfo info{};
  info.size = sizeof info;
  ASSERT_NE(AgentEnumClients(agents.back(), 0, &info), 0);
  ASSERT_NE(AgentEnumClients(agents.back(), 300, &info), 0);
  EXPECT_STREQ(info.name, "client 299");
  EXPECT_EQ(AgentEnumClients(agents.back(), 301, &info), 0);
  for (int s : idle) close(s);
  for (AgentHandle a : agents) EXPECT_EQ(AgentDisconnect(a), 1);
}

TEST_F(RobustnessTest, ClientsBeyondTheOpenFileLimitAreRefusedWithAReason) {
  // The agent reckons its room from what it finds open at start, and that depends on what the
  // runner leaves inherited: with 40 descriptors, somewhere between 18 and 28 clients fit.
  fileLimit_ = 40;
  ASSERT_TRUE(StartAgent());
  std::vector<int> clients;
  int admitted = 0;
  for (int i = 0; i < 30; ++i) {
    int s = Raw();
    // A refused peer may find the connection closed before it sends; the reason is still there
    // to read, unless the close raced with the request and reset the connection.
    std::string hello = Register();
    send(s, hello.data(), hello.size(), MSG_NOSIGNAL);
    int32_t status = ReplyStatus(s);
    if (status == 0) {
      ++admitted;
    } else if (status != -1) {
      EXPECT_EQ(status, AGENT_ERR_REFUSED);
    }
    clients.push_back(s);
  }
  EXPECT_GE(admitted, 18);
  EXPECT_LE(admitted, 28);  // the standard streams and the listener are always open
  close(clients.front());
  clients.erase(clients.begin());
  // Once one leaves, another gets in, even while newcomers keep arriving back to back: a stream
  // of refused connections must not keep the agent from noticing the departure.
  bool again = false;
  for (int attempt = 0; attempt < 100 && !again; ++attempt) {
    int s = Raw();
    std::string hello = Register();
    send(s, hello.data(), hello.size(), MSG_NOSIGNAL);
    again = ReplyStatus(s) == 0;
    close(s);
  }
  EXPECT_TRUE(again);
  for (int s : clients) close(s);
}

TEST_F(RobustnessTest, PeerOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ASSERT_TRUE(StartAgent());
  // Open the way through the file system, so that the agent's own check is what refuses.
  chmod(dir_.c_str(), 0777);
  chmod(socket_.c_str(), 0666);
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
    // The library does not even talk to an agent of another user; a raw peer learns why the
    // agent will not serve it.
    AgentFrameworkInit();
    if (AgentConnect("intruder", 0, 0, 0) != 0 || AgentGetLastError() != AGENT_ERR_NO_AGENT)
      _exit(1);
    // The agent may refuse before the request is written; its reason is there to read.
    int s = Raw();
    std::string hello = Register();
    send(s, hello.data(), hello.size(), MSG_NOSIGNAL);
    _exit(ReplyStatus(s) == AGENT_ERR_REFUSED ? 0 : 2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot change to uid 65534 here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  AgentHandle agent = Connect();
  EXPECT_NE(agent, 0u);
}

}  // namespace
}  // namespace orvu::test
