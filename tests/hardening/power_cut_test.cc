#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "agent_process.h"
#include "load_clients.h"
#include "orvu/agent_framework.h"

namespace hardening {
namespace {

// The witness's instances: far above every load client's range.
constexpr uint32_t POWER_CUT_WITNESS_BASE = 90000000;

// What the witness process and the test share.
struct WitnessBoard {
  std::atomic<uint32_t> acknowledged{0};  // the witness's instances 1..N were acknowledged
  std::atomic<bool> stop{false};
};

// Forks a process that makes the witness's instances one after the other, each acknowledged
// before the next, and counts them on BOARD.
pid_t StartWitness(const std::string& socket, WitnessBoard* board) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  setenv("ORVU_AGENT_SOCKET", socket.c_str(), 1);
  AgentFrameworkInit();
  AgentHandle agent = AgentConnect("power-cut-witness", 0, 0, 0);
  std::vector<uint32_t> entryIds = LOAD_ENTRY_OID;
  SnmpOid entry{static_cast<uint32_t>(entryIds.size()), entryIds.data()};
  for (uint32_t n = 1; agent != 0 && !board->stop.load(); ++n) {
    uint32_t index = POWER_CUT_WITNESS_BASE + n;
    SnmpOid instance{1, &index};
    uint32_t handle = 0;
    if (AgentCreateTableEntry(agent, 0, 0, &entry, &instance, &handle) == 0) _exit(1);
    board->acknowledged.store(n);
  }
  _exit(agent != 0 ? 0 : 1);
}

// Where the snapshot of an agent-written IMAGE ends: a power cut never takes bytes from it, as
// the file was on the disk before its name was.
size_t SnapshotEnd(const std::string& image) {
  size_t count = 0;
  size_t of = image.find("snapshot of ");
  if (of != std::string::npos) count = std::strtoul(image.c_str() + of + 12, nullptr, 10);
  size_t at = 0;
  for (size_t line = 0; line <= count && at < image.size(); ++line) {
    size_t end = image.find('\n', at);
    at = end == std::string::npos ? image.size() : end + 1;
  }
  return at;
}

// What a power cut may leave of IMAGE past FROM: all of it, a part of it, or the size without
// the bytes (NULs from a point on, up to a 4 KiB boundary, as ext4 leaves a grown file whose
// data never reached the disk).
std::string Cut(const std::string& image, size_t from, std::mt19937* random, int* nulTails) {
  from = std::min(from, image.size());
  std::uniform_int_distribution<size_t> point(from, image.size());
  switch (std::uniform_int_distribution<int>(0, 2)(*random)) {
    case 0: return image;
    case 1: return image.substr(0, point(*random));
    default: {
      size_t at = point(*random);
      size_t end = std::max<size_t>((image.size() + 4095) / 4096 * 4096, at + 1);
      ++*nulTails;
      return image.substr(0, at) + std::string(end - at, '\0');
    }
  }
}

// Images of the state file at random moments of concurrent changes, each cut as a power cut may
// leave it and loaded by a fresh agent: every image loads, in both modes, with nothing in it that
// was never asked for; with --fsync, every change acknowledged before the image was taken is in
// it (the cut takes only what came after).
TEST(AgentPowerCutTest, EveryImageLoadsAndWithFsyncHoldsEveryAcknowledgedChange) {
  const int images = EnvNumber("OASET_POWERCUT_IMAGES", 6);
  const int seed = EnvNumber("OASET_POWERCUT_SEED", 20261207);
  std::mt19937 random(static_cast<uint32_t>(seed));
  auto* board = static_cast<WitnessBoard*>(mmap(
      nullptr, sizeof(WitnessBoard), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(board, MAP_FAILED);
  for (bool sync : {true, false}) {
    SCOPED_TRACE(sync ? "--fsync" : "default");
    new (board) WitnessBoard();
    TestAgentOptions options;
    if (sync) options.extraArgs = {"--fsync"};
    TestAgent agent(options);
    ASSERT_TRUE(agent.Running());
    TestAgentOptions loaderOptions;
    loaderOptions.start = false;
    TestAgent loader(loaderOptions);
    LoadPlan plan;
    plan.socket = agent.socket;
    plan.clients = EnvNumber("OASET_POWERCUT_CLIENTS", 4);
    plan.rounds = 5;
    plan.maxRounds = 90000;
    plan.stopFile = agent.dir + "/stop";
    plan.reportDir = agent.dir;
    std::vector<pid_t> pids = StartLoadClients(plan);
    pid_t witness = StartWitness(agent.socket, board);
    std::uniform_int_distribution<int> waitMs(10, 120);
    int loaded = 0, nulTails = 0;
    uint32_t checked = 0;
    for (int i = 0; i < images; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(waitMs(random)));
      uint32_t acknowledged = board->acknowledged.load();
      std::string image = agent.ReadState();
      // At most the one creation in flight while the image was taken is there unacknowledged.
      uint32_t inFlight = board->acknowledged.load() + 1;
      size_t from = SnapshotEnd(image);
      if (sync && acknowledged > 0) {
        // Every byte up to the last acknowledged change is on the disk.
        size_t record =
            image.find(" index=" + std::to_string(POWER_CUT_WITNESS_BASE + acknowledged) + " ");
        ASSERT_NE(record, std::string::npos) << "acknowledged before the image, not in it";
        from = std::max(from, image.find('\n', record) + 1);
      }
      std::string cut = Cut(image, from, &random, &nulTails);
      for (const auto& file : std::filesystem::directory_iterator(loader.dir)) {
        if (file.path().filename().string().rfind("state", 0) == 0)
          std::filesystem::remove(file.path());
      }
      loader.WriteState(cut);
      if (!loader.Start()) {
        ADD_FAILURE() << "image " << i << " did not load";
        continue;
      }
      ++loaded;
      std::string error;
      std::map<uint32_t, std::string> held = ReadTable(loader.socket, &error);
      EXPECT_EQ(error, "");
      loader.Stop();
      for (auto it = held.lower_bound(POWER_CUT_WITNESS_BASE); it != held.end(); ++it) {
        EXPECT_LE(it->first - POWER_CUT_WITNESS_BASE, inFlight) << "image " << i << ": never made";
      }
      if (!sync) continue;
      for (uint32_t n = 1; n <= acknowledged; ++n) {
        if (!held.count(POWER_CUT_WITNESS_BASE + n)) {
          ADD_FAILURE() << "image " << i << ": acknowledged instance " << n << " lost";
          break;
        }
      }
      checked += acknowledged;
    }
    board->stop.store(true);
    std::ofstream(plan.stopFile) << "stop\n";
    int status = 0;
    waitpid(witness, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::vector<ClientReport> reports = FinishLoadClients(plan, pids, 120);
    for (const ClientReport& report : reports) {
      for (const std::string& fault : report.faults) ADD_FAILURE() << fault;
    }
    EXPECT_EQ(loaded, images);
    std::printf(
        "powercut: %s, %d images (seed %d), %d loaded, %d with a NUL tail; %u changes "
        "of the witness acknowledged before their image and checked in it\n",
        sync ? "--fsync" : "default", images, seed, loaded, nulTails, checked);
  }
  munmap(board, sizeof(WitnessBoard));
}

}  // namespace
}  // namespace hardening
