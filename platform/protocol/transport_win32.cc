// The client side of the transport on Windows. Wine has no Unix domain sockets, so a client here
// reaches the agent on TCP loopback only, at the port that the agent's endpoint file names.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h, which would otherwise bring the old winsock.h.
#include <windows.h>
// bcrypt.h needs the types of windows.h.
#include <bcrypt.h>
// The owner and access list of the endpoint file and its folder.
#include <aclapi.h>
#include <sddl.h>

#include <chrono>
#include <cstdlib>
#include <mutex>

#include "protocol/transport.h"

namespace orvu::transport {
namespace {

constexpr DWORD CLIENT_TIMEOUT_MILLISECONDS = 30 * 1000;

bool StartWinsock(std::string* error) {
  static std::once_flag once;
  static int started = -1;
  std::call_once(once, [] {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (started != 0) {
    *error = "Winsock did not start (error " + std::to_string(started) + ")";
    return false;
  }
  return true;
}

std::string SocketError(const char* what, int code = WSAGetLastError()) {
  return std::string(what) + " failed (Winsock error " + std::to_string(code) + ")";
}

// Connects S to ADDR by DEADLINE, leaving it blocking: 0, or the Winsock error of the failure
// (WSAETIMEDOUT when time ran out).
int ConnectBy(SOCKET s, const sockaddr* addr, int size, Deadline deadline) {
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return WSAGetLastError();
  int failure = 0;
  if (connect(s, addr, size) != 0) {
    failure = WSAGetLastError();
    if (failure == WSAEWOULDBLOCK) {
      auto left = std::chrono::duration_cast<std::chrono::microseconds>(
          deadline - std::chrono::steady_clock::now());
      long micros = left.count() < 0 ? 0 : static_cast<long>(left.count());
      timeval wait{micros / 1000000, micros % 1000000};
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      int ready = select(0, nullptr, &writable, &failed, &wait);
      failure = ready == 0 ? WSAETIMEDOUT : ready < 0 ? WSAGetLastError() : 0;
      if (ready > 0 && FD_ISSET(s, &failed)) {
        int length = sizeof failure;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &length);
        if (failure == 0) failure = WSAECONNREFUSED;
      }
    }
  }
  nonBlocking = 0;
  if (failure == 0 && ioctlsocket(s, FIONBIO, &nonBlocking) != 0) failure = WSAGetLastError();
  return failure;
}

}  // namespace

// The Unix socket has no Windows counterpart; these name where it would be for messages only.
std::string DefaultEndpoint() { return ClientEndpointFile(); }
std::string ClientEndpoint() { return ClientEndpointFile(); }

std::string ClientEndpointFile() {
  const char* path = std::getenv("ORVU_AGENT_ENDPOINT");
  if (path && *path) return path;
  const char* local = std::getenv("LOCALAPPDATA");
  std::string folder = local && *local ? local : ".";
  return folder + "\\orvu-agent\\endpoint";
}

Socket Connect(const std::string& path, std::string* error, bool* untrusted, Deadline) {
  if (untrusted) *untrusted = false;
  *error = "no Unix socket on Windows: " + path;
  return NO_SOCKET;
}

Socket ConnectLoopback(const std::string& address, uint16_t port, std::string* error, bool* refused,
                       Deadline deadline) {
  *refused = false;
  if (!StartWinsock(error)) return NO_SOCKET;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    return NO_SOCKET;
  }
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    *error = SocketError("socket");
    return NO_SOCKET;
  }
  int failure = ConnectBy(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr, deadline);
  if (failure != 0) {
    *refused = failure == WSAECONNREFUSED;
    *error = failure == WSAETIMEDOUT ? "connect timed out" : SocketError("connect", failure);
    closesocket(s);
    return NO_SOCKET;
  }
  // An agent that stops answering must not hang its clients for ever.
  DWORD timeout = CLIENT_TIMEOUT_MILLISECONDS;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  // Requests are small and answered at once: waiting to fill a segment would only add latency.
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  return static_cast<Socket>(s);
}

Deadline CallDeadline() {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(CLIENT_TIMEOUT_MILLISECONDS);
}

namespace {

// Winsock moves at most INT_MAX bytes a call. Each call waits at most the socket's own time
// limit; the round trip's deadline is checked between calls.
int Piece(size_t size) { return size > 1u << 30 ? 1 << 30 : static_cast<int>(size); }

bool Expired(Deadline deadline) { return std::chrono::steady_clock::now() >= deadline; }

}  // namespace

bool SendAll(Socket s, const void* data, size_t size, Deadline deadline) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (Expired(deadline)) return false;
    int n = send(static_cast<SOCKET>(s), p, Piece(size), 0);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long ReceiveSome(Socket s, void* data, size_t size, Deadline deadline) {
  if (Expired(deadline)) return -1;
  return recv(static_cast<SOCKET>(s), static_cast<char*>(data), Piece(size), 0);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }
uint32_t CurrentProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

std::string OwnProgramFile() {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length);
}

