#!/usr/bin/env bash
# Builds the tool, runs its main job (orvcard with no argument: renumber the card's parallel
# ports) on the default simulated machine, and shows what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "Checking the build tools (tools/deps.sh installs what is missing with apt-get)..."
tools/deps.sh linux
echo "Building orvcard and winsim in build/dev (about 40 s the first time)..."
cmake --preset dev >/dev/null
# ninja's "[done/total]" counter on one line; the whole log only if the build fails.
log=$(mktemp)
if ! cmake --build --preset dev --target orvcard winsim 2>&1 | tee "$log" |
  while IFS= read -r line; do
    if [[ $line =~ ^\[([0-9]+/[0-9]+)\] ]]; then printf '\r  step %s' "${BASH_REMATCH[1]}"; fi
  done; then
  echo
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
echo
rm -f "$log"

machine=${ORVCARD_MACHINE:-${XDG_STATE_HOME:-$HOME/.local/state}/orvcard/machine}
if [ "${1:-}" = --reset ]; then
  rm -rf "$machine"
fi
if [ ! -f "$machine/registry.reg" ]; then
  build/dev/winsim init "$machine"
fi

before=$(mktemp)
after=$(mktemp)
trap 'rm -f "$before" "$after" "$before.reg"' EXIT
build/dev/winsim show "$machine" >"$before"
cp "$machine/registry.reg" "$before.reg"
echo "\$ orvcard"
set +e
build/dev/orvcard
status=$?
set -e
echo "exit status: $status"
build/dev/winsim show "$machine" >"$after"
echo
echo "What changed on the machine ($machine):"
if diff -u --label before --label after "$before" "$after"; then
  echo "(nothing: the ports already have their numbers; run tools/demo.sh --reset to start again)"
fi
# Why the machine changed as it did, a line each.
for port in $(diff "$before" "$after" | sed -n 's/^<       location: *\(LPT[0-9]*\)$/\1/p'); do
  echo "The printer at $port went: $port was the name of a card port, and orvcard removes the devices attached to each card port before it renumbers the port."
done
if grep -q '260 bytes' "$after" && ! grep -q '260 bytes' "$before"; then
  echo "The map values now hold 260 bytes: orvcard writes each as \\DosDevices\\LPTn followed by zero bytes up to 260 bytes, and winsim show gives the size of a text value that holds more than its text."
fi
echo
echo "The same in the registry, key by key and value by value (winsim diff):"
build/dev/winsim diff "$before.reg" "$machine" || [ $? -eq 1 ]
