#!/bin/sh
# The stress, pty and pacing scripts give a figure only for a run that exited 0 and
# delivered every byte: a program that fails, drops bytes, or fails after
# sending them all makes them exit non-zero, saying why, with no figure.
#
#   benchmarks_give_no_figure_for_failed_runs.sh SOURCE_FOLDER SIMULATED_PROGRAM
set -eu
source=$1 program=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0

# Stand-ins for a faulty program, each around the real one: its wire less
# the last 100 bytes of a long input, or every byte and then exit 2.
cat > "$scratch/drops-bytes" <<SCRIPT
#!/bin/sh
"$program" > "$scratch/wire"
if [ \$(stat -c %s "$scratch/wire") -gt 1000 ]; then head -c -100 "$scratch/wire"; else cat "$scratch/wire"; fi
SCRIPT
cat > "$scratch/fails-after" <<SCRIPT
#!/bin/sh
"$program" || exit
[ \$(stat -L -c %s /proc/self/fd/0) -gt 1000 ] || exit 0
echo "closing converter 0 failed" >&2
exit 2
SCRIPT
# And one for the pacing script, which writes to the port itself: its input
# less the last byte, raw, to /dev/ttyUSB0 (the pty there when run as root).
cat > "$scratch/drops-a-byte-on-the-port" <<'SCRIPT'
#!/bin/sh
stty raw -echo < /dev/ttyUSB0 && head -c -1 > /dev/ttyUSB0
SCRIPT
chmod +x "$scratch/drops-bytes" "$scratch/fails-after" "$scratch/drops-a-byte-on-the-port"

expect() {  # expect WHAT WORDS-IN-THE-REASON COMMAND...: fails, with that reason, and no figure
    what=$1 reason=$2
    shift 2
    status=0
    "$@" > "$scratch/said" 2>&1 || status=$?
    if [ "$status" -eq 0 ] || ! grep -q -- "$reason" "$scratch/said" ||
       grep -q 'MiB in\|times the wire rate\|gaps between arrivals' "$scratch/said"; then
        echo "FAIL: $what: exit $status, said:"
        cat "$scratch/said"
        failed=1
    fi
}
expect "stress, the program false" "false exited 1" "$source/bench/stress.sh" false 1 1
expect "stress, bytes dropped" "the wire does not carry every byte" \
    "$source/bench/stress.sh" "$scratch/drops-bytes" 1 1
expect "stress, a failure after every byte" "exited 2: closing converter 0 failed" \
    "$source/bench/stress.sh" "$scratch/fails-after" 1 1
# As root the program's own failure; elsewhere the pty cannot be set up.
expect "pty, the program false" "no figure" "$source/bench/pty_throughput.sh" false 1
expect "pacing, the program false" "no figure" "$source/bench/pacing.sh" false
expect "pacing, a byte lost" "no figure" "$source/bench/pacing.sh" "$scratch/drops-a-byte-on-the-port"

# And the real program passes, with its figures.
"$source/bench/stress.sh" "$program" 1 1 > "$scratch/said" 2>&1 && grep -q 'MiB in' "$scratch/said" ||
    { echo "FAIL: stress on the program itself:"; cat "$scratch/said"; failed=1; }
[ "$failed" -eq 0 ] && echo "benchmarks: no figure for a failed run"
