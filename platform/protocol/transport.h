// The one seam between the agent's messages and the operating system's local sockets. Everything
// that differs between POSIX and a Windows build stays behind these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvu::transport {

using Socket = int;
constexpr Socket NO_SOCKET = -1;

// $XDG_RUNTIME_DIR/orvu-agent.sock, else /tmp/orvu-agent-<uid>/orvu-agent.sock.
std::string DefaultEndpoint();
// ORVU_AGENT_SOCKET when set and not empty, else DefaultEndpoint().
std::string ClientEndpoint();

// Client side: a blocking connection, or NO_SOCKET with *error set.
Socket Connect(const std::string& path, std::string* error);
bool SendAll(Socket s, const void* data, size_t size);
bool ReceiveAll(Socket s, void* data, size_t size);
// Blocks until some bytes arrive: their count, or 0 or less when the connection closed or failed.
long ReceiveSome(Socket s, void* data, size_t size);
uint32_t CurrentThreadId();

// Agent side. Listen makes the folder of the default endpoint (owner only) when needed, refuses a
// path that another agent answers at, replaces a stale socket file, and leaves the socket 0600.
Socket Listen(const std::string& path, bool makeFolder, std::string* error);
Socket Accept(Socket listener);  // non-blocking; NO_SOCKET when none is waiting
bool PeerCredentials(Socket s, uint32_t* processId, uint32_t* userId);
uint32_t OwnUserId();
// Non-blocking; >0 bytes moved, 0 would block, -1 closed or failed.
long ReadSome(Socket s, void* data, size_t size);
long WriteSome(Socket s, const void* data, size_t size);
void Close(Socket s);
void RemoveEndpoint(const std::string& path);

}  // namespace orvu::transport
