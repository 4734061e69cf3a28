#!/usr/bin/env bash
# Sets up the machine, builds the programs and runs Pindral.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

echo
echo "Built the measurement core for Windows:"
ls -l build/win32/measure/libmeasure.a build/win64/measure/libmeasure.a
echo "The Windows program itself is not part of the tree yet; run tools/test.sh to see the core at work."
