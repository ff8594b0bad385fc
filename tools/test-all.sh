#!/usr/bin/env bash
# Runs every test: the unit and program tests on Linux (against the simulated machine), the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows executables
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh all

echo "== Linux build and tests"
cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev -j2

echo "== Formatting"
files=$(git ls-files '*.cpp' '*.h')
# shellcheck disable=SC2086
clang-format --dry-run -Werror $files
echo "clang-format: clean"
