// Who may be the agent's AgentX master. A master reads every object the agent serves and writes
// the writable ones, so the agent opens a session only with one that no other local user can be:
// on a Unix socket a listener of root, of the agent's own user or of the user named for the master,
// in a folder no one else may write; on TCP a privileged port, unless the agent is told in so many
// words that the port's risk is taken.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace orvu::agent {

struct MasterTrust {
  bool hasUser = false;  // --agentx-user NAME: the master's own system user
  uid_t user = 0;
  std::string userName;
  bool trustUnprivilegedPort = false;  // --agentx-trust-unprivileged-port
};

// --agentx-user NAME: its user id into TRUST; false with *error for an unknown user.
bool LookUpMasterUser(const std::string& name, MasterTrust* trust, std::string* error);

// The least port that any user may listen at on this machine (1024 unless lowered).
uint16_t FirstUnprivilegedPort();

// At start, for a master on TCP: false with *error when PORT may be taken by any local user while
// the master is down and the risk was not accepted.
bool CheckMasterPort(const std::string& address, uint16_t port, const MasterTrust& trust,
                     std::string* error);

// Before the first packet to a master on the Unix socket PATH, connected at FD: why it is not to
// be trusted, or an empty text.
std::string UntrustedUnixMaster(int fd, const std::string& path, const MasterTrust& trust);

}  // namespace orvu::agent
