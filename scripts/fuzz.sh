#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for a while on a copy of its seed corpus; fails if any of them finds a crash.
#   ./scripts/fuzz.sh [seconds per target]     (default 30)
# A crash leaves its input in build/fuzz/artifacts/; run the target on that file to replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
case "$seconds" in
  '' | *[!0-9]*) echo "fuzz.sh: seconds must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac
targets=(fuzz_tcp_receive fuzz_serial_read fuzz_history fuzz_combo)

./scripts/setup.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin=build/fuzz/bin
work=build/fuzz/corpus
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
export QT_QPA_PLATFORM=offscreen
failed=()
for t in "${targets[@]}"; do
  # The committed seeds stay as they are: the fuzzer adds what it finds to a copy.
  rm -rf "${work:?}/$t"
  mkdir -p "$work/$t"
  cp fuzz/corpus/"$t"/* "$work/$t/"
  log="$artifacts/$t.log"
  echo "fuzz.sh: $t for ${seconds}s" >&2
  # Colleagues' benchmarks share the machine: the fuzzer takes what is left.
  if nice -n 19 "$bin/$t" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$artifacts/$t-" "$work/$t" >"$log" 2>&1; then
    status=0
  else
    status=$?
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  size=$(find "$work/$t" -type f | wc -l)
  echo "fuzz.sh: $t: ${runs:-?} runs, ${rate:-?}/s, corpus $size inputs, exit $status" >&2
  if [ "$status" -ne 0 ]; then
    grep -a -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$log" >&2 || tail -n 40 "$log" >&2
    failed+=("$t")
  fi
done
passed=$((${#targets[@]} - ${#failed[@]}))
echo "fuzz: ${passed} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
