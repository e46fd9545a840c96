#include "agent/daemon/agent_command_line.h"

#include <cstdint>

#include "common/decimal.h"
#include "mibreader/mib_search_path.h"
#include "protocol/transport.h"

namespace orvu::agent {

namespace {

bool ParseClock(const std::string& text, int32_t* out) {
  int64_t value = 0;
  if (!ParseDecimal(text, INT32_MIN, INT32_MAX, &value)) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

std::string AgentUsage(const std::string& defaultMibDir) {
  return "Usage: orvu-agentd [OPTION]...\n"
         "Runs the stand-in Orvu agent on a local socket, in the foreground until stopped.\n"
         "\n"
         "  --socket PATH     listen at PATH (default: $XDG_RUNTIME_DIR/orvu-agent.sock,\n"
         "                    else /tmp/orvu-agent-UID/orvu-agent.sock)\n"
         "  --state FILE      keep the agent's state (modules, table instances, values) in FILE\n"
         "                    (default: agent.state in $XDG_STATE_HOME/oaset, else in\n"
         "                    ~/.local/state/oaset, the file oaset.sh uses; for another socket\n"
         "                    than the default one, a file named after the socket there)\n"
         "  --module NAME     serve the objects of the MIB module NAME: its tables and values can\n"
         "                    then be read and written; the state remembers it, so later starts\n"
         "                    serve it without the option; may be repeated\n"
         "  --clock SECONDS   record every time as SECONDS since 1970 instead of the real time\n"
         "  --detach          run in the background once the socket is ready, with a pid file\n"
         "  --pid-file FILE   write the agent's process id to FILE (default with --detach: beside\n"
         "                    the socket, named after it: orvu-agent.pid for orvu-agent.sock)\n"
         "  --fsync           flush every change to the disk, not only to the operating system\n"
         "  --agentx ADDRESS  also serve the objects to SNMP managers as an AgentX subagent of "
         "the\n"
         "                    master agent at ADDRESS (a Unix socket path, or tcp:HOST:PORT);\n"
         "                    the master must run as root or as the agent's user, in a folder\n"
         "                    no one else may write, or on a TCP port below 1024\n"
         "  --agentx-user NAME\n"
         "                    trust a master that runs as the user NAME too\n"
         "  --agentx-trust-unprivileged-port\n"
         "                    take a master on a TCP port of 1024 and above, which any local\n"
         "                    user may listen at while the master is down\n"
         "  --tcp ADDR:PORT   also listen on TCP at a loopback address (127.0.0.1:0 takes a free\n"
         "                    port), for clients without Unix sockets (Windows programs under\n"
         "                    Wine); they prove themselves with the endpoint file's secret\n"
         "  --endpoint FILE   with --tcp: write the port and a fresh secret to FILE, owner-only\n"
         "                    (default: orvu-agent.endpoint beside the socket); clients read it\n"
         "                    from ORVU_AGENT_ENDPOINT\n"
         "  --group NAME      let the members of group NAME (and root) use the agent too: the\n"
         "                    socket's folder (made when missing) is 0750 and the socket 0660,\n"
         "                    both owned by the group\n"
         "  --max-state-bytes N  the most the state file may hold (K, M, G: KiB, MiB, GiB;\n"
         "                    0: no bound; default 1G); a change that would pass it is refused,\n"
         "                    and with --group members leave the last quarter to the owner\n"
         "  -h, --help        print this text and exit\n"
         "  --version         print the version and exit\n"
         "\n"
         "In the foreground the agent says on standard error when it is ready. Ctrl-C or\n"
         "SIGTERM stops it cleanly; in the background, kill \"$(cat PID-FILE)\" does (at the\n"
         "default socket: kill \"$(cat \"$XDG_RUNTIME_DIR/orvu-agent.pid\")\", or the pid file in\n"
         "/tmp/orvu-agent-UID without XDG_RUNTIME_DIR), or ./oaset.sh --stop for the agent that\n"
         "oaset.sh started.\n"
         "\n"
         "MIB modules are searched in ORVU_MIB_PATH (folders separated by '" +
         std::string(1, mib::MIB_PATH_SEPARATOR) + "'), else in\n" + defaultMibDir + ".\n";
}

std::string AgentVersion() { return "orvu-agentd " ORVU_AGENT_VERSION "\n"; }

namespace {

// --tcp is checked before anything is made: a refused address must not leave a socket or an
// endpoint file behind, nor let a caller find the Unix socket answering for a moment.
bool ParseLoopbackAddress(const std::string& value, AgentCommandLine* out, std::string* error) {
  size_t colon = value.rfind(':');
  std::string digits = colon == std::string::npos ? "" : value.substr(colon + 1);
  uint32_t port = 0;
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos ||
      (port = static_cast<uint32_t>(std::stoul(digits))) > 65535) {
    *error = "bad --tcp value (ADDRESS:PORT expected): " + value;
    return false;
  }
  std::string host = value.substr(0, colon);
  if (!transport::CheckLoopbackAddress(host, error)) return false;
  out->tcpAddress = value;
  out->tcpHost = host;
  out->tcpPort = static_cast<uint16_t>(port);
  return true;
}

// A number of bytes, with K, M or G for KiB, MiB or GiB.
bool ParseByteCount(const std::string& value, size_t* bytes) {
  size_t end = value.find_first_not_of("0123456789");
  std::string number = value.substr(0, end);
  std::string unit = end == std::string::npos ? "" : value.substr(end);
  int shift = unit.empty() ? 0 : unit == "K" ? 10 : unit == "M" ? 20 : unit == "G" ? 30 : -1;
  if (number.empty() || number.size() > 15 || shift < 0) return false;
  uint64_t count = std::stoull(number);
  if (count > (SIZE_MAX >> shift)) return false;
  *bytes = static_cast<size_t>(count) << shift;
  return true;
}

}  // namespace

bool ParseAgentCommandLine(int argc, char** argv, AgentCommandLine* out, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      hasValue = true;
    }
    auto takeValue = [&](std::string* taken) {
      if (hasValue) {
        *taken = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      *taken = argv[++i];
      return true;
    };
    if ((arg == "--help" || arg == "-h") && !hasValue) {
      out->help = true;
      return true;
    } else if (arg == "--version" && !hasValue) {
      out->version = true;
      return true;
    } else if (arg == "--detach" && !hasValue) {
      out->detach = true;
    } else if (arg == "--fsync" && !hasValue) {
      out->options.syncEachChange = true;
    } else if (arg == "--agentx-trust-unprivileged-port" && !hasValue) {
      out->agentxTrustUnprivilegedPort = true;
    } else if (arg == "--socket" || arg == "--state" || arg == "--module" || arg == "--clock" ||
               arg == "--pid-file" || arg == "--agentx" || arg == "--tcp" || arg == "--endpoint" ||
               arg == "--group" || arg == "--agentx-user" || arg == "--max-state-bytes") {
      std::string v;
      if (!takeValue(&v) || v.empty()) {
        *error = "option " + arg + " needs a value";
        return false;
      }
      if (arg == "--socket") {
        out->socketPath = v;
      } else if (arg == "--state") {
        out->options.statePath = v;
      } else if (arg == "--module") {
        out->options.modules.push_back(v);
      } else if (arg == "--pid-file") {
        out->pidFile = v;
      } else if (arg == "--agentx") {
        out->agentxAddress = v;
      } else if (arg == "--agentx-user") {
        out->agentxUser = v;
      } else if (arg == "--tcp") {
        if (!ParseLoopbackAddress(v, out, error)) return false;
      } else if (arg == "--endpoint") {
        out->endpointFile = v;
      } else if (arg == "--group") {
        out->group = v;
      } else if (arg == "--max-state-bytes") {
        if (!ParseByteCount(v, &out->options.maxStateBytes)) {
          *error = "bad --max-state-bytes value (bytes, or a number with K, M or G): " + v;
          return false;
        }
      } else {
        int32_t clock = 0;
        if (!ParseClock(v, &clock)) {
          *error = "bad --clock value: " + v;
          return false;
        }
        out->options.clock = clock;
      }
    } else {
      *error = "unknown option " + std::string(argv[i]);
      return false;
    }
  }
  return true;
}

}  // namespace orvu::agent
