#!/usr/bin/env bash
# Pacing by composition: the real program keeps the pace of its input,
# because it reads a line only once the one before was handed over. A
# pseudo-terminal stands in for /dev/ttyUSB0 (a private mount namespace, as
# in bench/pty_throughput.sh; needs root) and its far end timestamps each
# line's arrival, for the two pipelines the README shows:
#
#   pv -qL 200 lines | PROGRAM                                  a byte rate
#   awk '{ print; fflush(); system("sleep 0.1") }' lines | PROGRAM   a pause a line
#
# each with 100 lines of 20 bytes (19 characters and the line feed).
#
#   bench/pacing.sh PROGRAM
#
# Figures only for runs that happened and delivered every byte: where the
# stand-in cannot be set up, pv or python3 is missing, a stage of the
# pipeline fails, or a byte is missing or changed at the far end, it says
# so and exits 1.
set -euo pipefail
fail() { echo "pacing.sh: $*; no figure" >&2; exit 1; }
[ $# -eq 1 ] || fail "usage: bench/pacing.sh PROGRAM"
command -v python3 > /dev/null ||
    fail "it needs python3 (Debian package python3; scripts/install-build-deps installs it)"
command -v pv > /dev/null ||
    fail "it needs pv (Debian package pv; scripts/install-build-deps installs it)"
program=$(type -P "$1") || fail "$1: no such program"
program=$(realpath "$program")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
awk 'BEGIN { for (i = 1; i <= 100; i++) printf "line %03d of 100 ...\n", i }' > "$scratch/input"
python3 - "$program" "$scratch" "$(realpath "$(dirname "$0")")" <<'PY'
import hashlib, os, pty, select, statistics, subprocess, sys, threading, time
program, scratch, here = sys.argv[1:4]

def fail(why):
    print(f"pacing.sh: {why}; no figure", file=sys.stderr)
    sys.exit(1)

near, far = pty.openpty()
farPath = os.ttyname(far)
with open(scratch + "/input", "rb") as given:
    expected = given.read()
lineCount = expected.count(b"\n")

def run(pipeline):
    """The pipeline's arrivals: the time (s) at which each line feed reached the far end."""
    for leftover in ("set-up", "su", "sw", "du", "dw", "port"):
        subprocess.run(["rm", "-rf", os.path.join(scratch, leftover)], check=True)
    chunks = []
    stop = threading.Event()
    def read():
        while not stop.is_set():
            if select.select([near], [], [], 0.01)[0]:
                chunk = os.read(near, 65536)
                chunks.append((time.time(), chunk))
    reader = threading.Thread(target=read)
    reader.start()
    try:
        # The pty as /dev/ttyUSB0 (scripts/pty-as-port), then the pipeline, whose
        # every stage must exit 0.
        command = ('date +%s.%N > "$2/started"; set -o pipefail; '
                   'PATH=$(dirname "$1"):$PATH; eval "$3"')
        child = subprocess.run(["unshare", "-m", here + "/../scripts/pty-as-port", farPath,
                                scratch, command, program, scratch, pipeline],
                               stderr=subprocess.PIPE, cwd=scratch)
    except OSError as error:
        stop.set(); reader.join()
        fail(f"cannot run unshare ({error.strerror}); it is in the package util-linux")
    # What the pty still holds reaches the reader within moments.
    waited = time.monotonic()
    while sum(len(c) for _, c in chunks) < len(expected) and time.monotonic() - waited < 2:
        time.sleep(0.05)
    stop.set()
    reader.join()
    said = child.stderr.decode(errors="replace").strip()
    if not os.path.exists(scratch + "/set-up"):
        fail("the pseudo-terminal could not stand in for /dev/ttyUSB0 "
             f"(exit {child.returncode}{': ' + said if said else ''}); "
             "it needs root, and a system where unshare -m can make a private mount namespace")
    if child.returncode != 0:
        fail(f"{pipeline} failed (exit {child.returncode}{': ' + said if said else ''})")
    received = b"".join(c for _, c in chunks)
    if received != expected:
        fail(f"{pipeline} exited 0, but the far end received {len(received):,} bytes of the "
             f"{len(expected):,} given{'' if len(received) != len(expected) else ', not the same bytes'}")
    with open(scratch + "/started") as started:
        start = float(started.read())
    arrivals = []
    for when, chunk in chunks:
        arrivals += [when - start] * chunk.count(b"\n")
    return arrivals

def report(pipeline, arrivals):
    gaps = [(b - a) * 1000 for a, b in zip(arrivals, arrivals[1:])]
    median = statistics.median(gaps)
    print(f"{pipeline}\n  every byte of {lineCount} lines of 20 bytes received; the first line "
          f"{arrivals[0] * 1000:.0f} ms after the pipeline started, the last "
          f"{arrivals[-1] - arrivals[0]:.2f} s after the first\n"
          f"  gaps between arrivals {min(gaps):.0f} to {max(gaps):.0f} ms, median {median:.0f} ms, "
          f"{sum(g < median / 2 for g in gaps)} under half the median; the first five "
          f"{', '.join(f'{g:.0f}' for g in gaps[:5])} ms")

for pipeline in ['pv -qL 200 input | line-transmitter',
                 '''awk '{ print; fflush(); system("sleep 0.1") }' input | line-transmitter''']:
    shown = pipeline.replace("line-transmitter", os.path.basename(program))
    report(shown, run(shown))
PY
