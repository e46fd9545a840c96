#include "cli/invocation_lists.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "cli/invocation.h"

namespace {

template <typename T>
void ReleaseList(GrowList<T>* list) {
  std::free(list->items);
  list->items = nullptr;
  list->size = 0;
  list->capacity = 0;
}

// The lists outlive every exit path, PrintUsage's exit() included; releasing them here keeps
// leak checkers quiet.
struct InvocationStorage {
  ~InvocationStorage() { ReleaseInvocationLists(); }
} gInvocationStorage;

template <typename T>
void Append(GrowList<T>* list, T item) {
  if (list->size == list->capacity) {
    size_t capacity = list->capacity + (list->capacity > 1 ? list->capacity : 1);
    T* items = static_cast<T*>(std::malloc(capacity * sizeof(T)));
    if (items == nullptr) throw std::bad_alloc();
    if (list->size > 0) std::memcpy(items, list->items, list->size * sizeof(T));
    std::free(list->items);
    list->items = items;
    list->capacity = capacity;
  }
  list->items[list->size++] = item;
}

}  // namespace

void ReleaseInvocationLists() {
  ReleaseList(&gInvocation.moduleIds);
  ReleaseList(&gInvocation.oids);
  ReleaseList(&gInvocation.valueTexts);
  ReleaseList(&gInvocation.syntaxes);
}

void AppendModuleId(const char* text) { Append(&gInvocation.moduleIds, text); }
void AppendOid(const char* text) { Append(&gInvocation.oids, text); }
void AppendValue(SnmpSyntax syntax, const char* text) {
  Append(&gInvocation.syntaxes, syntax);
  Append(&gInvocation.valueTexts, text);
}
