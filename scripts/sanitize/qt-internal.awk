# Splits ThreadSanitizer reports into those of the project and those made
# wholly inside Qt: a data race whose two accesses are both heap calls
# (operator new/delete, malloc, free) made straight from a Qt library, i.e.
# memory Qt allocated in one thread and freed in another, ordered by a lock
# inside Qt that the sanitizer cannot see. Such reports go to the file named
# by -v qt=FILE; every other report (and any other text) is printed.
function heap(fn) { return fn ~ /^(operator (new|delete)|malloc|calloc|realloc|free)/ }
function flush() {
    if (report == "")
        return
    if (race && heap(f0[1]) && m1[1] ~ /libQt6/ && heap(f0[2]) && m1[2] ~ /libQt6/)
        printf "%s", report >> qt
    else
        printf "%s", report
    report = ""
}
/^==================$/ {
    if (inreport) { report = report $0 "\n"; inreport = 0; flush(); next }
    flush(); inreport = 1; race = 0; stack = 0; delete f0; delete m1
    report = $0 "\n"; next
}
inreport {
    report = report $0 "\n"
    if ($0 ~ /^WARNING: ThreadSanitizer: data race/) race = 1
    if ($0 ~ /^  (Previous )?(Atomic )?([Rr]ead|[Ww]rite) of size/) stack++
    else if ($0 ~ /^  [A-Z]/) stack = 99   # thread, mutex or location stacks
    if (stack >= 1 && stack <= 2 && $1 == "#0") f0[stack] = $2 " " $3
    if (stack >= 1 && stack <= 2 && $1 == "#1") m1[stack] = $0
    next
}
{ printf "%s\n", $0 }
END { flush() }
