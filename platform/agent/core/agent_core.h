// What the agent knows and does: served objects, table instances, values and clients, and the
// answer to every request. The event loop owns the sockets; this owns the state and its journal.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "agent/core/beeper_device.h"
#include "agent/core/data_key.h"
#include "agent/core/stored_values.h"
#include "agent/journal/state_journal.h"
#include "agent/snmp/served_objects.h"
#include "protocol/messages.h"

namespace orvu::agent {

constexpr size_t AGENT_DEFAULT_MAX_STATE_BYTES = size_t{1} << 30;
// Listings (instance snapshots) that one member of the group may hold open at a time.
constexpr size_t AGENT_MEMBER_LISTINGS = 16;

struct AgentOptions {
  std::string statePath;
  std::vector<std::string> modules;  // from --module, added to the state's list
  std::vector<std::string> mibPath;
  std::optional<int32_t> clock;  // every recorded time, when fixed
  bool syncEachChange = false;
  std::string cutNotePath;  // where a cut of the state file that failed is noted for the next start
  // The most the state file may hold (--max-state-bytes): a change that would take it past is
  // refused; members of the group leave the last quarter to the owner and root.
  size_t maxStateBytes = AGENT_DEFAULT_MAX_STATE_BYTES;
};

// One connection as the agent sees it.
struct ClientContext {
  uint32_t clientHandle = 0;  // 0 until the client registered
  uint32_t processId = 0;     // from the socket's peer credentials, or self-reported on TCP
  // On TCP loopback there are no peer credentials: the ids and the file name are the client's word.
  bool selfReported = false;
  // With --group: a member that is neither the agent's own user nor root. Members share what is
  // left beside the owner's reserve (client places, listings, memory, the state file's room).
  bool member = false;
  uint32_t userId = 0;
  std::string fileName;
  bool droppedSnapshot = false;  // its unregistration let go of an instance snapshot
};

struct Instance {
  uint32_t handle = 0;
  uint32_t entryHandle = 0;
  Oid index;
  uint32_t creator = 0;
  int32_t time = 0;
  std::optional<uint32_t> enabledFlags;
  std::optional<uint32_t> leaves;     // leaf count given by the state file
  StoredValues values;                // stored values; other columns hold their initial one
  std::vector<uint32_t> dataHandles;  // handed out for its leaves, dropped with it
};

// What an SNMP manager gets for one object, or why it gets nothing.
enum class SnmpOutcome {
  Ok,
  NoSuchObject,
  NoSuchInstance,
  NotWritable,
  WrongType,
  WrongLength,
  WrongValue,
  NoCreation,
  CommitFailed,
  InconsistentValue,
  InconsistentName,
};

// The library's error code for a refused write (handle_changes.cc).
int32_t ErrorOfOutcome(SnmpOutcome outcome);

// What a varbind of an SNMP set does to its row beside its value (RowStatus, RFC 2579).
enum class RowChange { None, Create, Destroy };

// A served module as the master's sysORTable lists it: its MODULE-IDENTITY's OID and description.
struct SnmpModule {
  std::string name;
  Oid identity;
  std::string description;
};

// A NOTIFICATION-TYPE of a served module and the OIDs of its OBJECTS.
struct NotificationDef {
  std::string name;
  Oid oid;
  std::vector<Oid> objects;
};

struct SnmpVarBind {
  Oid oid;
  proto::Value value;
};

// The object a set names, found by SnmpCheckSet and written by SnmpCommitWhole.
struct SnmpSetTarget {
  uint32_t instanceHandle = 0;  // 0 for a scalar
  uint32_t column = 0;          // the column, or the scalar's position
  proto::Value value;           // as the object stores it
  proto::Value previous;        // what a read gave before the set, for an undo
  // A column's row: its entry and instance OID (the instance handle is 0 while the set has yet
  // to create the row).
  uint32_t entryHandle = 0;
  Oid index;
  RowChange row = RowChange::None;
};

// One record of an instance snapshot; the index sub-identifiers lie in the listing's pool.
struct ListedInstance {
  uint32_t handle = 0;
  uint32_t creator = 0;
  int32_t time = 0;
  uint32_t flags = 0;
  uint32_t leafCount = 0;
  uint32_t indexStart = 0;
  uint32_t indexCount = 0;
};

struct InstanceListing {
  uint32_t entryHandle = 0;
  std::vector<ListedInstance> records;
  std::vector<uint32_t> indexIds;
  // What it holds, and whose it is: the group's shares count them.
  size_t bytes = 0;
  uint32_t userId = 0;
  bool member = false;
};

// The index of the agent's core: every member is declared here under the file that defines it.
// A request goes from Handle (handle_requests.cc) to its handler; every change a handler or an
// SNMP set makes goes through Commit (commit.cc).
//
// The journal's contract, which the replay at start and every change share: a record is checked
// (Check), then written to the journal, then applied (Apply). Check holds every reason to refuse
// a record, and Apply cannot fail on a record that passed it; so a record in the file always
// replays, and a change is acknowledged only once its records are in the file and applied. A
// handler checks its request first to give the client its own reason; Commit checks again before
// anything is written, and a record it refuses never reaches the file. The records of one change
// (a group) are checked in turn, each against the state that the ones before it leave, as the
// replay reads them. A write that fails is cut back off the file (state_journal.h), and the change
// is refused with the reason and not applied.
// A state file of this many bytes and more, which start-up would write again as it read it, is
// served first and rewritten between requests, this many records at a time (a few milliseconds).
constexpr size_t AGENT_REWRITE_IN_PARTS_BYTES = 8u << 20;
constexpr size_t AGENT_REWRITE_PART_RECORDS = 2048;

class AgentCore {
 public:
  // agent_core.cc: start-up.
  bool Start(const AgentOptions& options, std::string* error);
  // commit.cc: a large state file that start-up served as it read it is rewritten a part at a
  // time between requests (records written per part). A change meanwhile goes into the file as
  // read and, after the snapshot, into the new one; only where the file as read cannot take it
  // (a kept copy shares it, or a tail was left out) does the change finish the rewrite first.
  bool RewriteUnderway() const { return rewriteFrom_.has_value(); }
  void ContinueRewrite(size_t records = AGENT_REWRITE_PART_RECORDS);

