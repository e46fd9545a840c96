#include "load_clients.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "orvu/agent_framework.h"
#include "protocol/agent_errors.h"

namespace hardening {

const std::vector<uint32_t> LOAD_ENTRY_OID = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t INDEX_RANGE = 100000;
constexpr auto RECONNECT_LIMIT = std::chrono::seconds(30);

SnmpOid OidOf(std::vector<uint32_t>& ids) {
  return SnmpOid{static_cast<uint32_t>(ids.size()), ids.data()};
}

std::string ReportPath(const LoadPlan& plan, int client) {
  return plan.reportDir + "/client-" + std::to_string(client);
}

bool IsConnectionLoss(int code) {
  return code == orvu::AGENT_ERR_CONNECTION_LOST || code == orvu::AGENT_ERR_NO_AGENT ||
         code == orvu::AGENT_ERR_BAD_CONNECTION;
}

std::string LastErrorText() {
  int code = AgentGetLastError();
  char text[256];
  AgentErrorText(code, text, sizeof text);
  return std::to_string(code) + " " + text;
}

class LoadClient {
 public:
  LoadClient(const LoadPlan& plan, int id) : plan_(plan), id_(id) {}

  void Run() {
    setenv("ORVU_AGENT_SOCKET", plan_.socket.c_str(), 1);
    AgentFrameworkInit();
    if (!Connect()) {
      report_.faults.push_back("cannot connect: " + LastErrorText());
      return;
    }
    int limit = plan_.stopFile.empty() ? plan_.rounds : plan_.maxRounds;
    for (int round = 0; round < limit; ++round) {
      if (round >= plan_.rounds && access(plan_.stopFile.c_str(), F_OK) == 0) break;
      Round(round);
      report_.rounds = round + 1;
    }
    AgentDisconnect(agent_);
    AgentFrameworkCleanup();
    report_.finished = true;
  }

  void WriteReport() const {
    std::string path = ReportPath(plan_, id_);
    {
      std::ofstream out(path + ".new");
      out << "rounds " << report_.rounds << "\nreconnects " << report_.reconnects << "\nmaxwait "
          << report_.maxWaitMs << "\n";
      for (const std::string& fault : report_.faults) out << "fault " << fault << "\n";
      for (const auto& [index, ledger] : report_.instances) {
        out << "instance " << index << " " << static_cast<char>(ledger.created) << " "
            << static_cast<char>(ledger.valueSet) << " " << static_cast<char>(ledger.removed) << " "
            << ledger.value << "\n";
      }
      if (report_.finished) out << "finished\n";
    }
    std::rename((path + ".new").c_str(), path.c_str());
  }

 private:
  bool Connect() {
    std::vector<uint32_t> entryIds = LOAD_ENTRY_OID;
    SnmpOid entryOid = OidOf(entryIds);
    auto deadline = Clock::now() + RECONNECT_LIMIT;
    do {
      agent_ = AgentConnect(("load-client-" + std::to_string(id_)).c_str(), 0, 0, 0);
      if (agent_ != 0) {
        entry_ = AgentFindTableEntry(agent_, &entryOid);
        if (entry_ != 0) return true;
        AgentDisconnect(agent_);
        agent_ = 0;
      }
      if (!plan_.survivesAgentLoss) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline);
    return false;
  }

  // One call, timed. A failure is the agent's fault unless the agent went away under a plan that
  // expects that; then the connection is made anew.
  bool Call(const char* what, const std::function<bool()>& call) {
    auto start = Clock::now();
    bool ok = call();
    long waited = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    report_.maxWaitMs = std::max(report_.maxWaitMs, waited);
    if (ok) return true;
    int code = AgentGetLastError();
    if (plan_.survivesAgentLoss && IsConnectionLoss(code)) {
      AgentDisconnect(agent_);
      ++report_.reconnects;
      if (!Connect()) report_.faults.push_back("cannot reconnect: " + LastErrorText());
    } else {
      report_.faults.push_back(std::string(what) + " failed: " + LastErrorText());
    }
    return false;
  }

