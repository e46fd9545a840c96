#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "protocol/transport.h"

namespace orvu::transport {
namespace {

constexpr long CLIENT_TIMEOUT_SECONDS = 30;
constexpr const char* TRANSPORT_DEFAULT_FOLDER_PREFIX = "/tmp/orvu-agent-";
constexpr const char* TRANSPORT_SYSTEM_USER = "orvu-agent";

bool MakeAddress(const std::string& path, sockaddr_un* addr, std::string* error) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr->sun_path) {
    *error = "socket path is empty or too long: " + path;
    return false;
  }
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// The private folder must be ours and closed to others; anything else could let another user
// put a socket of their own in our agent's place.
bool CheckPrivateFolder(const std::string& folder, std::string* error) {
  struct stat st;
  std::string why;
  if (lstat(folder.c_str(), &st) != 0)
    why = std::strerror(errno);
  else if (S_ISLNK(st.st_mode))
    why = "it is a symbolic link";
  else if (!S_ISDIR(st.st_mode))
    why = "it is not a folder";
  else if (st.st_uid != geteuid())
    why = "it belongs to user " + std::to_string(st.st_uid);
  else if ((st.st_mode & 077) != 0)
    why = "others may use it (mode " + std::to_string((st.st_mode >> 6) & 7) +
          std::to_string((st.st_mode >> 3) & 7) + std::to_string(st.st_mode & 7) + ")";
  if (why.empty()) return true;
  *error = folder + " is not a private folder of this user: " + why;
  return false;
}

bool PrepareFolder(const std::string& folder, std::string* error) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  return CheckPrivateFolder(folder, error);
}

long MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<long>(left.count());
}

// Waits for EVENTS on S until the deadline; false when it passed first.
bool WaitFor(Socket s, short events, std::chrono::steady_clock::time_point deadline) {
  while (true) {
    pollfd p{s, events, 0};
    int rc = poll(&p, 1, static_cast<int>(MillisecondsUntil(deadline)));
    if (rc > 0) return true;
    if (rc == 0 || errno != EINTR) return false;
  }
}

}  // namespace

std::string DefaultEndpoint() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/orvu-agent.sock";
  return TRANSPORT_DEFAULT_FOLDER_PREFIX + std::to_string(geteuid()) + "/orvu-agent.sock";
}

bool IsSharedDefault(const std::string& path) {
  return path == TRANSPORT_DEFAULT_FOLDER_PREFIX + std::to_string(geteuid()) + "/orvu-agent.sock";
}

