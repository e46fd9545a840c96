// Conversion of typed command-line text into a value.
#pragma once

#include "values/snmp_value.h"

// VALUE has its syntax set and number and data 0. Returns 1 when VALUE holds the converted text,
// 0 when the text does not convert. Storage comes from the allocator that SnmpFreeValue releases.
int ParseValueText(SnmpValue* value, const char* text);
