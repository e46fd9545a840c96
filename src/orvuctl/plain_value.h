// A value as orvuctl holds it: owned, comparable, and in its plain form for scripts (JSON) and
// for people (a short text); and the typing of a text by its object's syntax.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "values/snmp_value.h"

struct PlainValue {
  SnmpSyntax syntax = SYNTAX_NULL;
  uint64_t number = 0;        // the numeric syntaxes (INTEGER as its 32-bit pattern)
  std::string bytes;          // OCTET STRING, IpAddress, Opaque, NsapAddress
  std::vector<uint32_t> ids;  // OBJECT IDENTIFIER
  bool operator==(const PlainValue&) const = default;
};

// An enumeration label or a BITS name, and its number.
struct ValueLabel {
  std::string name;
  int64_t number = 0;
};

// What an object's MIB says of the values it takes.
struct ValueShape {
  SnmpSyntax syntax = SYNTAX_NULL;
  std::string typeName;  // the textual convention SYNTAX names, empty for a base type
  std::vector<ValueLabel> labels;
  std::vector<std::pair<int64_t, int64_t>> ranges;
  std::vector<std::pair<int64_t, int64_t>> sizes;
};

// A copy of the value that the libraries hand over; false for a syntax that has no plain form.
bool TakePlainValue(const SnmpValue& value, PlainValue* plain);
// The record the libraries take, pointing into PLAIN's storage (valid while PLAIN lives).
SnmpValue AsSnmpValue(const PlainValue& plain);

// The JSON of the plain form: a number, a string (text), {"hex": "..."} (bytes) or null.
nlohmann::ordered_json PlainJson(const PlainValue& value);
// One JSON document as orvuctl prints it, with its line end. Bytes that are no UTF-8 (a client's
// file name, say) come out as U+FFFD rather than stop the output.
std::string JsonDocumentText(const nlohmann::ordered_json& document);
// The same without the line end, for a part of a document written in pieces.
std::string JsonText(const nlohmann::ordered_json& value);
// The text form: 40, "low beep" (a JSON string), 0x00ff, 1.3.6.1, null; with SHAPE's labels an
// enumeration shows as repeat(2).
std::string PlainText(const PlainValue& value, const ValueShape* shape = nullptr);
// The label of an INTEGER value, or the names of the bits set of a BITS value; empty for none.
std::vector<std::string> ValueLabels(const PlainValue& value, const ValueShape& shape);

// The dotted text of IDS: 1.3.6.1.
std::string DottedText(const std::vector<uint32_t>& ids);

// Types TEXT by SHAPE; on refusal false with *reason ("takes 20..20000", ...). OBJECT IDENTIFIER
// names are looked up through the MIB library.
bool TypeValueText(const std::string& text, const ValueShape& shape, PlainValue* value,
                   std::string* reason);
// The syntax that an explicit type names (INTEGER, OCTET STRING, ...); nullopt for none.
std::optional<SnmpSyntax> SyntaxOfTypeName(const std::string& name);