namespace {

bool IsSocketFile(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// The user ids whose agents a client may trust besides its own: root and the system agent's user.
bool IsSystemAgentUser(uid_t user) {
  if (user == 0) return true;
  passwd entry;
  passwd* found = nullptr;
  std::vector<char> buffer(4096);
  return getpwnam_r(TRANSPORT_SYSTEM_USER, &entry, buffer.data(), buffer.size(), &found) == 0 &&
         found != nullptr && found->pw_uid == user;
}

std::string GroupName(gid_t group) {
  struct group entry;
  struct group* found = nullptr;
  std::vector<char> buffer(4096);
  if (getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->gr_name;
  return std::to_string(group);
}

}  // namespace

std::string ClientEndpoint() {
  const char* path = std::getenv("ORVU_AGENT_SOCKET");
  if (path && *path) return path;
  // The user's own agent first, when one listens; else the one the system runs for its group.
  // The system agent's folder hides its socket from non-members; its being there is enough, so
  // that they learn which group to join rather than that they have no agent of their own.
  // A socket in another user's folder at the shared default is no agent of this user's: it must
  // not crowd out the system's.
  std::string own = DefaultEndpoint();
  std::string ignored;
  bool ownAgent =
      IsSocketFile(own) && (!IsSharedDefault(own) || CheckPrivateFolder(Folder(own), &ignored));
  struct stat st;
  std::string systemFolder = Folder(TRANSPORT_SYSTEM_SOCKET);
  if (!ownAgent && lstat(systemFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return TRANSPORT_SYSTEM_SOCKET;
  return own;
}

std::string ClientEndpointFile() {
  const char* path = std::getenv("ORVU_AGENT_ENDPOINT");
  return path && *path ? path : std::string();
}

namespace {

constexpr auto TRANSPORT_BACKLOG_RETRY = std::chrono::milliseconds(20);

// Connects S to ADDR by DEADLINE: 0, or the errno of the failure (ETIMEDOUT when time ran out).
int ConnectBy(int s, const sockaddr* addr, socklen_t size, Deadline deadline) {
  while (true) {
    if (connect(s, addr, size) == 0) return 0;
    int failure = errno;
    if (failure == EAGAIN) {
      // A Unix socket whose backlog is full: there is nothing to wait on but time.
      if (std::chrono::steady_clock::now() + TRANSPORT_BACKLOG_RETRY >= deadline) return ETIMEDOUT;
      usleep(static_cast<useconds_t>(std::chrono::microseconds(TRANSPORT_BACKLOG_RETRY).count()));
      continue;
    }
    if (failure != EINPROGRESS && failure != EINTR) return failure;
    if (!WaitFor(s, POLLOUT, deadline)) return ETIMEDOUT;
    socklen_t length = sizeof failure;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) return errno;
    return failure;
  }
}

// A connection of a fresh socket of FAMILY to ADDR, made by DEADLINE; the socket is blocking
// afterwards, and the round trips that follow keep to their own deadlines. errno tells why it
// failed.
Socket ConnectTo(int family, const sockaddr* addr, socklen_t size, Deadline deadline,
                 std::string* error) {
  int s = socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    *error = std::strerror(errno);
    return NO_SOCKET;
  }
  int failure = ConnectBy(s, addr, size, deadline);
  if (failure == 0 && fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK) != 0) failure = errno;
  if (failure != 0) {
    *error = std::strerror(failure);
    close(s);
    errno = failure;
    return NO_SOCKET;
  }
  return s;
}

// A system agent's folder: its listener's own (root's folder for root), no symbolic link, and
// writable by no one else, so that nobody else can have put a socket or a link in it.
bool CheckAgentFolder(const std::string& folder, uid_t listener, std::string* why) {
  struct stat st;
  std::string reason;
  if (folder.empty() || lstat(folder.c_str(), &st) != 0)
    reason = folder.empty() ? "it has no folder" : std::strerror(errno);
  else if (S_ISLNK(st.st_mode))
    reason = "it is a symbolic link";
  else if (!S_ISDIR(st.st_mode))
    reason = "it is not a folder";
  else if (st.st_uid != listener)
    return false;  // no agent's folder at all: the listener is simply not ours
  else if ((st.st_mode & 022) != 0)
    reason = "others may write in it (mode " + std::to_string((st.st_mode >> 6) & 7) +
             std::to_string((st.st_mode >> 3) & 7) + std::to_string(st.st_mode & 7) + ")";
  if (reason.empty()) return true;
  *why = folder + " is not the agent's own folder: " + reason;
  return false;
}

}  // namespace

Socket Connect(const std::string& path, std::string* error, bool* untrusted, Deadline deadline) {
  if (untrusted) *untrusted = false;
  sockaddr_un addr;
  if (!MakeAddress(path, &addr, error)) return NO_SOCKET;
  // In the shared /tmp anyone may have made the folder first; only ours is trusted. No folder at
  // all hides no impostor: no agent has been started there yet.
  if (IsSharedDefault(path)) {
    struct stat st;
    if (lstat(Folder(path).c_str(), &st) != 0 && errno == ENOENT) {
      *error = std::strerror(ENOENT);
      return NO_SOCKET;
    }
    if (!CheckPrivateFolder(Folder(path), error)) {
      if (untrusted) *untrusted = true;
      return NO_SOCKET;
    }
  }
  int s = ConnectTo(AF_UNIX, reinterpret_cast<sockaddr*>(&addr), sizeof addr, deadline, error);
  if (s == NO_SOCKET) return NO_SOCKET;
  // Whoever listens there gets every request we send: it must be our own user, or the system's
  // agent in a folder that only it may change.
  ucred peer{};
  socklen_t len = sizeof peer;
  bool known = getsockopt(s, SOL_SOCKET, SO_PEERCRED, &peer, &len) == 0;
  std::string why;
  if (known && peer.uid == geteuid()) return s;
  if (known && IsSystemAgentUser(peer.uid) && CheckAgentFolder(Folder(path), peer.uid, &why))
    return s;
  *error = "the process listening at " + path + " runs as user " + std::to_string(peer.uid) +
           ", not as this user" + (why.empty() ? "" : ", and " + why);
  if (untrusted) *untrusted = true;
  close(s);
  return NO_SOCKET;
}

Deadline CallDeadline() {
  return std::chrono::steady_clock::now() + std::chrono::seconds(CLIENT_TIMEOUT_SECONDS);
}

bool SendAll(Socket s, const void* data, size_t size, Deadline deadline) {
  const char* p = static_cast<const char*>(data);
  // A socket mostly has room for a request: waiting comes only after a send found none.
  bool wait = false;
  while (size > 0) {
    if (wait && !WaitFor(s, POLLOUT, deadline)) return false;
    ssize_t n = send(s, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    wait = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    if (n < 0 && (errno == EINTR || wait)) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long ReceiveSome(Socket s, void* data, size_t size, Deadline deadline) {
  while (true) {
    if (!WaitFor(s, POLLIN, deadline)) return -1;
    ssize_t n = recv(s, data, size, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    return static_cast<long>(n);
  }
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

std::string OwnProgramFile() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length <= 0 || static_cast<size_t>(length) >= sizeof path
             ? std::string()
             : std::string(path, static_cast<size_t>(length));
}

Socket ConnectLoopback(const std::string& address, uint16_t port, std::string* error, bool* refused,
                       Deadline deadline) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    *refused = false;
    return NO_SOCKET;
  }
  Socket s = ConnectTo(AF_INET, reinterpret_cast<sockaddr*>(&addr), sizeof addr, deadline, error);
  *refused = s == NO_SOCKET && errno == ECONNREFUSED;
  int one = 1;
  if (s != NO_SOCKET) setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return s;
}

bool CheckLoopbackAddress(const std::string& address, std::string* error) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) == 127) {
    return true;
  }
  *error = "not a loopback address (127.x.x.x): " + address;
  return false;
}

