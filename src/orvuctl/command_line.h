// orvuctl's command line: a subcommand, its arguments and the options that may stand anywhere.
#pragma once

#include <string>
#include <vector>

#include "orvuctl/desired_state.h"

struct OrvuctlCommand {
  std::string name;  // get, show, set, apply, modules, clients
  std::vector<std::string> args;
  bool json = false;
  bool check = false;
  bool diff = false;
  bool help = false;
  // apply: the file's desired state, read before anything connects.
  DesiredState desired;
};

// False with *reason for an unknown option or a subcommand with the wrong arguments.
bool ParseOrvuctlCommand(int argc, char** argv, OrvuctlCommand* command, std::string* reason);

// The usage text, for --help and after a bad command line.
const char* OrvuctlUsage();
