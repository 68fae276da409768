# Splits ThreadSanitizer reports into those of the project and those made
# wholly inside Qt: a data race whose two accesses were both made straight
# from a Qt library (the first frame outside the sanitizer's own runtime
# lies in libQt6*), such as memory Qt allocates in one thread and frees or
# moves in another, ordered by a lock inside Qt that the sanitizer cannot
# see. Such reports go to the file named by -v qt=FILE; every other report
# (and any other text) is printed.
function flush() {
    if (report == "")
        return
    if (race && caller[1] ~ /\(libQt6/ && caller[2] ~ /\(libQt6/)
        printf "%s", report >> qt
    else
        printf "%s", report
    report = ""
}
/^==================$/ {
    if (inreport) { report = report $0 "\n"; inreport = 0; flush(); next }
    flush(); inreport = 1; race = 0; stack = 0; delete caller
    report = $0 "\n"; next
}
inreport {
    report = report $0 "\n"
    if ($0 ~ /^WARNING: ThreadSanitizer: data race/) race = 1
    if ($0 ~ /^  (Previous )?(Atomic )?([Rr]ead|[Ww]rite) of size/) stack++
    else if ($0 ~ /^  [A-Z]/) stack = 99   # thread, mutex or location stacks
    if (stack >= 1 && stack <= 2 && $1 ~ /^#[0-9]+$/ && !(stack in caller) && $0 !~ /\(libtsan\.so/)
        caller[stack] = $0
    next
}
{ printf "%s\n", $0 }
END { flush() }