  // handle_requests.cc: the answer to every request of a library client.
  proto::Reply Handle(ClientContext* client, const proto::Request& request);
  // Takes back a reply once it is sent: the next read of rows writes its leaves over the items
  // of this one instead of allocating them anew.
  void Recycle(proto::Reply&& reply);
  // True when the client held an instance snapshot, which is now gone.
  bool Disconnect(const ClientContext& client);
  size_t ConnectedClients() const { return clients_.size(); }
  // group_shares.cc: the memory budget that instance snapshots count against, shared with what
  // the event loop holds of requests and replies (*HELD, kept up to date by the loop).
  void ShareMemoryBudget(size_t budget, const size_t* held) {
    memoryBudget_ = budget;
    bufferHeld_ = held;
  }
  size_t SnapshotBytes() const { return snapshotBytes_; }

  // notifications.cc: queues the notification NAME of a served module for the master, its
  // OBJECTS read at INDEX (scalars at .0); false with *WHY when there is no such notification or
  // one of its objects is not there.
  bool Notify(const std::string& name, const Oid& index, std::string* why);

  // beeper_device.cc: the sample module's device. The milliseconds until a scheduled beep is due
  // (-1: none), for the event loop's wait, and the beeps that are due, played.
  int DeviceTimeoutMs() const;
  void DeviceTick();
  // Changes from another thread than the event loop's (the subagent's) may schedule a beep: the
  // loop then also waits on a descriptor (-1: none) that such a change makes readable, and calls
  // DeviceWoken once it is.
  void PrepareDeviceWake();
  int DeviceWakeFd() const;
  void DeviceWoken();

