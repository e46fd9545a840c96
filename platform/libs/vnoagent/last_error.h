// The last failure of the calling thread: a code and, when the agent or the library said more, the
// text that goes with it.
#pragma once

#include <cstdint>
#include <string>

namespace orvu::client {

void SetLastError(int32_t code, const std::string& text = std::string());
int32_t LastErrorCode();
// The text for CODE: the last failure's own text when CODE is that failure's code, else the
// code's fixed text, else a text naming the code.
std::string ErrorTextFor(int32_t code);

}  // namespace orvu::client
