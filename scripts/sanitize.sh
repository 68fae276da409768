#!/usr/bin/env bash
# Builds the project with AddressSanitizer + UndefinedBehaviorSanitizer in
# build-asan/ and runs the whole CTest suite under them. Any sanitizer
# report, from a test or from a program a test starts (Linkhub, velahost,
# dbupdate, velasim), fails the run; the suppression lists in
# scripts/sanitize/ name what lies outside the project.
#
# "tsan" builds build-tsan/ with ThreadSanitizer for an exploratory run: it
# checks that the planted race is reported, runs the suite and leaves the
# reports to be read. It is not a check: with Qt's libraries not built for
# the sanitizer it reports races that are not there (README, "Sanitizer
# runs"), so its reports do not fail it; a failing test or a planted race
# gone unreported does.
#
#   scripts/sanitize.sh [asan|tsan]...     (default: asan)
#
# VELA_SANITIZE_JOBS     parallel tests (default: nproc)
# VELA_SANITIZE_FACTOR_ASAN / _TSAN   factor on the tests' time bounds
#                        (default 4 and 10: the suite runs that much slower)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
supp=$root/scripts/sanitize
jobs=${VELA_SANITIZE_JOBS:-$(nproc)}
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(asan)

export QT_QPA_PLATFORM=offscreen
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$(command -v ccache || true)}

configure_and_build() { # <build dir> <flags> <time factor> [cmake args...]
    local build=$1 flags=$2 factor=$3
    shift 3
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g $flags -fno-omit-frame-pointer" \
        -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
        -DCMAKE_MODULE_LINKER_FLAGS="$flags" \
        -DVELA_BENCH=OFF -DVELA_FUZZ=OFF -DVELA_MAN_PAGES=OFF -DVELA_TEST_TIME_FACTOR="$factor" "$@" >/dev/null
    cmake --build "$build" -j"$(nproc)"
}

# Runs the suite with the sanitizers writing their reports into
# <build>/sanitizer-logs (one file per reporting process, so that reports
# of programs started in the background are not lost); fails when a test
# fails or any report was written.
run_suite() { # <kind> <build dir> [ctest args...]
    local kind=$1 build=$2
    shift 2
    local logs=$build/sanitizer-logs
    rm -rf "$logs"
    mkdir -p "$logs"
    local status=0
    ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 3000 "$@" || status=$?
    local reports
    if [ "$kind" = tsan ]; then
        # Exploratory: races made wholly inside Qt are set apart
        # (qt-internal.awk says which), the rest listed for reading.
        local qt=$build/qt-internal-reports
        rm -f "$qt"
        for r in $(find "$logs" -type f | sort); do
            awk -v qt="$qt" -f "$supp/qt-internal.awk" "$r" >"$r.project"
            mv "$r.project" "$r"
            grep -q "WARNING: ThreadSanitizer\|ERROR: ThreadSanitizer\|ThreadSanitizer: .*Dying" "$r" || rm "$r"
        done
        echo "sanitize: tsan: exploratory, not a check:" \
             "$(cat "$logs"/* 2>/dev/null | grep -c "WARNING: ThreadSanitizer") report(s) to read in $logs," \
             "$( [ -f "$qt" ] && grep -c "WARNING: ThreadSanitizer" "$qt" || echo 0) wholly inside Qt in $qt"
        [ $status -eq 0 ] && echo "sanitize: tsan: suite passed"
        return $status
    fi
    reports=$(find "$logs" -type f | sort)
    if [ -n "$reports" ]; then
        for r in $reports; do
            echo "---- $r"
            cat "$r"
        done
        echo "sanitize: $kind: $(echo "$reports" | wc -l) report file(s) in $logs" >&2
        status=1
    fi
    [ $status -eq 0 ] && echo "sanitize: $kind: suite passed, no reports"
    return $status
}

run_asan() {
    local build=$root/build-asan
    configure_and_build "$build" "-fsanitize=address,undefined" "${VELA_SANITIZE_FACTOR_ASAN:-4}"
    local logs=$build/sanitizer-logs
    export ASAN_OPTIONS="detect_leaks=1:log_path=$logs/asan:detect_stack_use_after_return=0:strict_init_order=1"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    # Not halt_on_error: a halting report bypasses log_path, and the run is to
    # collect every report, also of programs whose exit code no test reads.
    export UBSAN_OPTIONS="print_stacktrace=1:log_path=$logs/ubsan:suppressions=$supp/ubsan.supp"
    # tst_install builds a plain consumer program against the installed core;
    # linked to a sanitized libcore it cannot run, so the install test is
    # left to the ordinary suite.
    run_suite asan "$build" -E '^tst_install$'
}

run_tsan() {
    local build=$root/build-tsan
    configure_and_build "$build" "-fsanitize=thread" "${VELA_SANITIZE_FACTOR_TSAN:-10}" -DVELA_TSAN=ON
    local logs=$build/sanitizer-logs
    # exitcode=0: a report does not fail the program that wrote it, so that
    # the tests run to their own verdicts; the reports are left to be read.
    export TSAN_OPTIONS="suppressions=$supp/tsan.supp:log_path=$logs/tsan:second_deadlock_stack=1:history_size=4:exitcode=0"
    # The planted race must be reported (else the run would prove nothing);
    # its report is expected and kept apart from the suite's.
    local planted=$build/planted-logs
    rm -rf "$planted" && mkdir -p "$planted"
    TSAN_OPTIONS="suppressions=$supp/tsan.supp:log_path=$planted/tsan:exitcode=0" \
        "$build/tests/tst_tsanplanted" >/dev/null 2>&1 || true
    # Exactly one report, the planted race; the correct hand-offs beside it
    # (semaphore, wait condition, reader-writer lock, thread end) must give
    # none.
    local text
    text=$(cat "$planted"/tsan* 2>/dev/null || true)
    if [ "$(grep -c "WARNING: ThreadSanitizer:" <<<"$text")" != 1 ] ||
       ! grep -q "WARNING: ThreadSanitizer: data race" <<<"$text" || ! grep -q plantedRace <<<"$text"; then
        echo "$text"
        echo "sanitize: tsan: the planted race was not reported alone; the run proves nothing" >&2
        return 1
    fi
    echo "sanitize: tsan: the planted race was reported, and nothing else in that program"
    # Left out: the tests that start a program with QProcess (label
    # "spawns"). Qt starts the child sharing the parent's memory until it
    # execs, and the sanitizer's calls in the child then land on the
    # parent's thread state: the parent dies at its next thread start or
    # goes blind (a race planted after such a start went unreported in 3 of
    # 16 runs). Programs detached as the driver starts Linkhub are fine.
    run_suite tsan "$build" -E '^tst_tsanplanted$' -LE '^(spawns|install)$'
}

status=0
for kind in "${kinds[@]}"; do
    case $kind in
    asan) run_asan || status=1 ;;
    tsan) run_tsan || status=1 ;;
    *) echo "usage: $0 [asan|tsan]..." >&2; exit 2 ;;
    esac
done
exit $status
