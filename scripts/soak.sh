#!/usr/bin/env bash
# The soak run: the GO loop for 200,000 readings over TCP against the simulator, then 1,000
# reconnects, built with AddressSanitizer and LeakSanitizer. Fails on any leak, on resident
# memory that grows more than 5 % after warm-up, or on a growing number of live Qt objects.
#   QUORVAT_SOAK_READINGS=20000 QUORVAT_SOAK_RECONNECTS=100 scripts/soak.sh   # a short run
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize --target quorvat-soak quorvat_resources
export QT_QPA_PLATFORM=offscreen
# Without a quarantine freed memory is reused at once and does not look like growth; leaks
# are reported at exit.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=0:thread_local_quarantine_size_kb=0:abort_on_error=0"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
exec build/sanitize/bin/quorvat-soak
