#!/usr/bin/env bash
# Builds the Debian package from this tree and checks it:
#   ./scripts/package.sh
# Installs what is missing, makes a release build in build/package, packs it with CPack, then
# unpacks the package into a scratch root and runs the installed program there (the CTest
# label "package"). The last line printed is the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh package
build=build/package
# The package needs only the two programs and their files, and cpack need not build the rest.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" \
  --target quorvat quorvat-sensorsim quorvat_resources packaging_test_installed
rm -f "$build"/quorvat_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/quorvat_*.deb)
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" -L package --output-on-failure
realpath "$deb"
