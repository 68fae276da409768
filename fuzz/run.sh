#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs
# each for a bounded time on a freshly generated seed corpus. Exits non-zero
# when a target crashes, leaks, times out or exceeds the allocation limit.
#
#   VELA_FUZZ_BUILD_DIR  build folder (default: build-fuzz in the project root)
#   VELA_FUZZ_SECONDS    run time per target (default: 30)
#   VELA_FUZZ_JOBS       build jobs (default: 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELA_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${VELA_FUZZ_SECONDS:-30}
jobs=${VELA_FUZZ_JOBS:-2}

# target name -> seed generator program
targets=(fuzz_clotcurve)
declare -A seeders=([fuzz_clotcurve]=fuzz_clotcurve_seeds)

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DVELA_FUZZ=ON -DVELA_BENCH=OFF >/dev/null
build_targets=()
for t in "${targets[@]}"; do
    build_targets+=("$t" "${seeders[$t]}")
done
cmake --build "$build" -j"$jobs" --target "${build_targets[@]}"

status=0
for t in "${targets[@]}"; do
    work="$build/fuzz-work/$t"
    rm -rf "$work"
    mkdir -p "$work/corpus" "$work/artifacts"
    "$build/fuzz/${seeders[$t]}" "$work/corpus"
    echo "== $t: ${seconds}s, $(ls "$work/corpus" | wc -l) seeds"
    if ! "$build/fuzz/$t" "$work/corpus" \
            -max_total_time="$seconds" -malloc_limit_mb=64 -rss_limit_mb=2048 \
            -timeout=10 -max_len=65536 -print_final_stats=1 \
            -artifact_prefix="$work/artifacts/" 2>"$work/log"; then
        status=1
        tail -n 60 "$work/log" >&2
        echo "== $t FAILED; reproducer(s) in $work/artifacts/" >&2
    else
        grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^stat::new_units_added' "$work/log" || true
        echo "== $t passed"
    fi
done
exit "$status"
