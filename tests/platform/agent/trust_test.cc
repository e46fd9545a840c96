#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "framework_fixture.h"
#include "protocol/agent_errors.h"
#include "protocol/endpoint_file.h"
#include "protocol/messages.h"
#include "protocol/proof.h"
#include "protocol/transport.h"
#include "protocol/wire_codec.h"

namespace orvu::test {
namespace {

using TrustTest = AgentTest;

constexpr size_t SERVER_BUFFER_BUDGET_KIB = (64u << 20) / 1024;  // the agent's budget

// AddressSanitizer keeps freed memory in quarantine, so the agent's resident size says nothing
// about what it holds there; the bound is checked in the other builds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool MEMORY_MEASURED = false;
#else
constexpr bool MEMORY_MEASURED = true;
#endif

// Runs WORK in a child process as USER (root only), a member of GROUPS alone; its exit status,
// and what it wrote to the pipe in *said.
int RunAs(uid_t user, const std::function<int(int)>& work, std::string* said,
          const std::vector<gid_t>& groups = {}) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    close(pipeFds[0]);
    if (setgroups(groups.size(), groups.data()) != 0 || setgid(user) != 0 || setuid(user) != 0)
      _exit(99);
    _exit(work(pipeFds[1]));
  }
  close(pipeFds[1]);
  char buffer[512];
  said->clear();
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    said->append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A figure of PID's /proc status, in KiB: VmRSS (what it holds) or VmPeak (the most address
// space it ever took, which a block that was only reserved shows too).
long StatusKiB(pid_t pid, const std::string& field = "VmRSS:") {
  std::string status = Slurp("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find(field);
  return at == std::string::npos ? -1 : std::stol(status.substr(at + field.size()));
}

int EnvCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::atoi(text) : fallback;
}

void Own(const std::string& path, uid_t user) { ASSERT_EQ(lchown(path.c_str(), user, user), 0); }

// A listener at a free port of 127.0.0.1, with BACKLOG; its address in *WHERE, -1 on failure.
int ListenLoopbackAt(sockaddr_in* where, int backlog) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  *where = sockaddr_in{};
  where->sin_family = AF_INET;
  where->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof *where;
  if (bind(s, reinterpret_cast<sockaddr*>(where), sizeof *where) != 0 || listen(s, backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(where), &length) != 0) {
    close(s);
    return -1;
  }
  return s;
}

int ListenAt(const std::string& path) {
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 4) != 0) {
    close(s);
    return -1;
  }
  return s;
}

// A user who made the default folder first, or who listens in it, never gets a request: the
// client refuses before it sends anything, and says which path and why.
TEST_F(TrustTest, ImpostorsAtTheDefaultEndpointAreRefusedBeforeAnythingIsSent) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two users";
  // A user id of this test run alone, so that parallel runs do not share the folder.
  uid_t victim = 200000 + static_cast<uid_t>(getpid() % 100000);
  std::string folder = "/tmp/orvu-agent-" + std::to_string(victim);
  std::string endpoint = folder + "/orvu-agent.sock";
  std::filesystem::remove_all(folder);
  std::string elsewhere = dir_ + "/elsewhere";
  std::filesystem::create_directory(elsewhere);
  Own(elsewhere, victim);
  chmod(elsewhere.c_str(), 0700);
  chmod(dir_.c_str(), 0755);

  auto connectDefault = [](int out) {
    unsetenv("ORVU_AGENT_SOCKET");
    unsetenv("XDG_RUNTIME_DIR");
    AgentFrameworkInit();
    AgentHandle agent = AgentConnect("victim", 0, 0, 0);
    char text[512];
    std::string said = AgentErrorText(AgentGetLastError(), text, sizeof text);
    if (write(out, said.data(), said.size()) < 0) return 98;
    return agent == 0 && AgentGetLastError() == AGENT_ERR_NO_AGENT ? 0 : 1;
  };
  struct Setup {
    const char* what;
    std::function<void()> make;
    std::string reason;
  };
  // No folder at all hides no impostor: the user learns that no agent runs and how to start one.
  std::string absent;
  EXPECT_EQ(RunAs(victim, connectDefault, &absent), 0) << absent;
  EXPECT_EQ(absent, "no agent answers at " + endpoint +
                        ": no such socket; start one with ./oaset.sh or orvu-agentd --detach");

  int impostor = -1;
  const Setup setups[] = {
      {"folder of another user",
       [&] {
         mkdir(folder.c_str(), 0700);
         Own(folder, 65534);
       },
       folder + " is not a private folder of this user: it belongs to user 65534"},
      {"folder open to all",
       [&] {
         mkdir(folder.c_str(), 0777);
         chmod(folder.c_str(), 0777);
         Own(folder, victim);
       },
       folder + " is not a private folder of this user: others may use it (mode 777)"},
      {"symbolic link to a folder",
       [&] { std::filesystem::create_directory_symlink(elsewhere, folder); },
       folder + " is not a private folder of this user: it is a symbolic link"},
      {"peer of another user in a private folder",
       [&] {
         mkdir(folder.c_str(), 0700);
         Own(folder, victim);
         impostor = ListenAt(endpoint);
         Own(endpoint, victim);
       },
       "the process listening at " + endpoint + " runs as user 0, not as this user"},
  };
  for (const Setup& setup : setups) {
    SCOPED_TRACE(setup.what);
    setup.make();
    std::string said;
    EXPECT_EQ(RunAs(victim, connectDefault, &said), 0) << said;
    EXPECT_EQ(said, "no trusted agent at " + endpoint + ": " + setup.reason);
    if (impostor >= 0) {
      // Nothing reached the impostor: the connection it was given carries no byte.
      int peer = accept(impostor, nullptr, nullptr);
      char byte;
      EXPECT_EQ(recv(peer, &byte, 1, MSG_DONTWAIT), 0);
      close(peer);
      close(impostor);
      impostor = -1;
    }
    std::filesystem::remove_all(folder);
  }

  // The user's own folder and listener are trusted.
  std::string said;
  EXPECT_EQ(RunAs(
                victim,
                [&](int out) {
                  mkdir(folder.c_str(), 0700);
                  int own = ListenAt(endpoint);
                  std::string error;
                  transport::Socket s = transport::Connect(endpoint, &error);
                  if (write(out, error.data(), error.size()) < 0) return 98;
                  return own >= 0 && s != transport::NO_SOCKET ? 0 : 1;
                },
                &said),
            0)
      << said;
  std::filesystem::remove_all(folder);
}

