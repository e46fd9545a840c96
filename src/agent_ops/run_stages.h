// The driver's own stages, in run order; main.cc strings them together.
#pragma once

#include <cstddef>

#include "agentapi/snmp_oid.h"

// The running program's version text into BUFFER, cut to CAPACITY - 1 characters; nonzero on
// success. PATH names the executable whose version resource is read (Windows only).
int ReadOwnFileVersion(const char* path, char* buffer, size_t capacity);
// Copies TEXT into BUFFER, at most CAPACITY bytes, always terminated in the last byte.
void CopyVersionText(const char* text, char* buffer, size_t capacity);
void PrintBanner();

// -v, before the framework starts.
void PrintVersionReport();
// -w, before the framework starts.
void LoadModules();
// -o and -c, on the connection.
void PrintModuleList(AgentHandle agent);
void PrintClientList(AgentHandle agent);
