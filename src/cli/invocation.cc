#include "cli/invocation.h"

Invocation gInvocation;

void ResetInvocation() {
  gInvocation.moduleIds.size = 0;
  gInvocation.oids.size = 0;
  gInvocation.valueTexts.size = 0;
  gInvocation.syntaxes.size = 0;
  gInvocation.tableOid = nullptr;
  gInvocation.addEntryOid = nullptr;
  gInvocation.removeEntryOid = nullptr;
  gInvocation.instanceOid = nullptr;
  gInvocation.printParameters = false;
  gInvocation.printVersion = false;
  gInvocation.listTable = false;
  gInvocation.noLeafs = true;
  gInvocation.printClients = false;
  gInvocation.printModules = false;
}
