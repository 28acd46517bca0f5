#!/usr/bin/env bash
# The sender's cost as a figure that does not depend on the machine: the
# machine instructions an input byte (valgrind's callgrind counts them) of
# the whole program on the simulated converter, everything but the driver's
# FT_Write, for 1 MB of lines of one length into /dev/null. A figure only
# for a run that exited 0 and sent every byte; otherwise the reason, exit 1.
#
#   bench/instructions_per_byte.sh [SIM_PROGRAM] [LINE_LENGTH]
#       (default: build/default/line-transmitter-sim 80)
set -euo pipefail
fail() { echo "instructions_per_byte.sh: $*; no figure" >&2; exit 1; }
program=${1:-build/default/line-transmitter-sim} length=${2:-80}
command -v valgrind > /dev/null ||
    fail "it needs valgrind and callgrind_annotate (Debian package valgrind)"
[ -x "$program" ] || fail "$program: no such program"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
awk -v lines=$((1048576 / (length + 1))) -v width="$length" \
    'BEGIN { line = sprintf("%0" width "d", 0); for (i = 0; i < lines; i++) print line }' \
    > "$scratch/input"
status=0
valgrind --tool=callgrind --callgrind-out-file="$scratch/counts" "$program" \
    < "$scratch/input" > "$scratch/wire" 2> "$scratch/said" || status=$?
[ "$status" -eq 0 ] || fail "$program exited $status: $(tail -n 3 "$scratch/said")"
cmp -s "$scratch/input" "$scratch/wire" || fail "the wire does not carry every byte as given"
total=$(awk '/^(summary|totals):/ { print $2; exit }' "$scratch/counts")
callgrind_annotate --inclusive=yes "$scratch/counts" > "$scratch/annotated" 2> /dev/null ||
    fail "callgrind_annotate cannot read the counts"
write=$(awk '/[ :]FT_Write[ (]/ && !found { gsub(",", "", $1); print $1; found = 1 }' \
        "$scratch/annotated")
[ -n "$total" ] && [ -n "$write" ] || fail "callgrind's counts name no FT_Write"
bytes=$(stat -c %s "$scratch/input")
echo "$((bytes / (length + 1))) lines of $length characters: $(echo "scale=2; ($total - $write) / $bytes" | bc) instructions an input byte (all but FT_Write's $write of $total)"
