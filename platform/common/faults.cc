#include "common/faults.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/decimal.h"

namespace orvu {
namespace {

struct FaultRule {
  std::string operation;
  InjectedFault fault;
  uint64_t onCall = 0;  // 0: every call
};

struct FaultTable {
  std::vector<FaultRule> rules;
  std::map<std::string, uint64_t> calls;
  std::mutex mutex;
};

bool ParseRule(const std::string& item, FaultRule* rule) {
  size_t eq = item.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  rule->operation = item.substr(0, eq);
  std::string rest = item.substr(eq + 1);
  size_t at = rest.find('@');
  if (at != std::string::npos) {
    int64_t n = 0;
    if (!ParseDecimal(rest.substr(at + 1), 1, INT64_MAX, &n)) return false;
    rule->onCall = static_cast<uint64_t>(n);
    rest.resize(at);
  }
  size_t slash = rest.find('/');
  if (slash != std::string::npos) {
    int64_t code = 0;
    if (!ParseDecimal(rest.substr(slash + 1), INT32_MIN, INT32_MAX, &code)) return false;
    rule->fault.hasCode = true;
    rule->fault.code = static_cast<int32_t>(code);
    rest.resize(slash);
  }
  return ParseDecimal(rest, INT64_MIN, INT64_MAX, &rule->fault.result);
}

// Parsed once per process; a library that is loaded twice keeps one table per copy. A plain
// static is read without a lock or a thread-local once it is built: every library call asks.
FaultTable* ParseTable() {
  auto* table = new FaultTable;
  const char* text = std::getenv("ORVU_FAULTS");
  if (text == nullptr || *text == '\0') return table;
  std::vector<FaultRule> rules;
  std::string all(text);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(start, end - start);
    if (!item.empty()) {
      FaultRule rule;
      if (!ParseRule(item, &rule)) {
        std::fprintf(
            stderr,
            "ORVU_FAULTS: ignored, cannot read \"%s\" (expected Operation=RESULT[/CODE][@N])\n",
            item.c_str());
        return table;
      }
      rules.push_back(rule);
    }
    start = end + 1;
  }
  table->rules = std::move(rules);
  return table;
}

FaultTable& Table() {
  static FaultTable* table = ParseTable();
  if (table->rules.empty()) gNoFaults.store(true, std::memory_order_relaxed);
  return *table;
}

}  // namespace

std::atomic<bool> gNoFaults{false};

bool CheckFault(const char* operation, InjectedFault* fault) {
  FaultTable& table = Table();
  if (table.rules.empty()) return false;
  std::lock_guard<std::mutex> lock(table.mutex);
  uint64_t call = ++table.calls[operation];
  for (const FaultRule& rule : table.rules) {
    if (rule.operation != operation) continue;
    if (rule.onCall != 0 && rule.onCall != call) continue;
    *fault = rule.fault;
    return true;
  }
  return false;
}

bool InjectedFailure(const char* operation, int64_t* result, FaultCodeSink sink) {
  InjectedFault fault;
  if (!CheckFault(operation, &fault)) return false;
  if (fault.hasCode) {
    if (sink) {
      sink(fault.code, "injected fault in " + std::string(operation) + " (error code " +
                           std::to_string(fault.code) + ")");
    }
    errno = fault.code;
#if defined(_WIN32)
    ::SetLastError(static_cast<DWORD>(fault.code));
#endif
  }
  *result = fault.result;
  return true;
}

}  // namespace orvu
