#include "libs/vnoagent/start_advice.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace orvu::client {

namespace {

#if !defined(_WIN32)
// Where an installed copy keeps its sample modules, seen from PREFIX/lib/oaset, which holds this
// library.
constexpr const char* ADVICE_INSTALLED_MARK = "/../../share/oaset/mibs";

std::string FolderOfThisLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&StartAdvice), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  std::string file = info.dli_fname;
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

bool IsFolder(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string UserName(uid_t uid) {
  struct passwd* entry = getpwuid(uid);
  std::string id = "uid " + std::to_string(uid);
  return entry != nullptr && entry->pw_name != nullptr
             ? std::string(entry->pw_name) + " (" + id + ")"
             : id;
}

std::string GroupText(gid_t gid) {
  struct group* entry = getgrgid(gid);
  return entry != nullptr && entry->gr_name != nullptr ? std::string(entry->gr_name)
                                                       : "gid " + std::to_string(gid);
}

// An agent started with --group opens its folder and socket to that group, and only then does
// joining the group help; otherwise the owner (and root) alone may use it.
std::string ForbiddenRemedy(const struct stat& status, mode_t groupBits) {
  const std::string own = ", or start an agent of your own at another socket (ORVU_AGENT_SOCKET)";
  if ((status.st_mode & groupBits) == groupBits) {
    return ": run oaset as its owner or as a member of group " + GroupText(status.st_gid) + own;
  }
  std::string owner = UserName(status.st_uid);
  return ": only " + owner + " (or root) may use it; run oaset as " + owner + own;
}
#endif

}  // namespace

std::string StartAdvice() {
#if defined(_WIN32)
  return "; start the agent with orvu-agentd --tcp 127.0.0.1:0 --endpoint naming this file, or "
         "set ORVU_AGENT_ENDPOINT to the endpoint file of an agent that runs";
#else
  std::string folder = FolderOfThisLibrary();
  if (!folder.empty() && IsFolder(folder + ADVICE_INSTALLED_MARK))
    return "; start one with orvu-agentd --detach --module VORNEL-VNBEEP-MIB, or the system "
           "service with systemctl start orvu-agentd";
  return "; start one with ./oaset.sh or orvu-agentd --detach";
#endif
}

std::string ForbiddenSocketText(const std::string& endpoint) {
#if defined(_WIN32)
  return "this user may not open " + endpoint;
#else
  struct stat status {};
  std::string me = UserName(geteuid());
  if (stat(endpoint.c_str(), &status) == 0) {
    return "the socket " + endpoint + " belongs to " + UserName(status.st_uid) +
           ", and this user, " + me + ", may not open it" + ForbiddenRemedy(status, S_IWGRP);
  }
  std::string folder = endpoint.substr(0, endpoint.rfind('/'));
  if (folder.empty()) folder = "/";
  if (stat(folder.c_str(), &status) != 0) {
    return "the socket " + endpoint + " lies in a folder that this user, " + me +
           ", may not enter: run oaset as the agent's owner, or start an agent of your own at "
           "another socket (ORVU_AGENT_SOCKET)";
  }
  return "the socket " + endpoint + " lies in the folder " + folder + " of " +
         UserName(status.st_uid) + ", which this user, " + me + ", may not enter" +
         ForbiddenRemedy(status, S_IXGRP);
#endif
}

}  // namespace orvu::client
