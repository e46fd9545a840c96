#include "cli/split_values.h"

#include <map>

namespace {

std::map<size_t, std::string>& SplitReasons() {
  static std::map<size_t, std::string> reasons;
  return reasons;
}

}  // namespace

void NoteSplitValue(size_t valueIndex, const std::string& reason) {
  SplitReasons()[valueIndex] = reason;
}

std::string SplitValueReason(size_t valueIndex) {
  auto found = SplitReasons().find(valueIndex);
  return found != SplitReasons().end() ? found->second : std::string();
}

void ForgetSplitValues() { SplitReasons().clear(); }
