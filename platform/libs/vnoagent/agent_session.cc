#include "libs/vnoagent/agent_session.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "libs/vnoagent/last_error.h"
#include "libs/vnoagent/start_advice.h"
#include "protocol/agent_errors.h"
#include "protocol/endpoint_file.h"
#include "protocol/proof.h"
#include "protocol/wire_codec.h"

namespace orvu::client {

namespace {

// Why nobody answered at ENDPOINT, and what to do next: a socket that is not there at all reads
// differently from one that is left behind by an agent that stopped or was killed.
std::string NoAgentText(const std::string& endpoint, const std::string& connectError) {
  // Something is there, and it is not ours to open: that is no absent agent.
  if (connectError == std::strerror(EACCES)) return ForbiddenSocketText(endpoint);
  // A folder closed to this user hides the socket: that is no missing socket either, and the
  // connection's own error says whose agent it is.
  std::error_code unreadable;
  std::string text = "no agent answers at " + endpoint;
  if (!std::filesystem::exists(endpoint, unreadable) && !unreadable)
    return text + ": no such socket" + StartAdvice();
  if (connectError == std::strerror(ECONNREFUSED))
    return text + ": the socket is there, but no agent listens at it (it stopped or was killed)" +
           StartAdvice();
  return text + ": " + connectError;
}

}  // namespace

AgentSession::~AgentSession() { transport::Close(socket_); }

bool AgentSession::Open(const std::string& endpoint, const std::string& name, uint32_t flags) {
  std::string error;
  proto::Request request;
  // An endpoint file (ORVU_AGENT_ENDPOINT, and always on Windows) means TCP loopback: there the
  // client and the agent prove to each other that they know its secret, and the client reports
  // its own ids.
  std::string endpointFile = transport::ClientEndpointFile();
  if (!endpointFile.empty()) {
    if (!OpenLoopback(endpointFile, &request.proof)) return false;
    request.processId = transport::CurrentProcessId();
    request.fileName = transport::OwnProgramFile().substr(0, proto::PROTO_MAX_NAME);
  } else {
    bool untrusted = false;
    socket_ = transport::Connect(endpoint, &error, &untrusted);
    if (socket_ == transport::NO_SOCKET) {
      // An impostor is no agent either, but the user must learn why it was not trusted.
      SetLastError(AGENT_ERR_NO_AGENT, untrusted ? "no trusted agent at " + endpoint + ": " + error
                                                 : NoAgentText(endpoint, error));
      return false;
    }
  }
  request.op = proto::Op::Register;
  request.clientName = name.substr(0, proto::PROTO_MAX_NAME);
  request.threadId = transport::CurrentThreadId();
  request.flags = flags;
  proto::Reply reply;
  return Call(request, &reply);
}

bool AgentSession::OpenLoopback(const std::string& file, std::string* clientProof) {
  std::string error;
  endpoint::Endpoint where;
  bool untrusted = false;
  std::string text = "no agent answers at " + file;
  if (!endpoint::ReadEndpointFile(file, &where, &error, &untrusted)) {
    bool missing = error == endpoint::ENDPOINT_MISSING;
    SetLastError(AGENT_ERR_NO_AGENT, untrusted
                                         ? "no trusted agent at " + file + ": " + error
                                         : text + ": " + error + (missing ? StartAdvice() : ""));
    return false;
  }
  bool refused = false;
  socket_ = transport::ConnectLoopback(where.address, where.port, &error, &refused);
  std::string port = std::to_string(where.port);
  if (socket_ == transport::NO_SOCKET) {
    SetLastError(AGENT_ERR_NO_AGENT,
                 refused
                     ? text + ": the endpoint file is there, but no agent listens at its port " +
                           port + " (it stopped or was killed)" + StartAdvice()
                     : text + " (port " + port + "): " + error);
    return false;
  }
  // The agent proves itself first: a listener that cannot gets nothing but a fresh nonce.
  proto::Request challenge;
  challenge.op = proto::Op::Challenge;
  challenge.nonce = proof::FreshNonce();
  proto::Reply reply;
  if (challenge.nonce.empty()) {
    SetLastError(AGENT_ERR_NO_AGENT, text + ": no random bytes for the challenge");
    return false;
  }
  unprovenPeer_ = "no trusted agent at " + file + ": the listener at " + where.address + ":" + port;
  bool answered = Call(challenge, &reply);
  unprovenPeer_.clear();
  if (!answered) return false;
  std::string expected;
  if (reply.nonce.size() != proof::PROOF_NONCE_BYTES ||
      !proof::AgentProof(where.secret, challenge.nonce, reply.nonce, &expected) ||
      !endpoint::SameSecret(reply.proof, expected) ||
      !proof::ClientProof(where.secret, challenge.nonce, reply.nonce, clientProof)) {
    transport::Close(socket_);
    socket_ = transport::NO_SOCKET;
    SetLastError(AGENT_ERR_NO_AGENT, "no trusted agent at " + file + ": the listener at " +
                                         where.address + ":" + port +
                                         " did not prove that it knows the endpoint file's secret");
    return false;
  }
  return true;
}

namespace {

// Changes drop the rows held, so that a client reads back what it wrote.
bool DropsRow(proto::Op op) {
  switch (op) {
    case proto::Op::CreateInstance:
    case proto::Op::EnableInstance:
    case proto::Op::RemoveInstance:
    case proto::Op::SetData:
    case proto::Op::ApplyChanges: return true;
    default: return false;
  }
}

constexpr size_t SESSION_RECEIVE_CHUNK = 64 * 1024;
// What a listener that has yet to prove itself may send: an answer to the challenge, or the
// agent's reason to turn the client away. Nothing larger is taken in before the proof.
constexpr uint32_t SESSION_MAX_UNPROVEN_REPLY = 16 * 1024;

// TEXT as it may be quoted: printable ASCII only (others become '?'), at most LIMIT characters.
std::string PlainText(const std::string& text, size_t limit) {
  std::string plain = text.substr(0, limit);
  for (char& c : plain)
    if (c < 0x20 || c > 0x7e) c = '?';
  return plain + (text.size() > limit ? "..." : "");
}

}  // namespace

bool AgentSession::Call(const proto::Request& request, proto::Reply* reply) {
  if (DropsRow(request.op)) {
    row_.clear();
    rowUsed_.clear();
    listed_ = 0;
    page_.rowsUntil = page_.current == SIZE_MAX ? 0 : page_.current + 1;
  }
  if (request.op != proto::Op::GetDataHandle && request.op != proto::Op::SetData)
    ahead_.valid = false;
  if (socket_ == transport::NO_SOCKET) {
    ahead_.valid = false;
    SetLastError(AGENT_ERR_CONNECTION_LOST);
    return false;
  }
  std::string frame = proto::Frame(proto::EncodeRequest(request));
  if (frame.size() - 4 > proto::RequestLimit(static_cast<uint32_t>(request.op))) {
    SetLastError(AGENT_ERR_VALUE_TOO_LARGE, "request too large for the agent");
    return false;
  }
  transport::Deadline deadline = transport::CallDeadline();
  // A send that fails is not the end yet: an agent that refused us has left its reason to read.
  transport::SendAll(socket_, frame.data(), frame.size(), deadline);
  // The reply is read in as few receives as it arrives in, usually one.
  bool ok = true;
  size_t size = 0;
  while (ok) {
    if (inboxSize_ >= 4) {
      size = wire::GetU32(reinterpret_cast<const uint8_t*>(inbox_.data()));
      if (size > (unprovenPeer_.empty() ? proto::PROTO_MAX_REPLY : SESSION_MAX_UNPROVEN_REPLY))
        ok = false;
      if (!ok || inboxSize_ >= 4 + size) break;
    }
    size_t want = std::max(SESSION_RECEIVE_CHUNK, inboxSize_ >= 4 ? 4 + size - inboxSize_ : 0);
    if (inbox_.size() < inboxSize_ + want) inbox_.resize(inboxSize_ + want);
    long n = transport::ReceiveSome(socket_, inbox_.data() + inboxSize_, want, deadline);
    if (n > 0) inboxSize_ += static_cast<size_t>(n);
    ok = n > 0;
  }
  ok = ok && proto::DecodeReply(request.op, reinterpret_cast<const uint8_t*>(inbox_.data()) + 4,
                                size, reply);
  if (ok) {
    // What came after this reply moves to the front.
    size_t rest = inboxSize_ - 4 - size;
    if (rest > 0) std::memmove(inbox_.data(), inbox_.data() + 4 + size, rest);
    inboxSize_ = rest;
  }
  if (!ok) {
    inbox_.clear();
    inboxSize_ = 0;
    ahead_.valid = false;
    transport::Close(socket_);
    socket_ = transport::NO_SOCKET;
    if (!unprovenPeer_.empty() && size > SESSION_MAX_UNPROVEN_REPLY) {
      SetLastError(AGENT_ERR_NO_AGENT, unprovenPeer_ + " announced a reply of " +
                                           std::to_string(size) + " bytes before it proved " +
                                           "that it knows the endpoint file's secret");
    } else {
      SetLastError(AGENT_ERR_CONNECTION_LOST);
    }
    return false;
  }
  if (reply->status != 0 || reply->generation != ahead_.generation) ahead_.valid = false;
  if (reply->status != 0 && !unprovenPeer_.empty()) {
    transport::Close(socket_);
    socket_ = transport::NO_SOCKET;
    SetLastError(AGENT_ERR_NO_AGENT, unprovenPeer_ +
                                         " turned the client away before it proved that it "
                                         "knows the endpoint file's secret; it said: \"" +
                                         PlainText(reply->text, 200) + "\"");
    return false;
  }
  if (reply->status != 0) {
    SetLastError(reply->status, reply->text);
    return false;
  }
  if (request.op == proto::Op::ReadRows) {
    // Swapped: the reply keeps the old rows' room for the next read.
    std::swap(row_, reply->items);
    proto::TrimKeptItems(&reply->items);
    rowUsed_.assign(row_.size(), 0);
    rowCursor_ = 0;
    listed_ = row_.size();
  } else if (request.op == proto::Op::GetData && reply->items.size() > 1) {
    // GetData's first item goes to the caller; the rest of its row is held in place of the row
    // the GetData before it brought, next to the rows read ahead for a listing (which it
    // replaces where they hold the same leaves). Only one such row is held: reads outside a
    // listing, however many, search no more than a listing's rows and one row.
    auto fresh = reply->items.begin() + 1;
    size_t kept = 0;
    for (size_t n = 0; n < listed_; ++n) {
      const std::vector<uint32_t>& oid = row_[n].oid;
      if (rowUsed_[n] || std::any_of(fresh, reply->items.end(), [&](const proto::DataItem& item) {
            return item.oid == oid;
          })) {
        continue;
      }
      if (kept != n) row_[kept] = std::move(row_[n]);
      ++kept;
    }
    row_.resize(kept);
    rowCursor_ = kept;
    listed_ = kept;
    row_.insert(row_.end(), fresh, reply->items.end());
    rowUsed_.assign(row_.size(), 0);
  }
  return true;
}

const proto::Reply* AgentSession::Listing(proto::Op op, bool fresh) {
  Taken& taken = op == proto::Op::EnumModules ? modules_ : clients_;
  if (!fresh && taken.valid) return &taken.reply;
  taken = Taken{};
  proto::Request request;
  request.op = op;
  if (!Call(request, &taken.reply)) {
    taken = Taken{};
    return nullptr;
  }
  taken.valid = true;
  return &taken.reply;
}

bool AgentSession::FetchPage(uint32_t entryHandle, uint32_t position, bool fresh) {
  proto::Request request;
  request.op = proto::Op::EnumInstances;
  request.entryHandle = entryHandle;
  request.flags = fresh ? proto::PROTO_ENUM_FRESH : 0;
  request.position = position;
  request.count = proto::PROTO_PAGE_RECORDS;
  proto::Reply reply;
  page_ = Page{};
  if (!Call(request, &reply)) return false;
  page_.valid = true;
  page_.entryHandle = entryHandle;
  page_.total = reply.handle;
  page_.first = position;
  page_.records = std::move(reply.instances);
  return true;
}

bool AgentSession::TakeSnapshot(uint32_t entryHandle) { return FetchPage(entryHandle, 0, true); }

const proto::InstanceRecord* AgentSession::Instance(uint32_t entryHandle, uint32_t position) {
  if (!page_.valid || page_.entryHandle != entryHandle) {
    if (!FetchPage(entryHandle, position, true)) return nullptr;
  } else if (position < page_.total &&
             (position < page_.first || position - page_.first >= page_.records.size())) {
    uint32_t total = page_.total;
    if (!FetchPage(entryHandle, position, false)) return nullptr;
    // The agent keeps one snapshot per client; a page of another one would not fit this listing.
    if (page_.total != total) {
      page_ = Page{};
      SetLastError(AGENT_ERR_CONNECTION_LOST, "the agent lost the instance snapshot");
      return nullptr;
    }
  }
  if (position >= page_.total || position < page_.first ||
      position - page_.first >= page_.records.size()) {
    SetLastError(AGENT_ERR_NO_MORE_ENTRIES);
    return nullptr;
  }
  page_.current = position - page_.first;
  return &page_.records[page_.current];
}

bool AgentSession::IsLeafOfCurrent(const uint32_t* ids, size_t count) const {
  if (!page_.valid || page_.current >= page_.records.size()) return false;
  const proto::InstanceRecord& record = page_.records[page_.current];
  size_t entry = record.entryOid.size();
  return count == entry + 1 + record.indexOid.size() &&
         std::equal(record.entryOid.begin(), record.entryOid.end(), ids) &&
         std::equal(record.indexOid.begin(), record.indexOid.end(), ids + entry + 1);
}

size_t AgentSession::FindInRow(const uint32_t* ids, size_t count, uint32_t dataHandle) const {
  size_t held = row_.size();
  for (size_t step = 0; step < held; ++step) {
    size_t n = rowCursor_ + step;
    if (n >= held) n -= held;
    const proto::DataItem& item = row_[n];
    if (rowUsed_[n]) continue;
    if (ids ? std::equal(ids, ids + count, item.oid.begin(), item.oid.end())
            : item.dataHandle == dataHandle) {
      return n;
    }
  }
  return SIZE_MAX;
}

uint32_t AgentSession::RowHandleFor(const uint32_t* ids, size_t count) {
  size_t found = FindInRow(ids, count, 0);
  if (found == SIZE_MAX && page_.current >= page_.rowsUntil && IsLeafOfCurrent(ids, count)) {
    proto::Request request;
    request.op = proto::Op::ReadRows;
    size_t last = std::min(page_.records.size(), page_.current + proto::PROTO_ROWS_PER_READ);
    for (size_t n = page_.current; n < last; ++n) {
      request.handles.push_back(page_.records[n].instanceHandle);
    }
    page_.rowsUntil = last;
    // A failed read-ahead costs nothing more: the leaf is then asked for on its own.
    if (!Call(request, &rowsReply_)) return 0;
    found = FindInRow(ids, count, 0);
  }
  return found == SIZE_MAX ? 0 : row_[found].dataHandle;
}

const proto::DataItem* AgentSession::TakeFromRow(uint32_t dataHandle) {
  size_t found = FindInRow(nullptr, 0, dataHandle);
  if (found == SIZE_MAX) return nullptr;
  rowUsed_[found] = 1;
  rowCursor_ = found + 1;
  return &row_[found];
}

uint32_t AgentSession::AheadHandleFor(const uint32_t* ids, size_t count) const {
  const Ahead& a = ahead_;
  size_t length = a.entry.size();
  if (!a.valid || count < length + 2 || !std::equal(a.entry.begin(), a.entry.end(), ids)) return 0;
  uint32_t column = ids[length];
  if (column >= a.columns.size() || !a.columns[column]) return 0;
  const uint32_t* index = ids + length + 1;
  size_t indexCount = count - length - 1;
  auto less = [&](const Ahead::Row& row, int) {
    return std::lexicographical_compare(a.ids.begin() + static_cast<long>(row.start),
                                        a.ids.begin() + static_cast<long>(row.start + row.count),
                                        index, index + indexCount);
  };
  auto row = std::lower_bound(a.rows.begin(), a.rows.end(), 0, less);
  if (row == a.rows.end() || row->count != indexCount ||
      !std::equal(index, index + indexCount, a.ids.begin() + static_cast<long>(row->start)))
    return 0;
  return proto::PackedColumnHandle(row->instance, column);
}

void AgentSession::KeepAhead(const std::vector<uint32_t>& oid, const proto::Reply& reply) {
  ahead_.valid = false;
  if (reply.entryLength == 0 || reply.entryLength > oid.size()) return;
  Ahead& a = ahead_;
  a.generation = reply.generation;
  a.entry.assign(oid.begin(), oid.begin() + reply.entryLength);
  a.columns.assign(proto::PROTO_PACKED_COLUMN_MASK + 1, false);
  for (uint32_t column : reply.columns) {
    if (column < a.columns.size()) a.columns[column] = true;
  }
  a.rows.clear();
  a.ids.clear();
  for (size_t at = 0; at + 2 <= reply.ahead.size();) {
    Ahead::Row row;
    row.instance = reply.ahead[at];
    row.count = reply.ahead[at + 1];
    row.start = a.ids.size();
    at += 2;
    if (row.count > reply.ahead.size() - at) return;
    a.ids.insert(a.ids.end(), reply.ahead.begin() + static_cast<long>(at),
                 reply.ahead.begin() + static_cast<long>(at + row.count));
    at += row.count;
    a.rows.push_back(row);
  }
  a.valid = true;
}

}  // namespace orvu::client
