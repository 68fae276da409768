#!/usr/bin/env bash
# The system as a workstation gets it. Installs into a temporary root, either
# with cmake --install (component by component, as the packages split it) or
# from the .deb files, and checks from there:
#   - the layout: the commands on the PATH lead into the application folder,
#     the plug-in lies below it, core comes with headers and package config,
#     the built translations are installed, every command has a manual page
#     that man shows and answers --version;
#   - from the .deb files: what installing vela brings of this project's
#     packages holds no header, the headers come with libvelacore-dev;
#   - every RUNPATH is relative to the file ($ORIGIN), none points elsewhere;
#   - a small consumer project finds core with find_package, links and runs;
#   - velahost run completes a short worklist on "SIM" with the installed
#     plug-in and the installed Linkhub, started from an unrelated folder;
#   - the installed dbupdate upgrades an installation of an older release.
# The programs run with a bare environment and, where mount namespaces are
# allowed, with the source and build folders hidden behind empty mounts; the
# dynamic loader logs every object it loads, and the logs must show the
# installed files and nothing of the source or build folders.
#
# Usage: install_test.sh --build DIR --fixture PROGRAM [--core-headers LIST] [--debs DIR] [--keep]
#   --fixture  the built make_installation (writes the old databases)
#   --core-headers  core's public headers, separated by ":": exactly these
#              are to be installed
#   --debs     install from the .deb files in DIR instead of the build
#   --keep     leave the temporary folder for inspection
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
build="" fixture="" debs="" keep=0 core_headers=""
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --fixture) fixture=$(realpath "$2"); shift 2 ;;
        --core-headers) core_headers=$2; shift 2 ;;
        --debs) debs=$(cd "$2" && pwd); shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "usage: $0 --build DIR --fixture PROGRAM [--core-headers LIST] [--debs DIR] [--keep]" >&2; exit 2 ;;
    esac
done
[ -n "$build" ] && [ -x "$fixture" ] || { echo "install_test: --build and --fixture are needed" >&2; exit 2; }

work=$(mktemp -d /tmp/vela-install.XXXXXX)
root=$work/root
mkdir -p "$root" "$work/ld" "$work/home" "$work/xdg" "$work/elsewhere"
chmod 700 "$work/xdg"

