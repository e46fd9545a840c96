#include "snmp_master.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

constexpr auto MASTER_START_TIMEOUT = std::chrono::seconds(10);
constexpr auto SUBAGENT_TIMEOUT = std::chrono::seconds(10);
const char SNMPD[] = "/usr/sbin/snmpd";
const char SNMPTRAPD[] = "/usr/sbin/snmptrapd";
const char SYS_UP_TIME[] = ".1.3.6.1.2.1.1.3.0";

// A UDP port on the loopback that nothing holds right now.
int FreeUdpPort() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) close(fd);
  return port;
}

// net-snmp reads no MIB files here: the tests speak numeric OIDs only, and the system's MIB
// folder lacks the modules that its default list names.
std::map<std::string, std::string> NetSnmpEnvironment(const std::string& dir) {
  return {{"MIBS", ""}, {"SNMPCONFPATH", dir}, {"SNMP_PERSISTENT_DIR", dir + "/persist"}};
}

bool Answers(const TestMaster& master, const std::string& oid, const std::string& expected) {
  OasetRun run = Snmp(master, "snmpget", {"-t", "1", "-r", "0", oid});
  return run.status == 0 && run.out.find(expected) != std::string::npos;
}

}  // namespace

TestMaster::TestMaster(bool start) {
  std::string pattern = (std::filesystem::temp_directory_path() / "oaset-master-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  dir = pattern;
  agentxSocket = dir + "/agentx.sock";
  address = "udp:127.0.0.1:" + std::to_string(FreeUdpPort());
  if (start) Start();
}

TestMaster::~TestMaster() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

bool TestMaster::Start() {
  if (pid > 0) return true;
  std::ofstream config(dir + "/snmpd.conf");
  config << "master agentx\n"
         << "agentXSocket " << agentxSocket << "\n"
         << "agentXPerms 0600 0700\n"
         << "rwcommunity private 127.0.0.1\n";
  for (const std::string& line : extraConfig) config << line << "\n";
  config.close();
  // -C: this configuration only; -I -smux: no SMUX listener on the shared port 199.
  std::string without = "-smux";
  for (const std::string& module : withoutModules) without += "," + module;
  pid = StartProgram(SNMPD,
                     {"-f", "-Lf", dir + "/snmpd.log", "-C", "-c", dir + "/snmpd.conf", "-I",
                      without, "-p", dir + "/snmpd.pid", address},
                     NetSnmpEnvironment(dir));
  if (pid <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + MASTER_START_TIMEOUT;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Answers(*this, SYS_UP_TIME, "Timeticks")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "e2e: snmpd did not answer at %s\n", address.c_str());
  Stop();
  return false;
}

void TestMaster::Stop() {
  StopProgram(pid);
  pid = -1;
}

OasetRun Snmp(const TestMaster& master, const std::string& tool, std::vector<std::string> args) {
  std::vector<std::string> all = {"-v2c", "-c", "private", "-On", master.address};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram("/usr/bin/" + tool, all, NetSnmpEnvironment(master.dir));
}

bool WaitForSubagent(const TestMaster& master, const std::string& oid) {
  auto deadline = std::chrono::steady_clock::now() + SUBAGENT_TIMEOUT;
  while (std::chrono::steady_clock::now() < deadline) {
    OasetRun run = Snmp(master, "snmpget", {"-t", "1", "-r", "0", oid});
    if (run.status == 0 && run.out.find("No Such Object") == std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "e2e: the subagent did not answer for %s\n", oid.c_str());
  return false;
}

std::vector<std::string> AgentxArgs(const TestMaster& master) {
  return {"--agentx", master.agentxSocket};
}

TestTrapReceiver::TestTrapReceiver() {
  std::string pattern = (std::filesystem::temp_directory_path() / "oaset-traps-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  dir = pattern;
  address = "127.0.0.1:" + std::to_string(FreeUdpPort());
  std::ofstream config(dir + "/snmptrapd.conf");
  config << "disableAuthorization yes\n";
  config.close();
  // -f: in the foreground; -On: numeric OIDs; -Lf: the log this test reads.
  pid = StartProgram(SNMPTRAPD,
                     {"-f", "-On", "-Lf", dir + "/traps.log", "-C", "-c", dir + "/snmptrapd.conf",
                      "-p", dir + "/snmptrapd.pid", "udp:" + address},
                     NetSnmpEnvironment(dir));
}

TestTrapReceiver::~TestTrapReceiver() {
  StopProgram(pid);
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

std::string TestTrapReceiver::Log() const {
  std::ifstream in(dir + "/traps.log");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TestTrapReceiver::WaitFor(const std::string& text, size_t times) const {
  auto deadline = std::chrono::steady_clock::now() + SUBAGENT_TIMEOUT;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string log = Log();
    size_t found = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++found;
    if (found >= times) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::fprintf(stderr, "e2e: snmptrapd did not log %zu of %s:\n%s\n", times, text.c_str(),
               Log().c_str());
  return false;
}
