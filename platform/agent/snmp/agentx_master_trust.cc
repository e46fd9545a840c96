#include "agent/snmp/agentx_master_trust.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace orvu::agent {

namespace {

bool Trusted(uid_t uid, const MasterTrust& trust) {
  return uid == 0 || uid == geteuid() || (trust.hasUser && uid == trust.user);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool LookUpMasterUser(const std::string& name, MasterTrust* trust, std::string* error) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  int status = getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (status != 0 || !found) {
    *error = "--agentx-user " + name + ": no such user" +
             (status != 0 ? std::string(" (") + std::strerror(status) + ")" : std::string());
    return false;
  }
  trust->hasUser = true;
  trust->user = found->pw_uid;
  trust->userName = name;
  return true;
}

uint16_t FirstUnprivilegedPort() {
  std::ifstream sysctl("/proc/sys/net/ipv4/ip_unprivileged_port_start");
  long first = 1024;
  if (!(sysctl >> first) || first < 0 || first > 1024) first = 1024;
  return static_cast<uint16_t>(first);
}

bool CheckMasterPort(const std::string& address, uint16_t port, const MasterTrust& trust,
                     std::string* error) {
  uint16_t first = FirstUnprivilegedPort();
  if (port < first || trust.trustUnprivilegedPort) return true;
  *error = "--agentx " + address + ": port " + std::to_string(port) +
           " is not a privileged port (" +
           (first == 1024 ? std::string("1024 and above")
                          : "this machine lets any user listen from " + std::to_string(first)) +
           "), so any local user may take it while the master is down and receive the agent's "
           "objects and sets; give the master a port below " +
           std::to_string(first) +
           " (AgentX's is 705) or a Unix socket, or accept the risk with "
           "--agentx-trust-unprivileged-port";
  return false;
}

std::string UntrustedUnixMaster(int fd, const std::string& path, const MasterTrust& trust) {
  std::string folder = FolderOf(path);
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0)
    return "cannot check its folder " + folder + ": " + std::strerror(errno);
  if (!Trusted(info.st_uid, trust))
    return "its folder " + folder + " belongs to user " + std::to_string(info.st_uid) +
           ", who may put another listener there";
  if (info.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(info.st_mode & 07777));
    return "its folder " + folder + " may be written by other users (mode " + mode + ")";
  }
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
    return std::string("cannot tell who listens there: ") + std::strerror(errno);
  if (!Trusted(peer.uid, trust))
    return "the process listening there runs as user " + std::to_string(peer.uid) +
           (trust.hasUser ? ", not as root, this user or " + trust.userName + " (--agentx-user)"
                          : std::string(", not as root or as this user")) +
           " (pid " + std::to_string(peer.pid) + ")";
  return "";
}

}  // namespace orvu::agent
