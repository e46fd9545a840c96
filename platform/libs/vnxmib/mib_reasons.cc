#include "libs/vnxmib/mib_reasons.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace orvu::mib {

namespace {

// Farther than this, a name is no longer a likely misspelling of the one asked for.
constexpr size_t MIB_CLOSEST_MAX_EDITS = 3;

struct LastReasonStore {
  std::mutex mutex;
  std::string reason;
};

LastReasonStore& Store() {
  static LastReasonStore store;
  return store;
}

// Edits (insert, delete, replace) from A to B, giving up past LIMIT.
size_t EditDistance(const std::string& a, const std::string& b, size_t limit) {
  size_t lengthGap = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (lengthGap > limit) return limit + 1;
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      size_t replace = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      row[j] = std::min({above + 1, row[j - 1] + 1, replace});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string ClosestName(const Registry& registry, const std::string& name) {
  size_t limit = std::min(MIB_CLOSEST_MAX_EDITS, std::max<size_t>(1, name.size() / 3));
  std::string closest;
  size_t best = limit + 1;
  for (const auto& module : registry.Modules()) {
    for (const Object& object : module->objects) {
      size_t distance = EditDistance(name, object.name, limit);
      if (distance < best) {
        best = distance;
        closest = object.name;
      }
    }
  }
  return closest;
}

}  // namespace

std::string LoadFailureReason(const std::string& name, const LoadError& error) {
  return "cannot load " + name + ": " + error.Text();
}

std::string ForgivenReason(const std::vector<LoadError>& warnings) {
  std::string reason;
  for (const LoadError& warning : warnings) reason += (reason.empty() ? "" : "\n") + warning.Text();
  return reason;
}

std::string LookupFailureReason(const Registry& registry, const std::string& name) {
  std::string searched;
  for (const auto& module : registry.Modules()) {
    if (module->objects.empty()) continue;
    searched += (searched.empty() ? "" : ", ") + module->name;
  }
  if (searched.empty()) return "no object " + name + ": no MIB module with objects is loaded";
  std::string reason = "no object " + name + " in the loaded modules " + searched;
  std::string closest = ClosestName(registry, name);
  if (!closest.empty()) reason += "; the closest name is " + closest;
  return reason;
}

void KeepLastReason(std::string reason) {
  LastReasonStore& store = Store();
  std::lock_guard<std::mutex> lock(store.mutex);
  store.reason = std::move(reason);
}

std::string LastReason() {
  LastReasonStore& store = Store();
  std::lock_guard<std::mutex> lock(store.mutex);
  return store.reason;
}

}  // namespace orvu::mib
