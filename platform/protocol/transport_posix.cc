#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "transport.h"

namespace orvu::transport {
namespace {

constexpr long CLIENT_TIMEOUT_SECONDS = 30;

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
bool PrepareFolder(const std::string& folder, std::string* error) {
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 077) != 0) {
    *error = folder + " is not a private folder of this user";
    return false;
  }
  return true;
}

}  // namespace

std::string DefaultEndpoint() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/orvu-agent.sock";
  return "/tmp/orvu-agent-" + std::to_string(geteuid()) + "/orvu-agent.sock";
}

std::string ClientEndpoint() {
  const char* path = std::getenv("ORVU_AGENT_SOCKET");
  if (path && *path) return path;
  return DefaultEndpoint();
}

Socket Connect(const std::string& path, std::string* error) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr, error)) return NO_SOCKET;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    *error = std::strerror(errno);
    return NO_SOCKET;
  }
  int rc;
  do {
    rc = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    *error = std::strerror(errno);
    close(s);
    return NO_SOCKET;
  }
  // An agent that stops answering (stopped, wedged) must not hang its clients for ever.
  timeval timeout{CLIENT_TIMEOUT_SECONDS, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return s;
}

bool SendAll(Socket s, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(s, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReceiveAll(Socket s, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = recv(s, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long ReceiveSome(Socket s, void* data, size_t size) {
  while (true) {
    ssize_t n = recv(s, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

Socket Listen(const std::string& path, bool makeFolder, std::string* error) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr, error)) return NO_SOCKET;
  if (makeFolder) {
    std::string folder = Folder(path);
    if (!folder.empty() && !PrepareFolder(folder, error)) return NO_SOCKET;
  }
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
  mode_t old = umask(0177);
  int rc = bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  umask(old);
  if (rc != 0 || chmod(path.c_str(), 0600) != 0 || listen(s, 256) != 0) {
    *error = "cannot listen at " + path + ": " + std::strerror(errno);
    close(s);
    return NO_SOCKET;
  }
  return s;
}

Socket Accept(Socket listener) {
  int s = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
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
