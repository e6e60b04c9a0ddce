#!/usr/bin/env bash
# Builds Voskel (release) and runs it. Installs what is missing first. Arguments are passed on.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VOSKEL_RUN_BUILD:-$root/build/release}

bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOSKEL_TESTS=OFF -DVOSKEL_BENCH=OFF >/dev/null
cmake --build "$build"
exec "$build/src/voskel" "$@"
