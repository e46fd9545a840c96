#include "agent/daemon/loopback_peer.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvu::agent {

bool LoopbackPeerUser(transport::Socket s, uint32_t* userId) {
  sockaddr_in own{}, peer{};
  socklen_t ownSize = sizeof own, peerSize = sizeof peer;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&own), &ownSize) != 0 ||
      getpeername(s, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0 ||
      own.sin_family != AF_INET || peer.sin_family != AF_INET)
    return false;
  // The peer's socket is the one whose local end is our remote end: one exact lookup, no dump of
  // every socket of the machine (which a stranger could make long).
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST;
  ask.request.sdiag_family = AF_INET;
  ask.request.sdiag_protocol = IPPROTO_TCP;
  ask.request.idiag_states = ~0u;
  ask.request.id.idiag_sport = peer.sin_port;
  ask.request.id.idiag_dport = own.sin_port;
  ask.request.id.idiag_src[0] = peer.sin_addr.s_addr;
  ask.request.id.idiag_dst[0] = own.sin_addr.s_addr;
  ask.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  ask.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  int diag = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (diag < 0) return false;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  bool found = false;
  if (sendto(diag, &ask, sizeof ask, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
      static_cast<ssize_t>(sizeof ask)) {
    alignas(nlmsghdr) char buffer[8192];
    ssize_t n;
    do {
      n = recv(diag, buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    auto* reply = reinterpret_cast<nlmsghdr*>(buffer);
    if (n > 0 && NLMSG_OK(reply, static_cast<size_t>(n)) &&
        reply->nlmsg_type == SOCK_DIAG_BY_FAMILY &&
        reply->nlmsg_len >= NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      const auto* message = static_cast<const inet_diag_msg*>(NLMSG_DATA(reply));
      // Only a live socket that a process still holds says whose it is: one closed already (in
      // TIME_WAIT, or orphaned) shows as root's.
      if (message->id.idiag_sport == peer.sin_port && message->id.idiag_dport == own.sin_port &&
          message->idiag_state == TCP_ESTABLISHED && message->idiag_inode != 0) {
        *userId = message->idiag_uid;
        found = true;
      }
    }
  }
  close(diag);
  return found;
}

}  // namespace orvu::agent
