// The text of a value as the printer shows it.
#pragma once

#include <string>

#include "values/snmp_value.h"

// Appends the text of VALUE to LINE; returns false, appending nothing, for an unknown syntax.
bool AppendValueText(std::string& line, const SnmpValue& value);
