#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
#   ./test.sh             the default build
#   ./test.sh sanitize    the same tests under AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")"
preset="${1:-default}"
./scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset"
