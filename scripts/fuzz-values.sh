#!/usr/bin/env bash
# The value fuzz targets only, for a bounded time each (scripts/fuzz.sh runs every target).
# Usage: scripts/fuzz-values.sh [SECONDS per target, default 30]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
exec "$top/scripts/fuzz.sh" "${1:-30}" values