bool RandomBytes(void* data, size_t size) {
  return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, static_cast<PUCHAR>(data),
                                        static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

namespace {

// The owner and the access list of an open file or folder, as one block the system allocated.
struct Security {
  PSECURITY_DESCRIPTOR block = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  Security() = default;
  Security(const Security&) = delete;
  Security& operator=(const Security&) = delete;
  ~Security() {
    if (block) LocalFree(block);
  }
};

bool ReadSecurity(HANDLE handle, Security* security) {
  return GetSecurityInfo(handle, SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &security->owner,
                         nullptr, &security->dacl, nullptr, &security->block) == ERROR_SUCCESS &&
         security->owner != nullptr;
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text) || !text) return "(unreadable SID)";
  std::string result = text;
  LocalFree(text);
  return result;
}

bool IsCurrentUser(PSID sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) char buffer[256];
  DWORD size = 0;
  bool same = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
              EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, sid);
  CloseHandle(token);
  return same;
}

// The accounts that may own and write the agent's files besides the user: the system, whose
// account a service runs as, and the administrators, who may do anything on the machine anyway.
bool IsSystemOrAdministrators(PSID sid) {
  return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
}

bool IsTrusted(PSID sid) { return IsCurrentUser(sid) || IsSystemOrAdministrators(sid); }

constexpr ACCESS_MASK WRITE_ACCESS = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The first account other than the trusted ones that the access list lets in (with MASK, any of
// its bits), or an empty text when there is none. A missing list lets everyone in.
std::string UntrustedAccess(const Security& security, ACCESS_MASK mask) {
  if (security.dacl == nullptr) return "everyone (it has no access list)";
  for (DWORD i = 0; i < security.dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(security.dacl, i, &entry)) continue;
    auto* header = static_cast<ACE_HEADER*>(entry);
    // An entry only for what is made inside a folder says nothing of the folder itself.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
      continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = &allowed->SidStart;
    if ((allowed->Mask & mask) != 0 && !IsTrusted(sid)) return SidText(sid);
  }
  return std::string();
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

// The same checks as on POSIX systems, in the terms of Windows: the file's owner is the user,
// the system or the administrators; no one else may write it, nor read it when it is the
// user's own (a service's file may be readable by a group it names); its folder belongs to one
// of the same and no one else may write in it.
bool CheckOwnFile(HANDLE file, const std::string& path, std::string* why) {
  BY_HANDLE_FILE_INFORMATION info{};
  Security own;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    *why = "it is not a regular file";
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    *why = "it is a symbolic link";
  } else if (!ReadSecurity(file, &own)) {
    *why = "its owner cannot be read (error " + std::to_string(GetLastError()) + ")";
  } else if (!IsTrusted(own.owner)) {
    *why = "it belongs to user " + SidText(own.owner);
  } else {
    bool service = !IsCurrentUser(own.owner);
    std::string other = UntrustedAccess(own, service ? WRITE_ACCESS : ~ACCESS_MASK{0});
    if (!other.empty())
      *why = "others may use it (" + other + " may " + (service ? "write" : "open") + " it)";
  }
  if (!why->empty()) return false;
  std::string folder = FolderOf(path);
  HANDLE handle = CreateFileA(folder.c_str(), READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  Security around;
  if (handle == INVALID_HANDLE_VALUE) {
    *why =
        "its folder " + folder + " cannot be opened (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  bool read = ReadSecurity(handle, &around);
  CloseHandle(handle);
  if (!read) {
    *why = "its folder " + folder + ": its owner cannot be read";
  } else if (!IsTrusted(around.owner)) {
    *why = "its folder " + folder + " belongs to user " + SidText(around.owner);
  } else {
    std::string other = UntrustedAccess(around, WRITE_ACCESS);
    if (!other.empty())
      *why =
          "its folder " + folder + " may be written by other users (" + other + " may write in it)";
  }
  return why->empty();
}

}  // namespace

bool ReadOwnFile(const std::string& path, size_t limit, std::string* text, std::string* why,
                 bool* missing) {
  why->clear();
  text->clear();
  *missing = false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    *why = *missing ? "no such file" : "cannot be opened (error " + std::to_string(code) + ")";
    return false;
  }
  if (CheckOwnFile(file, path, why)) {
    text->assign(limit, '\0');
    size_t got = 0;
    while (got < limit) {
      DWORD n = 0;
      DWORD piece = limit - got > (1u << 30) ? (1u << 30) : static_cast<DWORD>(limit - got);
      if (!ReadFile(file, text->data() + got, piece, &n, nullptr)) {
        *why = "cannot be read (error " + std::to_string(GetLastError()) + ")";
        break;
      }
      if (n == 0) break;
      got += n;
    }
    text->resize(got);
  }
  CloseHandle(file);
  return why->empty();
}

void Close(Socket s) {
  if (s != NO_SOCKET) closesocket(static_cast<SOCKET>(s));
}

}  // namespace orvu::transport
