#include "agent/snmp/agentx_subagent.h"

// net-snmp's headers must come in this order.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/library/large_fd_set.h>
// clang-format on

// The library's subagent session and its opening, which its headers do not declare.
extern "C" {
extern netsnmp_session* main_session;
int subagent_open_master_session(void);
}

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace orvu::agent {
namespace {

using proto::Value;
using proto::ValueKind;

constexpr char SUBAGENT_NAME[] = "orvu-agentd";
constexpr char UNDO_DATA[] = "orvu-undo";
// Descriptors are numbered far higher than FD_SETSIZE once a thousand clients are connected.
constexpr int SUBAGENT_FD_SET_SIZE = 65536;

// How soon the subagent tries again to open a session while there is none, and how long it waits
// for a master's answer to its goodbye.
constexpr int AGENTX_RETRY_MS = 20;
constexpr int AGENTX_CLOSE_WAIT_MS = 200;

AgentCore* gCore = nullptr;
bool gStarted = false;
// The core belongs to whoever holds gCoreLock: the main loop, but for its waits, and the
// subagent's thread while it answers a request.
std::mutex gCoreLock;
std::unique_lock<std::mutex> gMainHold;
std::thread gThread;
std::atomic<bool> gStop{false};
int gWake[2] = {-1, -1};
std::chrono::steady_clock::time_point gNextAttempt;
SubagentCounters gCounters;
netsnmp_large_fd_set gReadSet;
netsnmp_large_fd_set gWriteSet;
netsnmp_large_fd_set gExceptSet;

Oid OidOf(const oid* ids, size_t count) { return Oid(ids, ids + count); }

std::vector<oid> NetOid(const Oid& ids) { return std::vector<oid>(ids.begin(), ids.end()); }

// The value a varbind carries, in the agent's own form; false for types the agent never holds.
bool ValueOfVarBind(const netsnmp_variable_list* vb, Value* v) {
  *v = Value();
  v->syntax = vb->type;
  switch (vb->type) {
    case ASN_INTEGER:
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
      v->kind = ValueKind::Number;
      v->number = static_cast<uint32_t>(*vb->val.integer);
      return true;
    case ASN_NULL: return true;
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
      v->kind = ValueKind::Bytes;
      v->bytes.assign(reinterpret_cast<const char*>(vb->val.string), vb->val_len);
      return true;
    case ASN_OBJECT_ID:
      v->kind = ValueKind::Oid;
      v->ids = OidOf(vb->val.objid, vb->val_len / sizeof(oid));
      return true;
    case ASN_OPAQUE_FLOAT:
    case ASN_OPAQUE_DOUBLE: {
      // The library unwraps a float or double from its Opaque; it goes back into one as the
      // BER that net-snmp's managers read: tag 9f 78 or 9f 79, length, value in network order.
      v->syntax = ASN_OPAQUE;
      v->kind = ValueKind::Bytes;
      uint64_t bits = 0;
      size_t size = 0;
      if (vb->type == ASN_OPAQUE_FLOAT) {
        uint32_t b = 0;
        std::memcpy(&b, vb->val.floatVal, sizeof b);
        bits = b;
        size = 4;
      } else {
        std::memcpy(&bits, vb->val.doubleVal, sizeof bits);
        size = 8;
      }
      v->bytes = {static_cast<char>(ASN_OPAQUE_TAG1), static_cast<char>(vb->type),
                  static_cast<char>(size)};
      for (size_t i = size; i-- > 0;) v->bytes.push_back(static_cast<char>(bits >> (8 * i)));
      return true;
    }
    case ASN_COUNTER64:
      v->kind = ValueKind::Pair;
      v->number = static_cast<uint32_t>(vb->val.counter64->high);
      v->second = static_cast<uint32_t>(vb->val.counter64->low);
      return true;
    default: return false;
  }
}

// Puts V into VB under the SNMP type of its syntax. AgentX has no NsapAddress (net-snmp's master
// answers one with genError and drops the session), so it goes as an OCTET STRING; a syntax code
// that no MIB gives goes by the form the value has.
void SetVarBind(netsnmp_variable_list* vb, const Value& v) {
  bool known = false;
  ValueKind expected = proto::KindOfSyntax(v.syntax, &known);
  bool fits = known && expected == v.kind && v.syntax < 128;
  if (fits && v.syntax == ORVU_SYNTAX_IPADDR && v.bytes.size() != 4) fits = false;
  u_char type = 0;
  if (fits) {
    type = v.syntax == ORVU_SYNTAX_NSAPADDR ? ASN_OCTET_STR : static_cast<u_char>(v.syntax);
  } else {
    switch (v.kind) {
      case ValueKind::Number: type = ASN_GAUGE; break;
      case ValueKind::Pair: type = ASN_COUNTER64; break;
      case ValueKind::Bytes: type = ASN_OCTET_STR; break;
      case ValueKind::Oid: type = ASN_OBJECT_ID; break;
    }
  }
  switch (type) {
    case ASN_NULL: snmp_set_var_typed_value(vb, ASN_NULL, nullptr, 0); break;
    case ASN_INTEGER: {
      long number = static_cast<int32_t>(v.number);
      snmp_set_var_typed_value(vb, type, &number, sizeof number);
      break;
    }
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS: {
      u_long number = v.number;
      snmp_set_var_typed_value(vb, type, &number, sizeof number);
      break;
    }
    case ASN_COUNTER64: {
      counter64 number;
      number.high = v.number;
      number.low = v.second;
      snmp_set_var_typed_value(vb, type, &number, sizeof number);
      break;
    }
    case ASN_OBJECT_ID: {
      std::vector<oid> ids = NetOid(v.ids);
      snmp_set_var_typed_value(vb, type, ids.data(), ids.size() * sizeof(oid));
      break;
    }
    default: snmp_set_var_typed_value(vb, type, v.bytes.data(), v.bytes.size()); break;
  }
}

bool StartsWith(const Oid& name, const oid* root, size_t rootLength) {
  return name.size() >= rootLength && std::equal(root, root + rootLength, name.begin());
}

int ErrorOf(SnmpOutcome outcome) {
  switch (outcome) {
    case SnmpOutcome::Ok: return SNMP_ERR_NOERROR;
    case SnmpOutcome::NoSuchObject: return SNMP_NOSUCHOBJECT;
    case SnmpOutcome::NoSuchInstance: return SNMP_NOSUCHINSTANCE;
    case SnmpOutcome::NotWritable: return SNMP_ERR_NOTWRITABLE;
    case SnmpOutcome::WrongType: return SNMP_ERR_WRONGTYPE;
    case SnmpOutcome::WrongLength: return SNMP_ERR_WRONGLENGTH;
    case SnmpOutcome::WrongValue: return SNMP_ERR_WRONGVALUE;
    case SnmpOutcome::NoCreation: return SNMP_ERR_NOCREATION;
    case SnmpOutcome::CommitFailed: return SNMP_ERR_COMMITFAILED;
    case SnmpOutcome::InconsistentValue: return SNMP_ERR_INCONSISTENTVALUE;
  }
  return SNMP_ERR_GENERR;
}

void AnswerGet(netsnmp_agent_request_info* info, netsnmp_request_info* request) {
  netsnmp_variable_list* vb = request->requestvb;
  SnmpVarBind found;
  SnmpOutcome outcome = gCore->SnmpGet(OidOf(vb->name, vb->name_length), &found);
  if (outcome == SnmpOutcome::Ok) {
    SetVarBind(vb, found.value);
  } else {
    netsnmp_set_request_error(info, request, ErrorOf(outcome));
  }
}

// The next object within the registration. A NULL value is stepped over: net-snmp's master takes
// a NULL in a GetNext answer for no answer at all and would end the walk of the subtree there, so
// a walk goes on past a NULL column (a Get of the object still gives it).
void AnswerNext(netsnmp_handler_registration* registration, netsnmp_request_info* request) {
  netsnmp_variable_list* vb = request->requestvb;
  Oid from = OidOf(vb->name, vb->name_length);
  SnmpVarBind found;
  bool have = false;
  if (request->inclusive && gCore->SnmpGet(from, &found) == SnmpOutcome::Ok) have = true;
  while (!have || found.value.syntax == ASN_NULL) {
    if (have) from = found.oid;
    if (!gCore->SnmpNext(from, &found)) return;
    have = true;
  }
  if (!StartsWith(found.oid, registration->rootoid, registration->rootoid_len)) return;
  std::vector<oid> name = NetOid(found.oid);
  snmp_set_var_objid(vb, name.data(), name.size());
  SetVarBind(vb, found.value);
}

struct UndoRecord {
  SnmpSetTarget target;
  Oid oid;  // the varbind's name: a row this set created goes again by its RowStatus object
};

void FreeUndo(void* data) { delete static_cast<UndoRecord*>(data); }

// One set as the core checks it: its varbinds, the requests they came from, and their targets.
struct CheckedSet {
  std::vector<SnmpVarBind> varbinds;
  std::vector<netsnmp_request_info*> order;
  std::vector<SnmpSetTarget> targets;
  netsnmp_request_info* refused = nullptr;  // the first varbind the set cannot write
};

// Checks the varbinds of REQUESTS as one set; the outcome, with set->refused on a refusal.
SnmpOutcome CheckSet(netsnmp_request_info* requests, CheckedSet* set) {
  for (netsnmp_request_info* request = requests; request; request = request->next) {
    if (request->processed) continue;
    netsnmp_variable_list* vb = request->requestvb;
    SnmpVarBind& varbind = set->varbinds.emplace_back();
    varbind.oid = OidOf(vb->name, vb->name_length);
    set->order.push_back(request);
    if (!ValueOfVarBind(vb, &varbind.value)) {
      set->refused = request;
      return SnmpOutcome::WrongType;
    }
  }
  size_t failed = 0;
  std::string why;
  SnmpOutcome outcome = gCore->SnmpCheckSets(set->varbinds, &set->targets, &failed, &why);
  if (outcome != SnmpOutcome::Ok) set->refused = set->order[failed];
  return outcome;
}

// TestSet: every varbind is checked, as one set, before anything is written, so a set with one
// bad varbind changes nothing.
void TestSet(netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
  CheckedSet set;
  SnmpOutcome outcome = CheckSet(requests, &set);
  if (set.refused) {
    ++gCounters.setsRefused;
    netsnmp_set_request_error(info, set.refused, ErrorOf(outcome));
  }
}

// CommitSet: the set is checked again (a library client may have removed an instance since
// TestSet); the rows it creates come first, then all its values as one journal record, written
// before the master hears back. Rows it destroys go at the end (CleanupSet), when nothing can undo
// it.
void CommitSet(netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
  CheckedSet set;
  if (CheckSet(requests, &set) != SnmpOutcome::Ok) {
    netsnmp_set_request_error(info, set.refused, SNMP_ERR_COMMITFAILED);
    return;
  }
  std::vector<SnmpSetTarget>& targets = set.targets;
  const std::vector<SnmpVarBind>& varbinds = set.varbinds;
  const std::vector<netsnmp_request_info*>& order = set.order;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (targets[i].row != RowChange::Create) continue;
    uint32_t handle = gCore->SnmpCreateRow(targets[i]);
    if (handle == 0) {
      netsnmp_set_request_error(info, order[i], SNMP_ERR_COMMITFAILED);
      return;
    }
    netsnmp_request_add_list_data(
        order[i],
        netsnmp_create_data_list(UNDO_DATA, new UndoRecord{targets[i], varbinds[i].oid}, FreeUndo));
    for (SnmpSetTarget& t : targets) {
      if (t.instanceHandle == 0 && t.entryHandle == targets[i].entryHandle &&
          t.index == targets[i].index)
        t.instanceHandle = handle;
    }
  }
  // The values go in one journal append: a failed write leaves none of them, never a half set.
  std::vector<SnmpSetTarget> writes;
  for (const SnmpSetTarget& t : targets) {
    if (t.row != RowChange::Destroy) writes.push_back(t);
  }
  if (writes.empty()) return;
  if (!gCore->SnmpCommitSets(writes)) {
    for (size_t i = 0; i < targets.size(); ++i) {
      if (targets[i].row == RowChange::Destroy) continue;
      netsnmp_set_request_error(info, order[i], SNMP_ERR_COMMITFAILED);
      return;
    }
  }
  for (size_t i = 0; i < targets.size(); ++i) {
    const SnmpSetTarget& t = targets[i];
    if (t.row == RowChange::Destroy) continue;
    ++gCounters.setsCommitted;
    if (t.row == RowChange::None) {
      netsnmp_request_add_list_data(
          order[i],
          netsnmp_create_data_list(UNDO_DATA, new UndoRecord{t, varbinds[i].oid}, FreeUndo));
    }
  }
}

// CleanupSet after a set that succeeded: the rows it destroys go.
void FinishSet(netsnmp_request_info* requests) {
  for (netsnmp_request_info* request = requests; request; request = request->next) {
    netsnmp_variable_list* vb = request->requestvb;
    if (vb->type != ASN_INTEGER || *vb->val.integer != ROW_DESTROY) continue;
    gCore->SnmpDestroyRow(OidOf(vb->name, vb->name_length));
  }
}

// UndoSet: what CommitSet wrote goes back, journaled like any change; a row it created goes.
void UndoSet(netsnmp_request_info* request) {
  auto* undo = static_cast<UndoRecord*>(netsnmp_request_get_list_data(request, UNDO_DATA));
  if (!undo) return;
  bool undone = undo->target.row == RowChange::Create
                    ? gCore->SnmpDestroyRow(undo->oid)
                    : gCore->SnmpCommitSet(undo->target, undo->target.previous);
  if (undone) ++gCounters.setsUndone;
}

int Handle(netsnmp_mib_handler*, netsnmp_handler_registration* registration,
           netsnmp_agent_request_info* info, netsnmp_request_info* requests) {
  // The core is the main loop's too; it lets go of it only while it waits for its clients.
  std::lock_guard<std::mutex> lock(gCoreLock);
  switch (info->mode) {
    case MODE_SET_RESERVE1: TestSet(info, requests); return SNMP_ERR_NOERROR;
    case MODE_SET_ACTION: CommitSet(info, requests); return SNMP_ERR_NOERROR;
    case MODE_SET_COMMIT: FinishSet(requests); return SNMP_ERR_NOERROR;
    default: break;
  }
  for (netsnmp_request_info* request = requests; request; request = request->next) {
    if (request->processed) continue;
    switch (info->mode) {
      case MODE_GET:
        ++gCounters.requests;
        AnswerGet(info, request);
        break;
      case MODE_GETNEXT:
        ++gCounters.requests;
        AnswerNext(registration, request);
        break;
      case MODE_SET_UNDO: UndoSet(request); break;
      default: break;  // RESERVE2, FREE: nothing held between the phases
    }
  }
  return SNMP_ERR_NOERROR;
}

// The library's words, except its note that it gives up on a master that went away: this thread
// does not, it opens a new session as soon as one answers.
int LogLine(int, int, void* serverArgument, void*) {
  const auto* message = static_cast<const snmp_log_message*>(serverArgument);
  if (!message || !message->msg) return 0;
  if (std::strstr(message->msg, "not reconnecting")) {
    std::fputs("orvu-agentd: the AgentX master went away; joining it again once it answers\n",
               stderr);
  } else {
    std::fputs(message->msg, stderr);
  }
  return 0;
}

// A master that takes a connection and never answers holds the subagent's thread one second per
// attempt, and so the agent's exit no longer than that. init_snmp sets the library's defaults
// first, so this runs after it has.
int ShortWaits(int, int, void*, void*) {
  netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_TIMEOUT, 1);
  netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_RETRIES, 0);
  return 0;
}

