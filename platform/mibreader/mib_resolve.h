// Turns a parsed module into a loaded one: OIDs, base syntaxes, kinds, indexes and defaults.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mibreader/mib_parsed.h"

namespace orvu::mib {

struct ResolveContext {
  // A module already loaded, or loaded earlier in the same attempt; null when unknown.
  std::function<const Module*(const std::string&)> findModule;
  // An object of another module with exactly this OID, or null.
  std::function<const Object*(const std::vector<uint32_t>&)> findOid;
};

// The module's imports must all be found through the context. Throws MibFailure.
std::unique_ptr<Module> ResolveModule(const ParsedModule& parsed, const ResolveContext& context);

}  // namespace orvu::mib
