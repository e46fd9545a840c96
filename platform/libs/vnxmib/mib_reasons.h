// Why the last load or lookup of the MIB library failed, in words for the user of a client: the
// reader knows where a module broke, and the registry which names are near a misspelled one.
#pragma once

#include <string>
#include <vector>

#include "mibreader/mib_registry.h"

namespace orvu::mib {

std::string LoadFailureReason(const std::string& name, const LoadError& error);
// What a module that loaded got wrong but the reader forgave, one warning a line; empty for none.
std::string ForgivenReason(const std::vector<LoadError>& warnings);
// NAME is not defined by any module of REGISTRY: which modules were searched and the closest name.
std::string LookupFailureReason(const Registry& registry, const std::string& name);

// The reason of the process's last load or lookup: why it failed, or after a success what was
// forgiven or is ambiguous; else empty. Safe from any thread.
void KeepLastReason(std::string reason);
std::string LastReason();

}  // namespace orvu::mib
