#include "agent/snmp/master_modules.h"

#include <algorithm>

namespace orvu::agent {
namespace {

struct ServedBySnmpd {
  Oid prefix;
  const char* modules;
};

// Found with snmpd -Dregister (net-snmp 5.9): the modules whose registrations lie in each prefix.
// ifTable's initialisation also brings ifNumber, ifXTable and ifTableLastChanged.
const ServedBySnmpd SNMPD_MODULES[] = {
    {{1, 3, 6, 1, 2, 1, 2}, "ifTable"},
    {{1, 3, 6, 1, 2, 1, 31}, "ifTable"},
    {{1, 3, 6, 1, 2, 1, 63}, "schedTable"},
    {{1, 3, 6, 1, 6, 3, 16}, "vacm_vars,vacm_context"},
};

bool Overlap(const Oid& a, const Oid& b) {
  size_t n = std::min(a.size(), b.size());
  return std::equal(a.begin(), a.begin() + static_cast<long>(n), b.begin());
}

}  // namespace

std::string SnmpdModulesServing(const Oid& subtree) {
  for (const ServedBySnmpd& known : SNMPD_MODULES) {
    if (Overlap(known.prefix, subtree)) return known.modules;
  }
  return "";
}

std::string DuplicateAdvice(const Oid& subtree) {
  std::string modules = SnmpdModulesServing(subtree);
  if (!modules.empty()) {
    return "where snmpd serves it itself, start snmpd with -I -" + modules +
           " (see orvu-agentd(8))";
  }
  return "where snmpd serves it itself, start snmpd without the module that does (snmpd "
         "-Dregister names them, -I -NAME leaves one out; see orvu-agentd(8))";
}

}  // namespace orvu::agent
