// -w: loading MIB modules into the agent, before the framework starts.
#pragma once

#include <string>

void LoadModules();

// The modules of this run that loaded, joined by ", "; empty when none did.
std::string LoadedModuleNames();

// The MIB library's word on its last load or lookup: why it failed, or what a success forgave or
// found ambiguous; empty when it has none, or is a library without MibGetLastReason.
std::string LastMibReason();

// Each line of REASON on standard error, as the tool's own.
void ReportReasonLines(const std::string& reason);
