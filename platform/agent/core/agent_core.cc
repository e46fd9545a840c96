// The agent's set-up from its options and state file, and the lookups every request handler uses.
#include "agent/core/agent_core.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

#include "agent/core/agent_reply.h"
#include "agent/core/up_time.h"

namespace orvu::agent {

using proto::Reply;

namespace {

// sysORDescr is a DisplayString of at most 255 characters: a module's description on one line,
// cut there.
std::string SysOrText(const std::string& description) {
  constexpr size_t SYS_OR_DESCR_MAX = 255;
  std::string line;
  for (char c : description) {
    bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (blank && (line.empty() || line.back() == ' ')) continue;
    line.push_back(blank ? ' ' : c);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (line.size() > SYS_OR_DESCR_MAX) line.resize(SYS_OR_DESCR_MAX);
  return line;
}

}  // namespace

int32_t AgentCore::Now() const {
  return options_.clock ? *options_.clock : static_cast<int32_t>(std::time(nullptr));
}

bool AgentCore::Start(const AgentOptions& options, std::string* error) {
  options_ = options;
  if (!journal_.Lock(options.statePath, options.syncEachChange, error)) return false;
  journal_.NoteFailedCutsAt(options.cutNotePath);
  std::string said;
  if (!journal_.MakeNotedCut(&said, error)) return false;
  if (!said.empty()) std::fprintf(stderr, "orvu-agentd: %s\n", said.c_str());
  // Two passes over the file, so that neither the file nor its records are ever held whole: the
  // modules named anywhere in it come first, then every line is checked and every record applied
  // as it is read.
  StateFileFound found;
  std::map<std::string, size_t> moduleLines;
  auto takeModule = [&](std::string name, size_t line) {
    moduleLines.emplace(name, line);
    modules_.push_back(std::move(name));
  };
  if (!ReadStateModules(options.statePath, takeModule, error)) return false;
  const std::vector<std::string> fileModules = modules_;
  modules_.insert(modules_.end(), options.modules.begin(), options.modules.end());
  std::vector<std::string> unique;
  for (const std::string& m : modules_) {
    if (std::find(unique.begin(), unique.end(), m) == unique.end()) unique.push_back(m);
  }
  modules_ = unique;

  mib::Registry registry(options.mibPath);
  for (const std::string& name : modules_) {
    mib::LoadError loadError;
    std::vector<mib::LoadError> warnings;
    const mib::Module* module = nullptr;
    bool loaded = registry.Load(name, &loadError, &warnings);
    for (const mib::LoadError& warning : warnings)
      std::fprintf(stderr, "orvu-agentd: warning: %s\n", warning.Text().c_str());
    if (!loaded || !(module = registry.FindModule(name))) {
      auto line = moduleLines.find(name);
      *error = (line == moduleLines.end()
                    ? std::string()
                    : options.statePath + ":" + std::to_string(line->second) + ": ") +
               "cannot load module " + name + ": " + loadError.Text();
      return false;
    }
    AddModuleObjects(registry, *module, &entries_, &scalars_);
    FindNotifications(registry, *module);
    for (const mib::Object& object : module->objects) {
      if (object.notes && object.notes->moduleIdentity) {
        snmpModules_.push_back({name, object.oid, SysOrText(object.notes->description)});
        break;
      }
    }
  }
  instancesByIndex_.resize(entries_.size());
  for (const EntryDef& e : entries_) IndexEntry(e);
  FindRowFamilies();
  for (size_t i = 0; i < scalars_.size(); ++i) scalarByOid_.emplace(scalars_[i].oid, i);
  FindDevice();
  StartUpTime(options.clock.has_value());

  auto apply = [&](StateRecord&& record, std::string* failure) {
    std::string cause;
    if (!Check(record, &cause)) {
      *failure = options.statePath + ":" + std::to_string(record.line) + ": " + cause;
      return false;
    }
    Apply(record);
    return true;
  };
  if (!ReadStateFile(options.statePath, apply, &found, error)) return false;
  if (found.tornLine) {
    std::fprintf(stderr,
                 "orvu-agentd: %s:%zu: left out a record cut short (it was never acknowledged)\n",
                 options.statePath.c_str(), found.tornLine);
  }
  if (found.nulTail) {
    std::fprintf(stderr,
                 "orvu-agentd: %s: left out %zu NUL bytes at its end, after its last whole record "
                 "(its size reached the disk before the bytes written there, as a power cut "
                 "leaves it)\n",
                 options.statePath.c_str(), found.nulTail);
  }
  // What the agent did not write itself, or had to cut, is kept as it was before the rewrite.
  if (found.tornLine || found.nulTail || (!found.sealed && found.bytes > 0)) {
    std::string kept;
    if (!journal_.KeepCopy(&kept, error)) return false;
    if (found.tornLine || found.nulTail)
      std::fprintf(stderr, "orvu-agentd: the state file as found is kept as %s\n", kept.c_str());
  }
  // The instances read raised nextClient_ past their creators as they were applied; the next
  // instance handle follows the highest one that has a next.
  for (auto it = instances_.rbegin(); it != instances_.rend(); ++it) {
    if (it->first == UINT32_MAX) continue;
    nextInstance_ = std::max(nextInstance_, it->first + 1);
    break;
  }
  for (const proto::ClientRecord& client : resident_)
    nextClient_ = std::max(nextClient_, client.clientHandle + 1);
  if (nextInstance_ == 0) nextInstance_ = 1;
  if (nextClient_ == 0) nextClient_ = 1;
  bool madeRows = ShareRows();
  CheckSnmpView();
  // A file the last rewrite left as it is, whose state this start left as it read it, would be
  // written again byte for byte: it is appended to as it is.
  bool asRead = modules_ == fileModules && !madeRows;
  if (asRead && journal_.Adopt(found)) return true;
  // Any other file whose state is served as it was read (written by hand, or with changes
  // appended) stays the state file, untouched, until its rewrite is in place: a large one is
  // rewritten after the start, between requests, so that nobody waits for the copy. A crash
  // before then leaves the file that this start read; a change first finishes the rewrite.
  bool inParts = asRead && found.bytes >= AGENT_REWRITE_IN_PARTS_BYTES;
  if (inParts && journal_.BeginRewrite(error)) {
    SnapshotHead([this](const StateRecord& record) { journal_.AddToRewrite(record); });
    rewriteFrom_ = 0;
    journal_.AppendWhileRewriting(found);
    return true;
  }
  if (!inParts && journal_.Rewrite(SnapshotSource(), error)) return true;
  if (!journal_.RewriteLackedRoom()) return false;
  // The state read is whole: it is served, and the rewrite waits for room until the first change.
  std::fprintf(stderr,
               "orvu-agentd: %s; serving the state as it is, changes are refused until there is "
               "room to rewrite it\n",
               error->c_str());
  rewritePending_ = true;
  return true;
}

uint32_t AgentCore::LeafCount(const Instance& instance) const {
  if (instance.leaves) return *instance.leaves;
  const EntryDef& entry = entries_[instance.entryHandle - 1];
  uint32_t count = entry.leafCount;
  count = std::max(count, instance.values.LastColumn());
  return count;
}

EntryDef* AgentCore::EntryByHandle(uint32_t handle) {
  return handle >= 1 && handle <= entries_.size() ? &entries_[handle - 1] : nullptr;
}

EntryDef* AgentCore::EntryByOid(const Oid& oid) {
  auto it = entryByOid_.find(oid);
  return it == entryByOid_.end() ? nullptr : &entries_[it->second - 1];
}

void AgentCore::IndexEntry(const EntryDef& entry) {
  // Two modules may define the same entry; the first one loaded serves it.
  entryByOid_.emplace(entry.oid, entry.handle);
  longestEntry_ = std::max(longestEntry_, entry.oid.size());
  if (nullColumns_.size() < entry.handle) nullColumns_.resize(entry.handle);
  for (const auto& [number, def] : entry.columns) {
    if (def.readable && def.indexPosition < 0 && def.initial.syntax == ORVU_SYNTAX_NULL)
      nullColumns_[entry.handle - 1].push_back(number);
  }
}

Instance* AgentCore::InstanceOf(uint32_t entryHandle, uint32_t instanceHandle, Reply* reply) {
  if (!EntryByHandle(entryHandle)) {
    *reply = NoSuchEntryHandle(entryHandle);
    return nullptr;
  }
  auto it = instances_.find(instanceHandle);
  if (it == instances_.end() || it->second.entryHandle != entryHandle) {
    *reply = Fail(AGENT_ERR_NO_SUCH_INSTANCE,
                  "no such instance (handle " + std::to_string(instanceHandle) + ")");
    return nullptr;
  }
  return &it->second;
}

}  // namespace orvu::agent