  void Round(int round) {
    uint32_t index = LoadIndex(id_, round);
    InstanceLedger& ledger = report_.instances[index];
    std::vector<uint32_t> indexIds = {index};
    SnmpOid indexOid = OidOf(indexIds);
    std::vector<uint32_t> entryIds = LOAD_ENTRY_OID;
    SnmpOid entryOid = OidOf(entryIds);
    uint32_t handle = 0;
    ledger.created = Outcome::UNKNOWN;
    if (Call("create", [&] {
          return AgentCreateTableEntry(agent_, 0, 0, &entryOid, &indexOid, &handle) != 0;
        })) {
      ledger.created = Outcome::ACKED;
      handles_[index] = handle;
      SetDescr(index, &ledger, "client" + std::to_string(id_) + "-round" + std::to_string(round));
    }
    CheckListing();
    // Every third instance stays; the others go one round after they came.
    if (round > 0 && (round - 1) % 3 != 0) Remove(LoadIndex(id_, round - 1));
  }

  void SetDescr(uint32_t index, InstanceLedger* ledger, const std::string& text) {
    std::vector<uint32_t> leafIds = LOAD_ENTRY_OID;
    leafIds.push_back(LOAD_DESCR_COLUMN);
    leafIds.push_back(index);
    SnmpOid leafOid = OidOf(leafIds);
    uint32_t data = 0;
    if (!Call("data handle", [&] { return (data = AgentGetDataHandle(agent_, 0, &leafOid)) != 0; }))
      return;
    SnmpValue value{ORVU_SYNTAX_OCTETS, static_cast<uint32_t>(text.size()),
                    reinterpret_cast<uintptr_t>(text.data())};
    ledger->valueSet = Outcome::UNKNOWN;
    ledger->value = text;
    if (Call("set", [&] { return AgentSetData(agent_, 0, data, &value) != 0; })) {
      ledger->valueSet = Outcome::ACKED;
    }
  }

  void Remove(uint32_t index) {
    InstanceLedger& ledger = report_.instances[index];
    auto handle = handles_.find(index);
    if (ledger.created != Outcome::ACKED || handle == handles_.end()) return;
    ledger.removed = Outcome::UNKNOWN;
    if (Call("remove",
             [&] { return AgentRemoveTableEntry(agent_, 0, entry_, handle->second) != 0; })) {
      ledger.removed = Outcome::ACKED;
    }
  }

  // The listing must show every instance of this client that the agent acknowledged and did not
  // acknowledge removing, none that it removed, and each once.
  void CheckListing() {
    std::set<uint32_t> listed;
    TableInstanceInfo info{};
    info.size = ORVU_INSTANCE_INFO_SIZE;
    if (!Call("list", [&] { return AgentEnumTableInstances(agent_, 0, entry_, &info) != 0; }))
      return;
    for (uint32_t i = 1;; ++i) {
      info.size = ORVU_INSTANCE_INFO_SIZE;
      bool more = false;
      // The agent serves the snapshot a page at a time: one that goes away ends the listing, and
      // the round counts as cut short, not as faulty.
      Call("list", [&] {
        more = AgentEnumTableInstances(agent_, i, entry_, &info) != 0;
        return more || AgentGetLastError() == orvu::AGENT_ERR_NO_MORE_ENTRIES;
      });
      if (!more) {
        if (AgentGetLastError() != orvu::AGENT_ERR_NO_MORE_ENTRIES) return;
        break;
      }
      if (info.indexOidCount != 1) continue;
      uint32_t index = info.indexOidIds[0];
      if (index / INDEX_RANGE != static_cast<uint32_t>(id_ + 1)) continue;
      if (!listed.insert(index).second)
        report_.faults.push_back("listed twice: " + std::to_string(index));
    }
    for (const auto& [index, ledger] : report_.instances) {
      bool shown = listed.count(index) != 0;
      if (ledger.created == Outcome::ACKED && ledger.removed == Outcome::NONE && !shown) {
        report_.faults.push_back("acknowledged instance missing: " + std::to_string(index));
      }
      if (ledger.removed == Outcome::ACKED && shown) {
        report_.faults.push_back("removed instance still listed: " + std::to_string(index));
      }
    }
    for (uint32_t index : listed) {
      auto it = report_.instances.find(index);
      if (it == report_.instances.end() || it->second.created == Outcome::NONE) {
        report_.faults.push_back("instance never made: " + std::to_string(index));
      }
    }
  }

