#include "orvuctl/command_line.h"

namespace {

struct SubcommandRule {
  const char* name;
  size_t leastArgs;
  size_t mostArgs;
  bool takesCheckAndDiff;
};

constexpr size_t ANY_NUMBER = static_cast<size_t>(-1);

constexpr SubcommandRule SUBCOMMAND_RULES[] = {
    {"get", 1, ANY_NUMBER, false}, {"show", 1, 1, false},    {"set", 1, ANY_NUMBER, false},
    {"apply", 1, 1, true},         {"modules", 0, 0, false}, {"clients", 0, 0, false},
    {"notify", 1, 2, false},
};

}  // namespace

bool ParseOrvuctlCommand(int argc, char** argv, OrvuctlCommand* command, std::string* reason) {
  *command = OrvuctlCommand{};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--json") {
      command->json = true;
    } else if (arg == "--check") {
      command->check = true;
    } else if (arg == "--diff") {
      command->diff = true;
    } else if (arg == "--help" || arg == "-h") {
      command->help = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      *reason = "unknown option " + arg;
      return false;
    } else if (command->name.empty()) {
      command->name = arg;
    } else {
      command->args.push_back(arg);
    }
  }
  if (command->help) return true;
  if (command->name.empty()) {
    *reason = "no subcommand";
    return false;
  }
  for (const SubcommandRule& rule : SUBCOMMAND_RULES) {
    if (command->name != rule.name) continue;
    if ((command->check || command->diff) && !rule.takesCheckAndDiff) {
      *reason = command->name + " takes no --check or --diff";
      return false;
    }
    if (command->args.size() < rule.leastArgs || command->args.size() > rule.mostArgs) {
      *reason = command->name + ": wrong number of arguments";
      return false;
    }
    return true;
  }
  *reason = "unknown subcommand " + command->name;
  return false;
}

const char* OrvuctlUsage() {
  return "usage: orvuctl get NAME... [--json]\n"
         "       orvuctl show ENTRY [--json]\n"
         "       orvuctl set NAME=VALUE... [--json]\n"
         "       orvuctl apply FILE [--check] [--diff] [--json]\n"
         "       orvuctl modules [--json]\n"
         "       orvuctl clients [--json]\n"
         "       orvuctl notify NAME [INDEX] [--json]\n";
}