// Opens a session when there is none and, once one is open, has the master serve the subtrees.
void JoinMaster() {
  if (main_session) return;
  auto now = std::chrono::steady_clock::now();
  if (now < gNextAttempt) return;
  gNextAttempt = now + std::chrono::milliseconds(AGENTX_RETRY_MS);
  if (subagent_open_master_session() == 0) register_mib_reattach();
}

void ClearSets(const pollfd* fds, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    NETSNMP_LARGE_FD_CLR(fds[i].fd, &gReadSet);
    NETSNMP_LARGE_FD_CLR(fds[i].fd, &gWriteSet);
    NETSNMP_LARGE_FD_CLR(fds[i].fd, &gExceptSet);
  }
}

// The library's descriptors and the wake pipe for one poll; its next timer lowers *timeoutMs.
void PollSet(std::vector<pollfd>* fds, int* timeoutMs) {
  int count = 0;
  int block = 1;
  timeval timeout{};
  snmp_select_info2(&count, &gReadSet, &timeout, &block);
  netsnmp_external_event_info2(&count, &gReadSet, &gWriteSet, &gExceptSet);
  for (int fd = 0; fd < count && fd < SUBAGENT_FD_SET_SIZE; ++fd) {
    short events = 0;
    if (NETSNMP_LARGE_FD_ISSET(fd, &gReadSet)) events |= POLLIN;
    if (NETSNMP_LARGE_FD_ISSET(fd, &gWriteSet)) events |= POLLOUT;
    if (NETSNMP_LARGE_FD_ISSET(fd, &gExceptSet)) events |= POLLPRI;
    if (events) fds->push_back({fd, events, 0});
  }
  // The sets go back to empty bit by bit: zeroing them whole costs 24 KiB of writes per wait.
  ClearSets(fds->data() + 1, fds->size() - 1);
  *timeoutMs = main_session ? -1 : AGENTX_RETRY_MS;
  if (!block) {
    long ms = timeout.tv_sec * 1000L + (timeout.tv_usec + 999) / 1000;
    if (*timeoutMs < 0 || ms < *timeoutMs) *timeoutMs = static_cast<int>(std::min(ms, 3600000L));
  }
}

