#include "agent/journal/state_records.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "agent/journal/dotted_oid.h"
#include "agent/journal/state_integrity.h"
#include "common/decimal.h"

namespace orvu::agent {
namespace {

using proto::Value;
using proto::ValueKind;

// A 32-bit field, written signed or unsigned.
bool ParseNumber(std::string_view text, uint32_t* out) {
  // Up to nine digits cannot leave the range: most numbers of a state file take this way.
  if (!text.empty() && text.size() <= 9) {
    uint32_t value = 0;
    bool digits = true;
    for (char c : text) {
      digits = digits && c >= '0' && c <= '9';
      value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (digits) {
      *out = value;
      return true;
    }
  }
  int64_t value = 0;
  if (!ParseDecimal(text, INT32_MIN, UINT32_MAX, &value)) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

// Sub-identifiers of up to 4294967295, digits only, between single dots.
bool ParseOid(std::string_view text, std::vector<uint32_t>* out) {
  out->clear();
  if (text.empty()) return true;
  uint64_t id = 0;
  bool digits = false;
  for (char c : text) {
    if (c == '.') {
      if (!digits) return false;
      out->push_back(static_cast<uint32_t>(id));
      id = 0;
      digits = false;
    } else if (c >= '0' && c <= '9') {
      id = id * 10 + static_cast<uint64_t>(c - '0');
      if (id > UINT32_MAX) return false;
      digits = true;
    } else {
      return false;
    }
  }
  if (!digits) return false;
  out->push_back(static_cast<uint32_t>(id));
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(std::string_view text, std::string* out) {
  if (text.size() % 2) return false;
  out->resize(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    (*out)[i / 2] = static_cast<char>(hi * 16 + lo);
  }
  return true;
}

bool ParseText(std::string_view text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out->push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return true;
}

const char HEX[] = "0123456789abcdef";

std::string FormatText(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7f || c == '%' || c == '=') {
      out += '%';
      out += HEX[c >> 4];
      out += HEX[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string FormatHex(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    out += HEX[c >> 4];
    out += HEX[c & 15];
  }
  return out;
}

// The key=value tokens of a line, as views into it; a line holds a dozen at most, so they are
// looked up one by one.
class Fields {
 public:
  // A start parses a million lines: the list keeps its room from one line to the next.
  Fields() : values_(Storage()) { values_.clear(); }
  Fields(const Fields&) = delete;
  Fields& operator=(const Fields&) = delete;

  bool Add(std::string_view token, std::string* error) {
    size_t eq = token.find('=');
    if (eq == std::string_view::npos || eq == 0) {
      *error = "expected key=value, found '" + Excerpt(std::string(token)) + "'";
      return false;
    }
    return Add(token.substr(0, eq), token.substr(eq + 1), error);
  }
  bool Add(std::string_view key, std::string_view value, std::string* error) {
    if (Find(key) != values_.end()) {
      *error = "duplicate key '" + Excerpt(std::string(key)) + "'";
      return false;
    }
    values_.push_back({key, value});
    return true;
  }
  bool Has(std::string_view key) const { return Find(key) != values_.end(); }
  // Every key must be consumed; whatever is left over is reported as unknown.
  bool Number(std::string_view key, uint32_t* out, std::string* error) {
    std::string_view text;
    if (!Take(key, &text, error)) return false;
    if (!ParseNumber(text, out)) {
      *error = "bad number for '" + std::string(key) + "': " + Excerpt(std::string(text));
      return false;
    }
    return true;
  }
  bool OidField(std::string_view key, std::vector<uint32_t>* out, std::string* error) {
    std::string_view text;
    if (!Take(key, &text, error)) return false;
    if (!ParseOid(text, out)) {
      *error = "bad OID for '" + std::string(key) + "': " + Excerpt(std::string(text));
      return false;
    }
    return true;
  }
  bool TextField(std::string_view key, std::string* out, std::string* error) {
    std::string_view text;
    if (!Take(key, &text, error)) return false;
    if (!ParseText(text, out)) {
      *error = "bad text for '" + std::string(key) + "': " + Excerpt(std::string(text));
      return false;
    }
    return true;
  }
  bool Take(std::string_view key, std::string_view* out, std::string* error) {
    auto it = Find(key);
    if (it == values_.end()) {
      *error = "missing '" + std::string(key) + "'";
      return false;
    }
    *out = it->second;
    values_.erase(it);
    return true;
  }
  bool Done(std::string* error) const {
    if (values_.empty()) return true;
    // The first unknown key in sorted order, so that the message does not depend on the order
    // the line gives them in.
    std::string_view first = values_.front().first;
    for (const auto& [key, value] : values_) first = std::min(first, key);
    *error = "unknown key '" + Excerpt(std::string(first)) + "'";
    return false;
  }

 private:
  using Field = std::pair<std::string_view, std::string_view>;
  std::vector<Field>::const_iterator Find(std::string_view key) const {
    return std::find_if(values_.begin(), values_.end(),
                        [&](const Field& field) { return field.first == key; });
  }
  std::vector<Field>::iterator Find(std::string_view key) {
    return std::find_if(values_.begin(), values_.end(),
                        [&](const Field& field) { return field.first == key; });
  }

  static std::vector<Field>& Storage() {
    thread_local std::vector<Field> storage;
    return storage;
  }

  std::vector<Field>& values_;
};

bool ParseValue(Fields& f, Value* v, std::string* error) {
  if (!f.Number("syntax", &v->syntax, error)) return false;
  int forms = f.Has("number") + f.Has("bytes") + f.Has("oid");
  if (forms != 1) {
    *error = "a value needs exactly one of number=, bytes=, oid=";
    return false;
  }
  if (f.Has("number")) {
    if (!f.Number("number", &v->number, error)) return false;
    v->kind = ValueKind::Number;
    if (f.Has("second")) {
      if (!f.Number("second", &v->second, error)) return false;
      v->kind = ValueKind::Pair;
    }
  } else if (f.Has("bytes")) {
    std::string_view text;
    f.Take("bytes", &text, error);
    if (!ParseHex(text, &v->bytes)) {
      *error = "bad hex bytes: " + Excerpt(std::string(text));
      return false;
    }
    v->kind = ValueKind::Bytes;
  } else {
    if (!f.OidField("oid", &v->ids, error)) return false;
    v->kind = ValueKind::Oid;
  }
  return true;
}

void FormatValue(std::string& out, const Value& v) {
  out += " syntax=" + std::to_string(v.syntax);
  switch (v.kind) {
    case ValueKind::Number:
      // INTEGER values read better signed; both forms read back to the same bits.
      out += " number=" + (v.syntax == ORVU_SYNTAX_INTEGER
                               ? std::to_string(static_cast<int32_t>(v.number))
                               : std::to_string(v.number));
      break;
    case ValueKind::Pair:
      out += " number=" + std::to_string(v.number) + " second=" + std::to_string(v.second);
      break;
    case ValueKind::Bytes: out += " bytes=" + FormatHex(v.bytes); break;
    case ValueKind::Oid: out += " oid=" + OidText(v.ids); break;
  }
}

// Empties RECORD but keeps the room of its strings and lists, for the next line.
void Reset(StateRecord* record) {
  record->type = RecordType::Module;
  record->moduleName.clear();
  record->client = proto::ClientRecord{};
  record->entryOid.clear();
  record->indexOid.clear();
  record->scalarOid.clear();
  record->handle = record->creator = record->column = record->groupSize = 0;
  record->time = 0;
  record->enabledFlags.reset();
  record->leaves.reset();
  record->value.syntax = record->value.number = record->value.second = 0;
  record->value.kind = ValueKind::Number;
  record->value.bytes.clear();
  record->value.ids.clear();
  record->line = 0;
}

// The word of *LINE up to its first blank; *LINE keeps what follows that blank.
// Words are short: a loop finds their end sooner than a call to search for it.
inline std::string_view NextWord(std::string_view* line) {
  size_t blank = 0;
  while (blank < line->size() && (*line)[blank] != ' ') ++blank;
  std::string_view word = line->substr(0, blank);
  line->remove_prefix(blank == line->size() ? blank : blank + 1);
  return word;
}

// WORD as KEY=VALUE, with *value getting VALUE. KEY is a literal, so that its comparison is
// made inline.
template <size_t N>
inline bool Keyed(std::string_view word, const char (&key)[N], std::string_view* value) {
  constexpr size_t size = N - 1;
  if (word.size() <= size || std::memcmp(word.data(), key, size) != 0 || word[size] != '=')
    return false;
  *value = word.substr(size + 1);
  return true;
}

template <size_t N>
inline bool KeyedNumber(std::string_view* line, const char (&key)[N], uint32_t* out) {
  std::string_view text;
  return Keyed(NextWord(line), key, &text) && ParseNumber(text, out);
}

template <size_t N>
bool KeyedOid(std::string_view* line, const char (&key)[N], std::vector<uint32_t>* out) {
  std::string_view text;
  return Keyed(NextWord(line), key, &text) && ParseOid(text, out) && !out->empty();
}

// The lines a start reads a million of, value and instance, as the agent writes them: single
// blanks, the fields in the order written, each well formed. Any other line is left to the full
// parse, and so are its errors.
bool QuickValue(std::string_view line, StateRecord* record) {
  Value& v = record->value;
  std::string_view form;
  if (NextWord(&line) != "value" || !KeyedNumber(&line, "handle", &record->handle) ||
      !KeyedNumber(&line, "column", &record->column) || !KeyedNumber(&line, "syntax", &v.syntax)) {
    return false;
  }
  std::string_view word = NextWord(&line);
  bool ok = false;
  if (Keyed(word, "number", &form)) {
    ok = ParseNumber(form, &v.number);
    v.kind = ValueKind::Number;
    if (ok && !line.empty()) {
      ok = KeyedNumber(&line, "second", &v.second);
      v.kind = ValueKind::Pair;
    }
  } else if (Keyed(word, "bytes", &form)) {
    ok = ParseHex(form, &v.bytes);
    v.kind = ValueKind::Bytes;
  } else if (Keyed(word, "oid", &form)) {
    ok = ParseOid(form, &v.ids);
    v.kind = ValueKind::Oid;
  }
  if (!ok || !line.empty()) return false;
  record->type = RecordType::Value;
  return true;
}

bool QuickInstance(std::string_view line, StateRecord* record) {
  uint32_t time = 0, n = 0;
  if (NextWord(&line) != "instance" || !KeyedOid(&line, "entry", &record->entryOid) ||
      !KeyedOid(&line, "index", &record->indexOid) ||
      !KeyedNumber(&line, "handle", &record->handle) ||
      !KeyedNumber(&line, "creator", &record->creator) || !KeyedNumber(&line, "time", &time)) {
    return false;
  }
  record->time = static_cast<int32_t>(time);
  if (line.substr(0, 8) == "enabled=") {
    if (!KeyedNumber(&line, "enabled", &n)) return false;
    record->enabledFlags = n;
  }
  if (line.substr(0, 7) == "leaves=") {
    if (!KeyedNumber(&line, "leaves", &n)) return false;
    record->leaves = n;
  }
  if (!line.empty()) return false;
  record->type = RecordType::Instance;
  return true;
}

}  // namespace

bool ParseStateLine(std::string_view line, StateRecord* record, std::string* error) {
  error->clear();
  Reset(record);
  if ((line.substr(0, 6) == "value " && QuickValue(line, record)) ||
      (line.substr(0, 9) == "instance " && QuickInstance(line, record))) {
    return true;
  }
  Reset(record);
  std::string_view text = line;
  // A start reads a million lines: the token list keeps its room from one to the next.
  thread_local std::vector<std::string_view> tokens;
  tokens.clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') ++i;
    if (i > start) tokens.push_back(text.substr(start, i - start));
  }
  if (tokens.empty() || tokens[0][0] == '#') return false;
  std::string_view type = tokens[0];
  if (type == "module") {
    if (tokens.size() != 2) {
      *error = "'module' takes one module name";
      return false;
    }
    record->type = RecordType::Module;
    record->moduleName = tokens[1];
    return true;
  }
  // A scalar names its object with object=, which no value form uses. Files of earlier agents
  // name it with the first oid= instead, before the value's own oid= when the value is an OID.
  size_t legacyObject = 0;
  if (type == "scalar" &&
      std::none_of(tokens.begin() + 1, tokens.end(),
                   [](std::string_view token) { return token.substr(0, 7) == "object="; })) {
    auto first = std::find_if(tokens.begin() + 1, tokens.end(),
                              [](std::string_view token) { return token.substr(0, 4) == "oid="; });
    if (first != tokens.end()) legacyObject = static_cast<size_t>(first - tokens.begin());
  }
  Fields f;
  for (size_t t = 1; t < tokens.size(); ++t) {
    bool added =
        t == legacyObject ? f.Add("object", tokens[t].substr(4), error) : f.Add(tokens[t], error);
    if (!added) return false;
  }
  bool ok = false;
  if (type == "client") {
    record->type = RecordType::Client;
    proto::ClientRecord& client = record->client;
    uint32_t time = 0;
    ok = f.Number("handle", &client.clientHandle, error) &&
         f.Number("id", &client.clientId, error) &&
         f.Number("process-handle", &client.processHandle, error) &&
         f.Number("process", &client.processId, error) &&
         f.Number("thread-handle", &client.threadHandle, error) &&
         f.Number("thread", &client.threadId, error) && f.Number("time", &time, error) &&
         f.Number("flags", &client.flags, error) && f.TextField("name", &client.name, error) &&
         f.TextField("file", &client.fileName, error);
    client.registrationTime = static_cast<int32_t>(time);
  } else if (type == "instance") {
    record->type = RecordType::Instance;
    uint32_t time = 0;
    ok = f.OidField("entry", &record->entryOid, error) &&
         f.OidField("index", &record->indexOid, error) &&
         f.Number("handle", &record->handle, error) &&
         f.Number("creator", &record->creator, error) && f.Number("time", &time, error);
    record->time = static_cast<int32_t>(time);
    uint32_t n = 0;
    if (ok && f.Has("enabled")) {
      ok = f.Number("enabled", &n, error);
      record->enabledFlags = n;
    }
    if (ok && f.Has("leaves")) {
      ok = f.Number("leaves", &n, error);
      record->leaves = n;
    }
    if (ok && (record->entryOid.empty() || record->indexOid.empty())) {
      *error = "an instance needs a nonempty entry and index";
      ok = false;
    }
  } else if (type == "enable") {
    record->type = RecordType::Enable;
    uint32_t flags = 0;
    ok = f.Number("handle", &record->handle, error) && f.Number("flags", &flags, error);
    record->enabledFlags = flags;
  } else if (type == "remove") {
    record->type = RecordType::Remove;
    ok = f.Number("handle", &record->handle, error);
  } else if (type == "value") {
    record->type = RecordType::Value;
    ok = f.Number("handle", &record->handle, error) && f.Number("column", &record->column, error) &&
         ParseValue(f, &record->value, error);
  } else if (type == "group") {
    record->type = RecordType::Group;
    ok = f.Number("records", &record->groupSize, error);
    if (ok && (record->groupSize < 2 || record->groupSize > STATE_MAX_GROUP)) {
      *error = "a group holds 2 to " + std::to_string(STATE_MAX_GROUP) + " records";
      ok = false;
    }
  } else if (type == "scalar") {
    record->type = RecordType::Scalar;
    ok = f.OidField("object", &record->scalarOid, error) && ParseValue(f, &record->value, error);
    if (ok && record->scalarOid.empty()) {
      *error = "a scalar needs a nonempty OID";
      ok = false;
    }
  } else {
    *error = "unknown record '" + Excerpt(std::string(type)) + "'";
    return false;
  }
  return ok && f.Done(error);
}

namespace {

void AppendNumber(std::string* out, int64_t n) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
  (void)ec;
  out->append(digits, static_cast<size_t>(end - digits));
}

void AppendOid(std::string* out, const std::vector<uint32_t>& oid) {
  for (size_t i = 0; i < oid.size(); ++i) {
    if (i) out->push_back('.');
    AppendNumber(out, oid[i]);
  }
}

}  // namespace

// The records a rewrite writes a million of, instance and value, are written straight into OUT;
// the rare ones as their text.
void AppendStateRecord(std::string* out, const StateRecord& record) {
  switch (record.type) {
    case RecordType::Instance:
      out->append("instance entry=");
      AppendOid(out, record.entryOid);
      out->append(" index=");
      AppendOid(out, record.indexOid);
      out->append(" handle=");
      AppendNumber(out, record.handle);
      out->append(" creator=");
      AppendNumber(out, record.creator);
      out->append(" time=");
      AppendNumber(out, record.time);
      if (record.enabledFlags) {
        out->append(" enabled=");
        AppendNumber(out, *record.enabledFlags);
      }
      if (record.leaves) {
        out->append(" leaves=");
        AppendNumber(out, *record.leaves);
      }
      return;
    case RecordType::Value: {
      out->append("value handle=");
      AppendNumber(out, record.handle);
      out->append(" column=");
      AppendNumber(out, record.column);
      const Value& v = record.value;
      out->append(" syntax=");
      AppendNumber(out, v.syntax);
      switch (v.kind) {
        case ValueKind::Number:
          // INTEGER values read better signed; both forms read back to the same bits.
          out->append(" number=");
          AppendNumber(out, v.syntax == ORVU_SYNTAX_INTEGER
                                ? int64_t{static_cast<int32_t>(v.number)}
                                : int64_t{v.number});
          return;
        case ValueKind::Pair:
          out->append(" number=");
          AppendNumber(out, v.number);
          out->append(" second=");
          AppendNumber(out, v.second);
          return;
        case ValueKind::Bytes: {
          out->append(" bytes=");
          size_t at = out->size();
          out->resize(at + 2 * v.bytes.size());
          for (unsigned char c : v.bytes) {
            (*out)[at++] = HEX[c >> 4];
            (*out)[at++] = HEX[c & 15];
          }
          return;
        }
        case ValueKind::Oid:
          out->append(" oid=");
          AppendOid(out, v.ids);
          return;
      }
      return;
    }
    default: out->append(FormatStateRecord(record)); return;
  }
}

std::string FormatStateRecord(const StateRecord& record) {
  std::string out;
  if (record.type == RecordType::Instance || record.type == RecordType::Value) {
    AppendStateRecord(&out, record);
    return out;
  }
  switch (record.type) {
    case RecordType::Module: out = "module " + record.moduleName; break;
    case RecordType::Client: {
      const proto::ClientRecord& client = record.client;
      out = "client handle=" + std::to_string(client.clientHandle) +
            " id=" + std::to_string(client.clientId) +
            " process-handle=" + std::to_string(client.processHandle) +
            " process=" + std::to_string(client.processId) +
            " thread-handle=" + std::to_string(client.threadHandle) +
            " thread=" + std::to_string(client.threadId) +
            " time=" + std::to_string(client.registrationTime) +
            " flags=" + std::to_string(client.flags) + " name=" + FormatText(client.name) +
            " file=" + FormatText(client.fileName);
      break;
    }
    case RecordType::Instance:
      out = "instance entry=" + OidText(record.entryOid) + " index=" + OidText(record.indexOid) +
            " handle=" + std::to_string(record.handle) +
            " creator=" + std::to_string(record.creator) + " time=" + std::to_string(record.time);
      if (record.enabledFlags) out += " enabled=" + std::to_string(*record.enabledFlags);
      if (record.leaves) out += " leaves=" + std::to_string(*record.leaves);
      break;
    case RecordType::Enable:
      out = "enable handle=" + std::to_string(record.handle) +
            " flags=" + std::to_string(record.enabledFlags.value_or(0));
      break;
    case RecordType::Remove: out = "remove handle=" + std::to_string(record.handle); break;
    case RecordType::Value:
      out = "value handle=" + std::to_string(record.handle) +
            " column=" + std::to_string(record.column);
      FormatValue(out, record.value);
      break;
    case RecordType::Scalar:
      out = "scalar object=" + OidText(record.scalarOid);
      FormatValue(out, record.value);
      break;
    case RecordType::Group: out = "group records=" + std::to_string(record.groupSize); break;
  }
  return out;
}

}  // namespace orvu::agent
