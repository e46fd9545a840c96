#include "agent/journal/dotted_oid.h"

namespace orvu::agent {

std::string OidText(const std::vector<uint32_t>& oid) {
  std::string text;
  for (size_t i = 0; i < oid.size(); ++i) {
    if (i) text += '.';
    text += std::to_string(oid[i]);
  }
  return text;
}

}  // namespace orvu::agent
