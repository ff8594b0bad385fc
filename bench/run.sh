#!/usr/bin/env bash
# Builds the optimised preset and runs the benchmark of the device and record operations on
# simulated machines of 1,000, 10,000 and 100,000 device nodes.
#
#   bench/run.sh [machine_bench options]      e.g. bench/run.sh --sizes 1000,10000 --repeat 5
#   bench/run.sh --replay --sizes 25000,50000,100000 --repeat 3   loading exports, winsim diff
#   bench/run.sh --offline --sizes 8000,16000,32000 --repeat 5   -RemoveDeviceNode on hives and on .reg
#   bench/run.sh --packages --repeat 3        orvcard-op 0x11 with 250, 500, 1,000 INF files
#
# The report goes to stdout and to build/release/bench/results.md, progress to stderr: first the
# host and its load, then the README's table as it stands in the README, then the full tables.
# The 100,000-node machine takes about 110 MB on disk and 260 MB of memory; the whole run took
# 45 to 90 s on two shared cores.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target machine_bench winsim -j 2 >&2
build/release/bench/machine_bench "$@" | tee build/release/bench/results.md
