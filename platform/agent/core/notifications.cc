// The notifications that served modules define, sent with their OBJECTS filled from the agent's
// state: by the sample device after a beep, for IF-MIB rows whose ifOperStatus goes down or comes
// back (RFC 2863), and by any client that asks.
#include "agent/core/notifications.h"

#include <deque>
#include <mutex>

#include "agent/core/up_time.h"

namespace orvu::agent {
namespace {

constexpr size_t NOTIFY_QUEUE_MAX = 256;
const Oid SYS_UP_TIME_0 = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const Oid SNMP_TRAP_OID_0 = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
// ifOperStatus (RFC 2863): down(2) and notPresent(6), which neither notification covers.
constexpr uint32_t IF_DOWN = 2;
constexpr uint32_t IF_NOT_PRESENT = 6;

std::mutex gQueueLock;
std::deque<std::vector<SnmpVarBind>> gQueue;
bool gEnabled = false;

}  // namespace

void EnableNotifications() {
  std::lock_guard<std::mutex> lock(gQueueLock);
  gEnabled = true;
}

void QueueNotification(std::vector<SnmpVarBind> varbinds) {
  std::lock_guard<std::mutex> lock(gQueueLock);
  if (!gEnabled) return;
  if (gQueue.size() >= NOTIFY_QUEUE_MAX) gQueue.pop_front();
  gQueue.push_back(std::move(varbinds));
}

bool TakeNotification(std::vector<SnmpVarBind>* varbinds) {
  std::lock_guard<std::mutex> lock(gQueueLock);
  if (gQueue.empty()) return false;
  *varbinds = std::move(gQueue.front());
  gQueue.pop_front();
  return true;
}

void AgentCore::FindNotifications(const mib::Registry& registry, const mib::Module& module) {
  for (const mib::Object& object : module.objects) {
    if (object.kind != mib::ObjectKind::Notification || !object.notes) continue;
    NotificationDef def;
    def.name = object.name;
    def.oid = object.oid;
    for (const std::string& name : object.notes->objects) {
      if (const mib::Object* found = registry.FindNameFor(module, name))
        def.objects.push_back(found->oid);
    }
    notifications_.push_back(std::move(def));
  }
  for (const EntryDef& e : entries_) {
    if (!e.fromMib || e.module != "IF-MIB" || e.name != "ifEntry") continue;
    for (const auto& [number, column] : e.columns) {
      if (column.name == "ifOperStatus") {
        ifEntry_ = e.handle;
        ifOperStatusColumn_ = number;
      }
    }
  }
}

bool AgentCore::Notify(const std::string& name, const Oid& index, std::string* why) {
  const NotificationDef* def = nullptr;
  for (const NotificationDef& n : notifications_) {
    if (n.name == name) def = &n;
  }
  if (!def) {
    *why = "no served module defines the notification " + name;
    return false;
  }
  std::vector<SnmpVarBind> varbinds(2);
  varbinds[0].oid = SYS_UP_TIME_0;
  varbinds[0].value = ZeroValue(ORVU_SYNTAX_TIMETICKS);
  varbinds[0].value.number = UpTimeTicks();
  varbinds[1].oid = SNMP_TRAP_OID_0;
  varbinds[1].value = ZeroValue(ORVU_SYNTAX_OID);
  varbinds[1].value.ids = def->oid;
  for (const Oid& object : def->objects) {
    SnmpVarBind found;
    Oid instance = object;
    bool scalar = scalarByOid_.count(object) != 0;
    if (scalar) {
      instance.push_back(0);
    } else {
      instance.insert(instance.end(), index.begin(), index.end());
    }
    if (SnmpFind(instance, &found, true) != SnmpOutcome::Ok) {
      *why = "the notification " + name + " names " + OidText(instance) + ", which is not there";
      return false;
    }
    varbinds.push_back(std::move(found));
  }
  QueueNotification(std::move(varbinds));
  return true;
}

void AgentCore::LinksBefore(const std::vector<StateRecord>& records) {
  linkChanges_.clear();
  if (ifEntry_ == 0) return;
  for (const StateRecord& record : records) {
    if (record.type != RecordType::Value || record.column != ifOperStatusColumn_) continue;
    auto it = instances_.find(record.handle);
    if (it == instances_.end() || it->second.entryHandle != ifEntry_) continue;
    const EntryDef& entry = entries_[ifEntry_ - 1];
    linkChanges_.emplace_back(record.handle, ColumnValue(entry, it->second, record.column).number);
  }
}

void AgentCore::LinksAfter() {
  std::string why;
  for (const auto& [handle, before] : linkChanges_) {
    auto it = instances_.find(handle);
    if (it == instances_.end()) continue;
    const EntryDef& entry = entries_[ifEntry_ - 1];
    uint32_t now = ColumnValue(entry, it->second, ifOperStatusColumn_).number;
    if (now == before || before == IF_NOT_PRESENT || now == IF_NOT_PRESENT) continue;
    if (now == IF_DOWN) Notify("linkDown", it->second.index, &why);
    if (before == IF_DOWN) Notify("linkUp", it->second.index, &why);
  }
  linkChanges_.clear();
}

}  // namespace orvu::agent
