#!/usr/bin/env bash
# Configures and builds one build type into build/<type> (default RelWithDebInfo); prints the folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
type=${1:-RelWithDebInfo}
shift || true
dir="$top/build/$type"
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DOASET_WERROR=ON "$@" >&2
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