  const LoadPlan& plan_;
  int id_;
  AgentHandle agent_ = 0;
  uint32_t entry_ = 0;
  std::map<uint32_t, uint32_t> handles_;
  ClientReport report_;
};

ClientReport ReadReport(const std::string& path) {
  ClientReport report;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "rounds")
      words >> report.rounds;
    else if (key == "reconnects")
      words >> report.reconnects;
    else if (key == "maxwait")
      words >> report.maxWaitMs;
    else if (key == "fault")
      report.faults.push_back(line.substr(6));
    else if (key == "finished")
      report.finished = true;
    else if (key == "instance") {
      uint32_t index = 0;
      char created = 'N', valueSet = 'N', removed = 'N';
      InstanceLedger ledger;
      words >> index >> created >> valueSet >> removed >> ledger.value;
      ledger.created = static_cast<Outcome>(created);
      ledger.valueSet = static_cast<Outcome>(valueSet);
      ledger.removed = static_cast<Outcome>(removed);
      report.instances[index] = ledger;
    }
  }
  return report;
}

}  // namespace

int EnvNumber(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

uint32_t LoadIndex(int client, int round) {
  return static_cast<uint32_t>(client + 1) * INDEX_RANGE + static_cast<uint32_t>(round) + 1;
}

std::vector<pid_t> StartLoadClients(const LoadPlan& plan) {
  std::vector<pid_t> pids;
  std::fflush(nullptr);
  for (int id = 0; id < plan.clients; ++id) {
    pid_t pid = fork();
    if (pid == 0) {
      LoadClient client(plan, id);
      client.Run();
      client.WriteReport();
      _exit(0);
    }
    if (pid > 0) pids.push_back(pid);
  }
  return pids;
}

std::vector<ClientReport> FinishLoadClients(const LoadPlan& plan, const std::vector<pid_t>& pids,
                                            int timeoutSeconds) {
  auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  for (pid_t pid : pids) {
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::vector<ClientReport> reports;
  for (int id = 0; id < plan.clients; ++id) reports.push_back(ReadReport(ReportPath(plan, id)));
  return reports;
}

std::map<uint32_t, std::string> ReadTable(const std::string& socket, std::string* error) {
  std::map<uint32_t, std::string> table;
  setenv("ORVU_AGENT_SOCKET", socket.c_str(), 1);
  AgentFrameworkInit();
  AgentHandle agent = AgentConnect("load-check", 0, 0, 0);
  std::vector<uint32_t> entryIds = LOAD_ENTRY_OID;
  SnmpOid entryOid = OidOf(entryIds);
  uint32_t entry = agent != 0 ? AgentFindTableEntry(agent, &entryOid) : 0;
  TableInstanceInfo info{};
  info.size = ORVU_INSTANCE_INFO_SIZE;
  if (entry == 0 || !AgentEnumTableInstances(agent, 0, entry, &info)) {
    *error = "cannot list the table: " + LastErrorText();
  }
  for (uint32_t i = 1; error->empty(); ++i) {
    info.size = ORVU_INSTANCE_INFO_SIZE;
    if (!AgentEnumTableInstances(agent, i, entry, &info)) {
      if (AgentGetLastError() != orvu::AGENT_ERR_NO_MORE_ENTRIES)
        *error = "listing ended early: " + LastErrorText();
      break;
    }
    uint32_t index = info.indexOidCount == 1 ? info.indexOidIds[0] : 0;
    std::vector<uint32_t> leafIds = LOAD_ENTRY_OID;
    leafIds.push_back(LOAD_DESCR_COLUMN);
    leafIds.push_back(index);
    SnmpOid leafOid = OidOf(leafIds);
    uint32_t data = AgentGetDataHandle(agent, 0, &leafOid);
    SnmpOid oid{};
    SnmpValue value{};
    if (data == 0 || !AgentGetData(agent, data, &oid, &value)) {
      *error = "cannot read instance " + std::to_string(index) + ": " + LastErrorText();
      break;
    }
    std::string text(reinterpret_cast<const char*>(value.data), value.data != 0 ? value.number : 0);
    if (!table.emplace(index, text).second)
      *error = "instance listed twice: " + std::to_string(index);
    AgentFreeValue(value.syntax, &value.number);
    AgentFreeValue(ORVU_SYNTAX_OID, &oid);
  }
  if (agent != 0) AgentDisconnect(agent);
  AgentFrameworkCleanup();
  return table;
}

}  // namespace hardening
