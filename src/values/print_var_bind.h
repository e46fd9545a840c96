// One line of text about an OID and a value.
#pragma once

#include <cstdint>
#include <string>

#include "values/snmp_value.h"

constexpr uint8_t PRINT_OID_NUMERIC = 0x01;
constexpr uint8_t PRINT_OID_SYMBOLIC = 0x02;
constexpr uint8_t PRINT_VALUE = 0x04;
constexpr uint8_t PRINT_MARKER = 0x08;
constexpr uint8_t PRINT_SYNTAX = 0x10;
constexpr uint8_t PRINT_NEWLINE = 0x20;

// Writes the line with one output call and returns 1; returns 0 and writes nothing when
// PRINT_VALUE is set and the value's syntax is not a known one.
int PrintVarBind(SnmpOid oid, SnmpValue value, uint8_t flags);
// The same line appended to LINE; false when PRINT_VALUE is set and the value's syntax is not a
// known one, and then LINE may hold part of it.
bool AppendVarBind(std::string& line, SnmpOid oid, SnmpValue value, uint8_t flags);
