#!/usr/bin/env bash
# Configures and builds one build type into build/<type> (default RelWithDebInfo), tests included
# (a folder that ./oaset.sh configured without them gets them); prints the folder.
# Win32 cross-compiles the tool, the three DLLs and the unit tests for 32-bit Windows (MinGW-w64).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
type=${1:-RelWithDebInfo}
shift || true
dir="$top/build/$type"
config=(-DCMAKE_BUILD_TYPE="$type")
if [ "$type" = Win32 ]; then
  config=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake")
fi
cmake -S "$top" -B "$dir" -G Ninja "${config[@]}" -DOASET_WERROR=ON -DOASET_UNIT_TESTS=ON "$@" >&2
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
