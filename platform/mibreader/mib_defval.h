// Turns the tokens of a DEFVAL clause into a value of the object's base syntax.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mibreader/mib_lexer.h"
#include "mibreader/mib_model.h"

namespace orvu::mib {

struct DefaultTarget {
  uint32_t syntax = 0;
  const std::map<std::string, int64_t>* labels = nullptr;  // INTEGER labels or BITS bit numbers
  bool bits = false;
  // The OID of a name visible in the module, or nothing when the name is unknown.
  std::function<std::optional<std::vector<uint32_t>>(const std::string&)> oidOfName;
};

// Throws MibFailure at the clause when the value does not fit the syntax.
DefaultValue ConvertDefault(const std::vector<Token>& tokens, Position clause,
                            const DefaultTarget& target);

}  // namespace orvu::mib
