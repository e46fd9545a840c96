// A hostile AgentX master, started by the end-to-end tests: what another local user, or a master
// gone bad, does to orvu-agentd --agentx. It listens at ADDRESS (a Unix socket path, or tcp:PORT on
// 127.0.0.1) until SIGTERM, then writes what it saw to REPORT as "NAME VALUE" lines:
// connections, bytes (received from agents), answers (whole answers checked), wrong (answers
// that were not what the agent holds).
//
//   hostile_master impostor ADDRESS REPORT [UID]  takes connections (listening as UID, once bound)
//       and, before any word from the agent, asks for the agent's objects and sets one
//   hostile_master stall ADDRESS REPORT ROWS  joins every agent, then asks, again and again,
//       GetNext with 128 varbinds in the NULL column of speakerFreqTable (ROWS rows), then one of
//       524,287 ranges
//   hostile_master mute ADDRESS REPORT  joins every agent, then sends GetBulk after GetBulk and
//       reads nothing
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "agent/snmp/agentx_pdu.h"

namespace {

using namespace orvu::agent::agentx;

const Oid FREQ_ENTRY = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 9, 1};
constexpr uint32_t NULL_COLUMN = 13;  // speakerFreqMarker, NULL in every row
constexpr uint32_t SESSION = 42;
constexpr size_t STALL_VARBINDS = 128;
constexpr uint16_t SNMP_TOO_BIG = 1;  // the error of an answer no datagram carries
// The most ranges of two empty OIDs (8 bytes) that one packet of at most 4 MiB holds.
constexpr size_t WIDE_RANGES = AGENTX_MAX_PAYLOAD / 8 - 1;

volatile std::sig_atomic_t gStop = 0;

struct Tally {
  long connections = 0;
  long bytes = 0;
  long answers = 0;
  long wrong = 0;
};
Tally gTally;

void OnStop(int) { gStop = 1; }

int Listen(const std::string& address, uid_t uid, bool dropTo) {
  int fd = -1;
  if (address.rfind("tcp:", 0) == 0) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    where.sin_port = htons(static_cast<uint16_t>(std::atoi(address.c_str() + 4)));
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) return -1;
  } else {
    fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    std::snprintf(where.sun_path, sizeof where.sun_path, "%s", address.c_str());
    unlink(address.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) return -1;
  }
  // The peer's credentials are those of whoever listens, not of whoever made the file.
  if (dropTo && (setgid(uid) != 0 || setuid(uid) != 0)) return -1;
  if (listen(fd, 8) != 0) return -1;
  return fd;
}

// Waits up to MS for FD to be readable; false on a stop or a timeout.
bool Readable(int fd, int ms) {
  pollfd wait{fd, POLLIN, 0};
  return !gStop && poll(&wait, 1, ms) > 0;
}

// The header at DATA. An answer to a request of 524,287 ranges is longer than any request may
// be, so the length is taken as it stands.
void TakeHeader(const std::string& data, Header* header) {
  auto byte = [&](size_t at) { return static_cast<uint8_t>(data[at]); };
  header->version = byte(0);
  header->type = byte(1);
  header->flags = byte(2);
  bool network = header->flags & AGENTX_NETWORK_BYTE_ORDER;
  auto word = [&](size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i) v |= uint32_t{byte(at + (network ? 3 - i : i))} << (8 * i);
    return v;
  };
  header->sessionId = word(4);
  header->transactionId = word(8);
  header->packetId = word(12);
  header->payloadLength = word(16);
}

// The next whole packet from FD into HEADER and PAYLOAD; false when none comes within MS.
bool ReadPacket(int fd, std::string* buffer, int ms, Header* header, std::string* payload) {
  while (true) {
    if (buffer->size() >= AGENTX_HEADER_SIZE) {
      TakeHeader(*buffer, header);
      size_t whole = AGENTX_HEADER_SIZE + header->payloadLength;
      if (buffer->size() >= whole) {
        payload->assign(*buffer, AGENTX_HEADER_SIZE, header->payloadLength);
        buffer->erase(0, whole);
        return true;
      }
    }
    if (!Readable(fd, ms)) return false;
    char chunk[65536];
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    gTally.bytes += n;
    buffer->append(chunk, static_cast<size_t>(n));
  }
}

