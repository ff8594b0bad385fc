#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for a bounded time from its committed seed corpus fuzz/corpus/<target>/. A crash, a
# sanitizer report, a timeout or a broken check of a target fails the run; its input is kept in
# BUILD/artifacts/ and belongs, once fixed, in a regression test under tests/hardening/.
#
# Usage: fuzz/run.sh [SECONDS_PER_TARGET [TARGET...]]    (default: 30 s, every target)
# Environment: ORVCARD_FUZZ_BUILD  build folder (default build/fuzz)
#              JOBS                parallel compile jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(reg_image port_number inf_reader inf_vendor operation_select cmd_syntax hive)
fi
build=${ORVCARD_FUZZ_BUILD:-build/fuzz}

# libFuzzer's runtime is in clang's runtime package, which clang only recommends.
runtime="libclang-rt-$(clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p')-dev"
if ! dpkg-query -W -f='${Status}' "$runtime" 2>/dev/null | grep -q "install ok installed"; then
  echo "Installing: $runtime"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "$runtime" >/dev/null
fi

echo "== Fuzz build ($build)"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DORVCARD_FUZZ=ON -DORVCARD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target "${targets[@]/#/fuzz_}"

mkdir -p "$build/artifacts" "$build/logs" "$build/tmp"
failed=()
printf '%-16s %12s %8s %8s\n' target executions seconds corpus
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"  # new inputs go here; the committed seeds stay as they are
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$build/artifacts/$target-")
  if [ -f "fuzz/dict/$target.dict" ]; then
    options+=(-dict="fuzz/dict/$target.dict")
  fi
  log="$build/logs/$target.log"
  status=0
  TMPDIR="$PWD/$build/tmp" "$build/fuzz/fuzz_$target" "${options[@]}" "$corpus" \
    "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  time=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  units=$(find "$corpus" "fuzz/corpus/$target" -type f | wc -l)
  printf '%-16s %12s %8s %8s\n' "$target" "${runs:-?}" "${time:-?}" "$units"
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "-- $target failed (status $status); the end of $log:"
    tail -40 "$log"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: targets that failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran clean for ${seconds} s each"
