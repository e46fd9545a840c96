// -w: loading MIB modules into the agent, before the framework starts.
#pragma once

void LoadModules();
