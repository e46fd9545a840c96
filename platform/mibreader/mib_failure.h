// The error that stops the reading of one module, thrown inside the reader and caught by Load.
#pragma once

#include <string>
#include <utility>

namespace orvu::mib {

struct Position {
  int line = 0;
  int column = 0;
};

struct MibFailure {
  Position position;
  std::string cause;
  MibFailure(Position where, std::string why) : position(where), cause(std::move(why)) {}
};

}  // namespace orvu::mib
