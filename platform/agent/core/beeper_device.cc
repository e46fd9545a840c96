// The device behind the sample module, as its MIB's descriptions say: writing beep(2) to
// speakerControl beeps; a schedule row beeps once its delay has passed after it became active,
// and only while it is still active; each beep counts in speakerBeepCount and stamps
// speakerLastBeep; a changed setting of a tone stamps its speakerFreqLastChange.
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "agent/core/agent_core.h"
#include "agent/core/up_time.h"

namespace orvu::agent {

namespace {

constexpr const char* BEEPER_MODULE = "VORNEL-VNBEEP-MIB";
constexpr uint32_t BEEPER_CONTROL_BEEP = 2;

size_t ScalarNamed(const std::vector<ScalarDef>& scalars, const char* name) {
  for (size_t i = 0; i < scalars.size(); ++i) {
    if (scalars[i].fromMib && scalars[i].module == BEEPER_MODULE && scalars[i].name == name)
      return i;
  }
  return BEEPER_NONE;
}

uint32_t ColumnNamed(const EntryDef& entry, const char* name) {
  for (const auto& [number, def] : entry.columns) {
    if (def.name == name) return number;
  }
  return 0;
}

}  // namespace

void AgentCore::FindDevice() {
  if (beeper_.wakeFd >= 0) close(beeper_.wakeFd);
  beeper_ = BeeperState();
  beeper_.control = ScalarNamed(scalars_, "speakerControl");
  beeper_.beepCount = ScalarNamed(scalars_, "speakerBeepCount");
  beeper_.lastBeep = ScalarNamed(scalars_, "speakerLastBeep");
  for (const EntryDef& e : entries_) {
    if (!e.fromMib || e.module != BEEPER_MODULE) continue;
    if (e.name == "speakerFreqEntry") {
      beeper_.freqEntry = e.handle;
      beeper_.lastChangeColumn = ColumnNamed(e, "speakerFreqLastChange");
    } else if (e.name == "speakerScheduleEntry") {
      beeper_.scheduleEntry = e.handle;
      beeper_.delayColumn = ColumnNamed(e, "speakerScheduleDelay");
      beeper_.statusColumn = e.statusColumn;
    }
  }
}

void AgentCore::PrepareDeviceWake() {
  if (beeper_.scheduleEntry != 0 && beeper_.wakeFd < 0)
    beeper_.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

int AgentCore::DeviceWakeFd() const { return beeper_.wakeFd; }

void AgentCore::DeviceWoken() {
  uint64_t count = 0;
  if (read(beeper_.wakeFd, &count, sizeof count) < 0) {
    // Nothing to take: another wait took it already.
  }
}

void AgentCore::Beep() {
  if (beeper_.beepCount != BEEPER_NONE) ++scalars_[beeper_.beepCount].value.number;
  if (beeper_.lastBeep != BEEPER_NONE) scalars_[beeper_.lastBeep].value.number = UpTimeTicks();
  std::string why;
  Notify("speakerBeeped", {}, &why);
}

void AgentCore::DeviceAfter(const std::vector<StateRecord>& records) {
  for (const StateRecord& record : records) {
    if (record.type == RecordType::Remove) {
      beeper_.lastChange.erase(record.handle);
      beeper_.due.erase(record.handle);
      continue;
    }
    if (record.type == RecordType::Scalar) {
      if (beeper_.control != BEEPER_NONE && record.scalarOid == scalars_[beeper_.control].oid &&
          record.value.kind == proto::ValueKind::Number &&
          record.value.number == BEEPER_CONTROL_BEEP)
        Beep();
      continue;
    }
    if (record.type != RecordType::Value) continue;
    auto it = instances_.find(record.handle);
    if (it == instances_.end()) continue;
    const Instance& instance = it->second;
    if (instance.entryHandle == beeper_.freqEntry && beeper_.lastChangeColumn != 0) {
      // A stamp written by a client stands until the next change.
      if (record.column == beeper_.lastChangeColumn) {
        beeper_.lastChange.erase(record.handle);
      } else {
        beeper_.lastChange[record.handle] = UpTimeTicks();
      }
    } else if (instance.entryHandle == beeper_.scheduleEntry &&
               record.column == beeper_.statusColumn && beeper_.statusColumn != 0) {
      const EntryDef& entry = entries_[instance.entryHandle - 1];
      if (ColumnValue(entry, instance, record.column).number != ROW_ACTIVE) {
        beeper_.due.erase(record.handle);
        continue;
      }
      uint32_t delay =
          beeper_.delayColumn ? ColumnValue(entry, instance, beeper_.delayColumn).number : 0;
      beeper_.due[record.handle] =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(uint64_t{delay} * 10);
      uint64_t one = 1;
      if (beeper_.wakeFd >= 0 && write(beeper_.wakeFd, &one, sizeof one) < 0) {
        // The counter is far from full: the loop is woken already.
      }
    }
  }
}

int AgentCore::DeviceTimeoutMs() const {
  if (beeper_.due.empty()) return -1;
  auto next = std::min_element(beeper_.due.begin(), beeper_.due.end(),
                               [](const auto& a, const auto& b) { return a.second < b.second; });
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                  next->second - std::chrono::steady_clock::now())
                  .count();
  return static_cast<int>(std::clamp<long long>(left + 1, 0, 60000));
}

void AgentCore::DeviceTick() {
  auto now = std::chrono::steady_clock::now();
  for (auto it = beeper_.due.begin(); it != beeper_.due.end();) {
    if (it->second > now) {
      ++it;
      continue;
    }
    uint32_t handle = it->first;
    it = beeper_.due.erase(it);
    auto row = instances_.find(handle);
    if (row == instances_.end()) continue;
    const EntryDef& entry = entries_[row->second.entryHandle - 1];
    if (ColumnValue(entry, row->second, beeper_.statusColumn).number == ROW_ACTIVE) Beep();
  }
}

bool AgentCore::DeviceColumn(const EntryDef& entry, const Instance& instance, uint32_t column,
                             proto::Value* value) const {
  if (entry.handle != beeper_.freqEntry || column != beeper_.lastChangeColumn ||
      beeper_.lastChange.empty())
    return false;
  auto stamp = beeper_.lastChange.find(instance.handle);
  if (stamp == beeper_.lastChange.end()) return false;
  *value = entry.columns.at(column).initial;
  value->number = stamp->second;
  return true;
}

}  // namespace orvu::agent
