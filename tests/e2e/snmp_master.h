// net-snmp's snmpd as the AgentX master of one test, and net-snmp's command-line tools run
// against it: the SNMP managers' side of orvu-agentd --agentx.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "agent_process.h"

class TestMaster {
 public:
  // Its own folder, configuration and AgentX socket; UDP on a free loopback port; no subagent
  // but the tests'. Started at once unless START is false.
  explicit TestMaster(bool start = true);
  ~TestMaster();
  TestMaster(const TestMaster&) = delete;
  TestMaster& operator=(const TestMaster&) = delete;

  // Starts snmpd and waits until it answers over UDP; false (reason on stderr) after 10 s.
  bool Start();
  void Stop();

  std::string dir;
  std::string agentxSocket;  // dir/agentx.sock
  std::string address;       // udp:127.0.0.1:PORT
  // snmpd's own modules that Start leaves out (-I -NAME), beside SMUX.
  std::vector<std::string> withoutModules;
  // Lines that Start adds to snmpd's configuration (trap sinks, say).
  std::vector<std::string> extraConfig;
  int pid = -1;
};

// net-snmp's snmptrapd on a free loopback UDP port, logging every notification it receives.
class TestTrapReceiver {
 public:
  TestTrapReceiver();
  ~TestTrapReceiver();
  TestTrapReceiver(const TestTrapReceiver&) = delete;
  TestTrapReceiver& operator=(const TestTrapReceiver&) = delete;

  std::string Log() const;
  // Waits until the log holds TEXT TIMES times (10 s at most).
  bool WaitFor(const std::string& text, size_t times = 1) const;

  std::string dir;
  std::string address;  // 127.0.0.1:PORT
  int pid = -1;
};

// Runs net-snmp's TOOL (snmpget, snmpgetnext, snmpbulkwalk, snmpwalk, snmpset) against MASTER,
// SNMPv2c with the read-write community and numeric OIDs (-On), then ARGS.
OasetRun Snmp(const TestMaster& master, const std::string& tool, std::vector<std::string> args);

// Waits until snmpget of OID through MASTER gets an answer from the subagent (10 s at most).
bool WaitForSubagent(const TestMaster& master, const std::string& oid);

// The options that connect an agent to MASTER.
std::vector<std::string> AgentxArgs(const TestMaster& master);