  // snmp_view.cc: the SNMP view: scalars at .0 and every readable column of every instance at
  // entry.column.index, in OID order. Roots are the subtrees that hold all of it, one per served
  // module (and one per object that only the state file names).
  std::vector<Oid> SnmpRoots() const;
  const std::vector<SnmpModule>& SnmpModules() const { return snmpModules_; }
  SnmpOutcome SnmpGet(const Oid& oid, SnmpVarBind* out) const;
  // The first object after OID; false past the last one.
  bool SnmpNext(const Oid& oid, SnmpVarBind* out) const;
  // OBJECT, or, when every row of its column reads NULL, the last OID that column may hold, so
  // that a GetNext steps over the whole column at once instead of row by row.
  Oid SnmpPastNullColumn(const Oid& object) const;
  // Whether VALUE may be written at OID, as AgentSetData would judge it; fills *target.
  SnmpOutcome SnmpCheckSet(const Oid& oid, const proto::Value& value, SnmpSetTarget* target,
                           std::string* why) const;
  // snmp_rows.cc: a whole SNMP set, checked before anything is written: each varbind's target in
  // *TARGETS, or the position of the first refused one in *FAILED with its outcome. In a table
  // with a RowStatus column, createAndGo and createAndWait create the row with the set's other
  // values for it, and destroy removes it, with RFC 2579's states and errors.
  SnmpOutcome SnmpCheckSets(const std::vector<SnmpVarBind>& varbinds,
                            std::vector<SnmpSetTarget>* targets, size_t* failed,
                            std::string* why) const;
  // Carries out a set that SnmpCheckSets passed (TARGETS) as one change, in one journal append,
  // before the manager hears back: the rows it creates (with their AUGMENTS family), its values
  // and the rows it destroys; all of it, or nothing when the journal refuses it or an object is
  // gone since the check. *UNDO receives the change that takes it back (SnmpUndo).
  bool SnmpCommitWhole(const std::vector<SnmpSetTarget>& targets, std::vector<StateRecord>* undo);
  // UNDO as one change; false when it no longer fits the state or the journal refuses it.
  bool SnmpUndo(const std::vector<StateRecord>& undo);

 private:
  // commit.cc: the commit path.
  bool Commit(const StateRecord& record, proto::Reply* reply);
  // RECORDS as one change: journaled in one append, then applied together.
  bool Commit(const std::vector<StateRecord>& records, proto::Reply* reply);
  StateRecord ValueRecord(uint32_t instanceHandle, uint32_t leaf, const proto::Value& value) const;
  // Before RECORDS change rows that the rewrite under way has yet to reach: each such row goes
  // into the new file now, as it was when the rewrite began, and is passed over later; a row
  // made meanwhile is left to the change's own records.
  void CopyAheadOfRewrite(const std::vector<StateRecord>& records);
  // Commits VALUE, already checked by WriteCheck, to the scalar (instance 0) or column LOW of the
  // instance; false with the refusal in *REPLY.
  bool WriteValue(uint32_t instanceHandle, uint32_t low, const proto::Value& value,
                  proto::Reply* reply);

  // journal_replay.cc: whether RECORD fits the state as it is, or why not in *ERROR.
  bool Check(const StateRecord& record, std::string* error) const;
  // Whether the records of one change fit, each in the state that the ones before it leave (a
  // change may make a row and then write it); the position of the first that does not in *FAILED.
  bool CheckChange(const std::vector<StateRecord>& records, size_t* failed,
                   std::string* error) const;
  // Whether a new entry at OID lies neither inside another entry nor around one: else Get and
  // GetNext would find two objects at one OID.
  bool EntryFits(const Oid& oid, std::string* error) const;
  // How one checked record changes the state, at start and after each append.
  void Apply(const StateRecord& record);
  // The entry of OID (its first definition), 0 when none; a row after row of one entry finds it
  // without a search.
  uint32_t EntryHandleOf(const Oid& oid) const;
  // The instance of HANDLE, found once for the run of records that a row's values make.
  bool LastApplied(uint32_t handle) const;
  std::map<uint32_t, Instance>::iterator FindApplied(uint32_t handle);
  // journal_snapshot.cc: hands the records that restate the live state to OUT, one at a time.
  void Snapshot(const std::function<void(const StateRecord&)>& out) const;
  // The same in three parts: the modules and resident clients; the instances from handle FROM
  // on, each with its values, up to the first instance after RECORDS records (whose handle is
  // returned to go on from; nothing once all are out), passing over those in SKIP; the stored
  // scalars.
  void SnapshotHead(const std::function<void(const StateRecord&)>& out) const;
  std::optional<uint32_t> SnapshotRows(uint32_t from, size_t records,
                                       const std::function<void(const StateRecord&)>& out,
                                       const std::set<uint32_t>* skip = nullptr) const;
  void SnapshotTail(const std::function<void(const StateRecord&)>& out) const;
  StateRecordSource SnapshotSource() const {
    return [this](const std::function<void(const StateRecord&)>& out) { Snapshot(out); };
  }

