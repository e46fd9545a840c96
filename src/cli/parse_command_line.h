// Fills gInvocation from the command line.
#pragma once

// Texts in gInvocation point into argv, which must outlive the run.
void ParseCommandLine(int argc, char** argv);
