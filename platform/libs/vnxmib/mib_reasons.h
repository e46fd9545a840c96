// Why the last load or lookup of the MIB library failed, in words for the user of a client: the
// reader knows where a module broke, and the registry which names are near a misspelled one.
#pragma once

#include <string>

#include "mib_registry.h"

namespace orvu::mib {

std::string LoadFailureReason(const std::string& name, const LoadError& error);
// NAME is not defined by any module of REGISTRY: which modules were searched and the closest name.
std::string LookupFailureReason(const Registry& registry, const std::string& name);

// The reason of the process's last failed load or lookup; empty after a success. Safe from any
// thread.
void KeepLastReason(std::string reason);
std::string LastReason();

}  // namespace orvu::mib