  // agent_core.cc: the clock and lookups.
  int32_t Now() const;
  uint32_t LeafCount(const Instance& instance) const;
  EntryDef* EntryByHandle(uint32_t handle);
  EntryDef* EntryByOid(const Oid& oid);
  void IndexEntry(const EntryDef& entry);
  Instance* InstanceOf(uint32_t entryHandle, uint32_t instanceHandle, proto::Reply* reply);

  // row_families.cc: AUGMENTS, the entries that share their rows, each family under the entry
  // they all extend.
  void FindRowFamilies();
  // ENTRY_HANDLE's family (itself first), or just itself when no entry shares its rows.
  std::vector<uint32_t> RowFamily(uint32_t entryHandle) const;
  // Gives every entry of a family the rows that any of them has (a state file may hold one
  // side only); applied before the state is written back. Whether it made any row.
  bool ShareRows();

  // group_shares.cc: why the snapshot of BYTES that CLIENT asks for would take more than its share
  // of the memory budget (empty when it may have it).
  std::string ListingRefusal(const ClientContext& client, size_t bytes) const;
  // Why RECORDS would take the state file past its bound (empty when they fit); a rewrite that
  // leaves out what the journal holds of older changes may make the room first.
  std::string StateRoomRefusal(const std::vector<StateRecord>& records);
  // After RECORDS went in: the values they hold count against the member who wrote them, until
  // someone writes the object again or its row goes.
  void CountMemberWrites(const std::vector<StateRecord>& records);
  // The object a value record writes: (instance handle, column), or (0, scalar position); false
  // for a record that writes no value.
  bool WrittenObject(const StateRecord& record, std::pair<uint32_t, uint32_t>* key) const;

  // handle_requests.cc: the handlers for clients, entries and instances.
  proto::Reply Register(ClientContext* client, const proto::Request& request);
  proto::Reply EnumInstances(const ClientContext& client, const proto::Request& request);
  proto::Reply Create(const ClientContext& client, const proto::Request& request);
  proto::Reply ChangeInstance(const proto::Request& request, RecordType type);

  // handle_changes.cc: the handler ApplyChanges, and the records that make a row of ENTRY at
  // INDEX in every entry of its family, with handles from *NEXT on that are neither in use nor
  // TAKEN (*NEXT is left past the last one given).
  proto::Reply ApplyChanges(const ClientContext& client, const proto::Request& request);
  // A change as a refusal names it: its kind, object (by name where it has one) and value.
  std::string ChangeText(const proto::Change& change) const;
  void FamilyRowRecords(const EntryDef& entry, const Oid& index, uint32_t creator,
                        const std::set<uint32_t>& taken, uint32_t* next,
                        std::vector<StateRecord>* records) const;

  // handle_data.cc: data handles and the handlers GetData and SetData.
  proto::Reply GetData(const proto::Request& request);
  proto::Reply SetData(const proto::Request& request);
  uint32_t DataHandle(const DataKey& key);
  void DropDataHandles(const Instance& instance);
  bool ReadItem(const DataKey& key, proto::DataItem* item);
  // The leaf COLUMN of INSTANCE, which has that column, into *ITEM.
  void ReadColumn(const EntryDef& entry, const Instance& instance, uint32_t column,
                  proto::DataItem* item);
  // The same, where STORED is the cursor at the column's stored value, or nullptr when the
  // instance stores none for it.
  void ReadColumn(const EntryDef& entry, const Instance& instance, uint32_t column,
                  const StoredValues::Cursor* stored, proto::DataItem* item);
  // The key behind a data handle whose object still exists, or a failure reply.
  bool KeyOfHandle(uint32_t dataHandle, DataKey* key, proto::Reply* reply) const;
  bool ColumnExists(const EntryDef& entry, const Instance& instance, uint32_t column) const;
  proto::Value ColumnValue(const EntryDef& entry, const Instance& instance, uint32_t column) const;
  // The value of COLUMN, a stored value already in *VALUE when HAS_STORED is set.
  void ColumnValue(const EntryDef& entry, const Instance& instance, uint32_t column, bool hasStored,
                   proto::Value* value) const;

