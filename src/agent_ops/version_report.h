// -v: the versions of the outside libraries, before the framework starts.
#pragma once

void PrintVersionReport();
