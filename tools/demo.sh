#!/usr/bin/env bash
# Builds the tool, runs its main job (orvcard with no argument: renumber the card's parallel
# ports) on the default simulated machine, and shows what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh linux
cmake --preset dev >/dev/null
cmake --build --preset dev --target orvcard winsim >/dev/null

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
echo
echo "The same in the registry, key by key and value by value (winsim diff):"
build/dev/winsim diff "$before.reg" "$machine" || [ $? -eq 1 ]