  // handle_prefetch.cc: the handlers GetDataHandle and ReadRows.
  proto::Reply GetDataHandle(const proto::Request& request);
  // Fills *REPLY with up to COUNT rows of ENTRY from ROW on, for a client to find the data handles
  // of their columns without asking; nothing when an object below the entry could take its OIDs.
  void RowsAhead(const EntryDef& entry, const Oid& index, uint32_t count,
                 proto::Reply* reply) const;
  proto::Reply ReadRows(const proto::Request& request);
  // Puts the leaves of INSTANCE_HANDLE's row but SKIP_COLUMN into ITEMS from *FILLED on (writing
  // over items there, appending past its end), as long as the row's payload stays within BUDGET
  // bytes; the bytes taken are added to *USED, the leaves to *FILLED.
  void AppendRow(uint32_t instanceHandle, uint32_t skipColumn, size_t budget, size_t* used,
                 std::vector<proto::DataItem>* items, size_t* filled);

  // snmp_view.cc: lookups in OID order and the checks of a value before it is written.
  // The entry whose OID starts OID with room for a column, or nullptr.
  const EntryDef* EntryAbove(const Oid& oid) const;
  bool NextInEntry(const EntryDef& entry, const Oid& after, SnmpVarBind* out) const;
  // SnmpGet and SnmpNext before they leave out what no manager can decode. Objects that are
  // absent until written (ColumnDef::absentUnset) are no instance unless UNSET_TOO.
  SnmpOutcome SnmpFind(const Oid& oid, SnmpVarBind* out, bool unsetToo = false) const;
  static bool Unset(const ScalarDef& s) { return s.absentUnset && !s.stored; }
  static bool Unset(const ColumnDef& c, const Instance& instance) {
    return c.absentUnset && !instance.values.Has(c.number);
  }
  bool SnmpNextAny(const Oid& oid, SnmpVarBind* out) const;
  // At start: leaves out of SNMP the stored values it cannot carry and the instances whose index
  // does not fit their INDEX clause, and says which.
  void CheckSnmpView();
  bool Hidden(uint32_t instanceHandle) const {
    return !snmpHidden_.empty() && snmpHidden_.count(instanceHandle) != 0;
  }
  // Whether VALUE may be written to the scalar (instance 0) or column LOW of the instance, with
  // the refusal's text; both SetData and SNMP sets ask it. MAX-ACCESS binds a MANAGER only: a
  // library client may write any readable object.
  SnmpOutcome WriteCheck(uint32_t instanceHandle, uint32_t low, const proto::Value& value,
                         bool manager, std::string* why) const;
  // Whether VALUE may be written to the object NAME of SYNTAX (0: any) and LIMITS.
  static SnmpOutcome ValueCheck(uint32_t syntax, bool writable, const ValueLimits* limits,
                                const std::string& name, const proto::Value& value,
                                std::string* why);
  // snmp_set_rules.cc: what RFC 2579 and RFC 3416 4.2.5 add to the check of one varbind. A set of
  // OID, of no instance: the value's faults come first (wrongType, wrongLength, wrongValue), then
  // noCreation, or inconsistentName for a row that a RowStatus column could create.
  SnmpOutcome MissingInstance(const Oid& oid, const proto::Value& value, std::string* why) const;
  // A TestAndIncr object takes only the value it holds, and then holds the next one (in *VALUE).
  SnmpOutcome SpinLock(const SnmpSetTarget& target, const std::string& name, proto::Value* value,
                       std::string* why) const;
  // A row whose StorageType is readOnly takes no write, a permanent one is not destroyed, and
  // neither changes its StorageType; nor does a row become permanent or readOnly by a set.
  SnmpOutcome StorageCheck(const EntryDef& entry, const Instance& instance, uint32_t column,
                           const proto::Value& value, const std::string& name,
                           std::string* why) const;

  // snmp_rows.cc: whether the row has a value for every required column, counting those in
  // COLUMNS (the ones a set is about to write).
  bool RowComplete(const EntryDef& entry, const Instance* instance,
                   const std::vector<uint32_t>& columns) const;

  // beeper_device.cc: finds the device's objects at start; what a change that was just applied
  // means to it; a beep; a value of the device's over what a row stores (false: none).
  void FindDevice();
  void DeviceAfter(const std::vector<StateRecord>& records);
  void Beep();
  bool DeviceColumn(const EntryDef& entry, const Instance& instance, uint32_t column,
                    proto::Value* value) const;

