#!/usr/bin/env bash
# Builds the benchmarks optimised and runs them; each prints its own figures.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VOSKEL_BENCH_BUILD:-$root/build/bench}

bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOSKEL_TESTS=OFF >/dev/null
cmake --build "$build"
for bench in "$build"/bench/voskel_*_bench; do
    if [ -f "$bench" ] && [ -x "$bench" ]; then "$bench" "$@"; fi
done
