#!/usr/bin/env bash
# Installs what is missing, builds, runs the whole test suite, a short fuzz
# run, then the suite once more under AddressSanitizer and
# UndefinedBehaviorSanitizer (scripts/sanitize.sh; VELA_SKIP_SANITIZE=1
# leaves it out on a quick local round). Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
# Qt wants a private runtime folder; without one every program it starts
# warns first.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$build/runtime"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
fi
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 300
if [ -x "$root/fuzz/run.sh" ] || [ -f "$root/fuzz/run.sh" ]; then
    bash "$root/fuzz/run.sh"
fi
if [ "${VELA_SKIP_SANITIZE:-0}" != 1 ]; then
    bash "$root/scripts/sanitize.sh" asan
fi
