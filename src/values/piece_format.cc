#include "values/piece_format.h"

#include <cstdarg>
#include <cstdio>

void AppendFormat(std::string& line, const char* format, ...) {
  char piece[64];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (length > 0 && static_cast<size_t>(length) < sizeof piece) {
    line.append(piece, static_cast<size_t>(length));
  } else if (length > 0) {
    size_t start = line.size();
    line.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(&line[start], static_cast<size_t>(length) + 1, format, again);
    line.resize(start + static_cast<size_t>(length));
  }
  va_end(again);
}
