#!/usr/bin/env bash
# Builds Voskel with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole test suite,
# the engine tests against a real Docker engine. Installs what is missing first; stops the engine
# afterwards if it had to start it. Run as root or as a user with sudo.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VOSKEL_TEST_BUILD:-$root/build/test}

bash "$root/scripts/deps.sh"
# Set first: a failure later in `up` must not leave the daemon it started running. An engine that
# an earlier `up` started is left as it was found.
VOSKEL_ENGINE_SINCE=$(mktemp)
export VOSKEL_ENGINE_SINCE
trap 'bash "$root/scripts/engine.sh" down; rm -f "$VOSKEL_ENGINE_SINCE"' EXIT
bash "$root/scripts/engine.sh" up

mkdir -p "$build"
free_kb=$(df -Pk "$build" | awk 'NR == 2 { print $4 }')
if [ "${free_kb:-0}" -lt 3000000 ] && [ ! -f "$build/build.ninja" ]; then
    echo "test.sh: only $((free_kb / 1024)) MB free under $build; the test build needs about 3 GB." >&2
fi
# Line tables only (-g1): sanitizer reports and failures still name file and line, and the build
# takes about two thirds of the disk that full debug information needs.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DVOSKEL_SANITIZE=ON >/dev/null
cmake --build "$build"

export VOSKEL_REQUIRE_ENGINE=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The unit tests run wide; the engine tests share one daemon, whose measurements (statistics, disk
# usage) slow down sharply when many run at once, so they run four at a time.
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)" -LE engine
ctest --test-dir "$build" --output-on-failure --no-tests=error -j 4 -L engine
