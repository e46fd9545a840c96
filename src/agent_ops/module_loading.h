// -w: loading MIB modules into the agent, before the framework starts.
#pragma once

#include <string>

void LoadModules();

// The modules of this run that loaded, joined by ", "; empty when none did.
std::string LoadedModuleNames();

// The MIB library's word on its last failed load or lookup; empty when it has none, or is a
// library without MibGetLastReason.
std::string LastMibReason();
