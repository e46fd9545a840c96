// Values that the shell split off their -m: "-mo "Speaker two"" leaves -mo with an empty text and
// "Speaker two" as a word of its own. Writing the empty text would replace the value the user
// meant to write with nothing, so the parser remembers such an -m and the set stage refuses it.
#pragma once

#include <cstddef>
#include <string>

// The -m at VALUEINDEX (from 0) got an empty text because the word after it stood apart; REASON
// says so and how to write it.
void NoteSplitValue(size_t valueIndex, const std::string& reason);
// The reason noted for the -m at VALUEINDEX; empty when its text was not split off.
std::string SplitValueReason(size_t valueIndex);
void ForgetSplitValues();
