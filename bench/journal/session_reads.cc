// Reads column 3 of rows 1..N of the sample table outside any listing, one object at a time, as a
// script that looks objects up by name does: in one session, or in a new session every SPAN
// reads. Prints the milliseconds per read of the first and of the last SPAN reads, the whole
// run's time and the process's peak resident set.
//   session_reads N SPAN one|renew     (ORVU_AGENT_SOCKET names the agent)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvu/agent_framework.h"

namespace {

double Seconds() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: session_reads N SPAN one|renew\n");
    return 2;
  }
  uint32_t count = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
  uint32_t span = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  bool renew = std::strcmp(argv[3], "renew") == 0;
  AgentFrameworkInit();
  AgentHandle agent = AgentConnect("session_reads", 0, 0, 0);
  if (!agent) {
    std::fprintf(stderr, "session_reads: no agent (%d)\n", AgentGetLastError());
    return 1;
  }
  std::vector<uint32_t> ids = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1, 3, 0};
  SnmpOid object{static_cast<uint32_t>(ids.size()), ids.data()};
  double start = Seconds(), spanStart = start, first = 0, last = 0;
  for (uint32_t row = 1; row <= count; ++row) {
    ids.back() = row;
    uint32_t data = AgentGetDataHandle(agent, 0, &object);
    SnmpOid oid{};
    SnmpValue value{};
    if (data == 0 || AgentGetData(agent, data, &oid, &value) == 0 || value.number != row) {
      std::fprintf(stderr, "session_reads: row %u not read (%d)\n", row, AgentGetLastError());
      return 1;
    }
    AgentFreeValue(ORVU_SYNTAX_OID, &oid);
    if (row % span == 0) {
      double now = Seconds();
      if (row == span) first = now - spanStart;
      last = now - spanStart;
      spanStart = now;
      if (renew && row < count) {
        AgentDisconnect(agent);
        agent = AgentConnect("session_reads", 0, 0, 0);
      }
    }
  }
  double total = Seconds() - start;
  AgentDisconnect(agent);
  AgentFrameworkCleanup();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "reads=%u span=%u mode=%s first_ms_per_read=%.4f last_ms_per_read=%.4f total_s=%.2f "
      "peak_kib=%ld\n",
      count, span, argv[3], first * 1000 / span, last * 1000 / span, total, usage.ru_maxrss);
  return 0;
}
