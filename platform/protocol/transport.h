// The one seam between the agent's messages and the operating system's sockets. Everything that
// differs between POSIX (transport_posix.cc) and Windows (transport_win32.cc, the client side
// only: the agent itself is POSIX-only) stays behind these functions.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace orvu::transport {

// A descriptor on POSIX, a SOCKET (an unsigned, pointer-wide handle) on Windows.
#if defined(_WIN32)
using Socket = uintptr_t;
constexpr Socket NO_SOCKET = ~static_cast<uintptr_t>(0);
#else
using Socket = int;
constexpr Socket NO_SOCKET = -1;
#endif

// $XDG_RUNTIME_DIR/orvu-agent.sock, else /tmp/orvu-agent-<uid>/orvu-agent.sock.
std::string DefaultEndpoint();
// The socket of the agent that the system runs as a service, for the members of its group.
constexpr const char* TRANSPORT_SYSTEM_SOCKET = "/run/orvu-agent/orvu-agent.sock";
// ORVU_AGENT_SOCKET when set and not empty; else DefaultEndpoint() when a socket is there in a
// folder of this user's (the user's own agent), else TRANSPORT_SYSTEM_SOCKET when its folder is
// there (a non-member may not see the socket in it), else DefaultEndpoint().
std::string ClientEndpoint();
// The endpoint file of an agent on TCP loopback: ORVU_AGENT_ENDPOINT when set and not empty;
// else on Windows %LOCALAPPDATA%\orvu-agent\endpoint, and on POSIX nothing (the Unix socket).
std::string ClientEndpointFile();

// One bound for a whole round trip, however slowly the agent trickles its reply.
using Deadline = std::chrono::steady_clock::time_point;
Deadline CallDeadline();

// Client side: a connection, or NO_SOCKET with *error set; an agent that does not take it by
// DEADLINE (one whose backlog is full) is given up on like one that does not answer. The default
// endpoint's folder must be the user's own, closed to others and no symbolic link, and the peer
// listening there must run as the user, or else as root or the system agent's user (orvu-agent)
// in a folder of its own that no one else may write in and that is no symbolic link, before
// anything is sent; when that is not so, *untrusted is set and *error names the path and the
// reason.
Socket Connect(const std::string& path, std::string* error, bool* untrusted = nullptr,
               Deadline deadline = CallDeadline());
// The same to ADDRESS:PORT (a dotted IPv4 address); *refused is set when nothing listens there.
Socket ConnectLoopback(const std::string& address, uint16_t port, std::string* error, bool* refused,
                       Deadline deadline = CallDeadline());
// False when the peer closed, failed or the deadline passed before all was sent.
bool SendAll(Socket s, const void* data, size_t size, Deadline deadline);
// Waits until some bytes arrive: their count, or 0 or less when the connection closed, failed or
// the deadline passed.
long ReceiveSome(Socket s, void* data, size_t size, Deadline deadline);
uint32_t CurrentThreadId();
// What a client on TCP reports of itself, where no peer credentials exist.
uint32_t CurrentProcessId();
std::string OwnProgramFile();

// Opens PATH to read and write, made with MODE when missing; never through a symbolic link, and
// only a regular file of this user. -1 with *why (the reason alone) otherwise.
int OpenOwnFile(const std::string& path, unsigned mode, std::string* why);

// Makes a file of this user at PATH by TAKE (which fails with EEXIST when the name is taken): a
// file of this user already there is removed first; another user's file or a symbolic link,
// which a folder shared with others may hold and which may be neither removed nor written
// through, is left alone and said so on standard error, and a name of this user's own beside it
// (PATH.PID.N) is taken instead, so that what another user left there never stops the caller.
// *TAKEN is the name made; false with *error.
bool TakeOwnName(const std::string& path, const std::function<bool(const std::string&)>& take,
                 std::string* taken, std::string* error);

// A group whose members may use the agent besides its own user (orvu-agentd --group).
struct GroupAccess {
  uint32_t groupId = 0;
  std::string groupName;
};
// False with *error set when no group has that name.
bool LookUpGroup(const std::string& name, uint32_t* groupId, std::string* error);
// Whether the peer's primary or supplementary groups hold GROUP_ID.
bool PeerInGroup(Socket s, uint32_t groupId);
// Reads at most LIMIT bytes of PATH into *text, only when it is this user's own: a regular file
// that is no symbolic link, owned by the user and closed to others, in a folder that no other
// user may write; it is opened without blocking, so that a FIFO there cannot hold the caller.
// Otherwise false with *why (the reason alone), and *missing set when there is no such file. On
// Windows the same holds of the file's owner and access list and of its folder's; there the
// system and the administrators may own them too.
bool ReadOwnFile(const std::string& path, size_t limit, std::string* text, std::string* why,
                 bool* missing);

// Agent side. Listen makes the folder of the default endpoint (owner only) when needed, holds
// PATH.lock for the rest of the process so that one agent at a time takes the path, refuses a
// path that another agent answers at, replaces a stale socket file, and leaves the socket 0600.
// With GROUP the folder is made 0750 for the group when missing (an existing one must already be
// so), and the socket is 0660 and the group's.
Socket Listen(const std::string& path, bool makeFolder, std::string* error,
              const GroupAccess* group = nullptr);
// True when ADDRESS is a dotted IPv4 address in 127.0.0.0/8; otherwise *error says so.
bool CheckLoopbackAddress(const std::string& address, std::string* error);
// A non-blocking listener on 127.0.0.1 (or another loopback address); *port is the one bound
// (a free one when 0 was asked for).
Socket ListenLoopback(const std::string& address, uint16_t* port, std::string* error);
// SIZE bytes from the system's random source.
bool RandomBytes(void* data, size_t size);
// Writes PATH owner-only (0600) and atomically: the whole text appears at once, or nothing.
bool WritePrivateFile(const std::string& path, const std::string& text, std::string* error);
// Non-blocking; NO_SOCKET when none is waiting, or (*outOfDescriptors set) when the process or
// the system has no descriptor left for it.
Socket Accept(Socket listener, bool* outOfDescriptors = nullptr);
bool PeerCredentials(Socket s, uint32_t* processId, uint32_t* userId);
uint32_t OwnUserId();
// Non-blocking; >0 bytes moved, 0 would block, -1 closed or failed.
long ReadSome(Socket s, void* data, size_t size);
long WriteSome(Socket s, const void* data, size_t size);
void Close(Socket s);
void RemoveEndpoint(const std::string& path);

}  // namespace orvu::transport