Socket ListenLoopback(const std::string& address, uint16_t* port, std::string* error) {
  // Only this machine may reach the agent: every other address is refused, not just warned of.
  if (!CheckLoopbackAddress(address, error)) return NO_SOCKET;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(*port);
  inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    *error = std::strerror(errno);
    return NO_SOCKET;
  }
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  socklen_t length = sizeof addr;
  // A backlog as deep as the system allows: strangers that connect faster than the agent takes
  // them fill it, and a client that finds it full waits for its connection to be retried.
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, SOMAXCONN) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    *error =
        "cannot listen at " + address + ":" + std::to_string(*port) + ": " + std::strerror(errno);
    close(s);
    return NO_SOCKET;
  }
  *port = ntohs(addr.sin_port);
  return s;
}

bool RandomBytes(void* data, size_t size) {
  auto* p = static_cast<unsigned char*>(data);
  while (size > 0) {
    ssize_t n = getrandom(p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

namespace {

// Removes PATH when it is a file of this user; false with *error when something else is there.
bool ClearOwnFile(const std::string& path, std::string* error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    *error = "cannot look at " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    *error = path + ": it exists and is not a file of this user" +
             (S_ISLNK(st.st_mode) ? " (a symbolic link)" : "");
    return false;
  }
  if (unlink(path.c_str()) != 0) {
    *error = "cannot remove " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool TakeOwnName(const std::string& path, const std::function<bool(const std::string&)>& take,
                 std::string* taken, std::string* error) {
  std::string name = path, leftAlone, why;
  for (unsigned attempt = 0; attempt < 64; ++attempt) {
    if (attempt > 0) name = path + "." + std::to_string(getpid()) + "." + std::to_string(attempt);
    if (!ClearOwnFile(name, &why)) {
      if (attempt == 0) leftAlone = why;
      continue;
    }
    if (take(name)) {
      if (!leftAlone.empty())
        std::fprintf(stderr, "orvu-agentd: left alone %s; wrote %s instead\n", leftAlone.c_str(),
                     name.c_str());
      *taken = name;
      return true;
    }
    if (errno != EEXIST) {
      int failure = errno;
      *error = "cannot write " + name + ": " + std::strerror(failure);
      errno = failure;
      return false;
    }
  }
  *error = "cannot write " + path + ": no name of this user's is free beside it";
  return false;
}

bool WritePrivateFile(const std::string& path, const std::string& text, std::string* error) {
  std::string temporary;
  int fd = -1;
  auto make = [&fd](const std::string& name) {
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    return fd >= 0;
  };
  if (!TakeOwnName(path + ".new", make, &temporary, error)) return false;
  bool ok = fd >= 0;
  if (ok) {
    ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
  }
  // The rename is what makes it appear: a reader finds the old file or the whole new one.
  if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    unlink(temporary.c_str());
  }
  return ok;
}

int OpenOwnFile(const std::string& path, unsigned mode, std::string* why) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    *why = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    *why = "it is not a file of this user";
    close(fd);
    return -1;
  }
  return fd;
}

namespace {

std::string ModeText(mode_t mode) {
  std::string text;
  if (mode & 07000) text += std::to_string((mode >> 9) & 7);
  return text + std::to_string((mode >> 6) & 7) + std::to_string((mode >> 3) & 7) +
         std::to_string(mode & 7);
}

// Whoever may write the folder may replace the file in it between our look and our open.
bool CheckOwnFolder(const std::string& folder, std::string* why) {
  struct stat st;
  if (stat(folder.c_str(), &st) != 0) {
    *why = "its folder " + folder + ": " + std::strerror(errno);
  } else if (st.st_uid != geteuid() && st.st_uid != 0) {
    *why = "its folder " + folder + " belongs to user " + std::to_string(st.st_uid);
  } else if ((st.st_mode & 022) != 0) {
    *why = "its folder " + folder + " may be written by other users (mode " +
           ModeText(st.st_mode & 07777) + ")";
  }
  return why->empty();
}

}  // namespace

bool ReadOwnFile(const std::string& path, size_t limit, std::string* text, std::string* why,
                 bool* missing) {
  why->clear();
  *missing = false;
  std::string folder = Folder(path);
  if (path.find('/') == std::string::npos) folder = ".";
  if (path.rfind('/', 0) == 0 && folder.empty()) folder = "/";
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *missing = errno == ENOENT || errno == ENOTDIR;
    *why = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *why = "it is not a regular file";
  } else if (st.st_uid != geteuid()) {
    *why = "it belongs to user " + std::to_string(st.st_uid);
  } else if ((st.st_mode & 077) != 0) {
    *why = "others may use it (mode " + ModeText(st.st_mode & 0777) + ")";
  } else {
    CheckOwnFolder(folder, why);
  }
  text->assign(limit, '\0');
  size_t got = 0;
  while (why->empty() && got < limit) {
    ssize_t n = read(fd, text->data() + got, limit - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) *why = std::strerror(errno);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  text->resize(got);
  return why->empty();
}

// Held for the agent's life: two agents starting at once on the same (stale) socket would both
// find nobody answering and both bind, the second replacing the first's socket.
bool TakeEndpointLock(const std::string& path, std::string* error) {
  std::string lockPath = path + ".lock";
  std::string why;
  int fd = OpenOwnFile(lockPath, 0600, &why);
  if (fd < 0) {
    *error = "refusing to use " + lockPath + ": " + why;
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *error = "another agent answers at " + path;
    close(fd);
    return false;
  }
  return true;  // the descriptor stays open, and the lock with it, until the agent ends
}

bool LookUpGroup(const std::string& name, uint32_t* groupId, std::string* error) {
  struct group entry;
  struct group* found = nullptr;
  std::vector<char> buffer(16384);
  int rc;
  // A group with many members needs a larger buffer than most.
  while ((rc = getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (16u << 20)) {
    buffer.resize(buffer.size() * 4);
  }
  if (rc != 0 || !found) {
    *error = rc != 0 ? "cannot look up group " + name + ": " + std::strerror(rc)
                     : "unknown group " + name;
    return false;
  }
  *groupId = found->gr_gid;
  return true;
}

namespace {

// The folder of a group's socket: made 0750 for the group when missing; when it is there, it
// must already be this user's, the group's and closed to writers, as systemd's RuntimeDirectory
// makes it. An existing folder is never changed: it may be a home or /tmp.
bool PrepareGroupFolder(const std::string& folder, const GroupAccess& group, std::string* error) {
  if (mkdir(folder.c_str(), 0700) == 0) {
    if (chown(folder.c_str(), static_cast<uid_t>(-1), group.groupId) != 0 ||
        chmod(folder.c_str(), 0750) != 0) {
      *error =
          "cannot give " + folder + " to group " + group.groupName + ": " + std::strerror(errno);
      // Left behind, the folder would hold the user's own group, and refuse every later start.
      rmdir(folder.c_str());
      return false;
    }
    return true;
  }
  struct stat st;
  std::string why;
  if (lstat(folder.c_str(), &st) != 0)
    why = std::strerror(errno);
  else if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode))
    why = "it is not a folder";
  else if (st.st_uid != geteuid())
    why = "it belongs to user " + std::to_string(st.st_uid);
  else if (st.st_gid != group.groupId)
    why = "it belongs to group " + GroupName(st.st_gid);
  else if ((st.st_mode & 022) != 0)
    why = "others may write in it";
  if (why.empty()) return true;
  *error = folder + " cannot hold the socket of group " + group.groupName + ": " + why +
           " (it must be this user's and the group's, mode 0750)";
  return false;
}

}  // namespace

bool PeerInGroup(Socket s, uint32_t groupId) {
  ucred peer{};
  socklen_t len = sizeof peer;
  if (getsockopt(s, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0) return false;
  if (peer.gid == groupId) return true;
  std::vector<gid_t> groups(64);
  len = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
  if (getsockopt(s, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &len) != 0) {
    if (errno != ERANGE) return false;
    groups.resize(len / sizeof(gid_t));
    if (getsockopt(s, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &len) != 0) return false;
  }
  groups.resize(len / sizeof(gid_t));
  for (gid_t g : groups) {
    if (g == groupId) return true;
  }
  return false;
}

Socket Listen(const std::string& path, bool makeFolder, std::string* error,
              const GroupAccess* group) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr, error)) return NO_SOCKET;
  std::string folder = Folder(path);
  if (group != nullptr) {
    // Folder() has no folder for "name" (the working one) nor for "/name" (the root).
    if (folder.empty()) folder = path[0] == '/' ? "/" : ".";
    if (!PrepareGroupFolder(folder, *group, error)) return NO_SOCKET;
  } else if (makeFolder) {
    if (!folder.empty() && !PrepareFolder(folder, error)) return NO_SOCKET;
  }
  if (!TakeEndpointLock(path, error)) return NO_SOCKET;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      *error = path + " exists and is not a socket";
      return NO_SOCKET;
    }
    std::string ignored;
    Socket probe = Connect(path, &ignored);
    if (probe != NO_SOCKET) {
      close(probe);
      *error = "another agent answers at " + path;
      return NO_SOCKET;
    }
    unlink(path.c_str());
  }
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) {
    *error = std::strerror(errno);
    return NO_SOCKET;
  }
  // The mask gives the socket its mode as it is made; a chmod by name afterwards could be
  // turned onto another file.
  mode_t old = umask(group ? 0117 : 0177);
  int rc = bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  umask(old);
  // The folder is this user's and closed to writers, so the name still is the socket just made.
  if (rc == 0 && group && lchown(path.c_str(), static_cast<uid_t>(-1), group->groupId) != 0) {
    *error = "cannot give " + path + " to group " + group->groupName + ": " + std::strerror(errno);
    close(s);
    unlink(path.c_str());
    return NO_SOCKET;
  }
  if (rc != 0 || listen(s, 256) != 0) {
    *error = "cannot listen at " + path + ": " + std::strerror(errno);
    close(s);
    return NO_SOCKET;
  }
  return s;
}

Socket Accept(Socket listener, bool* outOfDescriptors) {
  int s = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (outOfDescriptors) *outOfDescriptors = s < 0 && (errno == EMFILE || errno == ENFILE);
  return s < 0 ? NO_SOCKET : s;
}

bool PeerCredentials(Socket s, uint32_t* processId, uint32_t* userId) {
  ucred cred;
  socklen_t len = sizeof cred;
  if (getsockopt(s, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  *processId = static_cast<uint32_t>(cred.pid);
  *userId = static_cast<uint32_t>(cred.uid);
  return true;
}

uint32_t OwnUserId() { return static_cast<uint32_t>(geteuid()); }

long ReadSome(Socket s, void* data, size_t size) {
  ssize_t n = recv(s, data, size, 0);
  if (n > 0) return n;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
  return -1;
}

long WriteSome(Socket s, const void* data, size_t size) {
  ssize_t n = send(s, data, size, MSG_NOSIGNAL);
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  return -1;
}

void Close(Socket s) {
  if (s != NO_SOCKET) close(s);
}

void RemoveEndpoint(const std::string& path) { unlink(path.c_str()); }

}  // namespace orvu::transport
