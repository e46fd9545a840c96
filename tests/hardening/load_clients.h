// Client processes that load a running agent through the framework library: each adds, sets,
// lists and removes instances of its own in a table, and writes down what the agent acknowledged.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hardening {

// What a client knows about one change: acknowledged, sent without an answer (the agent went away
// meanwhile, so it may or may not have happened), or never tried.
enum class Outcome : char { ACKED = 'A', UNKNOWN = 'U', NONE = 'N' };

// One instance a client made, keyed by its index sub-identifier.
struct InstanceLedger {
  Outcome created = Outcome::NONE;
  Outcome valueSet = Outcome::NONE;
  Outcome removed = Outcome::NONE;
  std::string value;
};

struct ClientReport {
  bool finished = false;  // the client got to its end and wrote its report
  int rounds = 0;
  int reconnects = 0;
  long maxWaitMs = 0;               // the longest single call
  std::vector<std::string> faults;  // what the agent got wrong as this client saw it
  std::map<uint32_t, InstanceLedger> instances;
};

struct LoadPlan {
  std::string socket;
  int clients = 16;
  int rounds = 20;                 // rounds each client makes; with a stop file, the least it makes
  int maxRounds = 0;               // with a stop file, the most it makes
  std::string stopFile;            // when set, clients go on past ROUNDS until this file exists
  bool survivesAgentLoss = false;  // reconnect and go on when the agent goes away
  std::string reportDir;
};

// The column written by the clients (an octet string) and the table's entry.
constexpr uint32_t LOAD_DESCR_COLUMN = 2;
extern const std::vector<uint32_t> LOAD_ENTRY_OID;

// The whole number in the environment variable NAME, else FALLBACK: the longer runs set these.
int EnvNumber(const char* name, int fallback);

// The longest any one call may take, however loaded the machine.
constexpr long LOAD_WAIT_BOUND_MS = 5000;

// The index of round ROUND of client CLIENT: every client in a range of its own.
uint32_t LoadIndex(int client, int round);
// Forks the clients; their process ids.
std::vector<pid_t> StartLoadClients(const LoadPlan& plan);
// Waits for the clients (killed after TIMEOUT_SECONDS) and reads their reports.
std::vector<ClientReport> FinishLoadClients(const LoadPlan& plan, const std::vector<pid_t>& pids,
                                            int timeoutSeconds);

// The instances of the table as a fresh connection sees them: index sub-identifier -> value of
// the written column. Sets *error when the agent cannot be read or lists an index twice.
std::map<uint32_t, std::string> ReadTable(const std::string& socket, std::string* error);

}  // namespace hardening
