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
# The tracked sources in a clone; in an unpacked source tree, every source outside build/.
if [ -e .git ]; then
  files=$(git ls-files '*.cpp' '*.h')
else
  files=$(find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print)
fi
# shellcheck disable=SC2086
clang-format --dry-run -Werror $files
echo "clang-format: clean"

echo "== Windows executables (x64 and x86), their release archives, and the end-to-end tests under Wine"
for arch in x64 x86; do
  cmake --preset "mingw-$arch" >/dev/null
  cmake --build --preset "mingw-$arch" -j2
  cpack --preset "mingw-$arch" >/dev/null
  python3 tests/release/check_archive.py "build/mingw-$arch/package/orvcard-1.0.0-win-$arch.zip" "$arch"
done
# The x64 build in a 64-bit prefix on the host's Wine; the x86 build in a 32-bit prefix of a
# separate i386 tree, made on the first run (tests/wine/wine32_tree.sh).
timeout 1800 bash tests/wine/run_wine_e2e.sh build/mingw-x64 build/dev
timeout 1800 bash tests/wine/run_wine_e2e.sh build/mingw-x86 build/dev

# ---- Hardening: the whole suite under the sanitizers, then bounded fuzzing ----
echo "== Sanitizer build and tests (AddressSanitizer and UndefinedBehaviorSanitizer)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j 2
ctest --preset asan -j2

echo "== Fuzzing (each target for a bounded time from its committed seed corpus)"
ORVCARD_FUZZ_BUILD=build/fuzz fuzz/run.sh "${ORVCARD_FUZZ_SECONDS:-20}"
