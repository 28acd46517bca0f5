#!/usr/bin/env bash
# Stress: one long line and many short lines through the program on the
# simulated converter. Every byte must come out, the program must exit 0,
# and peak memory must be that of a one-line run, within 1 MiB: the one
# buffer is all it uses. Otherwise no figure: the reason, and exit 1.
#
#   stress.sh PROGRAM [LONG_LINE_MB] [SHORT_LINES_MB]     (defaults: 100 1024)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: bench/stress.sh PROGRAM [LONG_LINE_MB] [SHORT_LINES_MB]" >&2; exit 1; }
program=$1 long_mb=${2:-100} short_mb=${3:-1024}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# One run: the wire's digest, the peak resident set (KiB), the exit status
# and what the program said go to $scratch/{digest,rss,status,said}.
run() {
    { local status=0
      /usr/bin/time -f %M -o "$scratch/rss" "$program" < "$1" 2> "$scratch/said" || status=$?
      echo "$status" > "$scratch/status"; } | md5sum | cut -d' ' -f1 > "$scratch/digest"
}

delivered() {  # name expected-digest: the last run exited 0 and sent every byte as given
    local status
    status=$(cat "$scratch/status")
    [ "$status" -eq 0 ] || fail "$1: $program exited $status: $(head -c 500 "$scratch/said")"
    [ "$(cat "$scratch/digest")" = "$2" ] ||
        fail "$1: $program exited 0, but the wire does not carry every byte exactly as given"
}
peak() {  # of the last run; time puts "Command exited with non-zero status N" before it
    tail -n 1 "$scratch/rss"
}

check() {  # name input expected-digest baseline-kib: a figure only for a run that delivered every byte
    local started ended rss
    started=$(date +%s.%N)
    run "$2"
    ended=$(date +%s.%N)
    delivered "$1" "$3"
    rss=$(peak)
    [ $((rss - $4)) -le 1024 ] || fail "$1: peak memory grew by $((rss - $4)) KiB"
    local seconds mb
    seconds=$(echo "$ended - $started" | bc)
    mb=$(( $(stat -c %s "$2") / 1048576 ))
    printf '%-28s %6s MiB in %6.2f s, peak RSS %6s KiB (one line: %s KiB)\n' \
        "$1" "$mb" "$seconds" "$rss" "$4"
}

printf 'one line\n' > "$scratch/one-line"
run "$scratch/one-line"
delivered "one line" "$(md5sum < "$scratch/one-line" | cut -d' ' -f1)"
baseline=$(peak)

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
