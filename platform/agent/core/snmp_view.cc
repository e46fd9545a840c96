// The agent's objects as an SNMP manager sees them: one ordered tree of scalars and table columns
// over the same state that the libraries read and write.
#include <algorithm>
#include <cstdio>

#include "agent/core/agent_core.h"
#include "agent/snmp/instance_index.h"

namespace orvu::agent {

using proto::Value;
using proto::ValueKind;

namespace {

bool StartsWith(const Oid& oid, const Oid& prefix) {
  return oid.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

Oid Append(Oid oid, uint32_t id) {
  oid.push_back(id);
  return oid;
}

// Whether OID < SCALAR.0, and SCALAR.0 < OID, without building SCALAR.0: a walk asks once per
// scalar and varbind.
bool InstanceAfter(const Oid& oid, const Oid& scalar) {
  size_t n = std::min(oid.size(), scalar.size());
  for (size_t i = 0; i < n; ++i) {
    if (oid[i] != scalar[i]) return oid[i] < scalar[i];
  }
  if (oid.size() <= scalar.size()) return true;
  return false;  // OID is SCALAR.x...: never before SCALAR.0, since .0 is the least and shortest
}

bool InstanceBefore(const Oid& scalar, const Oid& oid) {
  size_t n = std::min(oid.size(), scalar.size());
  for (size_t i = 0; i < n; ++i) {
    if (oid[i] != scalar[i]) return scalar[i] < oid[i];
  }
  if (oid.size() <= scalar.size()) return false;
  // OID is SCALAR.x...: SCALAR.0 comes first unless OID is SCALAR.0 itself.
  return oid[scalar.size()] > 0 || oid.size() > scalar.size() + 1;
}

}  // namespace

std::vector<Oid> AgentCore::SnmpRoots() const {
  // A module's scalar groups and tables, no more, so that the master's own objects under the same
  // prefix stay the master's; a table inside a scalar group is registered as well, so that a
  // master that serves the table itself refuses it and the agent can say so. An object that only
  // the state file names is a subtree of its own.
  std::vector<Oid> roots;
  auto parent = [](const Oid& oid) { return Oid(oid.begin(), oid.end() - (oid.size() > 1)); };
  for (const ScalarDef& s : scalars_) roots.push_back(s.fromMib ? parent(s.oid) : s.oid);
  for (const EntryDef& e : entries_) roots.push_back(e.fromMib ? parent(e.oid) : e.oid);
  std::sort(roots.begin(), roots.end());
  roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
  roots.erase(std::remove_if(roots.begin(), roots.end(), [](const Oid& r) { return r.empty(); }),
              roots.end());
  return roots;
}

const EntryDef* AgentCore::EntryAbove(const Oid& oid) const {
  for (size_t length = std::min(longestEntry_, oid.size() >= 1 ? oid.size() - 1 : 0); length > 0;
       --length) {
    auto it = entryByOid_.find(Oid(oid.begin(), oid.begin() + static_cast<long>(length)));
    if (it != entryByOid_.end()) return &entries_[it->second - 1];
  }
  return nullptr;
}

SnmpOutcome AgentCore::SnmpGet(const Oid& oid, SnmpVarBind* out) const {
  SnmpOutcome outcome = SnmpFind(oid, out);
  // A value that a manager cannot decode would cost it the whole response.
  if (outcome == SnmpOutcome::Ok && !SnmpCarries(out->value)) return SnmpOutcome::NoSuchInstance;
  return outcome;
}

SnmpOutcome AgentCore::SnmpFind(const Oid& oid, SnmpVarBind* out, bool unsetToo) const {
  if (!oid.empty()) {
    auto scalar = scalarByOid_.find(Oid(oid.begin(), oid.end() - 1));
    if (scalar != scalarByOid_.end() && scalars_[scalar->second].readable) {
      if (oid.back() != 0 || (!unsetToo && Unset(scalars_[scalar->second])))
        return SnmpOutcome::NoSuchInstance;
      out->oid = oid;
      out->value = scalars_[scalar->second].value;
      return SnmpOutcome::Ok;
    }
  }
  const EntryDef* entry = EntryAbove(oid);
  if (!entry) return SnmpOutcome::NoSuchObject;
  uint32_t column = oid[entry->oid.size()];
  auto def = entry->columns.find(column);
  bool known = def != entry->columns.end() ? def->second.readable : !entry->fromMib;
  if (!known) return SnmpOutcome::NoSuchObject;
  Oid index(oid.begin() + static_cast<long>(entry->oid.size()) + 1, oid.end());
  const auto& rows = instancesByIndex_[entry->handle - 1];
  auto row = rows.find(index);
  if (row == rows.end() || Hidden(row->second)) return SnmpOutcome::NoSuchInstance;
  const Instance& instance = instances_.at(row->second);
  if (!ColumnExists(*entry, instance, column)) return SnmpOutcome::NoSuchInstance;
  if (!unsetToo && def != entry->columns.end() && Unset(def->second, instance))
    return SnmpOutcome::NoSuchInstance;
  out->oid = oid;
  out->value = ColumnValue(*entry, instance, column);
  return SnmpOutcome::Ok;
}

bool AgentCore::NextInEntry(const EntryDef& entry, const Oid& after, SnmpVarBind* out) const {
  const auto& rows = instancesByIndex_[entry.handle - 1];
  if (rows.empty()) return false;
  // Entries that only the state file knows have the columns their instances hold values for.
  std::vector<uint32_t> columns;
  for (const auto& [number, def] : entry.columns) {
    if (def.readable) columns.push_back(number);
  }
  if (!entry.fromMib) {
    for (const auto& [index, handle] : rows) {
      instances_.at(handle).values.ForEachColumn(
          [&](uint32_t number) { columns.push_back(number); });
    }
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
  }
  // Where AFTER falls: before the entry (every column from its first row), within one of its
  // columns (that column from the row after AFTER's index), or past the entry.
  bool starts = StartsWith(after, entry.oid);
  if (!starts && !(after < entry.oid)) return false;
  bool inside = starts && after.size() > entry.oid.size();
  uint32_t afterColumn = inside ? after[entry.oid.size()] : 0;
  for (uint32_t column : columns) {
    if (inside && column < afterColumn) continue;
    auto def = entry.columns.find(column);
    auto row = rows.begin();
    if (inside && column == afterColumn) {
      row = rows.upper_bound(
          Oid(after.begin() + static_cast<long>(entry.oid.size()) + 1, after.end()));
    }
    for (; row != rows.end(); ++row) {
      if (Hidden(row->second)) continue;
      const Instance& instance = instances_.at(row->second);
      if (!ColumnExists(entry, instance, column)) continue;
      if (def != entry.columns.end() && Unset(def->second, instance)) continue;
      out->oid.assign(entry.oid.begin(), entry.oid.end());
      out->oid.push_back(column);
      out->oid.insert(out->oid.end(), row->first.begin(), row->first.end());
      out->value = ColumnValue(entry, instance, column);
      return true;
    }
  }
  return false;
}

bool AgentCore::SnmpNext(const Oid& oid, SnmpVarBind* out) const {
  if (!SnmpNextAny(oid, out)) return false;
  // What no manager can decode is stepped over, so that a walk goes on past it.
  while (out->oid.size() > SNMP_MAX_OID_LENGTH || !SnmpCarries(out->value)) {
    Oid after = std::move(out->oid);
    if (!SnmpNextAny(after, out)) return false;
  }
  return true;
}

bool AgentCore::SnmpNextAny(const Oid& oid, SnmpVarBind* out) const {
  bool found = false;
  for (const ScalarDef& s : scalars_) {
    if (!s.readable || Unset(s) || !InstanceAfter(oid, s.oid) ||
        (found && !InstanceBefore(s.oid, out->oid)))
      continue;
    out->oid = Append(s.oid, 0);
    out->value = s.value;
    found = true;
  }
  SnmpVarBind candidate;
  for (const EntryDef& e : entries_) {
    // Everything of an entry lies after the entry's own OID.
    if (found && !(e.oid < out->oid)) continue;
    if (entryByOid_.at(e.oid) != e.handle) continue;
    if (!NextInEntry(e, oid, &candidate)) continue;
    if (found && !(candidate.oid < out->oid)) continue;
    *out = std::move(candidate);
    found = true;
  }
  return found;
}

Oid AgentCore::SnmpPastNullColumn(const Oid& object) const {
  const EntryDef* entry = EntryAbove(object);
  if (!entry) return object;
  uint32_t column = object[entry->oid.size()];
  const std::vector<uint32_t>& nulls = nullColumns_[entry->handle - 1];
  if (std::find(nulls.begin(), nulls.end(), column) == nulls.end() ||
      notNullStored_.count({entry->handle, column}) != 0)
    return object;
  Oid columnOid = Append(entry->oid, column);
  // Another entry or a scalar that the state file places inside the column is not stepped over.
  auto inside = entryByOid_.lower_bound(columnOid);
  if (inside != entryByOid_.end() && StartsWith(inside->first, columnOid)) return object;
  auto scalar = scalarByOid_.lower_bound(columnOid);
  if (scalar != scalarByOid_.end() && StartsWith(scalar->first, columnOid)) return object;
  // Whatever lies beyond it in the column is longer than SNMP carries, and never served.
  columnOid.resize(std::max(columnOid.size(), SNMP_MAX_OID_LENGTH), UINT32_MAX);
  return columnOid;
}

void AgentCore::CountNotNull(const Instance& instance, uint32_t column, const Value* value) {
  const std::vector<uint32_t>& nulls = nullColumns_[instance.entryHandle - 1];
  if (nulls.empty()) return;
  auto count = [&](uint32_t at, int by) {
    if (by == 0) return;
    auto key = std::make_pair(instance.entryHandle, at);
    size_t& stored = notNullStored_[key];
    if (by > 0) {
      ++stored;
    } else if (--stored == 0) {
      notNullStored_.erase(key);
    }
  };
  Value before;
  for (uint32_t at : nulls) {
    if (value && at != column) continue;
    int was = instance.values.Get(at, &before) && before.syntax != ORVU_SYNTAX_NULL ? 1 : 0;
    int now = value && value->syntax != ORVU_SYNTAX_NULL ? 1 : 0;
    count(at, now - was);
  }
}

SnmpOutcome AgentCore::WriteCheck(uint32_t instanceHandle, uint32_t low, const Value& value,
                                  bool manager, std::string* why) const {
  uint32_t syntax = 0;
  bool writable = true;
  const ValueLimits* limits = nullptr;
  std::string name;
  if (instanceHandle == 0) {
    const ScalarDef& s = scalars_[low];
    syntax = s.syntax;
    writable = s.writable || (!manager && s.readable);
    limits = &s.limits;
    name = s.fromMib ? s.name : OidText(Append(s.oid, 0));
  } else {
    const Instance& instance = instances_.at(instanceHandle);
    const EntryDef& e = entries_[instance.entryHandle - 1];
    name = OidText(Append(e.oid, low)) + "." + OidText(instance.index);
    auto def = e.columns.find(low);
    if (def != e.columns.end()) {
      syntax = def->second.syntax;
      writable = def->second.writable || (!manager && def->second.readable);
      limits = &def->second.limits;
      name = def->second.name + "." + OidText(instance.index);
    }
  }
  return ValueCheck(syntax, writable, limits, name, value, why);
}

SnmpOutcome AgentCore::ValueCheck(uint32_t syntax, bool writable, const ValueLimits* limits,
                                  const std::string& name, const Value& value, std::string* why) {
  if (!writable) {
    *why = "object is read-only: " + name;
    return SnmpOutcome::NotWritable;
  }
  bool known = false;
  ValueKind kind = proto::KindOfSyntax(value.syntax, &known);
  if ((syntax != 0 && value.syntax != syntax) || (known && kind != value.kind)) {
    *why = "wrong syntax for object " + name + ": it takes syntax " + std::to_string(syntax) +
           ", not " + std::to_string(value.syntax);
    return SnmpOutcome::WrongType;
  }
  bool faultIsLength = false;
  std::string fault = SnmpValueFault(value, &faultIsLength);
  if (!fault.empty()) {
    *why = std::string(faultIsLength ? "wrong length" : "wrong value") + " for object " + name +
           ": " + fault;
    return faultIsLength ? SnmpOutcome::WrongLength : SnmpOutcome::WrongValue;
  }
  if (value.syntax == ORVU_SYNTAX_IPADDR && value.bytes.size() != 4) {
    *why = "wrong length for object " + name + ": an IP address has 4 bytes, not " +
           std::to_string(value.bytes.size());
    return SnmpOutcome::WrongLength;
  }
  bool isLength = false;
  std::string violation = limits ? LimitViolation(*limits, value, &isLength) : std::string();
  if (!violation.empty()) {
    *why = std::string(isLength ? "wrong length" : "wrong value") + " for object " + name + ": " +
           violation;
    return isLength ? SnmpOutcome::WrongLength : SnmpOutcome::WrongValue;
  }
  return SnmpOutcome::Ok;
}

SnmpOutcome AgentCore::SnmpCheckSet(const Oid& oid, const Value& value, SnmpSetTarget* target,
                                    std::string* why) const {
  *target = SnmpSetTarget();
  target->value = value;
  SnmpVarBind current;
  // A value no manager can read may still be written over with one it can.
  SnmpOutcome found = SnmpFind(oid, &current, true);
  if (found == SnmpOutcome::NoSuchObject) {
    *why = "no such object: " + OidText(oid);
    return SnmpOutcome::NotWritable;
  }
  if (found == SnmpOutcome::NoSuchInstance) return MissingInstance(oid, value, why);
  auto scalar = scalarByOid_.find(Oid(oid.begin(), oid.end() - 1));
  uint32_t syntax = 0;
  if (scalar != scalarByOid_.end()) {
    target->column = static_cast<uint32_t>(scalar->second);
    syntax = scalars_[scalar->second].syntax;
  } else {
    const EntryDef* entry = EntryAbove(oid);
    target->column = oid[entry->oid.size()];
    target->instanceHandle = instancesByIndex_[entry->handle - 1].at(
        Oid(oid.begin() + static_cast<long>(entry->oid.size()) + 1, oid.end()));
    auto def = entry->columns.find(target->column);
    if (def != entry->columns.end()) syntax = def->second.syntax;
  }
  // AgentX has no NsapAddress: a manager writes one as an OCTET STRING.
  if (syntax == ORVU_SYNTAX_NSAPADDR && value.syntax == ORVU_SYNTAX_OCTETS) {
    target->value.syntax = ORVU_SYNTAX_NSAPADDR;
  }
  target->previous = current.value;
  SnmpOutcome outcome =
      WriteCheck(target->instanceHandle, target->column, target->value, true, why);
  if (outcome != SnmpOutcome::Ok) return outcome;
  return SpinLock(*target, OidText(oid), &target->value, why);
}

void AgentCore::CheckSnmpView() {
  constexpr size_t NAMED = 5;
  const char* state = options_.statePath.c_str();
  size_t values = 0;
  // Named only when it is not shown: a start checks every value of a million.
  auto warn = [&](const Value& value, const auto& name) {
    if (SnmpCarries(value) || ++values > NAMED) return;
    bool isLength = false;
    std::fprintf(stderr, "orvu-agentd: %s: %s holds a value that SNMP managers are not shown: %s\n",
                 state, name().c_str(), SnmpValueFault(value, &isLength).c_str());
  };
  for (const ScalarDef& s : scalars_)
    warn(s.value, [&] { return (s.fromMib ? s.name : OidText(s.oid)) + ".0"; });
  Value value;
  for (const auto& [handle, instance] : instances_) {
    const EntryDef& e = entries_[instance.entryHandle - 1];
    const Oid& index = instance.index;  // a lambda may not capture a structured binding in C++20
    // Only an OID value or a long string can be one that SNMP cannot carry: the others are not
    // unpacked.
    for (StoredValues::Cursor at(instance.values); !at.AtEnd(); at.Next()) {
      if (at.Kind() != proto::ValueKind::Oid &&
          (at.Kind() != proto::ValueKind::Bytes || at.ItemBytes() <= SNMP_MAX_VALUE_BYTES))
        continue;
      at.Value(&value);
      uint32_t column = at.Column();
      warn(value, [&] {
        auto def = e.columns.find(column);
        return (def != e.columns.end() ? def->second.name : OidText(Append(e.oid, column))) + "." +
               OidText(index);
      });
    }
    std::string misfit = IndexMisfit(e, instance.index);
    if (misfit.empty()) continue;
    if (snmpHidden_.size() < NAMED) {
      std::fprintf(stderr,
                   "orvu-agentd: %s: instance %s of %s does not fit its INDEX clause, so SNMP "
                   "managers are not shown it: %s\n",
                   state, OidText(instance.index).c_str(), e.name.c_str(), misfit.c_str());
    }
    snmpHidden_.insert(handle);
  }
  if (values > NAMED) {
    std::fprintf(stderr, "orvu-agentd: %s: %zu more values that SNMP managers are not shown\n",
                 state, values - NAMED);
  }
  if (snmpHidden_.size() > NAMED) {
    std::fprintf(stderr, "orvu-agentd: %s: %zu more instances that SNMP managers are not shown\n",
                 state, snmpHidden_.size() - NAMED);
  }
}

}  // namespace orvu::agent
