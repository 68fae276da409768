#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own build folder and runs each for a
# bounded time on its seeds (fuzz/<name>/seeds/ and, where there is one, the
# corpus its seed program writes), with its dictionary. Exits non-zero when
# a target crashes, fails one of its checks, leaks, times out on one input
# or allocates over the limit; the reproducer's path is printed.
#
#   VELA_FUZZ_BUILD_DIR  build folder (default: build-fuzz in the project root)
#   VELA_FUZZ_SECONDS    run time per target (default: 15)
#   VELA_FUZZ_JOBS       build jobs (default: 2)
#   VELA_FUZZ_TARGETS    names of the targets to run (default: all), e.g.
#                        "fuzz_linkframe fuzz_worklist"
#   VELA_FUZZ_KEEP       1: go on from the corpus of the run before and add
#                        to its count of runs (long runs in several goes)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELA_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${VELA_FUZZ_SECONDS:-15}
jobs=${VELA_FUZZ_JOBS:-2}

# Every fuzz/<name>/fuzz_<name>.cpp is a target.
all=()
for src in "$root"/fuzz/*/fuzz_*.cpp; do
    all+=("$(basename "$src" .cpp)")
done
read -r -a targets <<<"${VELA_FUZZ_TARGETS:-${all[*]}}"

seeder_of() { # target -> its seed program, when it has one
    local dir=$root/fuzz/${1#fuzz_}
    [ -f "$dir/make_seeds.cpp" ] && echo "${1}_seeds"
    return 0
}

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DVELA_FUZZ=ON -DVELA_BENCH=OFF >/dev/null
build_targets=()
for t in "${targets[@]}"; do
    build_targets+=("$t")
    s=$(seeder_of "$t")
    [ -n "$s" ] && build_targets+=("$s")
done
cmake --build "$build" -j"$jobs" --target "${build_targets[@]}"

# Undefined behaviour stops the run, except what ubsan.supp lists from
# outside the project; the stack says where.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1:suppressions=$root/fuzz/ubsan.supp}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

status=0
for t in "${targets[@]}"; do
    name=${t#fuzz_}
    work="$build/fuzz-work/$t"
    before=0
    if [ "${VELA_FUZZ_KEEP:-0}" = 1 ] && [ -d "$work/corpus" ]; then
        before=$(cat "$work/total" 2>/dev/null || echo 0)
        rm -rf "$work/artifacts" "$work/log"
    else
        rm -rf "$work"
    fi
    mkdir -p "$work/corpus" "$work/artifacts"
    if [ -d "$root/fuzz/$name/seeds" ]; then
        cp "$root/fuzz/$name/seeds/"* "$work/corpus/"
    fi
    s=$(seeder_of "$t")
    [ -n "$s" ] && "$build/fuzz/$s" "$work/corpus"
    dict=()
    [ -f "$root/fuzz/$name/$name.dict" ] && dict=(-dict="$root/fuzz/$name/$name.dict")
    # <name>.options: the target's own libFuzzer flags, after the defaults
    # (the later flag wins), e.g. a shorter -max_len where the input cannot
    # be longer in the field.
    opts=()
    [ -f "$root/fuzz/$name/$name.options" ] && read -r -a opts <"$root/fuzz/$name/$name.options"
    echo "== $t: ${seconds}s, $(ls "$work/corpus" | wc -l) seeds"
    if ! "$build/fuzz/$t" "$work/corpus" "${dict[@]}" \
            -max_total_time="$seconds" -malloc_limit_mb=64 -rss_limit_mb=2048 \
            -timeout=10 -max_len=65536 -print_final_stats=1 \
            -artifact_prefix="$work/artifacts/" "${opts[@]}" 2>"$work/log"; then
        status=1
        tail -n 60 "$work/log" >&2
        for a in "$work/artifacts"/*; do
            [ -e "$a" ] && echo "== $t reproducer: $a" >&2
        done
        echo "== $t FAILED; reproducer(s) in $work/artifacts/" >&2
    else
        execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
        rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$work/log")
        echo $((before + ${execs:-0})) >"$work/total"
        echo "== $t: ${execs:-?} runs, ${rate:-?}/s, corpus $(ls "$work/corpus" | wc -l) inputs" \
             "($(cat "$work/corpus"/* | wc -c) bytes), peak RSS ${rss:-?} MB, $(cat "$work/total") runs in all"
        echo "== $t passed"
    fi
done
exit "$status"
