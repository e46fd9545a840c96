// The MIB library's one registry per process and the handles it gives out, shared by the
// library's operations.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "mibreader/mib_registry.h"
#include "mibreader/mib_search_path.h"

namespace orvu::mib {

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
    if (!registry) registry = std::make_unique<Registry>(DefaultSearchPath());
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

// The process's one state, made at the first call and never destroyed.
MibState& State();

}  // namespace orvu::mib
