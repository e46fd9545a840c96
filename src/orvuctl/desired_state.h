// A desired state as a file states it (YAML, of which JSON is a part): names and texts, not yet
// resolved or typed.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct DesiredRow {
  std::string index;
  bool present = true;
  std::vector<std::pair<std::string, std::string>> values;  // column, text
};

struct DesiredTable {
  std::string entry;
  bool exclusive = false;
  std::vector<DesiredRow> rows;
};

struct DesiredState {
  std::vector<std::pair<std::string, std::string>> values;  // scalar, text
  std::vector<DesiredTable> tables;
};

// Reads PATH ("-": standard input). False with *reason (where in the file, and what is wrong)
// when it cannot be read, does not parse or has not the shape of a desired state.
bool ReadDesiredState(const std::string& path, DesiredState* state, std::string* reason);
