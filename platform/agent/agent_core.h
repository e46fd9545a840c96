// What the agent knows and does: served objects, table instances, values and clients, and the
// answer to every request. The event loop owns the sockets; this owns the state and its journal.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "data_key.h"
#include "messages.h"
#include "served_objects.h"
#include "state_journal.h"

namespace orvu::agent {

struct AgentOptions {
  std::string statePath;
  std::vector<std::string> modules;  // from --module, added to the state's list
  std::vector<std::string> mibPath;
  std::optional<int32_t> clock;  // every recorded time, when fixed
  bool syncEachChange = false;
};

// One connection as the agent sees it.
struct ClientContext {
  uint32_t clientHandle = 0;  // 0 until the client registered
  uint32_t processId = 0;     // from the socket's peer credentials
};

struct Instance {
  uint32_t handle = 0;
  uint32_t entryHandle = 0;
  Oid index;
  uint32_t creator = 0;
  int32_t time = 0;
  std::optional<uint32_t> enabledFlags;
  std::optional<uint32_t> leaves;           // leaf count given by the state file
  std::map<uint32_t, proto::Value> values;  // stored values; other columns hold their initial one
  std::vector<uint32_t> dataHandles;        // handed out for its leaves, dropped with it
};

// Its members are defined by concern: set-up and lookups in agent_core.cc, request dispatch in
// agent_dispatch.cc, data handles in agent_data.cc, the row prefetch in agent_prefetch.cc,
// replay of records in agent_replay.cc, snapshots in agent_snapshot.cc and compaction in
// agent_compaction.cc.
class AgentCore {
 public:
  bool Start(const AgentOptions& options, std::string* error);
  proto::Reply Handle(ClientContext* client, const proto::Request& request);
  void Disconnect(const ClientContext& client);
  size_t ConnectedClients() const { return clients_.size(); }

 private:
  int32_t Now() const;
  bool Apply(const StateRecord& record, std::string* error);
  std::vector<StateRecord> Snapshot() const;
  bool Commit(const StateRecord& record, proto::Reply* reply);
  uint32_t LeafCount(const Instance& instance) const;
  EntryDef* EntryByHandle(uint32_t handle);
  EntryDef* EntryByOid(const Oid& oid);
  void IndexEntry(const EntryDef& entry);
  Instance* InstanceOf(uint32_t entryHandle, uint32_t instanceHandle, proto::Reply* reply);
  uint32_t DataHandle(const DataKey& key);
  void DropDataHandles(const Instance& instance);
  bool ReadItem(const DataKey& key, proto::DataItem* item);
  // The key and the current item behind a data handle, or a failure reply.
  bool ReadHandle(uint32_t dataHandle, DataKey* key, proto::DataItem* item, proto::Reply* reply);
  bool ColumnExists(const EntryDef& entry, const Instance& instance, uint32_t column) const;
  proto::Value ColumnValue(const EntryDef& entry, const Instance& instance, uint32_t column) const;

  proto::Reply Register(ClientContext* client, const proto::Request& request);
  proto::Reply EnumInstances(const proto::Request& request);
  proto::Reply Create(const ClientContext& client, const proto::Request& request);
  proto::Reply ChangeInstance(const proto::Request& request, RecordType type);
  proto::Reply GetDataHandle(const proto::Request& request);
  proto::Reply GetData(const proto::Request& request);
  proto::Reply SetData(const proto::Request& request);

  AgentOptions options_;
  StateJournal journal_;
  std::vector<std::string> modules_;
  std::vector<EntryDef> entries_;  // handle = position + 1
  std::map<Oid, uint32_t> entryByOid_;
  size_t longestEntry_ = 0;  // sub-identifiers of the longest entry OID
  std::vector<ScalarDef> scalars_;
  std::map<Oid, size_t> scalarByOid_;
  std::map<uint32_t, Instance> instances_;     // by handle
  std::vector<std::map<Oid, uint32_t>> rows_;  // per entry: index -> instance handle
  std::vector<proto::ClientRecord> resident_;
  std::map<uint32_t, proto::ClientRecord> clients_;
  std::unordered_map<DataKey, uint32_t, DataKeyHash> dataByKey_;
  std::unordered_map<uint32_t, DataKey> keyByData_;
  uint32_t nextInstance_ = 1;
  uint32_t nextClient_ = 1;
  uint32_t nextData_ = 1;
};

}  // namespace orvu::agent
