#!/usr/bin/env bash
# The figures in CONTRIBUTING.md: the sender's rate per line length, the program
# end to end beside cat, and the stress runs. A run that fails or does not
# send every byte gives no figure: the reason, and exit 1.
#
#   bench/run-benchmarks.sh [BUILD_DIR]     (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
program=$build/line-transmitter-sim

"$build/bench/transmit_line_bench"

# End to end, into /dev/null, beside cat on the same file: best of three.
input=$(mktemp)
trap 'rm -f "$input"' EXIT
awk 'BEGIN { line = sprintf("%080d", 0); for (i = 0; i < 2500000; i++) print line }' > "$input"
fail() { echo "run-benchmarks.sh: $*; no figure" >&2; exit 1; }
best() {  # best COMMAND...: the fastest of three runs, in ms, each of which must exit 0
    local best=999999 started ended took status
    for _ in 1 2 3; do
        started=$(date +%s%N)
        status=0
        "$@" < "$input" > /dev/null || status=$?
        ended=$(date +%s%N)
        [ "$status" -eq 0 ] || return "$status"
        took=$(( (ended - started) / 1000000 ))
        [ "$took" -lt "$best" ] && best=$took
    done
    echo "$best"
}
# The runs timed go to /dev/null; this one shows that every byte goes out.
[ "$("$program" < "$input" | md5sum)" = "$(md5sum < "$input")" ] ||
    fail "$program did not send every byte of the input as given, or failed"
sim_ms=$(best "$program") || fail "$program failed (exit $?)"
cat_ms=$(best cat) || fail "cat failed (exit $?)"
mb=$(( $(stat -c %s "$input") / 1048576 ))
echo "end to end, $mb MiB of 80-character lines: line-transmitter-sim ${sim_ms} ms, cat ${cat_ms} ms," \
     "ratio $(echo "scale=1; $sim_ms / ($cat_ms + (${cat_ms} == 0))" | bc)"

bench/stress.sh "$program" 100 1024
