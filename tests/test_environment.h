// Setting a variable of the test's own environment, on POSIX and on Windows alike.
#pragma once

#include <cstdlib>
#include <string>

// An empty value removes the variable.
inline void SetTestVariable(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}
