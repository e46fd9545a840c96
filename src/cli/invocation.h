// The parsed command line: one record for the whole process, filled once and read-only afterwards.
#pragma once

#include <cstddef>

#include "values/snmp_value.h"

// A list that grows 1, 2, 4, 8 ...: appending to a full block moves it to one of the old size
// plus the larger of the old size and one; emptying keeps the block.
template <typename T>
struct GrowList {
  T* items = nullptr;
  size_t size = 0;
  size_t capacity = 0;
};

struct Invocation {
  GrowList<const char*> moduleIds;
  GrowList<const char*> oids;
  GrowList<const char*> valueTexts;
  GrowList<SnmpSyntax> syntaxes;
  const char* tableOid;
  const char* addEntryOid;
  const char* removeEntryOid;
  const char* instanceOid;
  bool printParameters;
  bool printVersion;
  bool listTable;
  bool noLeafs;
  bool printClients;
  bool printModules;
};

extern Invocation gInvocation;

void ResetInvocation();
