#!/usr/bin/env bash
# Builds Voskel (release) and runs it. Installs what is missing first. Arguments are passed on.
# Without arguments on a machine without a display, it prints what every container runtime reports
# (`voskel --dump all`), with a Docker engine to report on: one that already answers, or the
# project's own test engine, started for the run and stopped again afterwards.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VOSKEL_RUN_BUILD:-$root/build/release}

bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOSKEL_TESTS=OFF -DVOSKEL_BENCH=OFF >/dev/null
cmake --build "$build"

if [ $# -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    trap 'bash "$root/scripts/engine.sh" down' EXIT
    bash "$root/scripts/engine.sh" up
    "$build/src/voskel" --dump all
    exit
fi
exec "$build/src/voskel" "$@"
