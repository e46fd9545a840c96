#include "agent/snmp/agentx_answers.h"

#include <algorithm>

namespace orvu::agent::agentx {
namespace {

// A GetBulk answer stops short of this many bytes, which the RFC allows (fewer repetitions than
// asked), so that the core is not held for long whatever repetition count the master chooses.
constexpr size_t AGENTX_BULK_BYTES = 1u << 20;

// The largest SNMP message a UDP datagram holds.
constexpr size_t SNMP_MAX_MESSAGE_BYTES = 65507;

// SNMP's error-status codes (RFC 3416), which a Response carries as they are.
constexpr uint16_t SNMP_NO_ERROR = 0;
constexpr uint16_t SNMP_TOO_BIG = 1;
constexpr uint16_t SNMP_COMMIT_FAILED = 14;
constexpr uint16_t SNMP_UNDO_FAILED = 15;

uint16_t ErrorOf(SnmpOutcome outcome) {
  switch (outcome) {
    case SnmpOutcome::Ok: return SNMP_NO_ERROR;
    case SnmpOutcome::NotWritable:
    case SnmpOutcome::NoSuchObject:
    case SnmpOutcome::NoSuchInstance: return 17;  // notWritable
    case SnmpOutcome::WrongType: return 7;        // wrongType
    case SnmpOutcome::WrongLength: return 8;      // wrongLength
    case SnmpOutcome::WrongValue: return 10;      // wrongValue
    case SnmpOutcome::NoCreation: return 11;      // noCreation
    case SnmpOutcome::CommitFailed: return SNMP_COMMIT_FAILED;
    case SnmpOutcome::InconsistentValue: return 12;  // inconsistentValue
    case SnmpOutcome::InconsistentName: return 18;   // inconsistentName
  }
  return 5;  // genErr
}

size_t BeginResponse(std::string* out, const Header& request, uint16_t error, uint16_t index) {
  size_t start =
      BeginPacket(out, AGENTX_RESPONSE, request.sessionId, request.transactionId, request.packetId);
  PutU32(out, 0);  // sysUpTime: a master ignores a subagent's
  PutU16(out, error);
  PutU16(out, index);
  return start;
}

bool Within(const Oid& name, const Oid& end) { return end.empty() || name < end; }

void PutFound(std::string* out, const SnmpVarBind& found) {
  PutVarBind(out, TypeOfValue(found.value), found.oid, found.value);
}

void PutEnd(std::string* out, const Oid& start) {
  PutVarBind(out, AGENTX_END_OF_MIB_VIEW, start, proto::Value());
}

// Between two steps of a read: a request of any size holds the core for one step at a time.
bool Breathe(const Answering& a) { return !a.breathe || a.breathe(); }

// The first object of RANGE, or false when it holds none. A NULL value is stepped over: net-snmp's
// master takes a NULL in a GetNext answer for no answer at all and would end the walk of the
// subtree there, so a walk goes on past a NULL column (a Get of the object still gives it).
bool NextIn(const Answering& a, const SearchRange& range, SnmpVarBind* found) {
  Oid from = range.start;
  bool have = range.include && a.core->SnmpGet(from, found) == SnmpOutcome::Ok;
  while (!have || found->value.syntax == AGENTX_NULL) {
    if (have) from = a.core->SnmpPastNullColumn(found->oid);
    if (!Breathe(a) || !a.core->SnmpNext(from, found)) return false;
    have = true;
  }
  return Within(found->oid, range.end);
}

// An answer to Get or GetNext that no SNMP message over UDP could carry is tooBig (RFC 3416
// 4.2.1), with no varbinds: the master relays that, where it would send nothing at all for the
// whole answer and the manager would wait in vain.
void EndAnswer(const Answering& a, const Pdu& pdu, size_t start) {
  EndPacket(a.out, start);
  if (a.out->size() - start <= AGENTX_HEADER_SIZE + SNMP_MAX_MESSAGE_BYTES) return;
  a.out->resize(start);
  Respond(a.out, pdu.header, SNMP_TOO_BIG, 0);
}

void AnswerGet(const Answering& a, const Pdu& pdu) {
  size_t start = BeginResponse(a.out, pdu.header, 0, 0);
  SnmpVarBind found;
  for (const SearchRange& range : pdu.ranges) {
    ++a.counters->requests;
    if (!Breathe(a)) break;
    SnmpOutcome outcome = a.core->SnmpGet(range.start, &found);
    if (outcome == SnmpOutcome::Ok) {
      PutFound(a.out, found);
    } else {
      uint16_t type =
          outcome == SnmpOutcome::NoSuchInstance ? AGENTX_NO_SUCH_INSTANCE : AGENTX_NO_SUCH_OBJECT;
      PutVarBind(a.out, type, range.start, proto::Value());
    }
  }
  EndAnswer(a, pdu, start);
}

void AnswerNext(const Answering& a, const Pdu& pdu) {
  size_t start = BeginResponse(a.out, pdu.header, 0, 0);
  SnmpVarBind found;
  for (const SearchRange& range : pdu.ranges) {
    ++a.counters->requests;
    if (NextIn(a, range, &found)) {
      PutFound(a.out, found);
    } else {
      PutEnd(a.out, range.start);
    }
  }
  EndAnswer(a, pdu, start);
}

// GetBulk as RFC 2741 7.2.3.2 has it: the first non-repeaters ranges once, then the others
// repeatedly, each from where it ended; it stops early once every repeater is at its end.
void AnswerBulk(const Answering& a, const Pdu& pdu) {
  size_t start = BeginResponse(a.out, pdu.header, 0, 0);
  size_t fixed = std::min<size_t>(pdu.nonRepeaters, pdu.ranges.size());
  SnmpVarBind found;
  for (size_t i = 0; i < fixed; ++i) {
    ++a.counters->requests;
    if (NextIn(a, pdu.ranges[i], &found)) {
      PutFound(a.out, found);
    } else {
      PutEnd(a.out, pdu.ranges[i].start);
    }
  }
  std::vector<SearchRange> repeaters(pdu.ranges.begin() + static_cast<ptrdiff_t>(fixed),
                                     pdu.ranges.end());
  std::vector<bool> ended(repeaters.size(), false);
  size_t open = repeaters.size();
  for (uint16_t round = 0;
       round < pdu.maxRepetitions && open > 0 && a.out->size() - start < AGENTX_BULK_BYTES;
       ++round) {
    for (size_t i = 0; i < repeaters.size(); ++i) {
      ++a.counters->requests;
      if (!ended[i] && NextIn(a, repeaters[i], &found)) {
        PutFound(a.out, found);
        repeaters[i].start = found.oid;
        repeaters[i].include = false;
      } else {
        if (!ended[i]) --open;
        ended[i] = true;
        PutEnd(a.out, repeaters[i].start);
      }
    }
  }
  EndPacket(a.out, start);
}

// The value a varbind carries, in the agent's form: the SMI's types as they came, and a refusal
// for the exceptions, which no set can write.
bool SettableValue(const VarBind& vb) {
  return vb.value.syntax != AGENTX_NO_SUCH_OBJECT && vb.value.syntax != AGENTX_NO_SUCH_INSTANCE &&
         vb.value.syntax != AGENTX_END_OF_MIB_VIEW;
}

// Checks the varbinds of a set as one; the outcome, and the position of the refused one.
SnmpOutcome CheckSet(const Answering& a, PendingSet* set, size_t* failed) {
  std::string why;
  set->targets.clear();
  return a.core->SnmpCheckSets(set->varbinds, &set->targets, failed, &why);
}

// TestSet: every varbind is checked, as one set, before anything is written, so a set with one
// bad varbind changes nothing.
void TestSet(const Answering& a, const Pdu& pdu) {
  PendingSet& set = *a.set;
  set = PendingSet();
  set.transaction = pdu.header.transactionId;
  size_t failed = 0;
  SnmpOutcome outcome = SnmpOutcome::Ok;
  for (size_t i = 0; i < pdu.varbinds.size() && outcome == SnmpOutcome::Ok; ++i) {
    SnmpVarBind& vb = set.varbinds.emplace_back();
    vb.oid = pdu.varbinds[i].name;
    vb.value = pdu.varbinds[i].value;
    if (!SettableValue(pdu.varbinds[i])) {
      outcome = SnmpOutcome::WrongType;
      failed = i;
    }
  }
  if (outcome == SnmpOutcome::Ok) outcome = CheckSet(a, &set, &failed);
  if (outcome != SnmpOutcome::Ok) {
    ++a.counters->setsRefused;
    Respond(a.out, pdu.header, ErrorOf(outcome), static_cast<uint16_t>(failed + 1));
    return;
  }
  set.tested = true;
  Respond(a.out, pdu.header, SNMP_NO_ERROR, 0);
}

// Takes back what CommitSet did, as one change journaled like any other. False when it could
// not be written, or no longer fits (a library client changed a row since).
bool Undo(const Answering& a, PendingSet* set) {
  if (!set->committed) return true;
  bool whole = a.core->SnmpUndo(set->undo);
  if (whole) a.counters->setsUndone += set->written;
  set->undo.clear();
  set->committed = false;
  return whole;
}

// CommitSet: the set is checked again (a library client may have removed an instance since
// TestSet), then the rows it creates, its values and the rows it destroys go to the journal as
// one change before the master hears back; nothing of it waits for CleanupSet, which has no
// answer. A commit that fails changes nothing.
void CommitSet(const Answering& a, const Pdu& pdu) {
  PendingSet& set = *a.set;
  size_t failed = 0;
  if (set.committed && set.transaction == pdu.header.transactionId) {
    // A master that commits one set twice is confused: the set stays as the first commit left
    // it, for the UndoSet or CleanupSet to come.
    Respond(a.out, pdu.header, AGENTX_PROCESSING_ERROR, 0);
    return;
  }
  if (!set.tested || set.transaction != pdu.header.transactionId ||
      CheckSet(a, &set, &failed) != SnmpOutcome::Ok) {
    Respond(a.out, pdu.header, SNMP_COMMIT_FAILED, static_cast<uint16_t>(failed + 1));
    return;
  }
  if (!a.core->SnmpCommitWhole(set.targets, &set.undo)) {
    Respond(a.out, pdu.header, SNMP_COMMIT_FAILED, 1);
    return;
  }
  set.written = 0;
  for (const SnmpSetTarget& t : set.targets) {
    if (t.row != RowChange::Destroy) ++set.written;
  }
  a.counters->setsCommitted += set.written;
  set.committed = true;
  Respond(a.out, pdu.header, SNMP_NO_ERROR, 0);
}

void UndoSet(const Answering& a, const Pdu& pdu) {
  PendingSet& set = *a.set;
  bool whole = set.transaction != pdu.header.transactionId || Undo(a, &set);
  Respond(a.out, pdu.header, whole ? SNMP_NO_ERROR : SNMP_UNDO_FAILED, 0);
}

// CleanupSet ends the set either way, and has no answer.
void CleanupSet(const Answering& a, const Pdu& pdu) {
  (void)pdu;
  *a.set = PendingSet();
}

}  // namespace

void Respond(std::string* out, const Header& request, uint16_t error, uint16_t index) {
  EndPacket(out, BeginResponse(out, request, error, index));
}

void AnswerRequest(const Answering& a, const Pdu& pdu) {
  switch (pdu.header.type) {
    case AGENTX_GET: AnswerGet(a, pdu); break;
    case AGENTX_GETNEXT: AnswerNext(a, pdu); break;
    case AGENTX_GETBULK: AnswerBulk(a, pdu); break;
    case AGENTX_TESTSET: TestSet(a, pdu); break;
    case AGENTX_COMMITSET: CommitSet(a, pdu); break;
    case AGENTX_UNDOSET: UndoSet(a, pdu); break;
    case AGENTX_CLEANUPSET: CleanupSet(a, pdu); break;
    case AGENTX_PING: Respond(a.out, pdu.header, SNMP_NO_ERROR, 0); break;
    default: break;
  }
}

}  // namespace orvu::agent::agentx
