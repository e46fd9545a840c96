// The objects the agent serves: scalars and conceptual-table entries taken from MIB modules, plus
// the ones that only the state file names (anything a test wants the agent to hold).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "messages.h"
#include "mib_model.h"
#include "oid_text.h"

namespace orvu::agent {

using Oid = std::vector<uint32_t>;

struct ColumnDef {
  uint32_t number = 0;
  std::string name;
  uint32_t syntax = 0;
  bool writable = false;
  proto::Value initial;    // DEFVAL, else the syntax's zero
  int indexPosition = -1;  // position among the entry's INDEX objects, -1 when not an index
};

struct EntryDef {
  uint32_t handle = 0;
  Oid oid;
  std::string name;
  bool fromMib = false;  // false: known only from the state file, no column definitions
  uint32_t leafCount = 0;
  std::map<uint32_t, ColumnDef> columns;
  std::vector<uint32_t> indexSyntaxes;  // syntax of each INDEX object, in order; 0 when unknown
  bool indexImplied = false;
};

struct ScalarDef {
  Oid oid;
  std::string name;
  bool fromMib = false;
  uint32_t syntax = 0;  // 0: any syntax (state-file scalars)
  bool writable = true;
  proto::Value value;
  bool stored = false;  // the value came from the state file or a set, so it is written back
};

// The zero value of a syntax: 0, empty bytes, or the OID 0.0.
proto::Value ZeroValue(uint32_t syntax);

// Adds the scalars and table entries of MODULE to the lists. Entry handles continue from
// entries->size() + 1.
void AddModuleObjects(const mib::Registry& registry, const mib::Module& module,
                      std::vector<EntryDef>* entries, std::vector<ScalarDef>* scalars);

// The value that an index column of a fresh instance starts with, read from the instance OID;
// false when the INDEX cannot be decoded that far.
bool IndexColumnValue(const EntryDef& entry, const ColumnDef& column, const Oid& index,
                      proto::Value* value);

}  // namespace orvu::agent
