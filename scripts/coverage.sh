#!/usr/bin/env bash
# Line and branch coverage of the program and the simulator by every test: builds the coverage
# preset in build/coverage, runs the tests there, and prints gcovr's summary (HTML in
# build/coverage/html/). Extra arguments go to ctest, e.g. -R faultmatrix.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh coverage
cmake --preset coverage >/dev/null
cmake --build --preset coverage
find build/coverage -name '*.gcda' -delete
export QT_QPA_PLATFORM=offscreen
ctest --preset coverage -j 4 "$@" || echo "coverage.sh: some tests failed; the figures cover what ran" >&2
folders=(app shell logo protocol calibration record trend link combobox platform sim)
filters=()
for f in "${folders[@]}"; do
  [ -d "$f" ] && filters+=(--filter "$f/")
done
mkdir -p build/coverage/html
gcovr --root . --object-directory build/coverage "${filters[@]}" \
  --exclude-throw-branches --exclude-unreachable-branches \
  --html-details build/coverage/html/index.html --print-summary
