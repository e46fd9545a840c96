// The client side of the transport on Windows. Wine has no Unix domain sockets, so a client here
// reaches the agent on TCP loopback only, at the port that the agent's endpoint file names.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h, which would otherwise bring the old winsock.h.
#include <windows.h>
// bcrypt.h needs the types of windows.h.
#include <bcrypt.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
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

// Under Wine the file's owner and mode say nothing that Windows would check; it is read as it is.
bool ReadOwnFile(const std::string& path, size_t limit, std::string* text, std::string* why,
                 bool* missing) {
  std::ifstream in(path, std::ios::binary);
  *missing = !in;
  if (!in) {
    *why = "no such file";
    return false;
  }
  text->assign(limit, '\0');
  in.read(text->data(), static_cast<std::streamsize>(limit));
  text->resize(static_cast<size_t>(in.gcount()));
  return true;
}

void Close(Socket s) {
  if (s != NO_SOCKET) closesocket(static_cast<SOCKET>(s));
}

}  // namespace orvu::transport
