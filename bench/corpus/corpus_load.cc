// Loads every module named on the command line through the MIB library, as oaset -w does, in one
// process: the reader's side of the corpus benchmark. Prints how many loaded.
#include <cstdio>

#include "orvu/mib_lib.h"

int main(int argc, char** argv) {
  int loaded = 0;
  for (int i = 1; i < argc; ++i) {
    if (MibLoadModule(argv[i])) {
      ++loaded;
    } else {
      std::fprintf(stderr, "corpus_load: %s did not load\n", argv[i]);
    }
  }
  std::printf("%d of %d modules loaded\n", loaded, argc - 1);
  return loaded == argc - 1 ? 0 : 1;
}
