// What the journal costs the agent's core, in this process (no socket between): a set, a set of
// eight changes (one SNMP set) and a listing of 1,000 rows, each without and with --fsync; a set
// and a read while a 100,000-row state is rewritten between requests, next to what finishing
// that rewrite costs (what the first set used to pay); and a change refused for want of room.
//   journal_costs FOLDER     (a folder on the disk to measure; it is emptied)
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "agent/core/agent_core.h"
#include "mibreader/mib_search_path.h"

namespace {

using namespace orvu;
using namespace orvu::agent;

const Oid BENCH_ENTRY = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};

double Millis(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

proto::Reply Ask(AgentCore* core, ClientContext* client, proto::Request request) {
  return core->Handle(client, request);
}

proto::Request SetHertz(uint32_t instance, uint32_t hertz) {
  proto::Request request;
  request.op = proto::Op::SetData;
  request.dataHandle = proto::PackedColumnHandle(instance, 3);
  request.value.syntax = ORVU_SYNTAX_INTEGER;
  request.value.number = hertz;
  return request;
}

void Register(AgentCore* core, ClientContext* client) {
  proto::Request request;
  request.op = proto::Op::Register;
  request.clientName = "journal_costs";
  Ask(core, client, request);
}

AgentOptions Options(const std::string& state, bool sync) {
  AgentOptions options;
  options.statePath = state;
  options.modules = {"VORNEL-VNBEEP-MIB"};
  options.mibPath = mib::DefaultSearchPath();
  options.syncEachChange = sync;
  return options;
}

// A state of ROWS rows, as an agent leaves it after a kill: its snapshot, then one change.
void WriteSealedState(const std::string& path, uint32_t rows) {
  StateJournal journal;
  std::string error;
  journal.Lock(path, false, &error);
  journal.Rewrite(
      [rows](const std::function<void(const StateRecord&)>& out) {
        StateRecord module;
        module.moduleName = "VORNEL-VNBEEP-MIB";
        out(module);
        StateRecord record;
        for (uint32_t i = 1; i <= rows; ++i) {
          record = StateRecord{};
          record.type = RecordType::Instance;
          record.entryOid = BENCH_ENTRY;
          record.indexOid = {i};
          record.handle = i;
          out(record);
          record.type = RecordType::Value;
          record.value.syntax = ORVU_SYNTAX_OCTETS;
          record.value.kind = proto::ValueKind::Bytes;
          record.value.bytes.assign(48, 'r');
          for (uint32_t column = 2; column <= 15; ++column) {
            record.column = column;
            if (column != 3 && column != 6 && column != 15) out(record);
          }
        }
      },
      &error);
  StateRecord enable;
  enable.type = RecordType::Enable;
  enable.handle = 1;
  enable.enabledFlags = 8;
  journal.Append(enable, &error);
}

void SyncCosts(const std::string& folder) {
  for (bool sync : {false, true}) {
    std::string state = folder + "/sync-state";
    std::filesystem::remove(state);
    AgentCore core;
    std::string error;
    if (!core.Start(Options(state, sync), &error)) {
      std::fprintf(stderr, "journal_costs: %s\n", error.c_str());
      return;
    }
    ClientContext client;
    Register(&core, &client);
    proto::Request create;
    create.op = proto::Op::CreateInstance;
    create.oid = BENCH_ENTRY;
    for (uint32_t i = 1; i <= 1000; ++i) {
      create.index = {i};
      Ask(&core, &client, create);
    }
    std::vector<double> sets, groups, listings;
    for (uint32_t i = 0; i < 200; ++i)
      sets.push_back(Millis([&] { Ask(&core, &client, SetHertz(1 + i % 1000, 100 + i)); }));
    for (uint32_t i = 0; i < 200; ++i) {
      std::vector<SnmpSetTarget> targets;
      for (uint32_t k = 0; k < 8; ++k) {
        SnmpSetTarget target;
        target.instanceHandle = 1 + (i * 8 + k) % 1000;
        target.column = 3;
        target.value.syntax = ORVU_SYNTAX_INTEGER;
        target.value.number = 100 + i;
        targets.push_back(target);
      }
      std::vector<StateRecord> undo;
      groups.push_back(Millis([&] { core.SnmpCommitWhole(targets, &undo); }));
    }
    for (int i = 0; i < 20; ++i) {
      listings.push_back(Millis([&] {
        proto::Request list;
        list.op = proto::Op::EnumInstances;
        list.entryHandle = Ask(&core, &client,
                               [] {
                                 proto::Request find;
                                 find.op = proto::Op::FindEntry;
                                 find.oid = BENCH_ENTRY;
                                 return find;
                               }())
                               .handle;
        list.count = proto::PROTO_PAGE_RECORDS;
        list.flags = proto::PROTO_ENUM_FRESH;
        for (list.position = 0; list.position < 1000; list.position += list.count) {
          Ask(&core, &client, list);
          list.flags = 0;
        }
      }));
    }
    std::printf(
        "%s: set %.3f ms, set of 8 changes %.3f ms, listing of 1,000 rows %.3f ms "
        "(medians of 200, 200, 20)\n",
        sync ? "--fsync" : "default", Median(sets), Median(groups), Median(listings));
  }
}

void DuringTheCopy(const std::string& folder) {
  constexpr uint32_t ROWS = 100000;
  std::string state = folder + "/copy-state";
  std::filesystem::remove(state);
  WriteSealedState(state, ROWS);
  std::printf("state of %u rows: %ju bytes\n", ROWS,
              static_cast<uintmax_t>(std::filesystem::file_size(state)));
  AgentCore core;
  std::string error;
  AgentOptions options = Options(state, false);
  double start = Millis([&] { core.Start(options, &error); });
  if (!core.RewriteUnderway()) {
    std::fprintf(stderr, "journal_costs: no copy under way after the start (%s)\n", error.c_str());
    return;
  }
  ClientContext client;
  Register(&core, &client);
  core.ContinueRewrite();
  double part = Millis([&] { core.ContinueRewrite(); });
  proto::Request read;
  read.op = proto::Op::GetData;
  read.dataHandle = proto::PackedColumnHandle(ROWS, 3);
  std::vector<double> sets, reads;
  for (uint32_t i = 0; i < 20; ++i) {
    sets.push_back(Millis([&] { Ask(&core, &client, SetHertz(i % 2 ? 1 : ROWS - i, 100 + i)); }));
    reads.push_back(Millis([&] { Ask(&core, &client, read); }));
  }
  bool stillCopying = core.RewriteUnderway();
  double rest = Millis([&] { core.ContinueRewrite(SIZE_MAX); });
  std::vector<double> after;
  for (uint32_t i = 0; i < 20; ++i)
    after.push_back(Millis([&] { Ask(&core, &client, SetHertz(1 + i, 200 + i)); }));
  std::printf(
      "start %.1f ms; one part of the copy %.2f ms; during the copy: set %.3f ms (longest "
      "%.3f), read %.3f ms, copy still under way after 20 sets: %s; the rest of the copy "
      "at once %.1f ms; set after it %.3f ms\n",
      start, part, Median(sets), *std::max_element(sets.begin(), sets.end()), Median(reads),
      stillCopying ? "yes" : "no", rest, Median(after));
}

void WithoutRoom(const std::string& folder) {
  constexpr uint32_t ROWS = 100000;
  std::string state = folder + "/room-state";
  std::filesystem::remove(state);
  WriteSealedState(state, ROWS);
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit limited = before;
  limited.rlim_cur = std::filesystem::file_size(state) / 2;
  setrlimit(RLIMIT_FSIZE, &limited);
  {
    AgentCore core;
    std::string error;
    AgentOptions options = Options(state, false);
    core.Start(options, &error);
    while (core.RewriteUnderway()) core.ContinueRewrite();
    ClientContext client;
    Register(&core, &client);
    std::vector<double> refused;
    int status = 0;
    for (uint32_t i = 0; i < 20; ++i)
      refused.push_back(Millis([&] { status = Ask(&core, &client, SetHertz(1, 100 + i)).status; }));
    std::printf("no room: a change refused (status %d) in %.3f ms (longest %.3f)\n", status,
                Median(refused), *std::max_element(refused.begin(), refused.end()));
  }
  setrlimit(RLIMIT_FSIZE, &before);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: journal_costs FOLDER\n");
    return 2;
  }
  // A write past the file-size limit fails, as in the agent, instead of ending the process.
  signal(SIGXFSZ, SIG_IGN);
  std::string folder = argv[1];
  std::filesystem::create_directories(folder);
  SyncCosts(folder);
  DuringTheCopy(folder);
  WithoutRoom(folder);
  std::filesystem::remove_all(folder);
  return 0;
}
