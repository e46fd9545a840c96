#include "orvu/mib_lib.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "common/faults.h"
#include "common/shared_heap.h"
#include "libs/vnxmib/mib_reasons.h"
#include "libs/vnxmib/mib_state.h"

namespace {

constexpr uint32_t MIB_FORM_NAME = 2;
constexpr uint32_t MIB_FORM_NUMERIC_OID = 3;

using orvu::mib::MibState;
using orvu::mib::Object;
using orvu::mib::State;

// With /CODE an injected fault is the reason MibGetLastReason gives.
void KeepFaultReason(int32_t, const std::string& text) { orvu::mib::KeepLastReason(text); }

#define MIB_FAULT_POINT(name, type) ORVU_FAULT_POINT(name, type, KeepFaultReason)

}  // namespace

extern "C" {

ORVU_EXPORT int ORVU_CALL MibLoadModule(const char* moduleName) {
  MIB_FAULT_POINT("MibLoadModule", int);
  if (!moduleName) return 0;
  MibState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  // Reading a module allocates freely; running out of memory must not cross into a C caller.
  try {
    orvu::mib::LoadError error;
    std::vector<orvu::mib::LoadError> warnings;
    bool loaded = state.Get().Load(moduleName, &error, &warnings);
    state.TakeNewObjects();
    // A module that loads may still have had something forgiven: the reason then says what.
    orvu::mib::KeepLastReason(loaded ? orvu::mib::ForgivenReason(warnings)
                                     : orvu::mib::LoadFailureReason(moduleName, error));
    return loaded ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

ORVU_EXPORT uint32_t ORVU_CALL MibLookupName(const char* objectName) {
  MIB_FAULT_POINT("MibLookupName", uint32_t);
  if (!objectName) return 0;
  MibState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::string note;
  uint32_t handle = state.HandleOf(state.Get().FindName(objectName, &note));
  // A name that loaded modules define more than once is found, and the reason says which one.
  if (note.empty() && handle == 0)
    note = orvu::mib::LookupFailureReason(*state.registry, objectName);
  orvu::mib::KeepLastReason(note);
  return handle;
}

ORVU_EXPORT int ORVU_CALL MibGetObjectOid(uint32_t object, uint32_t form, SnmpOid* oid) {
  MIB_FAULT_POINT("MibGetObjectOid", int);
  if (form != MIB_FORM_NUMERIC_OID || !oid) return 0;
  MibState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.Get();
  const Object* found = state.ObjectOf(object);
  if (!found) return 0;
  size_t count = found->oid.size();
  uint32_t* ids =
      static_cast<uint32_t*>(orvu::SharedAlloc(sizeof(uint32_t) * (count > 0 ? count : 1)));
  if (!ids) return 0;
  if (count > 0) std::memcpy(ids, found->oid.data(), sizeof(uint32_t) * count);
  oid->count = static_cast<uint32_t>(count);
  oid->ids = ids;
  return 1;
}

ORVU_EXPORT uint32_t ORVU_CALL MibLookupOid(const SnmpOid* oid) {
  MIB_FAULT_POINT("MibLookupOid", uint32_t);
  if (!oid || (oid->count > 0 && !oid->ids)) return 0;
  MibState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.HandleOf(state.Get().FindOid(oid->ids, oid->count));
}

// Writes what fits, always terminated; a name that does not fit whole is a failure. *size is
// read, never changed.
ORVU_EXPORT int ORVU_CALL MibGetObjectName(uint32_t object, uint32_t form, uint32_t* size,
                                           char* buffer) {
  MIB_FAULT_POINT("MibGetObjectName", int);
  if (!size || !buffer || *size == 0) return 0;
  buffer[0] = '\0';
  if (form != MIB_FORM_NAME) return 0;
  MibState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.Get();
  const Object* found = state.ObjectOf(object);
  if (!found) return 0;
  const std::string& name = found->name;
  size_t room = *size - 1;
  size_t copied = name.size() < room ? name.size() : room;
  std::memcpy(buffer, name.data(), copied);
  buffer[copied] = '\0';
  return copied == name.size() ? 1 : 0;
}

}  // extern "C"