bool SendAll(int fd, const std::string& data) {
  size_t at = 0;
  while (at < data.size() && !gStop) {
    ssize_t n = send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return at == data.size();
}

void PutResponse(std::string* out, const Header& to) {
  size_t start = BeginPacket(out, AGENTX_RESPONSE, SESSION, to.transactionId, to.packetId);
  PutU32(out, 0);
  PutU16(out, 0);
  PutU16(out, 0);
  EndPacket(out, start);
}

// Takes the agent's Open and its Registers, as a master does.
bool Join(int fd, std::string* buffer) {
  Header header;
  std::string payload;
  if (!ReadPacket(fd, buffer, 2000, &header, &payload) || header.type != AGENTX_OPEN) return false;
  do {
    std::string out;
    PutResponse(&out, header);
    if (!SendAll(fd, out)) return false;
  } while (ReadPacket(fd, buffer, 300, &header, &payload) && header.type == AGENTX_REGISTER);
  return true;
}

std::string GetNext(uint32_t packet, const std::vector<Oid>& starts) {
  std::string out;
  size_t start = BeginPacket(&out, AGENTX_GETNEXT, SESSION, packet, packet);
  for (const Oid& from : starts) {
    PutOid(&out, from);
    PutOid(&out, {});
  }
  EndPacket(&out, start);
  return out;
}

// Before the agent says a word: a read of everything and a set, as a master would send them.
void Impose(int fd) {
  std::string out = GetNext(1, {Oid()});
  size_t start = BeginPacket(&out, AGENTX_TESTSET, SESSION, 2, 2);
  orvu::proto::Value value;
  value.syntax = 2;
  value.kind = orvu::proto::ValueKind::Number;
  value.number = 666;
  Oid scalar = {1, 3, 6, 1, 4, 1, 32473, 99, 1, 2, 0};
  PutVarBind(&out, 2, scalar, value);
  EndPacket(&out, start);
  start = BeginPacket(&out, AGENTX_COMMITSET, SESSION, 2, 3);
  EndPacket(&out, start);
  SendAll(fd, out);
  std::string buffer;
  Header header;
  std::string payload;
  while (ReadPacket(fd, &buffer, 500, &header, &payload)) {
  }
}

// Answers of the stall: every varbind lands past the NULL column, in the column after it.
void Stall(int fd, std::string* buffer, uint32_t rows) {
  std::vector<Oid> narrow;
  for (size_t k = 0; k < STALL_VARBINDS; ++k) {
    Oid from = FREQ_ENTRY;
    from.push_back(NULL_COLUMN);
    from.push_back(static_cast<uint32_t>(1 + k * rows / STALL_VARBINDS));
    narrow.push_back(from);
  }
  const std::string narrowPacket = GetNext(7, narrow);
  const std::string widePacket = GetNext(8, std::vector<Oid>(WIDE_RANGES));
  Header header;
  std::string payload;
  for (uint32_t round = 0; !gStop; ++round) {
    bool wide = round % 4 == 3;
    if (!SendAll(fd, wide ? widePacket : narrowPacket)) return;
    if (!ReadPacket(fd, buffer, 60000, &header, &payload) || header.type == AGENTX_CLOSE) return;
    ++gTally.answers;
    Pdu pdu;
    pdu.header = header;
    std::string why;
    if (header.type != AGENTX_RESPONSE || header.packetId != (wide ? 8u : 7u)) {
      ++gTally.wrong;
    } else if (wide) {
      // 524,287 varbinds of the agent's first object would pass what one datagram carries: the
      // answer is tooBig with no varbinds (RFC 3416 4.2.1).
      if (!ReadPayload(reinterpret_cast<const uint8_t*>(payload.data()), &pdu, &why) ||
          pdu.error != SNMP_TOO_BIG || !pdu.varbinds.empty())
        ++gTally.wrong;
    } else if (!ReadPayload(reinterpret_cast<const uint8_t*>(payload.data()), &pdu, &why) ||
               pdu.error != 0 || pdu.varbinds.size() != STALL_VARBINDS) {
      ++gTally.wrong;
    } else {
      Oid next = FREQ_ENTRY;
      next.push_back(NULL_COLUMN + 1);
      next.push_back(1);
      for (const VarBind& vb : pdu.varbinds) {
        if (vb.name != next) ++gTally.wrong;
      }
    }
  }
}

// GetBulks of the whole table, back to back, none of the answers read.
void Mute(int fd) {
  std::string out;
  size_t start = BeginPacket(&out, AGENTX_GETBULK, SESSION, 9, 9);
  PutU16(&out, 0);
  PutU16(&out, 65535);
  PutOid(&out, {});
  PutOid(&out, {});
  EndPacket(&out, start);
  while (!gStop) {
    ssize_t n = send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return;
    if (n >= 0 && static_cast<size_t>(n) != out.size()) return;  // a torn packet: start over
    if (n < 0) usleep(10000);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: hostile_master impostor|stall|mute ADDRESS REPORT [ARG]\n");
    return 2;
  }
  std::string mode = argv[1];
  std::string arg = argc > 4 ? argv[4] : "";
  std::signal(SIGTERM, OnStop);
  std::signal(SIGINT, OnStop);
  // Opened before listening, which may take another user's identity.
  std::ofstream report(argv[3]);
  int listener = Listen(argv[2], static_cast<uid_t>(std::atol(arg.c_str())),
                        mode == "impostor" && !arg.empty());
  if (listener < 0) {
    std::perror("hostile_master: cannot listen");
    return 1;
  }
  while (!gStop) {
    if (!Readable(listener, 100)) continue;
    int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    ++gTally.connections;
    std::string buffer;
    if (mode == "impostor") {
      Impose(fd);
    } else if (Join(fd, &buffer)) {
      if (mode == "stall") Stall(fd, &buffer, static_cast<uint32_t>(std::atol(arg.c_str())));
      if (mode == "mute") Mute(fd);
    }
    close(fd);
  }
  if (std::string(argv[2]).rfind("tcp:", 0) != 0) unlink(argv[2]);
  report << "connections " << gTally.connections << "\nbytes " << gTally.bytes << "\nanswers "
         << gTally.answers << "\nwrong " << gTally.wrong << "\n";
  return 0;
}
