#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the host program
# runs a demo worklist on the simulated analyzer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELA_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# Qt wants a private runtime folder; without one every program it starts
# warns first.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$build/runtime"
    mkdir -p "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
fi
# The simulated analyzer runs 50 times faster than real time unless --speed
# is given, so the demo finishes in seconds.
args=("$@")
case " $* " in *" --speed "*) ;; *) args+=(--speed 50) ;; esac
exec "$build/bin/velahost" run --data "${VELA_DEMO_DATA:-$root/build/demo-data}" "${args[@]}"
