#!/usr/bin/env bash
# Records what the driver puts on the wire and compares two recordings, so a
# change inside the driver can be shown to leave the bytes as they were.
#
#   scripts/wirecompare.sh record DIR            # with the build in $VELA_BUILD_DIR (default build/)
#   scripts/wirecompare.sh compare BEFORE AFTER  # exit 0 when the wire is the same
#
# A recording holds:
#   demo.trace      Linkhub's wire trace of "velahost run" on the simulated
#                   analyzer (the demonstration worklist);
#   <test>.log      the driver's own wire trace ("vela.link") while the tests
#                   of the manual test dialog and of the service pages (probe
#                   page, navigate dialog, debug page) poke every button
#                   against their scripted analyzer.
#
# The comparison takes the request lines only. Timestamps go; test ids, which
# are seeded from the clock, become T1, T2 ... in order of first appearance.
# The demonstration run's timing decides how often a running test is asked
# for (32) and where the monitoring polls fall, so for it the comparison is
# made of: the connection lines before the first test, the set of distinct
# request lines, and per test the sequence of its commands with repeats
# folded. The tests' traces are compared per test function as the set of
# distinct request lines (the manual test's poller and the dialog interleave
# as the threads run; the tests themselves check the order they care for).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELA_BUILD_DIR:-$root/build}

normalise() { # kind file
    python3 - "$1" "$2" <<'EOF'
import re, sys
kind, path = sys.argv[1], sys.argv[2]
ids = {}
def tid(m):
    key = m.group(2)
    if key not in ids:
        ids[key] = "T%d" % (len(ids) + 1)
    return m.group(1) + ids[key]
# Commands that carry a test id: 31/32/34/60 at the start, 5E after its
# channel digit.
idpat = re.compile(r'^((?:31|32|34|60)|5E[0-9A-F])([0-9A-F]{8})')
reqs = []
for line in open(path, encoding="latin1"):
    line = line.rstrip("\n")
    if kind == "demo":
        m = re.match(r'^\S+ C> (.*)$', line)
        if m:
            reqs.append(idpat.sub(tid, m.group(1)))
    else:
        m = re.search(r'-> "(.*?)"(?: <- | not sent)', line)
        if m:
            reqs.append(idpat.sub(tid, m.group(1)))
        elif re.match(r'^(PASS|FAIL!|SKIP)\s+:', line):
            reqs.append("## " + line.split(":", 1)[1].strip().split("(")[0])
def folded(seq):
    out = []
    for s in seq:
        if not out or out[-1] != s:
            out.append(s)
    return out
if kind == "demo":
    first = next((i for i, r in enumerate(reqs) if r.startswith("31")), len(reqs))
    print("# connection")
    print("\n".join(reqs[:first]))
    print("# distinct requests")
    print("\n".join(sorted(set(reqs))))
    print("# per test")
    per = {}
    for r in reqs:
        m = re.match(r'^(31|32|34|60)(T\d+)(.*)$', r)
        if m:
            per.setdefault(m.group(2), []).append(m.group(1) + m.group(3))
    for t in sorted(per, key=lambda s: int(s[1:])):
        print(t, " ".join(folded(per[t])))
else:
    # Per test function (its requests come before its PASS line): the
    # distinct requests, sorted, since the manual test's polling thread and
    # the dialog interleave as the threads run.
    section = set()
    for r in reqs:
        if r.startswith("## "):
            print("\n".join(sorted(section)))
            print(r)
            section = set()
        else:
            section.add(r)
    print("\n".join(sorted(section)))
EOF
}

record() {
    local dir=$1
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    export QT_QPA_PLATFORM=offscreen
    if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
        export XDG_RUNTIME_DIR="$build/runtime"
        mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    fi
    # A port and a start key of its own: other Linkhubs may run beside it.
    local port=$((41000 + RANDOM % 2000))
    local data
    data=$(mktemp -d)
    rm -f "$dir/demo.trace"
    VELA_LINKHUB_PORT=$port VELA_LINKHUB_KEY="wirecompare$port" VELA_LINKHUB_TRACE="$dir/demo.trace" \
        VELA_LINKHUB_IDLE=1000 \
        "$build/bin/velahost" run --data "$data" --speed 300 >"$dir/demo.out" 2>&1 || true
    rm -rf "$data"
    local t
    for t in tst_manualtest tst_probepositionpage tst_navigatedialog tst_debugpage; do
        local exe
        exe=$(find "$build" -type f -name "$t" -perm -u+x | head -1)
        QT_LOGGING_RULES="vela.link.debug=true" "$exe" >"$dir/$t.log" 2>&1 || true
    done
}

compare() {
    local before=$1 after=$2 status=0 f
    for f in demo.trace tst_manualtest.log tst_probepositionpage.log tst_navigatedialog.log tst_debugpage.log; do
        local kind=test
        [ "$f" = demo.trace ] && kind=demo
        if diff <(normalise $kind "$before/$f") <(normalise $kind "$after/$f") >/tmp/wirecompare.$$.diff; then
            echo "same: $f ($(normalise $kind "$after/$f" | wc -l) normalised lines)"
        else
            echo "DIFFERENT: $f"
            head -40 /tmp/wirecompare.$$.diff
            status=1
        fi
        rm -f /tmp/wirecompare.$$.diff
    done
    return $status
}

case "${1:-}" in
record) record "${2:?record DIR}" ;;
compare) compare "${2:?compare BEFORE AFTER}" "${3:?compare BEFORE AFTER}" ;;
normalise) normalise "${2:?normalise demo|test FILE}" "${3:?FILE}" ;;
*) sed -n '2,9p' "$0"; exit 2 ;;
esac
