// Reads the input as one module file, resolving against the built-in base modules. A refusal is a
// MibFailure; anything else escaping, a crash or a sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mibreader/mib_lexer.h"
#include "mibreader/mib_parsed.h"
#include "mibreader/mib_registry.h"
#include "mibreader/mib_resolve.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvu::mib;
  static const Registry registry({});
  ResolveContext context;
  context.findModule = [](const std::string& name) { return registry.FindModule(name); };
  context.findOid = [](const std::vector<uint32_t>& oid) {
    return registry.FindOid(oid.data(), oid.size());
  };
  try {
    ParsedModule parsed =
        ParseModule(Tokenize(std::string_view(reinterpret_cast<const char*>(data), size)));
    for (const ParsedImport& group : parsed.imports) {
      if (!registry.FindModule(group.module)) return 0;
    }
    ResolveModule(parsed, context);
  } catch (const MibFailure&) {
  }
  return 0;
}
