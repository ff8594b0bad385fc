#!/bin/bash
# Kills `orvcard-op 0x11` installing 103 packages (the sample ones and 100 more INF files) at
# random moments, up to one and a half times its uninterrupted time, and opens the machine with
# `winsim show` after each kill. Each machine folder must then be, byte for byte (diff -r), the
# one before the install or the one the whole install leaves.
#   bench/kill_install.sh [KILLS]        (default 40; programs of build/dev, or of $BUILD)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bin=${BUILD:-$repo/build/dev}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/packages"
cp "$repo"/samples/packages/* "$work/packages/"
for i in $(seq 1 100); do
  { cat "$work/packages/orvser.inf"; echo "; copy $i"; } >"$work/packages/copy$i.inf"
done
"$bin/winsim" init "$work/start" >/dev/null
cp -a "$work/start" "$work/machine"
cd "$work/packages"
began=$(date +%s%N)
ORVCARD_MACHINE="$work/machine" "$bin/orvcard-op" 0x11 >/dev/null
took=$((($(date +%s%N) - began) / 1000000))
rm -f "$work/machine/.lock"
mv "$work/machine" "$work/after"
killed=0 finished=0 before=0 after=0 between=0
for kill in $(seq 1 "${1:-40}"); do
  rm -rf "$work/machine"
  cp -a "$work/start" "$work/machine"
  ORVCARD_MACHINE="$work/machine" "$bin/orvcard-op" 0x11 >/dev/null 2>&1 &
  run=$!
  sleep "$(awk -v t="$took" -v r="$RANDOM" 'BEGIN { printf "%.3f", t * 1.5 * r / 32768 / 1000 }')"
  if kill -9 "$run" 2>/dev/null; then killed=$((killed + 1)); else finished=$((finished + 1)); fi
  wait "$run" 2>/dev/null || true
  "$bin/winsim" show "$work/machine" >/dev/null 2>&1 || true
  rm -f "$work/machine/.lock"
  if diff -r -q "$work/machine" "$work/start" >/dev/null; then
    before=$((before + 1))
  elif diff -r -q "$work/machine" "$work/after" >/dev/null; then
    after=$((after + 1))
  else
    between=$((between + 1))
  fi
done
echo "install of 103 packages: $took ms uninterrupted; $killed runs killed, $finished finished first;"
echo "the machine then as before: $before, as after: $after, in between: $between"
[ "$between" -eq 0 ]
