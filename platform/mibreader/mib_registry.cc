#include "mibreader/mib_registry.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "mibreader/mib_base_modules.h"
#include "mibreader/mib_lexer.h"
#include "mibreader/mib_parsed.h"
#include "mibreader/mib_resolve.h"
#include "mibreader/mib_text.h"

namespace orvu::mib {
namespace {

constexpr size_t MIB_MAX_IMPORT_DEPTH = 64;
const char* const MIB_FILE_SUFFIXES[] = {"", ".txt", ".mib", ".my"};

struct LoadFailure {
  LoadError error;
};

[[noreturn]] void Throw(std::string fileName, Position at, std::string cause) {
  LoadFailure failure;
  failure.error.fileName = std::move(fileName);
  failure.error.line = at.line;
  failure.error.column = at.column;
  failure.error.cause = std::move(cause);
  throw failure;
}

// Module names become file names, so only the characters module names are made of are allowed.
bool IsModuleName(const std::string& name) {
  if (name.empty() || name.size() > 255 || name[0] == '-' || name[0] == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
  });
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// One call of Registry::Load: modules read so far in this attempt, in the order they completed.
class LoadAttempt {
 public:
  LoadAttempt(const Registry& registry, const std::vector<std::string>& searchPath)
      : registry_(registry), searchPath_(searchPath) {}

  std::vector<std::unique_ptr<Module>> TakeModules() { return std::move(done_); }

  const Module* Find(const std::string& name) const {
    if (const Module* module = registry_.FindModule(name)) return module;
    for (const auto& module : done_) {
      if (module->name == name) return module.get();
    }
    return nullptr;
  }

  // Loads NAME unless known; IMPORTER and AT say where it was asked for (empty at the top).
  void Require(const std::string& name, const std::string& importer, Position at) {
    if (Find(name)) return;
    if (std::find(stack_.begin(), stack_.end(), name) != stack_.end()) {
      std::string cycle;
      for (auto it = std::find(stack_.begin(), stack_.end(), name); it != stack_.end(); ++it)
        cycle += *it + " -> ";
      Throw(importer, at, "import cycle: " + cycle + name);
    }
    if (stack_.size() >= MIB_MAX_IMPORT_DEPTH)
      Throw(importer, at, "imports nested deeper than 64 modules");
    if (!IsModuleName(name)) Throw(importer, at, "bad module name " + name);
    std::string tried;
    std::string path = Locate(name, &tried);
    if (path.empty()) {
      if (std::unique_ptr<Module> fallback = FallbackModule(name)) {
        done_.push_back(std::move(fallback));
        return;
      }
      Throw(importer, at, "module " + name + " not found (tried " + tried + ")");
    }
    stack_.push_back(name);
    std::unique_ptr<Module> module;
    try {
      try {
        ParsedModule parsed = ParseText(path);
        if (parsed.name != name)
          Throw(path, parsed.position, "file holds module " + parsed.name + ", not " + name);
        for (const ParsedImport& group : parsed.imports)
          Require(group.module, path, group.position);
        ResolveContext context;
        context.findModule = [this](const std::string& wanted) { return Find(wanted); };
        context.findOid = [this](const std::vector<uint32_t>& oid) { return FindOid(oid); };
        module = ResolveModule(parsed, context);
      } catch (const MibFailure& failure) {
        Throw(path, failure.position, failure.cause);
      }
    } catch (LoadFailure& failure) {
      failure.error.importChain.insert(failure.error.importChain.begin(), name);
      throw;
    }
    stack_.pop_back();
    module->fileName = path;
    done_.push_back(std::move(module));
  }

 private:
  std::string Locate(const std::string& name, std::string* tried) const {
    for (const std::string& folder : searchPath_) {
      for (const char* suffix : MIB_FILE_SUFFIXES) {
        std::string path = folder;
        if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
        path += name + suffix;
        if (IsRegularFile(path)) return path;
        if (!tried->empty()) *tried += ", ";
        *tried += path;
      }
    }
    if (tried->empty()) *tried = "no folder on the MIB path";
    return {};
  }

  // The parsed form keeps no view into the text, which goes before the imports are read and the
  // module is resolved.
  static ParsedModule ParseText(const std::string& path) {
    ModuleText text;
    std::string cause;
    if (!text.Open(path, &cause)) Throw(path, {}, cause);
    return ParseModule(text.View());
  }

