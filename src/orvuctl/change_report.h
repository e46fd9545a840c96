// What set and apply print about their changes: lines for people, or one JSON document.
#pragma once

#include <vector>

#include "orvuctl/change_plan.h"

struct ChangeReportOptions {
  bool json = false;
  bool check = false;  // nothing was changed: the changes are those that would be made
  bool diff = false;
};

void PrintChanges(const std::vector<PlannedChange>& changes, const ChangeReportOptions& options);

// The two texts of a diff: one line per object that a change touches, sorted by object.
struct DiffTexts {
  std::string before;
  std::string after;
};
DiffTexts MakeDiffTexts(const std::vector<PlannedChange>& changes);
