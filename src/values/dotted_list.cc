#include "values/dotted_list.h"

#include <cstring>

#include "values/decimal_text.h"

long ReadDottedList(const char* text, uint32_t* ids, size_t capacity) {
  size_t count = 0;
  const char* p = text;
  for (;;) {
    if (count == capacity) return -1;
    if (!ReadWrappingDecimal(p, &ids[count], &p)) return -1;
    ++count;
    p = std::strchr(p, '.');
    if (p == nullptr || *++p == '\0') return static_cast<long>(count);
  }
}
