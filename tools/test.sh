#!/usr/bin/env bash
# Sets up the machine, builds every preset and runs every test: the host
# build, its sanitizer builds, the 32-bit build under qemu, the checks of
# the shipped 32-bit program as a file (32-bit Wine cannot run on this
# kernel), and the win64 build under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh || exit 1

for preset in native asan tsan i386 win32 win64; do
    echo "=== build: $preset"
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" || exit 1
done

failed=()
for preset in native asan tsan i386 win32 win64; do
    echo "=== test: $preset"
    ctest --preset "$preset" || failed+=("$preset")
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED presets: ${failed[*]}"
    exit 1
fi
echo "All test presets passed."