// An agent run with --group: its members and root reach it through a folder and socket of the
// group; everyone else is refused by the file system or by the agent, and told which group it
// takes. A client trusts such an agent (one not of its own user) only when it runs as root or as
// the system agent's user in a folder of its own that no one else may write in, so the attacks
// on the default endpoint fail here too: a folder that others may write in, a symbolic link to
// the folder, a listener of another user, a folder taken first by another user.
TEST_F(TrustTest, GroupMembersReachAGroupAgentAndEveryoneElseIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as several users";
  const group* users = getgrnam("users");
  if (users == nullptr) GTEST_SKIP() << "needs the group users";
  gid_t gid = users->gr_gid;
  uid_t member = 200000 + static_cast<uid_t>(getpid() % 100000);
  std::string folder = dir_ + "/run";
  std::string endpoint = folder + "/agent.sock";
  chmod(dir_.c_str(), 0755);

  std::string errors;
  EXPECT_EQ(RunAgent(AgentArgs({"--group", "no-such-group-here"}), &errors), 2);
  EXPECT_NE(errors.find("unknown group no-such-group-here"), std::string::npos) << errors;
  mkdir(folder.c_str(), 0750);
  Own(folder, 65534);
  EXPECT_EQ(RunAgent(AgentArgs({"--socket", endpoint, "--group", "users"}), &errors), 1);
  EXPECT_NE(
      errors.find(folder + " cannot hold the socket of group users: it belongs to user 65534"),
      std::string::npos)
      << errors;
  rmdir(folder.c_str());

  // A missing folder is made for the group.
  socket_ = endpoint;
  agent_->socket = endpoint;
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--group", "users"}));
  struct stat st;
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(st.st_gid, gid);
  ASSERT_EQ(stat(endpoint.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  EXPECT_EQ(st.st_gid, gid);

  auto connectTo = [](const std::string& path) {
    return [path](int out) {
      setenv("ORVU_AGENT_SOCKET", path.c_str(), 1);
      AgentFrameworkInit();
      AgentHandle agent = AgentConnect("admin", 0, 0, 0);
      char text[512];
      std::string said = AgentErrorText(AgentGetLastError(), text, sizeof text);
      if (write(out, said.data(), said.size()) < 0) return 98;
      return agent != 0 ? 0 : 1;
    };
  };
  std::string said;
  EXPECT_EQ(RunAs(member, connectTo(endpoint), &said, {gid}), 0) << said;
  EXPECT_EQ(RunAs(member, connectTo(endpoint), &said), 1);
  EXPECT_NE(
      said.find("the socket " + endpoint + " lies in the folder " + folder + " of root (uid 0)"),
      std::string::npos)
      << said;
  EXPECT_NE(said.find("may not enter: run oaset as its owner or as a member of group users, "),
            std::string::npos)
      << said;
  // Past the file system, the agent itself refuses a non-member.
  chmod(folder.c_str(), 0755);
  chmod(endpoint.c_str(), 0666);
  EXPECT_EQ(RunAs(member, connectTo(endpoint), &said), 1);
  EXPECT_NE(said.find("it serves its own user and the members of group users only"),
            std::string::npos)
      << said;

  const std::string untrusted = "no trusted agent at ";
  chmod(folder.c_str(), 0770);
  EXPECT_EQ(RunAs(member, connectTo(endpoint), &said, {gid}), 1);
  EXPECT_EQ(said, untrusted + endpoint + ": the process listening at " + endpoint +
                      " runs as user 0, not as this user, and " + folder +
                      " is not the agent's own folder: others may write in it (mode 770)");
  chmod(folder.c_str(), 0750);
  std::string link = dir_ + "/link";
  std::filesystem::create_directory_symlink(folder, link);
  EXPECT_EQ(RunAs(member, connectTo(link + "/agent.sock"), &said, {gid}), 1);
  EXPECT_EQ(said, untrusted + link + "/agent.sock: the process listening at " + link +
                      "/agent.sock runs as user 0, not as this user, and " + link +
                      " is not the agent's own folder: it is a symbolic link");

  // A listener of another user, in a folder of its own made just like the agent's.
  std::string foreign = dir_ + "/foreign";
  std::string foreignSocket = foreign + "/agent.sock";
  mkdir(foreign.c_str(), 0755);
  Own(foreign, 65534);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t impostor = fork();
  if (impostor == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
    int s = ListenAt(foreignSocket);
    chmod(foreignSocket.c_str(), 0666);
    if (write(ready[1], "x", 1) != 1 || s < 0) _exit(1);
    pause();
    _exit(0);
  }
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  EXPECT_EQ(RunAs(member, connectTo(foreignSocket), &said, {gid}), 1);
  EXPECT_EQ(said, untrusted + foreignSocket + ": the process listening at " + foreignSocket +
                      " runs as user 65534, not as this user");
  kill(impostor, SIGTERM);
  waitpid(impostor, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  // A start that cannot give the folder it made to the group (its user is no member) leaves no
  // folder behind, and a later start, once the user may, makes it.
  std::string own = dir_ + "/member-own";
  std::string runFolder = own + "/run";
  ASSERT_EQ(mkdir(own.c_str(), 0755), 0);
  Own(own, member);
  auto startAs = [&](const std::vector<gid_t>& groups, std::string* errors) {
    return RunAs(
        member,
        [&](int out) {
          // Only as its standard error: a detached agent keeps no other end of the pipe.
          dup2(out, 2);
          close(out);
          setenv("ORVU_MIB_PATH", MibsDir().c_str(), 1);
          std::string program = AgentPath(), at = runFolder + "/agent.sock";
          std::string state = own + "/state", pidFile = own + "/agent.pid";
          execl(program.c_str(), program.c_str(), "--socket", at.c_str(), "--state", state.c_str(),
                "--group", "users", "--detach", "--pid-file", pidFile.c_str(),
                static_cast<char*>(nullptr));
          return 127;
        },
        errors, groups);
  };
  EXPECT_EQ(startAs({}, &errors), 1);
  EXPECT_NE(errors.find("cannot give " + runFolder + " to group users: Operation not permitted"),
            std::string::npos)
      << errors;
  EXPECT_FALSE(std::filesystem::exists(runFolder));
  EXPECT_EQ(startAs({gid}, &errors), 0) << errors;
  pid_t detached = static_cast<pid_t>(std::atol(Slurp(own + "/agent.pid").c_str()));
  ASSERT_GT(detached, 0);
  kill(detached, SIGTERM);
  for (int i = 0; i < 500 && kill(detached, 0) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A member of the group that holds as many registered clients as it can, opens a listing on each
// and writes the largest values SNMP carries until it is refused: it gets its share and no more,
// the owner is served all the while, and the state file stays within its bound.
TEST_F(TrustTest, AMemberOfTheGroupCannotCrowdOutTheOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as several users";
  const group* users = getgrnam("users");
  if (users == nullptr) GTEST_SKIP() << "needs the group users";
  gid_t gid = users->gr_gid;
  uid_t member = 200000 + static_cast<uid_t>(getpid() % 100000);
  // scripts/hardening-long.sh runs it with the figures of the attack: 984 clients, 50,000 rows,
  // 200 of the largest values SNMP carries (65,535 bytes; a megabyte is refused outright) against
  // a bound of 64 MiB.
  const int rows = EnvCount("OASET_MEMBER_ROWS", 2000);
  const int clients = EnvCount("OASET_MEMBER_CLIENTS", 200);
  const uint32_t values = static_cast<uint32_t>(EnvCount("OASET_MEMBER_VALUES", 12));
  const size_t bound = static_cast<size_t>(EnvCount("OASET_MEMBER_STATE_MIB", 1)) << 20;
  fileLimit_ =
      static_cast<unsigned>(clients) * 4 / 5;  // the agent takes fewer than the member asks
  chmod(dir_.c_str(), 0755);
  socket_ = dir_ + "/run/agent.sock";
  agent_->socket = socket_;
  ASSERT_TRUE(StartAgent({"--module", "VORNEL-VNBEEP-MIB", "--group", "users", "--max-state-bytes",
                          std::to_string(bound >> 20) + "M"}));
  int go[2], report[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(report), 0);
  pid_t child = fork();
  if (child == 0) {
    close(go[1]);
    close(report[0]);
    char byte = 0;
    if (setgroups(1, &gid) != 0 || setgid(gid) != 0 || setuid(member) != 0 ||
        read(go[0], &byte, 1) != 1)
      _exit(99);
    setenv("ORVU_AGENT_SOCKET", socket_.c_str(), 1);
    AgentFrameworkInit();
    std::vector<AgentHandle> held;
    std::string said[3];
    for (int i = 0; i < clients; ++i) {
      AgentHandle h = AgentConnect("member", 0, 0, 0);
      if (h != 0) held.push_back(h);
      if (h == 0 && said[0].empty()) said[0] = LastErrorText();
    }
    size_t listed = 0, written = 0;
    for (AgentHandle h : held) {
      TableInstanceInfo info{};
      info.size = sizeof info;
      if (AgentEnumTableInstances(h, 0, 1, &info) != 0)
        ++listed;
      else if (said[1].empty())
        said[1] = LastErrorText();
    }
    std::string largest(65535, 'm');
    for (uint32_t row = 1; row <= values; ++row) {
      TestOid object = LeafOid(11, {row});
      SnmpValue value{};
      value.syntax = 68;
      value.number = static_cast<uint32_t>(largest.size());
      value.data = reinterpret_cast<uintptr_t>(largest.data());
      uint32_t data = AgentGetDataHandle(held[0], 1, object.Ptr());
      if (data != 0 && AgentSetData(held[0], 1, data, &value) != 0)
        ++written;
      else if (said[2].empty())
        said[2] = LastErrorText();
    }
    std::string text = std::to_string(held.size()) + " " + std::to_string(listed) + " " +
                       std::to_string(written) + "\n" + said[0] + "\n" + said[1] + "\n" + said[2] +
                       "\n";
    if (write(report[1], text.data(), text.size()) < 0) _exit(98);
    close(report[1]);
    read(go[0], &byte, 1);  // holds everything until the owner has been served
    _exit(0);
  }
  close(go[0]);
  close(report[1]);
  setenv("ORVU_AGENT_SOCKET", socket_.c_str(), 1);
  AgentHandle owner = Connect();
  for (uint32_t row = 1; row <= static_cast<uint32_t>(rows); ++row) CreateInstance(owner, row);
  long base = StatusKiB(agent_->pid);
  ASSERT_EQ(write(go[1], "g", 1), 1);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  std::istringstream in(text);
  size_t connected = 0, listed = 0, written = 0;
  in >> connected >> listed >> written;
  std::string said[3];
  in.ignore();
  for (std::string& line : said) std::getline(in, line);

  // What the agent holds for the member's listings stays within its budget.
  long held = StatusKiB(agent_->pid) - base;
  EXPECT_TRUE(!MEMORY_MEASURED || held < static_cast<long>(SERVER_BUFFER_BUDGET_KIB + 48 * 1024))
      << held;
  EXPECT_GT(connected, 0u);
  EXPECT_LT(connected, static_cast<size_t>(clients) / 2);
  EXPECT_NE(said[0].find("holds " + std::to_string(connected) +
                         " connections, as many as one member of the group may"),
            std::string::npos)
      << said[0];
  // Refused at 16 open listings, or before when their snapshots pass the member's share.
  EXPECT_GT(listed, 0u);
  EXPECT_LE(listed, 16u);
  EXPECT_TRUE(said[1].find("holds 16 open listings, as many as one member of the group may") !=
                  std::string::npos ||
              said[1].find("past the members' share of the agent's memory") != std::string::npos)
      << said[1];
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, values);
  EXPECT_NE(said[2].find("would pass the share of user " + std::to_string(member)),
            std::string::npos)
      << said[2];
  EXPECT_NE(said[2].find("(--max-state-bytes)"), std::string::npos) << said[2];

  // Another member still has room for a value of its own.
  auto writeAs = [&](int) {
    setenv("ORVU_AGENT_SOCKET", socket_.c_str(), 1);
    AgentFrameworkInit();
    AgentHandle h = AgentConnect("another member", 0, 0, 0);
    std::string largest(65535, 'a');
    TestOid object = LeafOid(11, {static_cast<uint32_t>(rows) - 1});
    SnmpValue value{};
    value.syntax = 68;
    value.number = static_cast<uint32_t>(largest.size());
    value.data = reinterpret_cast<uintptr_t>(largest.data());
    uint32_t data = h != 0 ? AgentGetDataHandle(h, 1, object.Ptr()) : 0;
    return data != 0 && AgentSetData(h, 1, data, &value) != 0 ? 0 : 1;
  };
  std::string ignored;
  EXPECT_EQ(RunAs(member + 1, writeAs, &ignored, {gid}), 0);
  // The owner still gets a place, a listing and room for a value of its own.
  AgentHandle another = AgentConnect("owner", 0, 0, 0);
  EXPECT_NE(another, 0u) << LastErrorText();
  TableInstanceInfo first = FirstInstance(another, 1);
  EXPECT_EQ(first.instanceHandle, 1u);
  std::string largest(65535, 'o');
  TestOid object = LeafOid(11, {static_cast<uint32_t>(rows)});
  SnmpValue value{};
  value.syntax = 68;
  value.number = static_cast<uint32_t>(largest.size());
  value.data = reinterpret_cast<uintptr_t>(largest.data());
  uint32_t data = AgentGetDataHandle(another, 1, object.Ptr());
  EXPECT_NE(data != 0 && AgentSetData(another, 1, data, &value) != 0, 0) << LastErrorText();
  struct stat st;
  ASSERT_EQ(stat(state_.c_str(), &st), 0);
  EXPECT_LE(static_cast<size_t>(st.st_size), bound);
  ASSERT_EQ(write(go[1], "d", 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(go[1]);
  close(report[0]);
  std::printf(
      "group shares: a member with %d clients got %zu places, %zu listings of %d rows and %zu "
      "values of 65,535 bytes (agent grew %ld KiB); the owner served, the state file %ld bytes of "
      "at most %zu\n",
      clients, connected, listed, rows, written, held, static_cast<long>(st.st_size), bound);
}

// Every file the agent makes is opened so that a planted symbolic link or another user's file is
// refused, never followed: the file it points at stays as it was.
TEST_F(TrustTest, PlantedLinksAndForeignFilesAreRefusedNotFollowed) {
  std::string target = dir_ + "/precious";
  std::ofstream(target) << "precious\n";
  std::string pidFile = dir_ + "/agent.pid";
  struct Case {
    std::string link;
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {pidFile,
       {"--pid-file", pidFile},
       "refusing to write pid file " + pidFile + ": it is a symbolic link"},
      {state_, {}, "cannot read state file " + state_ + ": it is a symbolic link"},
      {socket_ + ".lock", {}, "refusing to use " + socket_ + ".lock: it is a symbolic link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.link);
    std::filesystem::remove(c.link);
    std::filesystem::create_symlink(target, c.link);
    std::string errors;
    EXPECT_EQ(RunAgent(AgentArgs(c.args), &errors), 1);
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
    EXPECT_EQ(Slurp(target), "precious\n");
    std::filesystem::remove(c.link);
    std::filesystem::remove(state_);
  }
  // Files the agent writes aside and renames, or keeps, under a name that another user's file or
  // a link holds already (a folder shared with others) are left alone: the agent writes beside
  // them under a name of its own, says so, and starts.
  WriteState("module VORNEL-VNBEEP-MIB\n");  // written by hand: kept as it was, then rewritten
  std::string endpointFile = dir_ + "/endpoint";
  std::vector<std::string> planted = {state_ + ".new", state_ + ".old", endpointFile + ".new"};
  for (const std::string& name : planted) {
    std::filesystem::create_symlink(target, name);
    if (geteuid() == 0) {
      ASSERT_EQ(lchown(name.c_str(), 65534, 65534), 0);
    }
  }
  std::string pidFileOfDetached = dir_ + "/detached.pid";
  OasetRun started = RunAgentToEnd(AgentArgs({"--detach", "--pid-file", pidFileOfDetached, "--tcp",
                                              "127.0.0.1:0", "--endpoint", endpointFile}),
                                   0, agent_->options.env);
  EXPECT_EQ(started.status, 0) << started.err;
  for (const std::string& name : planted) {
    EXPECT_NE(started.err.find("left alone " + name +
                               ": it exists and is not a file of this user (a symbolic link); "
                               "wrote " +
                               name + "."),
              std::string::npos)
        << started.err;
    EXPECT_TRUE(std::filesystem::is_symlink(name)) << name;
  }
  EXPECT_EQ(Slurp(target), "precious\n");
  EXPECT_NE(Slurp(endpointFile).find("secret="), std::string::npos);
  EXPECT_NE(ReadState().find("sealed in a chain"), std::string::npos) << ReadState();
  pid_t detached = static_cast<pid_t>(std::atol(Slurp(pidFileOfDetached).c_str()));
  ASSERT_GT(detached, 0);
  kill(detached, SIGTERM);
  for (int i = 0; i < 500 && kill(detached, 0) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (const std::string& name : planted) std::filesystem::remove(name);
  for (const auto& file : std::filesystem::directory_iterator(dir_)) {
    std::string name = file.path().string();
    if (name.rfind(state_ + ".old.", 0) == 0) std::filesystem::remove(name);
  }
  if (geteuid() == 0) {
    WriteState("module VORNEL-VNBEEP-MIB\n");
    Own(state_, 65534);
    std::string errors;
    EXPECT_EQ(RunAgent(AgentArgs({}), &errors), 1);
    EXPECT_NE(errors.find("cannot read state file " + state_ + ": it is not a file of this user"),
              std::string::npos)
        << errors;
  }
}

// The lock is on the file, not on its name: another name for a running agent's state file does
// not start a second agent, and agents racing for one stale socket leave exactly one serving.
TEST_F(TrustTest, OneAgentPerStateFileAndPerSocketWhateverThePath) {
  ASSERT_TRUE(StartAgent());
  std::string other = dir_ + "/another-name";
  ASSERT_EQ(link(state_.c_str(), other.c_str()), 0);
  std::string before = ReadState();
  std::string errors;
  EXPECT_EQ(RunAgent({"--socket", dir_ + "/b.sock", "--state", other}, &errors), 1);
  EXPECT_NE(errors.find("state file " + other + " is in use by another agent"), std::string::npos)
      << errors;
  EXPECT_EQ(ReadState(), before);
  StopAgent();

  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    // A socket file that nobody listens at any more.
    int stale = ListenAt(socket_);
    ASSERT_GE(stale, 0);
    close(stale);
    std::vector<pid_t> agents;
    for (int i = 0; i < 2; ++i) {
      pid_t pid = fork();
      if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        std::string program = AgentPath();
        std::string state = dir_ + "/race" + std::to_string(i);
        execl(program.c_str(), program.c_str(), "--socket", socket_.c_str(), "--state",
              state.c_str(), static_cast<char*>(nullptr));
        _exit(127);
      }
      agents.push_back(pid);
    }
    // One of the two gives up; the other serves at the socket.
    int exited = 0;
    for (int wait = 0; wait < 500 && exited == 0; ++wait) {
      for (pid_t& pid : agents) {
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
          EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
          pid = -1;
          ++exited;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(exited, 1);
    AgentFrameworkInit();
    AgentHandle agent = AgentConnect("racer", 0, 0, 0);
    EXPECT_NE(agent, 0u) << LastErrorText();
    AgentFrameworkCleanup();
    for (pid_t pid : agents) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
}

// Every signal that would end the agent stops it cleanly, or is ignored; the pid file is locked
// while the agent runs, so a file left by a killed agent is known not to name it.
TEST_F(TrustTest, StopSignalsStopCleanlyAndThePidFileIsHeldWhileTheAgentRuns) {
  std::string pidFile = dir_ + "/agent.pid";
  ASSERT_TRUE(StartAgent({"--pid-file", pidFile}));
  for (int signal : {SIGXFSZ, SIGIO, SIGPIPE, SIGURG, SIGWINCH}) {
    kill(agent_->pid, signal);
  }
  AgentHandle served = Connect();
  EXPECT_NE(served, 0u) << "still serving after the ignored signals";
  AgentFrameworkCleanup();
  StopAgent();
  for (int signal : {SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGINT, SIGALRM, SIGVTALRM, SIGPROF, SIGPWR,
                     SIGSTKFLT, SIGXCPU, SIGRTMIN, SIGRTMIN + 5, SIGRTMAX}) {
    SCOPED_TRACE(signal);
    ASSERT_TRUE(StartAgent({"--pid-file", pidFile}));
    kill(agent_->pid, signal);
    int status = 0;
    waitpid(agent_->pid, &status, 0);
    agent_->pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(socket_));
    EXPECT_FALSE(std::filesystem::exists(pidFile));
  }
  ASSERT_TRUE(StartAgent({"--pid-file", pidFile}));
  int fd = open(pidFile.c_str(), O_RDONLY);
  EXPECT_NE(flock(fd, LOCK_SH | LOCK_NB), 0);
  EXPECT_EQ(std::stoi(Slurp(pidFile)), agent_->pid);
  std::string errors;
  EXPECT_EQ(RunAgent({"--socket", dir_ + "/b.sock", "--state", dir_ + "/b", "--pid-file", pidFile},
                     &errors),
            1);
  EXPECT_NE(errors.find("pid file " + pidFile + " is held by a running agent"), std::string::npos)
      << errors;
  KillAgent();
  EXPECT_EQ(flock(fd, LOCK_SH | LOCK_NB), 0);
  close(fd);
}

// Connections that never register lose their place after a short while; registered clients
// that say nothing keep theirs.
TEST_F(TrustTest, ConnectionsThatNeverRegisterDoNotLockClientsOut) {
  fileLimit_ = 48;
  ASSERT_TRUE(StartAgent());
  AgentHandle idle = Connect("idle but registered");
  std::vector<int> silent;
  for (int i = 0; i < 40; ++i) silent.push_back(RawConnect(socket_));
  AgentHandle late = 0;
  for (int attempt = 0; attempt < 100 && late == 0; ++attempt) {
    late = AgentConnect("late", 0, 0, 0);
    if (late == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(late, 0u) << LastErrorText();
  char name[128];
  uint32_t handle = 0;
  EXPECT_NE(AgentEnumModules(idle, 0, name, sizeof name, &handle), 0) << LastErrorText();
  for (int s : silent) close(s);
}

// Inherited descriptors count against the limit: the agent admits what it can serve, refuses the
// rest with a reason, never leaves a newcomer hanging and never spins.
TEST_F(TrustTest, InheritedDescriptorsAreReckonedAndTheAgentDoesNotSpin) {
  std::vector<int> inherited;
  for (int i = 0; i < 40; ++i) inherited.push_back(open("/dev/null", O_RDONLY));
  fileLimit_ = 64;
  bool started = StartAgent();
  for (int fd : inherited) close(fd);
  ASSERT_TRUE(started);
  std::vector<int> clients;
  int admitted = 0, refused = 0;
  for (int i = 0; i < 30; ++i) {
    int s = RawConnect(socket_);
    proto::Request q;
    q.op = proto::Op::Register;
    q.clientName = "fd";
    std::string hello = proto::Frame(proto::EncodeRequest(q));
    send(s, hello.data(), hello.size(), MSG_NOSIGNAL);
    uint8_t reply[8];
    ssize_t n = recv(s, reply, sizeof reply, MSG_WAITALL);
    if (n == 8 && wire::GetU32(reply + 4) == 0) ++admitted;
    if (n == 8 && wire::GetU32(reply + 4) == AGENT_ERR_REFUSED) ++refused;
    clients.push_back(s);
  }
  EXPECT_GT(admitted, 0);
  EXPECT_EQ(admitted + refused, 30);
  std::string stat = "/proc/" + std::to_string(agent_->pid) + "/stat";
  auto cpuTicks = [&] {
    std::istringstream fields(Slurp(stat).substr(Slurp(stat).rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14 || i == 15) ticks += std::stol(field);
    }
    return ticks;
  };
  long before = cpuTicks();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(cpuTicks() - before, sysconf(_SC_CLK_TCK) / 4);
  for (int s : clients) close(s);
}

long MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

// Unfinished requests and unread replies of many connections share one budget: the agent's
// memory stays near it, what passes it is refused with a reason, and a normal client is served.
TEST_F(TrustTest, UnfinishedInputAndUnsentOutputShareOneBudget) {
  const int holders = EnvCount("OASET_BUDGET_HOLDERS", 160);
  const int askerCount = EnvCount("OASET_BUDGET_ASKERS", 200);
  rlimit files;
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  ASSERT_TRUE(StartAgent());
  long base = StatusKiB(agent_->pid);
  std::vector<int> holding;
  std::string header(4, '\0');
  const uint32_t frame = proto::PROTO_MAX_REQUEST;
  std::memcpy(header.data(), &frame, 4);
  std::string part = header + std::string(1000000, 'x');
  for (int i = 0; i < holders; ++i) {
    int s = RawConnect(socket_);
    send(s, part.data(), part.size(), MSG_NOSIGNAL);
    holding.push_back(s);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int refused = 0;
  for (int s : holding) {
    uint8_t reply[8];
    if (recv(s, reply, sizeof reply, MSG_DONTWAIT) == 8 &&
        static_cast<int32_t>(wire::GetU32(reply + 4)) == AGENT_ERR_REFUSED) {
      ++refused;
    }
  }
  // 64 MiB holds 67 of the largest parts; the rest are turned away with the reason.
  EXPECT_GE(refused, holders - 67);
  long held = StatusKiB(agent_->pid) - base;
  EXPECT_TRUE(!MEMORY_MEASURED || held < static_cast<long>(SERVER_BUFFER_BUDGET_KIB + 32 * 1024))
      << held;
  auto start = std::chrono::steady_clock::now();
  AgentHandle agent = Connect();
  char name[128];
  uint32_t handle = 0;
  EXPECT_NE(AgentEnumModules(agent, 0, name, sizeof name, &handle), 0) << LastErrorText();
  std::printf(
      "budget: %d connections each holding 1,000,000 bytes of a request: %d refused, "
      "agent grew %ld KiB, a client's connect and listing took %ld ms\n",
      holders, refused, held, MillisecondsSince(start));
  for (int s : holding) close(s);

  // Clients with long names that ask for the client list and never read it.
  std::vector<int> askers;
  proto::Request registering;
  registering.op = proto::Op::Register;
  registering.clientName = std::string(proto::PROTO_MAX_NAME, 'n');
  proto::Request list;
  list.op = proto::Op::EnumClients;
  for (int i = 0; i < askerCount; ++i) {
    int s = RawConnect(socket_);
    std::string hello = proto::Frame(proto::EncodeRequest(registering));
    send(s, hello.data(), hello.size(), MSG_NOSIGNAL);
    uint8_t reply[256];
    recv(s, reply, sizeof reply, 0);
    askers.push_back(s);
  }
  std::string ask = proto::Frame(proto::EncodeRequest(list));
  for (int s : askers) send(s, ask.data(), ask.size(), MSG_NOSIGNAL);
  start = std::chrono::steady_clock::now();
  // Served, or, once the others' unread lists fill the budget, refused with the reason.
  bool listed = AgentEnumClients(agent, 0, nullptr) != 0;
  if (!listed) {
    EXPECT_EQ(AgentGetLastError(), AGENT_ERR_REFUSED) << LastErrorText();
  }
  long took = MillisecondsSince(start);
  held = StatusKiB(agent_->pid) - base;
  // The budget, plus what the allocator keeps and the lists being built: far below the 160 MiB
  // that 200 unread lists took before.
  EXPECT_TRUE(!MEMORY_MEASURED || held < static_cast<long>(SERVER_BUFFER_BUDGET_KIB + 48 * 1024))
      << held;
  std::printf(
      "budget: %d clients with %u-byte names asking for the client list without reading "
      "it: agent grew %ld KiB, a client's listing was %s in %ld ms\n",
      askerCount, proto::PROTO_MAX_NAME, held, listed ? "served" : "refused", took);
  for (int s : askers) close(s);
}

// The bound covers the whole reply, not each piece of it: a peer that trickles a byte at a time
// cannot hold a client for longer.
TEST(TransportTest, ATrickledReplyEndsAtTheCallsDeadline) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::thread trickle([&] {
    for (int i = 0; i < 15; ++i) {
      if (send(pair[1], "x", 1, MSG_NOSIGNAL) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  // As the library reads a reply: piece after piece, all under the one deadline of the call.
  char buffer[100];
  auto start = std::chrono::steady_clock::now();
  transport::Deadline deadline = start + std::chrono::milliseconds(1000);
  size_t got = 0;
  for (long n;
       got < sizeof buffer &&
       (n = transport::ReceiveSome(pair[0], buffer + got, sizeof buffer - got, deadline)) > 0;)
    got += static_cast<size_t>(n);
  EXPECT_LT(got, sizeof buffer);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  close(pair[0]);
  trickle.join();
  close(pair[1]);
}

// An agent that never takes a connection (stopped, its backlog full) holds a client only until
// the call's deadline, on the Unix socket and on TCP loopback alike.
TEST(TransportTest, AConnectionNobodyTakesEndsAtTheDeadline) {
  TestAgentOptions folderOnly;
  folderOnly.start = false;
  TestAgent holder(folderOnly);
  std::string path = holder.dir + "/full.sock";
  int unixListener = ListenAt(path);
  ASSERT_GE(unixListener, 0);
  sockaddr_in where{};
  int tcpListener = ListenLoopbackAt(&where, 0);
  ASSERT_GE(tcpListener, 0);
  // Fill both backlogs: the listeners never accept.
  std::vector<int> queued;
  for (int i = 0; i < 16; ++i) {
    int u = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    connect(u, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int t = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(t, reinterpret_cast<sockaddr*>(&where), sizeof where);
    queued.insert(queued.end(), {u, t});
  }
  for (bool overTcp : {false, true}) {
    SCOPED_TRACE(overTcp ? "TCP" : "Unix socket");
    auto start = std::chrono::steady_clock::now();
    transport::Deadline deadline = start + std::chrono::milliseconds(1000);
    std::string error;
    bool refused = false;
    transport::Socket s = overTcp ? transport::ConnectLoopback("127.0.0.1", ntohs(where.sin_port),
                                                               &error, &refused, deadline)
                                  : transport::Connect(path, &error, nullptr, deadline);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(s, transport::NO_SOCKET);
    EXPECT_EQ(error, std::strerror(ETIMEDOUT));
    EXPECT_FALSE(refused);
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    transport::Close(s);
  }
  for (int s : queued) close(s);
  close(unixListener);
  close(tcpListener);
}

// The endpoint file of AGENT, started on TCP loopback (a failure when it cannot be read).
endpoint::Endpoint EndpointOf(const TestAgent& agent) {
  endpoint::Endpoint where;
  bool ignored = false;
  std::string error;
  EXPECT_TRUE(endpoint::ReadEndpointFile(agent.endpoint, &where, &error, &ignored)) << error;
  return where;
}

// A TCP peer first challenges the agent, which proves that it knows the endpoint file's secret,
// then registers with its own proof of the agent's nonce. Anything else is refused with the
// reason and the connection closed; the agent goes on serving the others.
TEST(LoopbackTrustTest, OnlyAPeerThatProvesItselfGetsIn) {
  TestAgentOptions options;
  options.tcp = true;
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  endpoint::Endpoint where = EndpointOf(agent);
  const std::string& secret = where.secret;

  // Requests in order on a fresh connection: the reply of each, and whether the agent closed the
  // connection after the last (looked at only when CLOSE_EXPECTED, since an open one is waited
  // on to the end). PREPARE may fill a request from the replies before it.
  using Prepare = std::function<void(proto::Request*, const std::vector<proto::Reply>&)>;
  auto ask = [&](std::vector<proto::Request> requests, const Prepare& prepare, bool closeExpected) {
    std::string why;
    bool refused = false;
    transport::Socket s = transport::ConnectLoopback(where.address, where.port, &why, &refused);
    EXPECT_NE(s, transport::NO_SOCKET) << why;
    transport::Deadline deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<proto::Reply> replies;
    char buffer[4096];
    for (proto::Request& request : requests) {
      if (prepare) prepare(&request, replies);
      std::string frame = proto::Frame(proto::EncodeRequest(request));
      EXPECT_TRUE(transport::SendAll(s, frame.data(), frame.size(), deadline));
      std::string in;
      long n = 1;
      while (n > 0 && (in.size() < 4 ||
                       in.size() < 4 + wire::GetU32(reinterpret_cast<const uint8_t*>(in.data())))) {
        n = transport::ReceiveSome(s, buffer, sizeof buffer, deadline);
        if (n > 0) in.append(buffer, static_cast<size_t>(n));
      }
      proto::Reply& reply = replies.emplace_back();
      EXPECT_TRUE(in.size() >= 4 &&
                  proto::DecodeReply(request.op, reinterpret_cast<const uint8_t*>(in.data()) + 4,
                                     in.size() - 4, &reply))
          << "no reply";
      if (reply.status != 0) break;
    }
    if (closeExpected) {
      EXPECT_EQ(transport::ReceiveSome(s, buffer, sizeof buffer, deadline), 0);
    }
    transport::Close(s);
    return replies;
  };
  const std::string reason =
      "the agent refused the connection: the peer did not prove that it knows the secret of its "
      "endpoint file";
  proto::Request challenge;
  challenge.op = proto::Op::Challenge;
  challenge.nonce = proof::FreshNonce();
  proto::Request registration;
  registration.op = proto::Op::Register;
  registration.clientName = "loopback";
  proto::Request listing;
  listing.op = proto::Op::EnumModules;
  // The client's proof of the agent's nonce under KEY.
  auto proving = [&](const std::string& key) {
    return [&, key](proto::Request* request, const std::vector<proto::Reply>& replies) {
      if (request->op == proto::Op::Register && !replies.empty()) {
        ASSERT_TRUE(proof::ClientProof(key, challenge.nonce, replies[0].nonce, &request->proof));
      }
    };
  };
  std::string wrong = secret;
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  proto::Request shortChallenge = challenge;
  shortChallenge.nonce.pop_back();
  proto::Request plainSecret = registration;
  plainSecret.proof = secret;  // what clients sent before: the secret itself opens nothing
  proto::Request agentsOwn = registration;
  struct Case {
    const char* what;
    std::vector<proto::Request> requests;
    Prepare prepare;
  };
  const Prepare echoAgentProof = [](proto::Request* request,
                                    const std::vector<proto::Reply>& replies) {
    if (request->op == proto::Op::Register && !replies.empty()) request->proof = replies[0].proof;
  };
  for (const Case& c : std::vector<Case>{
           {"registration first", {registration}, nullptr},
           {"the secret itself", {plainSecret}, nullptr},
           {"a listing first", {listing}, nullptr},
           {"a short challenge", {shortChallenge}, nullptr},
           {"a proof under another secret", {challenge, registration}, proving(wrong)},
           {"the agent's proof sent back", {challenge, agentsOwn}, echoAgentProof},
           {"a second challenge", {challenge, challenge}, nullptr},
           {"a listing after the challenge", {challenge, listing}, nullptr},
       }) {
    SCOPED_TRACE(c.what);
    std::vector<proto::Reply> replies = ask(c.requests, c.prepare, true);
    ASSERT_FALSE(replies.empty());
    EXPECT_EQ(replies.back().status, AGENT_ERR_REFUSED);
    EXPECT_EQ(replies.back().text, reason);
  }
  std::vector<proto::Reply> replies = ask({challenge, registration}, proving(secret), false);
  ASSERT_EQ(replies.size(), 2u);
  std::string expected;
  ASSERT_TRUE(proof::AgentProof(secret, challenge.nonce, replies[0].nonce, &expected));
  EXPECT_EQ(replies[0].proof, expected) << "the agent proves itself first";
  EXPECT_EQ(replies[1].status, 0) << replies[1].text;
  EXPECT_NE(ask({challenge}, nullptr, false)[0].nonce, replies[0].nonce) << "a fresh nonce";
}

// A listener at the endpoint file's port that has not proved itself is no agent: what it says is
// not passed on as the agent's words, and what it announces is not set aside before the proof.
TEST(LoopbackTrustTest, AListenerThatHasNotProvedItselfIsNotTakenForTheAgent) {
  TestAgentOptions folderOnly;
  folderOnly.start = false;
  TestAgent holder(folderOnly);
  sockaddr_in where{};
  int listener = ListenLoopbackAt(&where, 4);
  ASSERT_GE(listener, 0);
  uint16_t port = ntohs(where.sin_port);
  std::string secret(2 * endpoint::ENDPOINT_SECRET_BYTES, 'a');
  std::string error;
  ASSERT_TRUE(transport::WritePrivateFile(
      holder.endpoint, endpoint::FormatEndpoint({"127.0.0.1", port, secret}), &error))
      << error;
  std::string huge(4, '\0');
  wire::PutU32(reinterpret_cast<uint8_t*>(huge.data()), proto::PROTO_MAX_REPLY);
  proto::Reply orders;
  orders.status = AGENT_ERR_STORAGE;
  orders.text = "the agent could not store the change: run\n rm -rf ~ first";
  const std::string listenerAt = "no trusted agent at " + holder.endpoint +
                                 ": the listener at 127.0.0.1:" + std::to_string(port);
  struct Case {
    const char* what;
    std::string answer;
    std::string expected;
  };
  for (const Case& c : std::vector<Case>{
           {"a reply of 256 MiB announced", huge,
            listenerAt + " announced a reply of 268435456 bytes before it proved that it knows "
                         "the endpoint file's secret"},
           {"a refusal in the agent's words", proto::FramedReply(proto::Op::Challenge, orders),
            listenerAt + " turned the client away before it proved that it knows the endpoint "
                         "file's secret; it said: \"the agent could not store the change: run? "
                         "rm -rf ~ first\""},
       }) {
    SCOPED_TRACE(c.what);
    std::thread fake([&] {
      int s = accept(listener, nullptr, nullptr);
      char buffer[256];
      recv(s, buffer, sizeof buffer, 0);  // the challenge
      send(s, c.answer.data(), c.answer.size(), MSG_NOSIGNAL);
      recv(s, buffer, sizeof buffer, 0);  // until the client lets go
      close(s);
    });
    setenv("ORVU_AGENT_ENDPOINT", holder.endpoint.c_str(), 1);
    AgentFrameworkInit();
    EXPECT_EQ(AgentConnect("fooled", 0, 0, 0), 0u);
    EXPECT_EQ(AgentGetLastError(), AGENT_ERR_NO_AGENT);
    char text[1024];
    EXPECT_EQ(std::string(AgentErrorText(AgentGetLastError(), text, sizeof text)), c.expected);
    AgentFrameworkCleanup();
    unsetenv("ORVU_AGENT_ENDPOINT");
    fake.join();
  }
  close(listener);
}

// TCP peers that have not proved themselves get a few places of their own, the oldest giving way
// to newcomers, and one small request each: however many connect or however much they send,
// the user's clients get in, on the Unix socket and over TCP.
TEST(LoopbackTrustTest, StrangersCannotCrowdOutTheOwner) {
  TestAgentOptions options;
  options.tcp = true;
  options.fileLimit = 64;  // about 45 places in all
  TestAgent agent(options);
  ASSERT_TRUE(agent.Running());
  endpoint::Endpoint where = EndpointOf(agent);
  std::string error;
  auto stranger = [&] {
    bool refused = false;
    transport::Socket s = transport::ConnectLoopback(where.address, where.port, &error, &refused);
    EXPECT_NE(s, transport::NO_SOCKET) << error;
    return s;
  };
  std::vector<transport::Socket> idle;
  for (int i = 0; i < 60; ++i) idle.push_back(stranger());
  // Each claims a request of a largest and sends part of it.
  std::string header(4, '\0');
  wire::PutU32(reinterpret_cast<uint8_t*>(header.data()), proto::PROTO_MAX_REQUEST);
  std::string part = header + std::string(60000, 'x');
  std::vector<transport::Socket> senders;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  long peak = StatusKiB(agent.pid, "VmPeak:");
  for (int i = 0; i < 20; ++i) {
    senders.push_back(stranger());
    send(senders.back(), part.data(), part.size(), MSG_NOSIGNAL);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // What they announced was never set aside for them, not even for a moment.
  EXPECT_LT(StatusKiB(agent.pid, "VmPeak:") - peak, 512) << "KiB more address space";
  OasetRun own = RunOaset(&agent, {"-o"});
  EXPECT_NE(own.out.find("Module 1: VORNEL-VNBEEP-MIB"), std::string::npos) << own.out;
  OasetRun overTcp = RunOaset(&agent, {"-o"}, {{"ORVU_AGENT_ENDPOINT", agent.endpoint}});
  EXPECT_NE(overTcp.out.find("Module 1: VORNEL-VNBEEP-MIB"), std::string::npos) << overTcp.out;
  // The strangers were told why they were let go.
  size_t evicted = 0, tooLarge = 0;
  char buffer[512];
  for (transport::Socket s : idle) {
    ssize_t n = recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0 &&
        std::string(buffer, static_cast<size_t>(n)).find("newer peers came") != std::string::npos)
      ++evicted;
    transport::Close(s);
  }
  for (transport::Socket s : senders) {
    ssize_t n = recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
    std::string said = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    if (said.find("accepts before a peer proves itself") != std::string::npos ||
        said.find("newer peers came") != std::string::npos)
      ++tooLarge;
    transport::Close(s);
  }
  EXPECT_GE(evicted, 60u - 16u);
  EXPECT_EQ(tooLarge, 20u);
  std::printf(
      "strangers: 60 idle and 20 sending 60,000 bytes of a 1 MiB request: %zu idle "
      "ones let go for newer ones, all 20 senders turned away; the owner served on the "
      "Unix socket and over TCP\n",
      evicted);
}

}  // namespace
}  // namespace orvu::test