# Programs started from the temporary root (the detached Linkhub) are
# ended by their process id.
stop_started() {
    local exe pid
    for exe in /proc/[0-9]*/exe; do
        pid=${exe#/proc/}; pid=${pid%/exe}
        case "$(readlink "$exe" 2>/dev/null)" in "$root"/*) kill "$pid" 2>/dev/null || true ;; esac
    done
}
cleanup() {
    stop_started
    if [ "$keep" = 1 ]; then echo "install_test: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "PASS: $*"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }

# --- Install -----------------------------------------------------------------
packages="libvelacore1 libvelacore-dev vela vela-standins"
if [ -n "$debs" ]; then
    prefix=/usr
    for package in $packages; do
        deb=$(ls "$debs"/"${package}"_*.deb 2>/dev/null | head -n1 || true)
        [ -n "$deb" ] || { fail "package $package in $debs"; exit 1; }
        dpkg-deb -x "$deb" "$root"
        echo "unpacked $(basename "$deb")"
    done
else
    prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:[A-Z]*=//p' "$build/CMakeCache.txt")
    components="corelib coredev vela standins"
    for component in $components; do
        DESTDIR=$root cmake --install "$build" --component "$component" >"$work/install-$component.log"
    done
    echo "installed the components $components into $root$prefix"
fi
usr=$root$prefix

# --- Layout ------------------------------------------------------------------
appdir=""
for program in velahost dbupdate Linkhub velasim; do
    link=$usr/bin/$program
    target=$(readlink -f "$link" 2>/dev/null || true)
    if [ -L "$link" ] && [[ "$(readlink "$link")" != /* ]] && [ -x "$target" ]; then
        [ -n "$appdir" ] || appdir=$(dirname "$target")
        check "$program on the PATH is a relative link into the application folder" \
            test "$(dirname "$target")" = "$appdir"
    else
        fail "$program on the PATH: $link -> ${target:-nothing}"
    fi
done
[ -n "$appdir" ] || { echo "no application folder; giving up"; exit 1; }
plugin=$appdir/instruments/libInstrVela.so
check "plug-in in the application folder's plug-in folder" test -f "$plugin"
check "host framework library in the application folder" test -f "$appdir/libtqcore.so"
libcore=$(ls "$usr"/lib/*/libvelacore.so.1 "$usr"/lib/libvelacore.so.1 2>/dev/null | head -n1 || true)
check "core library with its soname in the library folder" test -n "$libcore"
check "core's development link" test -L "$(dirname "${libcore:-/nonexistent}")/libvelacore.so"
check "core's public headers" test -f "$usr/include/vela/core/profile.h" -a -f "$usr/include/vela/core/core_global.h"
if [ -n "$core_headers" ]; then
    expected=$(tr ':' '\n' <<<"$core_headers" | xargs -n1 basename | sort | tr '\n' ' ')
    installed=$(cd "$usr/include/vela/core" 2>/dev/null && ls | sort | tr '\n' ' ')
    check "core's installed headers are exactly its public ones (installed: $installed)" \
        test "$installed" = "$expected"
fi
check "core's package config" test -f "$(dirname "${libcore:-/nonexistent}")/cmake/core/coreConfig.cmake"

# Each command on the PATH has its manual page, compressed, in section 1,
# and man shows it with the command's summary.
for program in velahost dbupdate Linkhub velasim; do
    check "manual page of $program" test -f "$usr/share/man/man1/$program.1.gz"
    check "man $program shows its page" \
        grep -qE "^ +$program - [a-z]" <(MANWIDTH=80 LC_ALL=C man -M "$usr/share/man" -P cat "$program" 2>&1)
done

# What installing vela brings of this project's packages (itself and its
# dependencies among them) holds no header; libvelacore-dev holds them.
if [ -n "$debs" ]; then
    deb_of() { ls "$debs"/"$1"_*.deb 2>/dev/null | head -n1; }
    brought=(vela) i=0
    while [ "$i" -lt "${#brought[@]}" ]; do
        for dep in $(dpkg-deb --field "$(deb_of "${brought[$i]}")" Depends | tr ',|' '\n\n' | awk '{print $1}'); do
            [[ " $packages " == *" $dep "* && " ${brought[*]} " != *" $dep "* ]] && brought+=("$dep")
        done
        i=$((i + 1))
    done
    headers=$(for p in "${brought[@]}"; do dpkg-deb -c "$(deb_of "$p")"; done | grep -c '/usr/include/.*\.h$' || true)
    check "installing vela (${brought[*]}) brings no header (found $headers)" test "$headers" = 0
    check "installing vela brings the runtime library" grep -qw libvelacore1 <<<"${brought[*]}"
    check "libvelacore-dev holds core's headers" \
        grep -q '/usr/include/vela/core/profile\.h$' <(dpkg-deb -c "$(deb_of libvelacore-dev)")
fi

# Every translation the build made lies at the same place below the
# application folder as below the build's bin folder.
while IFS= read -r -d '' qm; do
    check "translation ${qm#"$build/bin/"} installed" test -f "$appdir/${qm#"$build/bin/"}"
done < <(find "$build/bin" -name '*.qm' -print0)

# RUNPATHs: all relative to the file itself, so the tree works wherever it
# is unpacked; none leads back into the build.
failures_before=$failures elf_files=0
while IFS= read -r -d '' file; do
    [ "$(head -c4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
    elf_files=$((elf_files + 1))
    runpath=$(readelf -d "$file" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]/\2/p')
    for entry in ${runpath//:/ }; do
        case "$entry" in
            '$ORIGIN'|'$ORIGIN/'*) ;;
            *) fail "RUNPATH of ${file#"$root"} holds $entry" ;;
        esac
    done
done < <(find "$root" -type f -print0)
[ "$failures" != "$failures_before" ] || pass "RUNPATHs of all $elf_files installed binaries are relative to \$ORIGIN"

# --- Run with the build out of sight ----------------------------------------
# Source and build folders are covered by empty mounts in a mount namespace
# of the run's own, where the system allows it.
hide=("$build" "$src")
can_hide=0
if unshare --mount --propagation private -- mount -t tmpfs -o size=64k vela-hidden "$work/elsewhere" 2>/dev/null; then
    can_hide=1
else
    echo "NOTE: no mount namespace here; the loader logs alone show what was used"
fi
hidden() {
    if [ "$can_hide" = 1 ]; then
        unshare --mount --propagation private -- bash -c '
            for d in "${@:2:$1}"; do mount -t tmpfs -o size=64k,mode=755 vela-hidden "$d" || exit 97; done
            shift $(($1 + 1)); exec "$@"' _ "${#hide[@]}" "${hide[@]}" "$@"
    else
        "$@"
    fi
}
if [ "$can_hide" = 1 ]; then
    check "source and build folders are empty inside the run's namespace" \
        test -z "$(hidden find "$build" "$src" -mindepth 1 -print -quit 2>/dev/null)"
fi

# A bare environment: the installed commands first on the PATH, nothing of
# the build. The port, semaphore key and idle time of Linkhub are the test's
# own, so that it runs beside other tests; LD_DEBUG logs every loaded object.
bare() {
    local log=$1; shift
    hidden env -i PATH="$usr/bin:/usr/bin:/bin" HOME="$work/home" XDG_RUNTIME_DIR="$work/xdg" LANG=C.UTF-8 \
        QT_QPA_PLATFORM=offscreen VELA_LINKHUB_PORT="$hub_port" VELA_LINKHUB_KEY="vela-install-$$" \
        VELA_LINKHUB_IDLE=500 LD_DEBUG=libs LD_DEBUG_OUTPUT="$work/ld/$log" "$@"
}
hub_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

cd "$work/elsewhere"
for program in velasim Linkhub; do
    check "$program starts from the PATH and prints its usage" \
        grep -q "^Usage: $program" <(bare "help-$program" "$program" --help 2>&1)
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
for program in velahost dbupdate Linkhub velasim; do
    check "$program --version prints \"$program $version\"" \
        test "$(bare "version-$program" "$program" --version 2>/dev/null)" = "$program $version"
done
bare info velahost info --data "$work/data" >"$work/info.out" 2>&1 || true
check "velahost info loads the installed plug-in" grep -qxF "Plug-in:    $plugin" "$work/info.out"

cat >"$work/list.csv" <<'EOF'
sample,position,assay,dilution,method
I-1,A1,PT,1/1,
I-1,A1,APTT,1/1,
EOF
status=0
bare run velahost run --data "$work/data" --worklist "$work/list.csv" --speed 300 \
    --json "$work/results.json" >"$work/run.out" 2>&1 || status=$?
check "velahost run ends with exit code 0 (was $status)" test "$status" = 0
check "velahost run: every assay has a result" grep -qF "Summary: 2 of 2 assays with a result" "$work/run.out"
check "velahost run: the host's start-up upgrade ran the installed dbupdate" grep -qF "dbupdate: exit code 0" "$work/run.out"

"$fixture" "$work/install" 1 1
cd "$work/install"
status=0
bare dbupdate dbupdate dbupdate.log >"$work/dbupdate.out" 2>&1 || status=$?
check "dbupdate ends with exit code 0 (was $status)" test "$status" = 0
check "profile.db upgraded to version 3" test "$(sqlite3 profile.db 'select version from version')" = 3
check "data.db upgraded to version 2" test "$(sqlite3 data.db 'select version from version')" = 2
check "data.db keeps its patients" test "$(sqlite3 data.db 'select count(*) from patient')" = 2
cd "$work"

# What the loader loaded: each process's program and the objects it
# initialised ("calling init:"), from the logs of all runs above.
loaded() { # program-name -> the objects loaded by processes of that program
    local log
    for log in "$work"/ld/*; do
        grep -qE "initialize program: (.*/)?$1\$" "$log" 2>/dev/null || continue
        sed -n 's/.*calling init: //p' "$log"
    done | xargs -r realpath -sm | sort -u
}
check "the plug-in was loaded from the installation" grep -qxF "$plugin" <(loaded velahost)
check "velahost used the installed libraries" \
    test "$(grep -cxF -e "$appdir/libtqcore.so" -e "$libcore" <(loaded velahost))" = 2
