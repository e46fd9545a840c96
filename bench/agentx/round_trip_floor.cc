// The least CPU that one request and answer over a Unix stream socket cost each of two processes
// that share one core: the floor under any subagent's CPU per varbind while the master asks for
// one varbind per round trip. Prints the answering side's user and system time per round trip.
//   round_trip_floor [ROUND_TRIPS]
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// About the size of an AgentX GetNext and of its answer.
constexpr size_t MESSAGE_BYTES = 64;

double Micros(const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; }

}  // namespace

int main(int argc, char** argv) {
  long rounds = argc > 1 ? std::atol(argv[1]) : 200000;
  if (rounds <= 0) return 2;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 1;
  char message[MESSAGE_BYTES] = {};
  pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    for (long i = 0; i < rounds; ++i) {
      if (recv(pair[1], message, sizeof message, MSG_WAITALL) != sizeof message) return 1;
      if (send(pair[1], message, sizeof message, 0) != sizeof message) return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.2f %.2f\n", Micros(usage.ru_utime) / rounds, Micros(usage.ru_stime) / rounds);
    return 0;
  }
  for (long i = 0; i < rounds; ++i) {
    if (send(pair[0], message, sizeof message, 0) != sizeof message) return 1;
    if (recv(pair[0], message, sizeof message, MSG_WAITALL) != sizeof message) return 1;
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
