#include "cli/parse_command_line.h"

#include <cstring>
#include <string>
#include <vector>

#include "cli/diagnostics.h"
#include "cli/invocation.h"
#include "cli/invocation_lists.h"
#include "cli/split_values.h"
#include "cli/usage.h"
#include "values/syntax_table.h"

namespace {

char FoldSwitchLetter(char letter) {
  return (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter - 'A' + 'a') : letter;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The form a user would type: quoted only when the shell would otherwise split it.
std::string Typed(const std::string& text) {
  return text.find_first_of(" \t") == std::string::npos ? text : Quoted(text);
}

// What the parse saw besides the Invocation itself, for the findings it reports. Every pointer
// is an argument of the command line.
struct ParseNotes {
  // The switch before the current argument, when it takes a parameter and its parameter came out
  // empty: a value written after a space belongs there.
  const char* emptySwitch = nullptr;
  const char* tableSwitch = nullptr;
  const char* addSwitch = nullptr;
  const char* removeSwitch = nullptr;
  const char* instanceSwitch = nullptr;
  std::vector<const char*> valueSwitches;
  size_t oidCount = 0;
};

std::string JoinHint(const ParseNotes& notes, const char* argument) {
  return std::string(notes.emptySwitch) + Typed(argument);
}

// A NULL takes no text, so a word after -mn loses nothing; any other -m would write an empty
// value in place of the word.
void NoteSplitOff(const ParseNotes& notes, const char* argument) {
  const char* value = notes.emptySwitch;
  if (FoldSwitchLetter(value[1]) != 'm' || SyntaxOfTypeLetter(value[2]) == SYNTAX_NULL) return;
  NoteSplitValue(notes.valueSwitches.size() - 1,
                 Quoted(value) + " got an empty value, and " + Quoted(argument) +
                     " after the space is not taken as its value; write " +
                     JoinHint(notes, argument));
}

void ReportStray(const ParseNotes& notes, const char* argument) {
  if (notes.emptySwitch != nullptr) {
    NoteSplitOff(notes, argument);
    ReportFinding(Quoted(argument) + " is not a switch and is ignored, and " +
                  Quoted(notes.emptySwitch) +
                  " got an empty parameter: no space may stand between a switch and its "
                  "parameter; write " +
                  JoinHint(notes, argument));
  } else {
    ReportFinding(Quoted(argument) +
                  " is not a switch and is ignored (a switch starts with - or /)");
  }
}

// "/srv/x" is the switch /s with "rv/x", which is seldom what the user meant.
void ReportPathLike(const ParseNotes& notes, const char* argument) {
  if (argument[0] != '/' || std::strchr(argument + 1, '/') == nullptr) return;
  std::string hint = notes.emptySwitch != nullptr
                         ? "; if it is the value of " + Quoted(notes.emptySwitch) + ", write " +
                               JoinHint(notes, argument)
                         : "; a value that starts with / must follow its switch without a space";
  ReportFinding(Quoted(argument) + " looks like a path but is read as the switch -" +
                std::string(1, FoldSwitchLetter(argument[1])) + " with " + Quoted(argument + 2) +
                hint);
}

// Only the last of a text switch counts; the earlier one is named so that it is not missed.
void Replace(const char** earlier, const char* argument, const char* which) {
  if (*earlier != nullptr) {
    ReportFinding(Quoted(*earlier) + " is replaced by the later " + Quoted(argument) +
                  ": only the last " + which + " counts");
  }
  *earlier = argument;
}

// -m<type letter><value text>. A bare -m has neither: it records the undefined code and the
// empty text at the argument's own terminator, so nothing past the argument is read.
void TakeValue(const char* argument, const char* parameter) {
  if (parameter[0] == '\0') {
    ReportFinding(Quoted(argument) + " has no type letter; the letters are " + TypeLetterList());
    AppendValue(SYNTAX_UNDEFINED, parameter);
    return;
  }
  SnmpSyntax syntax = SyntaxOfTypeLetter(parameter[0]);
  if (syntax == SYNTAX_UNDEFINED) {
    ReportFinding(Quoted(argument) + ": " + Quoted(std::string(1, parameter[0])) +
                  " is no type letter of -m; the letters are " + TypeLetterList());
  }
  AppendValue(syntax, parameter + 1);
}

bool TakesParameter(char letter) { return std::strchr("etariwsm", letter) != nullptr; }

bool ParameterIsEmpty(char letter, const char* parameter) {
  return letter == 'm' ? parameter[0] == '\0' || parameter[1] == '\0' : parameter[0] == '\0';
}

std::string Ordinal(size_t n) {
  const char* suffix = (n % 100 >= 11 && n % 100 <= 13) ? "th"
                       : n % 10 == 1                    ? "st"
                       : n % 10 == 2                    ? "nd"
                       : n % 10 == 3                    ? "rd"
                                                        : "th";
  return std::to_string(n) + suffix;
}

// What the whole command line leaves unused once every argument is read.
void ReportUnused(const ParseNotes& notes) {
  for (size_t i = notes.oidCount; i < notes.valueSwitches.size(); ++i) {
    ReportFinding(Quoted(notes.valueSwitches[i]) + " is dropped: it is the " + Ordinal(i + 1) +
                  " -m, and there " + (notes.oidCount == 1 ? "is " : "are ") +
                  std::to_string(notes.oidCount) + " -s (the n-th -m belongs to the n-th -s)");
  }
  if (notes.instanceSwitch == nullptr) {
    if (notes.addSwitch != nullptr) {
      ReportFinding(Quoted(notes.addSwitch) +
                    " is ignored: no instance to create; name it with -i, as -i50");
    }
    if (notes.removeSwitch != nullptr) {
      ReportFinding(Quoted(notes.removeSwitch) +
                    " is ignored: no instance to remove; name it with -i, as -i50");
    }
  } else if (notes.addSwitch == nullptr && notes.removeSwitch == nullptr) {
    ReportFinding(Quoted(notes.instanceSwitch) +
                  " is ignored: it names the instance for -a or -r, and there is neither");
  }
}

}  // namespace

void ParseCommandLine(int argc, char** argv) {
  if (argc <= 1) PrintUsage();
  ForgetSplitValues();
  ParseNotes notes;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-' && argument[0] != '/') {
      ReportStray(notes, argument);
      notes.emptySwitch = nullptr;
      continue;
    }
    if (argument[1] == '\0') {
      ReportFinding(Quoted(argument) + " alone is not a switch");
      PrintUsage();
    }
    const char* parameter = argument + 2;
    char letter = FoldSwitchLetter(argument[1]);
    if (std::strchr("vpocetariwsm", letter) != nullptr) ReportPathLike(notes, argument);
    switch (letter) {
      case 'v': gInvocation.printVersion = true; break;
      case 'p': gInvocation.printParameters = true; break;
      case 'o': gInvocation.printModules = true; break;
      case 'c': gInvocation.printClients = true; break;
      case 't': gInvocation.noLeafs = false; [[fallthrough]];
      case 'e':
        Replace(&notes.tableSwitch, argument, "-e or -t");
        gInvocation.listTable = true;
        gInvocation.tableOid = parameter;
        break;
      case 'a':
        Replace(&notes.addSwitch, argument, "-a");
        gInvocation.addEntryOid = parameter;
        break;
      case 'r':
        Replace(&notes.removeSwitch, argument, "-r");
        gInvocation.removeEntryOid = parameter;
        break;
      case 'i':
        Replace(&notes.instanceSwitch, argument, "-i");
        gInvocation.instanceOid = parameter;
        break;
      case 'w': AppendModuleId(parameter); break;
      case 's':
        ++notes.oidCount;
        AppendOid(parameter);
        break;
      case 'm':
        notes.valueSwitches.push_back(argument);
        TakeValue(argument, parameter);
        break;
      default:
        ReportFinding("unknown switch -" + std::string(1, argument[1]) +
                      (parameter[0] != '\0' ? " (in " + Quoted(argument) + ")" : std::string()));
        PrintUsage();
    }
    if (!TakesParameter(letter) && parameter[0] != '\0') {
      ReportFinding(Quoted(argument) + ": -" + std::string(1, letter) + " takes no parameter, so " +
                    Quoted(parameter) + " is ignored");
    }
    notes.emptySwitch =
        TakesParameter(letter) && ParameterIsEmpty(letter, parameter) ? argument : nullptr;
  }
  ReportUnused(notes);
}