  // notifications.cc: the notifications of MODULE, at start; ifOperStatus as a change will find
  // it before it is applied and after, for linkDown and linkUp (RFC 2863).
  void FindNotifications(const mib::Registry& registry, const mib::Module& module);
  void LinksBefore(const std::vector<StateRecord>& records);
  void LinksAfter();

  AgentOptions options_;
  StateJournal journal_;
  BeeperState beeper_;
  std::vector<NotificationDef> notifications_;
  uint32_t ifEntry_ = 0;  // IF-MIB's ifEntry, when it is served
  uint32_t ifOperStatusColumn_ = 0;
  std::vector<std::pair<uint32_t, uint32_t>> linkChanges_;  // instance, ifOperStatus before
  // The start-up rewrite found no room: no change goes in before it is done.
  bool rewritePending_ = false;
  // The instance handle a rewrite under way goes on from, and the rows past it that it passes
  // over (written already, or made since it began).
  std::optional<uint32_t> rewriteFrom_;
  std::set<uint32_t> rewroteAhead_;
  std::vector<std::string> modules_;
  std::vector<SnmpModule> snmpModules_;  // those with a MODULE-IDENTITY
  std::vector<EntryDef> entries_;        // handle = position + 1
  std::map<Oid, uint32_t> entryByOid_;
  size_t longestEntry_ = 0;  // sub-identifiers of the longest entry OID
  std::map<uint32_t, std::vector<uint32_t>> rowFamilies_;  // base entry -> it and its AUGMENTS
  std::vector<ScalarDef> scalars_;
  std::map<Oid, size_t> scalarByOid_;
  std::map<uint32_t, Instance> instances_;  // by handle
  // The instance the last instance or value record went to (end() when none), and the highest
  // column it stores.
  std::map<uint32_t, Instance>::iterator lastApplied_ = instances_.end();
  uint32_t lastColumn_ = 0;
  // The entry EntryHandleOf found last.
  mutable uint32_t entryMemo_ = 0;
  std::vector<std::map<Oid, uint32_t>> instancesByIndex_;  // per entry: index -> instance handle
  std::set<uint32_t> snmpHidden_;  // instances SNMP does not see: their index does not fit
  // The columns of each entry (by handle) that read NULL where an instance stores nothing else,
  // and how many instances store something else there, by entry handle and column: kept by Apply,
  // read by SnmpPastNullColumn.
  std::vector<std::vector<uint32_t>> nullColumns_;
  std::map<std::pair<uint32_t, uint32_t>, size_t> notNullStored_;
  // Apply: INSTANCE's COLUMN takes VALUE (nullptr: the instance goes), for the counts above.
  void CountNotNull(const Instance& instance, uint32_t column, const proto::Value* value);
  std::vector<proto::ClientRecord> resident_;
  std::map<uint32_t, proto::ClientRecord> clients_;
  std::unordered_map<DataKey, uint32_t, DataKeyHash> dataByKey_;
  std::unordered_map<uint32_t, DataKey> keyByData_;
  std::map<uint32_t, InstanceListing> listings_;  // by client handle
  size_t snapshotBytes_ = 0;                      // what all of them hold
  size_t memoryBudget_ = SIZE_MAX;
  const size_t* bufferHeld_ = nullptr;
  // The client whose request is being handled; null for an SNMP set.
  const ClientContext* serving_ = nullptr;
  // What the values that members of the group wrote since the start take of the state file: by
  // object, and in all by member.
  struct MemberWrite {
    uint32_t userId = 0;
    size_t bytes = 0;
  };
  std::map<std::pair<uint32_t, uint32_t>, MemberWrite> memberWrites_;
  std::map<uint32_t, size_t> memberBytes_;
  uint32_t nextInstance_ = 1;
  uint32_t nextClient_ = 1;
  uint32_t nextData_ = 1;
  // Counts rows and scalars that came or went: what a client was told of them holds until it moves.
  uint32_t generation_ = 0;
  // The items of a reply sent before (Recycle), with their room for OIDs and values.
  std::vector<proto::DataItem> spareItems_;
};

}  // namespace orvu::agent
