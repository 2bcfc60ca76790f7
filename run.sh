#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quorvat with the sensor simulator beside it on
# 127.0.0.1:10001, the program's starting address. The simulator stops when the program exits.
set -euo pipefail
cd "$(dirname "$0")"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display found (DISPLAY is not set), so no window can open." >&2
  echo "run.sh: to run without a screen, use:  xvfb-run ./run.sh" >&2
  exit 1
fi

./scripts/setup.sh
cmake --preset default >/dev/null
# Only what runs: the program, the simulator, and the resource file and bitmaps beside them.
# The tests, the benchmark and the soak are ./test.sh's to build.
cmake --build --preset default --target quorvat quorvat-sensorsim quorvat_resources
bin=build/default/bin

sim_pid=""
stop_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true; }
trap stop_sim EXIT INT TERM
"$bin/quorvat-sensorsim" --tcp 127.0.0.1:10001 &
sim_pid=$!
# Give the simulator a moment to listen; the program's first connection attempt follows at once.
sleep 0.3
if ! kill -0 "$sim_pid" 2>/dev/null; then
  echo "run.sh: the simulator did not start (is 127.0.0.1:10001 taken?); the program starts alone." >&2
  sim_pid=""
fi

status=0
"$bin/quorvat" || status=$?
exit "$status"