// Lets the library read what POLLED has ready, and run its due timers and the requests it kept
// waiting.
void Dispatch(const pollfd* polled, size_t count) {
  int ready = 0;
  for (size_t i = 0; i < count; ++i) {
    const pollfd& p = polled[i];
    if (p.revents == 0) continue;
    ++ready;
    // A hang-up or an error reads as readable: the library's read then notices the loss.
    if (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      if (p.events & POLLIN) NETSNMP_LARGE_FD_SET(p.fd, &gReadSet);
    }
    if (p.revents & POLLOUT) NETSNMP_LARGE_FD_SET(p.fd, &gWriteSet);
    if (p.revents & POLLPRI) NETSNMP_LARGE_FD_SET(p.fd, &gExceptSet);
  }
  if (ready > 0) {
    netsnmp_dispatch_external_events2(&ready, &gReadSet, &gWriteSet, &gExceptSet);
    snmp_read2(&gReadSet);
  }
  ClearSets(polled, count);
  snmp_timeout();
  run_alarms();
  netsnmp_check_outstanding_agent_requests();
}

// The subagent's own thread: whatever the master does (stopped, slow, silent, gone), only this
// thread waits for it, and the agent's clients never do.
void Run() {
  init_snmp(SUBAGENT_NAME);
  if (main_session) register_mib_reattach();
  // The first failed attempt says so; the retries while no master answers do not.
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_NO_CONNECTION_WARNINGS, 1);
  gNextAttempt = std::chrono::steady_clock::now() + std::chrono::milliseconds(AGENTX_RETRY_MS);
  std::vector<pollfd> fds;
  while (!gStop.load()) {
    JoinMaster();
    fds.clear();
    fds.push_back({gWake[0], POLLIN, 0});
    int timeoutMs = -1;
    PollSet(&fds, &timeoutMs);
    if (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) break;
    Dispatch(fds.data() + 1, fds.size() - 1);
  }
  // Saying goodbye to a master that does not answer must not hold up the agent's exit.
  if (main_session) {
    main_session->timeout = AGENTX_CLOSE_WAIT_MS * 1000L;
    main_session->retries = 0;
  }
  snmp_shutdown(SUBAGENT_NAME);
  shutdown_agent();
}

}  // namespace

