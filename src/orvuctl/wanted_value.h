// A value that set or apply is to write, typed by its object.
#pragma once

#include <string>

#include "orvuctl/mib_object.h"
#include "orvuctl/plain_value.h"

// TEXT for the object NAME resolves to, which must be writable; for an OID outside the served
// modules TEXT is TYPE:VALUE. False with *reason when it does not fit.
bool TypeWantedValue(const ResolvedName& name, const std::string& text, PlainValue* value,
                     std::string* reason);