  const Object* FindOid(const std::vector<uint32_t>& oid) const {
    if (const Object* object = registry_.FindOid(oid.data(), oid.size())) return object;
    for (const auto& module : done_) {
      for (const Object& object : module->objects) {
        if (object.oid == oid) return &object;
      }
    }
    return nullptr;
  }

  const Registry& registry_;
  const std::vector<std::string>& searchPath_;
  std::vector<std::unique_ptr<Module>> done_;
  std::vector<std::string> stack_;
};

}  // namespace

std::string LoadError::Text() const {
  std::string text = cause;
  if (line > 0) {
    text = fileName + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + cause;
  } else if (!fileName.empty()) {
    text = fileName + ": " + cause;
  }
  // An import cycle names its modules in its cause already.
  if (importChain.size() < 2 || cause.rfind("import cycle", 0) == 0) return text;
  text += "; import chain: ";
  for (const std::string& module : importChain) text += module + " -> ";
  text.resize(text.size() - 4);
  if (line > 0) text += ":" + std::to_string(line);
  return text;
}

Registry::Registry(std::vector<std::string> searchPath) : searchPath_(std::move(searchPath)) {
  for (auto& module : BaseModules()) Add(std::move(module));
}

namespace {

size_t NameSlot(std::string_view name, size_t slots) {
  return std::hash<std::string_view>()(name) & (slots - 1);
}

bool OidBefore(const Object* a, const Object* b) { return a->oid < b->oid; }

bool OidBeforeKey(const Object* object, std::pair<const uint32_t*, size_t> key) {
  return std::lexicographical_compare(object->oid.begin(), object->oid.end(), key.first,
                                      key.first + key.second);
}

bool SameOid(const Object* object, const uint32_t* ids, size_t count) {
  return object->oid.size() == count && std::equal(object->oid.begin(), object->oid.end(), ids);
}

}  // namespace

const Object* Registry::IndexName(const Object* object) {
  size_t mask = byName_.size() - 1;
  size_t at = NameSlot(object->name, byName_.size());
  for (; byName_[at]; at = (at + 1) & mask) {
    if (byName_[at]->name == object->name) return byName_[at];
  }
  byName_[at] = object;
  ++named_;
  return object;
}

// Grows the name index once for a whole module, so that it stays at most half full.
void Registry::MakeRoomForNames(size_t more) {
  size_t slots = std::max<size_t>(64, byName_.size());
  while (2 * (named_ + more) > slots) slots *= 2;
  if (slots == byName_.size()) return;
  std::vector<const Object*> old(slots, nullptr);
  old.swap(byName_);
  named_ = 0;
  for (const Object* kept : old) {
    if (kept) IndexName(kept);
  }
}

void Registry::Add(std::unique_ptr<Module> module) {
  MakeRoomForNames(module->objects.size());
  for (const Object& object : module->objects) {
    const Object* first = IndexName(&object);
    if (first != &object && first->oid != object.oid) alsoDefined_[object.name].push_back(&object);
  }
  for (const Object& object : module->objects) pendingOid_.push_back(&object);
  modules_.push_back(std::move(module));
}

bool Registry::Load(const std::string& name, LoadError* error, std::vector<LoadError>* warnings) {
  if (FindModule(name)) return true;
  LoadAttempt attempt(*this, searchPath_);
  try {
    attempt.Require(name, "", {});
  } catch (const LoadFailure& failure) {
    if (error) *error = failure.error;
    return false;
  }
  for (auto& module : attempt.TakeModules()) {
    if (warnings) {
      for (const ModuleWarning& warning : module->warnings)
        warnings->push_back({module->fileName, warning.line, warning.column, warning.cause, {}});
    }
    Add(std::move(module));
  }
  return true;
}

const Module* Registry::FindModule(const std::string& name) const {
  for (const auto& module : modules_) {
    if (module->name == name) return module.get();
  }
  return nullptr;
}

const Object* Registry::FindIn(const Module& module, const std::string& name) {
  for (const Object& object : module.objects) {
    if (object.name == name) return &object;
  }
  return nullptr;
}

const Module* Registry::ModuleOf(const Object* object) const {
  for (const auto& module : modules_) {
    const std::vector<Object>& objects = module->objects;
    if (!objects.empty() && std::less_equal<const Object*>()(objects.data(), object) &&
        std::less<const Object*>()(object, objects.data() + objects.size()))
      return module.get();
  }
  return nullptr;
}

namespace {

std::string OidText(const std::vector<uint32_t>& oid) {
  std::string text;
  for (uint32_t id : oid) text += (text.empty() ? "" : ".") + std::to_string(id);
  return text;
}

}  // namespace

const Object* Registry::FindName(const std::string& name, std::string* note) const {
  note->clear();
  const Object* found = FindName(name);
  size_t qualified = name.find("::");
  if (qualified != std::string::npos && !FindModule(name.substr(0, qualified)))
    *note = "no loaded module is named " + name.substr(0, qualified);
  auto others = alsoDefined_.find(name);
  if (!found || others == alsoDefined_.end()) return found;
  const Module* first = ModuleOf(found);
  *note = name + " is defined by " + (first ? first->name : "?") + " (" + OidText(found->oid) + ")";
  for (const Object* other : others->second) {
    const Module* module = ModuleOf(other);
    *note += " and by " + (module ? module->name : "?") + " (" + OidText(other->oid) + ")";
  }
  *note +=
      ": " + (first ? first->name : "?") + "'s is taken; write MODULE::" + name + " for another";
  return found;
}

const Object* Registry::FindNameFor(const Module& module, const std::string& name) const {
  if (const Object* own = FindIn(module, name)) return own;
  for (const std::string& imported : module.imports) {
    const Module* from = FindModule(imported);
    if (const Object* object = from ? FindIn(*from, name) : nullptr) return object;
  }
  return FindName(name);
}

const Object* Registry::FindName(const std::string& name) const {
  size_t qualified = name.find("::");
  if (qualified != std::string::npos) {
    const Module* module = FindModule(name.substr(0, qualified));
    return module ? FindIn(*module, name.substr(qualified + 2)) : nullptr;
  }
  if (byName_.empty()) return nullptr;
  size_t mask = byName_.size() - 1;
  for (size_t at = NameSlot(name, byName_.size()); byName_[at]; at = (at + 1) & mask) {
    if (byName_[at]->name == name) return byName_[at];
  }
  return nullptr;
}

// The pending objects go behind the equal ones already sorted, in the order they were added.
void Registry::SortOids() const {
  if (pendingOid_.empty()) return;
  size_t old = byOid_.size();
  byOid_.insert(byOid_.end(), pendingOid_.begin(), pendingOid_.end());
  pendingOid_.clear();
  pendingOid_.shrink_to_fit();
  auto middle = byOid_.begin() + static_cast<std::ptrdiff_t>(old);
  // Modules mostly define their objects in order already.
  if (!std::is_sorted(middle, byOid_.end(), OidBefore))
    std::stable_sort(middle, byOid_.end(), OidBefore);
  std::inplace_merge(byOid_.begin(), middle, byOid_.end(), OidBefore);
}

const Object* Registry::FindOid(const uint32_t* ids, size_t count) const {
  SortOids();
  // No loaded OID is longer than the reader allows, so longer keys are not even built.
  if ((count > 0 && !ids) || count > MIB_MAX_OID_LENGTH) return nullptr;
  auto found =
      std::lower_bound(byOid_.begin(), byOid_.end(), std::make_pair(ids, count), OidBeforeKey);
  return found != byOid_.end() && SameOid(*found, ids, count) ? *found : nullptr;
}

std::vector<const Object*> Registry::Columns(const Object& entry) const {
  SortOids();
  std::vector<const Object*> columns;
  auto it = std::upper_bound(byOid_.begin(), byOid_.end(), &entry, OidBefore);
  for (; it != byOid_.end(); ++it) {
    const std::vector<uint32_t>& oid = (*it)->oid;
    if (oid.size() <= entry.oid.size() ||
        !std::equal(entry.oid.begin(), entry.oid.end(), oid.begin()))
      break;
    // Of objects with one OID, the first loaded stands for it.
    bool shadowed = it != byOid_.begin() && (*(it - 1))->oid == oid;
    if (oid.size() == entry.oid.size() + 1 && !shadowed && (*it)->kind == ObjectKind::Column)
      columns.push_back(*it);
  }
  return columns;
}

}  // namespace orvu::mib
