// A desired state as a file states it (YAML, of which JSON is a part): names and texts, not yet
// resolved or typed.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <utility>
#include <vector>

struct DesiredRow {
  std::string index;
  bool present = true;
  std::vector<std::pair<uint32_t, std::string>> values;  // a column of the table's list, text
};

struct DesiredTable {
  std::string entry;
  bool exclusive = false;
  std::vector<std::string> columns;  // each column name once, however many rows name it
  std::vector<DesiredRow> rows;
};

struct DesiredState {
  std::vector<std::pair<std::string, std::string>> values;  // scalar, text
  std::vector<DesiredTable> tables;
};

// Reads PATH ("-": standard input) as it is parsed, without a tree of the whole document: a
// file of 100,000 values is held in little more than its own size. False with *reason (where in the
// file, and what is wrong) when it cannot be read, does not parse or has not the shape of a desired
// state.
bool ReadDesiredState(const std::string& path, DesiredState* state, std::string* reason);
// The same from IN, with NAME for the file in the reasons.
bool ReadDesiredStateFrom(std::istream& in, const std::string& name, DesiredState* state,
                          std::string* reason);
