// The modules loaded so far and the lookups across them; loading reads files from a search path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mibreader/mib_model.h"

namespace orvu::mib {

struct LoadError {
  std::string fileName;
  int line = 0;  // 1-based; 0 when the error has no position (file not found)
  int column = 0;
  std::string cause;
  // The modules being loaded when it happened, from the one asked for down to the one that
  // failed; empty for a warning.
  std::vector<std::string> importChain;
  // "FILE:LINE:COLUMN: cause" (or "cause" when there is no position), followed by
  // "; import chain: A -> B -> C:LINE" when the module asked for failed through an import.
  std::string Text() const;
};

// The modules loaded so far, with lookups across all of them. Not thread-safe.
class Registry {
 public:
  explicit Registry(std::vector<std::string> searchPath);

  // Loads NAME (files NAME, NAME.txt, NAME.mib, NAME.my on the search path) and, first, what it
  // imports. Loading a module that is already loaded succeeds at once. On failure nothing of the
  // attempt stays loaded and *error (when given) says where and why. What the modules read get
  // wrong but the field's readers forgive is added to *warnings (when given).
  bool Load(const std::string& name, LoadError* error, std::vector<LoadError>* warnings = nullptr);

  const Module* FindModule(const std::string& name) const;
  // NAME as any loaded module defines it (the first loaded, when several do), or MODULE::NAME as
  // MODULE defines it.
  const Object* FindName(const std::string& name) const;
  // The same; when loaded modules define a bare NAME with different OIDs, *note says which one is
  // taken and how to name the others, else it is cleared.
  const Object* FindName(const std::string& name, std::string* note) const;
  // NAME as MODULE sees it: its own object, else one of a module it imports, else FindName's.
  const Object* FindNameFor(const Module& module, const std::string& name) const;
  const Module* ModuleOf(const Object* object) const;  // null for an object of no loaded module
  const Object* FindOid(const uint32_t* ids, size_t count) const;  // exact match only
  std::vector<const Object*> Columns(const Object& entry) const;   // in sub-identifier order
  const std::vector<std::unique_ptr<Module>>& Modules() const { return modules_; }

 private:
  void Add(std::unique_ptr<Module> module);

  std::vector<std::string> searchPath_;
  std::vector<std::unique_ptr<Module>> modules_;
  void MakeRoomForNames(size_t more);
  // Adds OBJECT to the name index unless its name is there already; returns the one there.
  const Object* IndexName(const Object* object);
  static const Object* FindIn(const Module& module, const std::string& name);

  // The objects by name (open addressing, at most half full) and sorted by OID, a pointer each;
  // of equal keys the first loaded is the one found. The objects stay put once their module is
  // added.
  std::vector<const Object*> byName_;
  size_t named_ = 0;
  // Sorted by OID on demand: the objects of modules added since the last lookup by OID wait in
  // pendingOid_, so that loading many modules merges them once, not once per module.
  void SortOids() const;
  mutable std::vector<const Object*> byOid_;
  mutable std::vector<const Object*> pendingOid_;
  // Names that a later module defines again with another OID: the later objects, in load order.
  std::map<std::string, std::vector<const Object*>> alsoDefined_;
};

}  // namespace orvu::mib
