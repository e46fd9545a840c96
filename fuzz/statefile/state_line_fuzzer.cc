// Any text as one line of the state file. A line that parses must be written back as a line that
// parses to a record written the same way again, or a restart would not give the same state.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/journal/state_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  // The reader splits the file at line ends and refuses NUL bytes before it parses.
  if (line.find('\n') != std::string::npos || line.find('\0') != std::string::npos) return 0;
  orvu::agent::StateRecord record;
  std::string error;
  if (!orvu::agent::ParseStateLine(line, &record, &error)) return 0;
  std::string written = orvu::agent::FormatStateRecord(record);
  orvu::agent::StateRecord again;
  if (!orvu::agent::ParseStateLine(written, &again, &error)) std::abort();
  if (orvu::agent::FormatStateRecord(again) != written) std::abort();
  return 0;
}
