#!/usr/bin/env bash
# Installs what is missing, builds the default preset and runs the benchmark headless. Prints one
# line per figure ("name: value unit"); lines starting with '#' are notes. Exits non-zero when a
# measurement could not be made, not when a figure misses its goal. Arguments go to the
# benchmark (quorvat-bench --help lists them).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
# A 1920x1080 screen, where the trend window opens whole beside the main panel, as at a station;
# Qt's offscreen screen is 800x800 otherwise.
export QT_QPA_PLATFORM="offscreen:configfile=$PWD/bench/screen.json"
exec ./build/default/bin/quorvat-bench "$@"
