// A change set (ApplyChanges): creations, removals and writes, each checked in the state that the
// changes before it leave, then journaled as one group and applied whole, or refused whole with
// the change at fault named.
#include <cctype>
#include <map>
#include <set>
#include <utility>

#include "agent/core/agent_core.h"
#include "agent/core/agent_reply.h"
#include "agent/snmp/instance_index.h"

namespace orvu::agent {

using proto::Change;
using proto::Reply;
using proto::Request;
using proto::Value;
using proto::ValueKind;

namespace {

// Long values are shown cut: a refusal names the value, it does not carry it back.
constexpr size_t CHANGES_SHOWN_VALUE = 64;

std::string ShownValue(const Value& v) {
  std::string text;
  switch (v.kind) {
    case ValueKind::Number:
      text = v.syntax == ORVU_SYNTAX_INTEGER ? std::to_string(static_cast<int32_t>(v.number))
                                             : std::to_string(v.number);
      break;
    case ValueKind::Pair:
      text = std::to_string(static_cast<uint64_t>(v.number) << 32 | v.second);
      break;
    case ValueKind::Bytes: {
      bool printable = true;
      for (unsigned char c : v.bytes) printable = printable && std::isprint(c);
      if (printable) {
        text = "\"" + v.bytes.substr(0, CHANGES_SHOWN_VALUE) + "\"";
      } else {
        static const char* hex = "0123456789abcdef";
        text = "0x";
        for (size_t i = 0; i < v.bytes.size() && i < CHANGES_SHOWN_VALUE / 2; ++i) {
          unsigned char c = static_cast<unsigned char>(v.bytes[i]);
          text += hex[c >> 4];
          text += hex[c & 15];
        }
      }
      if (v.bytes.size() > CHANGES_SHOWN_VALUE / (printable ? 1 : 2)) text += "...";
      break;
    }
    case ValueKind::Oid:
      text = v.ids.empty() ? "(empty OID)" : OidText(v.ids);
      if (text.size() > CHANGES_SHOWN_VALUE) text = text.substr(0, CHANGES_SHOWN_VALUE) + "...";
      break;
  }
  return text + " (syntax " + std::to_string(v.syntax) + ")";
}

}  // namespace

int32_t ErrorOfOutcome(SnmpOutcome outcome) {
  switch (outcome) {
    case SnmpOutcome::NotWritable: return AGENT_ERR_READ_ONLY;
    case SnmpOutcome::WrongType: return AGENT_ERR_WRONG_SYNTAX;
    case SnmpOutcome::WrongLength: return AGENT_ERR_WRONG_LENGTH;
    default: return AGENT_ERR_WRONG_VALUE;
  }
}

void AgentCore::FamilyRowRecords(const EntryDef& entry, const Oid& index, uint32_t creator,
                                 const std::set<uint32_t>& taken, uint32_t* next,
                                 std::vector<StateRecord>* records) const {
  StateRecord record;
  record.type = RecordType::Instance;
  record.indexOid = index;
  record.creator = creator;
  record.time = Now();
  for (uint32_t member : RowFamily(entry.handle)) {
    // Handles wrap after four billion creations; a handle still in use is never given twice.
    while (*next == 0 || instances_.count(*next) || taken.count(*next)) ++*next;
    record.entryOid = entries_[member - 1].oid;
    record.handle = (*next)++;
    records->push_back(record);
  }
}

std::string AgentCore::ChangeText(const Change& change) const {
  const Oid& oid = change.object;
  if (change.kind == proto::PROTO_CHANGE_CREATE || change.kind == proto::PROTO_CHANGE_REMOVE) {
    auto entry = entryByOid_.find(change.entry);
    return std::string(change.kind == proto::PROTO_CHANGE_CREATE ? "create " : "remove ") +
           (entry != entryByOid_.end() ? entries_[entry->second - 1].name : OidText(change.entry)) +
           "." + OidText(oid);
  }
  if (change.kind != proto::PROTO_CHANGE_SET) return "of kind " + std::to_string(change.kind);
  std::string name = OidText(oid);
  auto scalar = scalarByOid_.find(oid);
  if (scalar == scalarByOid_.end() && !oid.empty() && oid.back() == 0)
    scalar = scalarByOid_.find(Oid(oid.begin(), oid.end() - 1));
  const EntryDef* entry = EntryAbove(oid);
  if (scalar != scalarByOid_.end()) {
    const ScalarDef& s = scalars_[scalar->second];
    name = (s.fromMib ? s.name : OidText(s.oid)) + ".0";
  } else if (entry && oid.size() >= entry->oid.size() + 2) {
    auto def = entry->columns.find(oid[entry->oid.size()]);
    if (def != entry->columns.end())
      name = def->second.name + "." +
             OidText(Oid(oid.begin() + static_cast<long>(entry->oid.size()) + 1, oid.end()));
  }
  return "set " + name + " = " + ShownValue(change.value);
}

Reply AgentCore::ApplyChanges(const ClientContext& client, const Request& request) {
  const std::vector<Change>& changes = request.changes;
  // The rows as the changes so far leave them: made by this set (entry handle and index to
  // instance handle), or removed by it.
  using Row = std::pair<uint32_t, Oid>;
  std::map<Row, uint32_t> made;
  std::set<Row> gone;
  std::set<uint32_t> taken;  // handles given to made rows
  uint32_t next = nextInstance_;
  auto rowOf = [&](uint32_t entry, const Oid& index) -> uint32_t {
    Row row(entry, index);
    auto it = made.find(row);
    if (it != made.end()) return it->second;
    if (gone.count(row)) return 0;
    auto found = instancesByIndex_[entry - 1].find(index);
    return found == instancesByIndex_[entry - 1].end() ? 0 : found->second;
  };
  // The columns the set writes, per row: a RowStatus of active needs the row complete once the
  // whole set is applied.
  std::map<Row, std::vector<uint32_t>> written;
  for (const Change& change : changes) {
    if (change.kind != proto::PROTO_CHANGE_SET) continue;
    const EntryDef* entry = EntryAbove(change.object);
    if (entry && entry->statusColumn != 0) {
      written[Row(entry->handle,
                  Oid(change.object.begin() + entry->oid.size() + 1, change.object.end()))]
          .push_back(change.object[entry->oid.size()]);
    }
  }

  std::vector<StateRecord> records;
  records.reserve(changes.size());
  for (size_t i = 0; i < changes.size(); ++i) {
    const Change& change = changes[i];
    // Named only when refused: a set of 100,000 changes goes through here 100,000 times.
    auto refuse = [&](int32_t code, const std::string& why) {
      Reply reply =
          Fail(code, "change [" + std::to_string(i) + "] " + ChangeText(change) + ": " + why);
      reply.failedChange = static_cast<uint32_t>(i + 1);
      return reply;
    };
    if (change.kind == proto::PROTO_CHANGE_CREATE || change.kind == proto::PROTO_CHANGE_REMOVE) {
      bool create = change.kind == proto::PROTO_CHANGE_CREATE;
      const EntryDef* entry = EntryByOid(change.entry);
      if (!entry) return refuse(AGENT_ERR_NO_SUCH_ENTRY, "no such table entry");
      if (change.object.empty()) return refuse(AGENT_ERR_BAD_INSTANCE, "the instance is empty");
      std::vector<uint32_t> family = RowFamily(entry->handle);
      if (create) {
        for (uint32_t member : family) {
          if (rowOf(member, change.object))
            return refuse(AGENT_ERR_INSTANCE_EXISTS, "instance already exists");
        }
        std::string misfit = IndexMisfit(*entry, change.object);
        if (!misfit.empty()) return refuse(AGENT_ERR_BAD_INSTANCE, "bad instance OID: " + misfit);
        size_t first = records.size();
        FamilyRowRecords(*entry, change.object, client.clientHandle, taken, &next, &records);
        for (size_t r = first; r < records.size(); ++r) {
          uint32_t member = family[r - first];
          made[Row(member, change.object)] = records[r].handle;
          taken.insert(records[r].handle);
        }
        continue;
      }
      if (!rowOf(entry->handle, change.object))
        return refuse(AGENT_ERR_NO_SUCH_INSTANCE, "no such instance");
      for (uint32_t member : family) {
        uint32_t handle = rowOf(member, change.object);
        if (handle == 0) continue;
        StateRecord& record = records.emplace_back();
        record.type = RecordType::Remove;
        record.handle = handle;
        Row row(member, change.object);
        if (made.erase(row) == 0) gone.insert(row);
      }
      continue;
    }
    if (change.kind != proto::PROTO_CHANGE_SET) {
      return refuse(AGENT_ERR_BAD_ARGUMENT, "no such kind of change (1 create, 2 remove, 3 set)");
    }
    const Oid& oid = change.object;
    // A scalar, named with .0 or without, as for a data handle.
    auto scalar = scalarByOid_.find(oid);
    if (scalar == scalarByOid_.end() && !oid.empty() && oid.back() == 0)
      scalar = scalarByOid_.find(Oid(oid.begin(), oid.end() - 1));
    if (scalar != scalarByOid_.end()) {
      std::string why;
      SnmpOutcome outcome =
          WriteCheck(0, static_cast<uint32_t>(scalar->second), change.value, &why);
      if (outcome != SnmpOutcome::Ok) return refuse(ErrorOfOutcome(outcome), why);
      records.push_back(ValueRecord(0, static_cast<uint32_t>(scalar->second), change.value));
      continue;
    }
    const EntryDef* entry = EntryAbove(oid);
    if (!entry || oid.size() < entry->oid.size() + 2)
      return refuse(AGENT_ERR_NO_SUCH_OBJECT, "no such object");
    uint32_t column = oid[entry->oid.size()];
    Oid index(oid.begin() + static_cast<long>(entry->oid.size()) + 1, oid.end());
    auto def = entry->columns.find(column);
    uint32_t handle = rowOf(entry->handle, index);
    if (handle == 0) return refuse(AGENT_ERR_NO_SUCH_INSTANCE, "no such instance");
    // A row this set makes has no instance yet: its columns are the entry's.
    const Instance* instance = taken.count(handle) ? nullptr : &instances_.at(handle);
    std::string why;
    SnmpOutcome outcome;
    if (instance) {
      if (!ColumnExists(*entry, *instance, column))
        return refuse(AGENT_ERR_NO_SUCH_OBJECT, "no such object");
      outcome = WriteCheck(handle, column, change.value, &why);
    } else {
      if (def == entry->columns.end()) return refuse(AGENT_ERR_NO_SUCH_OBJECT, "no such object");
      outcome = ValueCheck(def->second.syntax, def->second.writable, &def->second.limits,
                           def->second.name + "." + OidText(index), change.value, &why);
    }
    if (outcome != SnmpOutcome::Ok) return refuse(ErrorOfOutcome(outcome), why);
    if (column == entry->statusColumn && entry->statusColumn != 0) {
      // Rows come and go by CREATE and REMOVE; the status of a row says whether it is in service.
      uint32_t status = change.value.number;
      if (status != ROW_ACTIVE && status != ROW_NOT_IN_SERVICE) {
        return refuse(AGENT_ERR_WRONG_VALUE,
                      "a change set sets a RowStatus to active(1) or notInService(2) only; a "
                      "create or remove change makes or removes the row");
      }
      if (status == ROW_ACTIVE &&
          !RowComplete(*entry, instance, written[Row(entry->handle, index)])) {
        return refuse(AGENT_ERR_WRONG_VALUE,
                      "active(1) of a row that lacks a value without a default");
      }
    }
    records.push_back(ValueRecord(handle, column, change.value));
  }

  Reply reply;
  if (records.empty()) return reply;
  if (!Commit(records, &reply)) return reply;
  nextInstance_ = next;
  reply.generation = generation_;
  return reply;
}

}  // namespace orvu::agent
