#!/usr/bin/env bash
# clang-format over every C++ source of the project, with the repository's .clang-format.
#   ./scripts/format.sh          formats the files in place
#   ./scripts/format.sh --check  changes nothing; lists the files that differ and fails if any
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh format
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run --Werror "${files[@]}"
  echo "format.sh: ${#files[@]} files formatted as .clang-format says"
else
  clang-format -i "${files[@]}"
fi
