#!/usr/bin/env bash
# Stress: one long line and many short lines through the program on the
# simulated converter. Every byte must come out, and peak memory must be
# that of a one-line run, within 1 MiB: the one buffer is all it uses.
#
#   stress.sh PROGRAM [LONG_LINE_MB] [SHORT_LINES_MB]     (defaults: 100 1024)
set -euo pipefail
program=$1 long_mb=${2:-100} short_mb=${3:-1024}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Peak resident set (KiB) of one run; the wire's digest goes to $scratch/digest.
run() {
    /usr/bin/time -f %M -o "$scratch/rss" "$program" < "$1" | md5sum | cut -d' ' -f1 > "$scratch/digest"
    cat "$scratch/rss"
}

check() {  # name input expected-digest baseline-kib
    local started ended rss digest
    started=$(date +%s.%N)
    rss=$(run "$2")
    ended=$(date +%s.%N)
    digest=$(cat "$scratch/digest")
    local seconds mb
    seconds=$(echo "$ended - $started" | bc)
    mb=$(( $(stat -c %s "$2") / 1048576 ))
    printf '%-28s %6s MiB in %6.2f s, peak RSS %6s KiB (one line: %s KiB)\n' \
        "$1" "$mb" "$seconds" "$rss" "$4"
    if [ "$digest" != "$3" ]; then
        echo "FAIL: $1: the wire does not carry every byte" >&2
        exit 1
    fi
    if [ $((rss - $4)) -gt 1024 ]; then
        echo "FAIL: $1: peak memory grew by $((rss - $4)) KiB" >&2
        exit 1
    fi
}

printf 'one line\n' > "$scratch/one-line"
baseline=$(run "$scratch/one-line")

# The long line: no NUL, no ESC, so the wire must be the input itself.
head -c "$((long_mb * 1048576))" /dev/zero | tr '\0' 'x' > "$scratch/long-line"
echo >> "$scratch/long-line"
check "$long_mb MB single line" "$scratch/long-line" "$(md5sum < "$scratch/long-line" | cut -d' ' -f1)" "$baseline"

# Short lines of 0 to 80 characters.
awk -v bytes="$((short_mb * 1048576))" 'BEGIN {
    line = "the quick brown fox jumps over the lazy dog, 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    for (written = 0; written < bytes; n++) { s = substr(line, 1, n % 81); print s; written += length(s) + 1 }
}' > "$scratch/short-lines"
check "$short_mb MB of short lines" "$scratch/short-lines" "$(md5sum < "$scratch/short-lines" | cut -d' ' -f1)" "$baseline"
echo "stress: every byte out, peak memory flat"
