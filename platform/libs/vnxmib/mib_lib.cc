#include "orvu/mib_lib.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "common/faults.h"
#include "common/shared_heap.h"
#include "libs/vnxmib/mib_reasons.h"
#include "mibreader/mib_registry.h"
#include "mibreader/mib_search_path.h"

namespace {

constexpr uint32_t MIB_FORM_NAME = 2;
constexpr uint32_t MIB_FORM_NUMERIC_OID = 3;

using orvu::mib::Object;
using orvu::mib::Registry;

// One registry per process, shared by every caller. A handle is the position of an object in the
// order objects were loaded, plus one; nothing is ever unloaded, so handles stay valid.
struct MibState {
  std::mutex mutex;
  std::unique_ptr<Registry> registry;
  std::vector<const Object*> objects;
  // Each module's objects lie side by side: a module's first object and first handle give the
  // handle of any of its objects without an index of every object.
  struct Span {
    const Object* first;
    size_t count;
    uint32_t firstHandle;
  };
  std::vector<Span> spans;
  size_t modulesSeen = 0;

  Registry& Get() {
    if (!registry) registry = std::make_unique<Registry>(orvu::mib::DefaultSearchPath());
    TakeNewObjects();
    return *registry;
  }

  void TakeNewObjects() {
    const auto& modules = registry->Modules();
    for (; modulesSeen < modules.size(); ++modulesSeen) {
      const std::vector<Object>& added = modules[modulesSeen]->objects;
      if (added.empty()) continue;
      spans.push_back({added.data(), added.size(), static_cast<uint32_t>(objects.size() + 1)});
      for (const Object& object : added) objects.push_back(&object);
    }
  }

  uint32_t HandleOf(const Object* object) const {
    if (!object) return 0;
    for (const Span& span : spans) {
      if (std::less_equal<const Object*>()(span.first, object) &&
          std::less<const Object*>()(object, span.first + span.count)) {
        return span.firstHandle + static_cast<uint32_t>(object - span.first);
      }
    }
    return 0;
  }

  const Object* ObjectOf(uint32_t handle) const {
    return handle == 0 || handle > objects.size() ? nullptr : objects[handle - 1];
  }
};

// Never destroyed: the process's end returns the memory at once, where taking apart every loaded
// module one by one cost a twentieth of loading a large set of modules; and a caller still busy
// in another thread while the process exits finds the state whole.
MibState& State() {
  static MibState* state = new MibState;
  return *state;
}

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
