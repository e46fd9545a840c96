// The banner the driver prints first: program name, version and notice.
#pragma once

void PrintBanner();
