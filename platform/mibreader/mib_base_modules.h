// The modules every MIB builds on, known to the reader without their files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mibreader/mib_model.h"

namespace orvu::mib {

// SNMPv2-SMI, SNMPv2-TC, SNMPv2-CONF, RFC1155-SMI, RFC-1212 and RFC-1215, in that order.
std::vector<std::unique_ptr<Module>> BaseModules();

// A module used only when no file of that name is on the search path (RFC1213-MIB: its roots and
// types), or null.
std::unique_ptr<Module> FallbackModule(const std::string& name);

}  // namespace orvu::mib
