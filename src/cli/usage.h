// The usage text, printed when the command line asks for nothing to do.
#pragma once

[[noreturn]] void PrintUsage();
