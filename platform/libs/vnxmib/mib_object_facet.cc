// The second operation of the MIB library beyond the binding table: what a module says of an
// object (kind, syntax, access, labels, ranges, sizes, a table's structure), so that a client can
// type and check a value by its object. A library built without this file works as before.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/faults.h"
#include "libs/vnxmib/mib_state.h"
#include "orvu/mib_lib.h"

namespace {

using orvu::mib::Access;
using orvu::mib::MibState;
using orvu::mib::Object;
using orvu::mib::ObjectKind;
using orvu::mib::Range;

uint32_t KindCode(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::Scalar: return MIB_KIND_SCALAR;
    case ObjectKind::Table: return MIB_KIND_TABLE;
    case ObjectKind::Entry: return MIB_KIND_ENTRY;
    case ObjectKind::Column: return MIB_KIND_COLUMN;
    default: return MIB_KIND_OTHER;
  }
}

uint32_t AccessCode(Access access) {
  switch (access) {
    case Access::NotAccessible: return MIB_ACCESS_NOT_ACCESSIBLE;
    case Access::AccessibleForNotify: return MIB_ACCESS_NOTIFY;
    case Access::ReadOnly: return MIB_ACCESS_READ_ONLY;
    case Access::ReadWrite: return MIB_ACCESS_READ_WRITE;
    case Access::ReadCreate: return MIB_ACCESS_READ_CREATE;
    case Access::WriteOnly: return MIB_ACCESS_WRITE_ONLY;
    default: return MIB_ACCESS_NONE;
  }
}

// A name that does not fit is cut, always terminated: labels and type names are short.
void CopyName(MibFacet* facet, const std::string& name) {
  size_t copied = std::min(name.size(), sizeof(facet->name) - 1);
  std::memcpy(facet->name, name.data(), copied);
  facet->name[copied] = '\0';
}

const Object* ParentOf(MibState& state, const Object& object) {
  if (object.oid.size() < 2) return nullptr;
  return state.registry->FindOid(object.oid.data(), object.oid.size() - 1);
}

// An AUGMENTS entry takes its rows, and so its index, from the entry it extends.
const Object* IndexingEntry(MibState& state, const Object& entry) {
  const Object* current = &entry;
  for (int depth = 0; depth < 8 && current && !current->augments.empty(); ++depth) {
    const orvu::mib::Module* module = state.registry->ModuleOf(current);
    current = module ? state.registry->FindNameFor(*module, current->augments)
                     : state.registry->FindName(current->augments);
  }
  return current;
}

int Bounds(MibFacet* facet, const std::vector<Range>& ranges, uint32_t position) {
  if (position >= ranges.size()) return 0;
  facet->low = ranges[position].low;
  facet->high = ranges[position].high;
  return 1;
}

int Fill(MibState& state, const Object& object, uint32_t which, uint32_t position,
         MibFacet* facet) {
  switch (which) {
    case MIB_FACET_SUMMARY: {
      if (position != 0) return 0;
      facet->kind = KindCode(object.kind);
      facet->syntax = object.syntax;
      facet->access = AccessCode(object.access);
      facet->flags = object.indexImplied ? MIB_FLAG_INDEX_IMPLIED : 0;
      facet->object = state.HandleOf(ParentOf(state, object));
      CopyName(facet, object.typeName);
      return 1;
    }
    case MIB_FACET_LABEL: {
      if (position >= object.enumeration.size()) return 0;
      auto label = object.enumeration.begin();
      std::advance(label, position);
      CopyName(facet, label->first);
      facet->low = facet->high = label->second;
      return 1;
    }
    case MIB_FACET_RANGE: return Bounds(facet, object.ranges, position);
    case MIB_FACET_SIZE: return Bounds(facet, object.sizes, position);
    case MIB_FACET_INDEX: {
      if (object.kind != ObjectKind::Entry) return 0;
      const Object* entry = IndexingEntry(state, object);
      if (!entry || position >= entry->indexNames.size()) return 0;
      const orvu::mib::Module* module = state.registry->ModuleOf(entry);
      const std::string& name = entry->indexNames[position];
      const Object* index =
          module ? state.registry->FindNameFor(*module, name) : state.registry->FindName(name);
      facet->object = state.HandleOf(index);
      CopyName(facet, name);
      if (position + 1 == entry->indexNames.size() && entry->indexImplied)
        facet->flags = MIB_FLAG_INDEX_IMPLIED;
      return 1;
    }
    case MIB_FACET_COLUMN: {
      if (object.kind != ObjectKind::Entry) return 0;
      std::vector<const Object*> columns = state.registry->Columns(object);
      if (position >= columns.size()) return 0;
      facet->object = state.HandleOf(columns[position]);
      CopyName(facet, columns[position]->name);
      return 1;
    }
    default: return 0;
  }
}

}  // namespace

extern "C" {

ORVU_EXPORT int ORVU_CALL MibGetObjectFacet(uint32_t object, uint32_t which, uint32_t position,
                                            MibFacet* facet) {
  ORVU_FAULT_POINT("MibGetObjectFacet", int, nullptr);
  if (!facet || facet->size != sizeof(MibFacet)) return 0;
  std::memset(reinterpret_cast<char*>(facet) + sizeof(facet->size), 0,
              sizeof(MibFacet) - sizeof(facet->size));
  MibState& state = orvu::mib::State();
  std::lock_guard<std::mutex> lock(state.mutex);
  try {
    state.Get();
    const Object* found = state.ObjectOf(object);
    return found ? Fill(state, *found, which, position, facet) : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // extern "C"
