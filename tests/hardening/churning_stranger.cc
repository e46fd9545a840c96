// A hostile local user's churn at the agent's TCP listener: without the endpoint file's secret it
// opens connection after connection as fast as the agent takes them, each one challenging the
// agent as a client would, and keeps every one until the agent lets it go, then comes back at
// once, so that the places of peers that have yet to prove themselves are always full of
// newcomers. It never holds more than a few dozen (it floods no backlog: that is another attack).
//
//   churning_stranger PORT [UID]   (as user UID when given; runs until killed)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/messages.h"
#include "protocol/proof.h"

namespace {

// As many as one churner keeps open at a time: more than the agent gives all strangers, so that
// a newcomer is always waiting to push out the oldest.
constexpr size_t CHURN_HELD = 64;

// Without waiting for the agent to take it: the challenge goes out once it has.
int Dial(uint16_t port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 &&
      errno != EINPROGRESS) {
    close(s);
    return -1;
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: churning_stranger PORT [UID]\n");
    return 2;
  }
  uint16_t port = static_cast<uint16_t>(std::atoi(argv[1]));
  if (argc > 2) {
    uid_t user = static_cast<uid_t>(std::atoi(argv[2]));
    if (setgid(user) != 0 || setuid(user) != 0) {
      std::perror("churning_stranger: setuid");
      return 1;
    }
  }
  orvu::proto::Request challenge;
  challenge.op = orvu::proto::Op::Challenge;
  challenge.nonce = orvu::proof::FreshNonce();
  std::string frame = orvu::proto::Frame(orvu::proto::EncodeRequest(challenge));
  struct Held {
    int fd;
    bool challenged;
  };
  std::vector<Held> held;
  std::vector<Held> looked;
  std::vector<pollfd> fds;
  char buffer[4096];
  for (;;) {
    while (held.size() < CHURN_HELD) {
      int s = Dial(port);
      if (s < 0) break;
      held.push_back({s, false});
    }
    // Challenged once the connection is there; let go once the agent closed or answered it.
    fds.clear();
    looked.assign(held.begin(), held.end());
    for (const Held& h : looked)
      fds.push_back({h.fd, static_cast<short>(h.challenged ? POLLIN : POLLIN | POLLOUT), 0});
    poll(fds.data(), fds.size(), 10);
    held.clear();
    for (size_t i = 0; i < fds.size(); ++i) {
      const pollfd& p = fds[i];
      bool gone = (p.revents & (POLLHUP | POLLERR)) != 0 ||
                  ((p.revents & POLLIN) && recv(p.fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0);
      if (gone) {
        close(p.fd);
        continue;
      }
      if (!looked[i].challenged && (p.revents & POLLOUT)) {
        send(p.fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        looked[i].challenged = true;
      }
      held.push_back(looked[i]);
    }
  }
}
