#include "orvuctl/change_apply.h"

#include "agentapi/outside_api.h"
#include "orvuctl/report_error.h"
#include "values/change_record.h"

namespace {

constexpr uint32_t CHANGE_ERROR_TEXT_SIZE = 1024;

SnmpOid OidOf(const std::vector<uint32_t>& ids) {
  return SnmpOid{static_cast<uint32_t>(ids.size()), const_cast<uint32_t*>(ids.data())};
}

std::string ChangeText(const PlannedChange& change) {
  if (change.action == CHANGE_CREATE) return "create " + ChangeObjectName(change);
  if (change.action == CHANGE_REMOVE) return "remove " + ChangeObjectName(change);
  return ChangeObjectName(change) + " = " + PlainText(*change.after, ChangeShape(change));
}

}  // namespace

bool ApplyChanges(AgentHandle agent, const std::vector<PlannedChange>& changes) {
  if (changes.empty()) return true;
  if (!gOptionalApi.AgentApplyChanges) {
    ReportError("the agent's library has no change sets: nothing was changed");
    return false;
  }
  std::vector<AgentChange> set(changes.size());
  for (size_t i = 0; i < changes.size(); ++i) {
    const PlannedChange& change = changes[i];
    set[i].kind = change.action;
    if (change.action != CHANGE_SET) set[i].entry = OidOf(change.object->oid);
    set[i].object = OidOf(change.oid);
    if (change.after) set[i].value = AsSnmpValue(*change.after);
  }
  uint32_t failedIndex = static_cast<uint32_t>(changes.size());
  int code = gOptionalApi.AgentApplyChanges(agent, set.data(), static_cast<uint32_t>(set.size()),
                                            &failedIndex);
  if (code == 0) return true;
  char text[CHANGE_ERROR_TEXT_SIZE] = {};
  const char* reason = gApi.AgentErrorText(code, text, sizeof text);
  // The library's text names the refused change itself; without one, the position says which.
  if (reason != nullptr && reason[0] != '\0') {
    ReportError(std::string(reason) + " (nothing was changed)");
  } else {
    std::string where =
        failedIndex < changes.size() ? ChangeText(changes[failedIndex]) + ": " : std::string();
    ReportError(where + "refused with error " + std::to_string(code) + " (nothing was changed)");
  }
  return false;
}