check "the driver started the installed Linkhub" grep -rqx ".*initialize program: $appdir/Linkhub" "$work"/ld
check "Linkhub used the installed core" grep -qxF "$libcore" <(loaded Linkhub)
check "the host ran the installed dbupdate" grep -rqx ".*initialize program: $appdir/dbupdate" "$work"/ld
if grep -rlF -e "$build" -e "$src" "$work"/ld >/dev/null; then
    fail "the runs touched the source or build folder: $(grep -rhF -e "$build" -e "$src" "$work"/ld | head -n3)"
else
    pass "no loaded object from the source or build folder"
fi

# --- A host application built against the installed core --------------------
status=0
{ cmake -S "$src/tests/install/consumer" -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$usr" && cmake --build "$work/consumer"; } >"$work/consumer.log" 2>&1 || status=$?
check "consumer project configures and builds with find_package(core), each installed header on its own" \
    test "$status" = 0
if [ "$status" = 0 ]; then
    check "consumer compiled against the installed headers" grep -qF "$usr/include/vela" "$work/consumer/build.ninja"
    bare consumer "$work/consumer/core_consumer" >"$work/consumer.out" 2>&1 || true
    check "consumer runs on the installed core" grep -q "^fraction 0.25 crc16 [0-9a-f]* not clotted 999.9$" "$work/consumer.out"
    check "consumer loaded the installed core" grep -qxF "$libcore" <(loaded core_consumer)
else
    tail -n 20 "$work/consumer.log"
fi

if [ "$failures" -gt 0 ]; then
    for out in info run dbupdate consumer; do
        [ -f "$work/$out.out" ] && { echo "--- $out output"; tail -n 20 "$work/$out.out"; }
    done
    echo "install_test: $failures check(s) failed"
    exit 1
fi
echo "install_test: all checks passed"