bool StartSubagent(AgentCore* core, const std::string& address, std::string* error) {
  if (address.empty()) {
    *error = "--agentx needs an address";
    return false;
  }
  gCore = core;
  // The agent reads no MIB through net-snmp: names are its own business, and net-snmp's default
  // list only warns about modules that the system lacks.
  setenv("MIBS", "", 1);
  snmp_disable_log();
  netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_DEBUG);
  snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, LogLine, nullptr);
  netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
  netsnmp_ds_set_string(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_X_SOCKET, address.c_str());
  // Timers run from the subagent's loop, never from SIGALRM; nothing is read from or written to
  // net-snmp's configuration and persistence folders.
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_ALARM_DONT_USE_SIG, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
  netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
  // Ahead of the library's own first attempt to reach the master.
  netsnmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_POST_READ_CONFIG, ShortWaits,
                            nullptr, NETSNMP_CALLBACK_HIGHEST_PRIORITY);
  if (init_agent(SUBAGENT_NAME) != 0) {
    *error = "net-snmp's agent library did not start";
    return false;
  }
  // No pings and no reconnect timer of the library's: its ping waits for the answer, and its
  // retry comes a whole second later. The subagent's loop opens a session whenever there is none.
  netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 0);
  for (const Oid& root : core->SnmpRoots()) {
    std::vector<oid> ids = NetOid(root);
    netsnmp_handler_registration* registration = netsnmp_create_handler_registration(
        SUBAGENT_NAME, Handle, ids.data(), ids.size(), HANDLER_CAN_RWRITE);
    if (!registration || netsnmp_register_handler(registration) != MIB_REGISTERED_OK) {
      *error = "cannot register the subtree " + OidText(root);
      return false;
    }
  }
  if (pipe2(gWake, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("cannot make the subagent's wake pipe: ") + std::strerror(errno);
    return false;
  }
  netsnmp_large_fd_set_init(&gReadSet, SUBAGENT_FD_SET_SIZE);
  netsnmp_large_fd_set_init(&gWriteSet, SUBAGENT_FD_SET_SIZE);
  netsnmp_large_fd_set_init(&gExceptSet, SUBAGENT_FD_SET_SIZE);
  NETSNMP_LARGE_FD_ZERO(&gReadSet);
  NETSNMP_LARGE_FD_ZERO(&gWriteSet);
  NETSNMP_LARGE_FD_ZERO(&gExceptSet);
  gMainHold = std::unique_lock<std::mutex>(gCoreLock);
  gStop.store(false);
  // Signals are the main loop's: the thread starts with all of them blocked.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  gThread = std::thread(Run);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  gStarted = true;
  return true;
}

void SubagentPollSet(std::vector<pollfd>*, int*) {
  if (gStarted && gMainHold.owns_lock()) gMainHold.unlock();
}

void SubagentDispatch(const pollfd*, size_t) {
  if (gStarted && !gMainHold.owns_lock()) gMainHold.lock();
}

void StopSubagent() {
  if (!gStarted) return;
  gStop.store(true);
  char wake = 1;
  if (write(gWake[1], &wake, 1) < 0) {
    // The pipe is empty but for earlier wakes, so a failed write means one is waiting already.
  }
  if (gMainHold.owns_lock()) gMainHold.unlock();
  gThread.join();
  close(gWake[0]);
  close(gWake[1]);
  netsnmp_large_fd_set_cleanup(&gReadSet);
  netsnmp_large_fd_set_cleanup(&gWriteSet);
  netsnmp_large_fd_set_cleanup(&gExceptSet);
  gStarted = false;
}

const SubagentCounters& SubagentStatistics() { return gCounters; }

}  // namespace orvu::agent
