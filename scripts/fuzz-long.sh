#!/usr/bin/env bash
# The fuzz targets for longer: 10 minutes each unless SECONDS is given.
# Usage: scripts/fuzz-long.sh [SECONDS per target, default 600] [AREA ...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
exec "$top/scripts/fuzz.sh" "$seconds" "$@"
