#!/usr/bin/env bash
# The real program through a pseudo-terminal standing in for /dev/ttyUSB0
# (a private mount namespace, as the end-to-end tests make it; needs root):
# how many times the wire rate it sends lines at.
#
#   bench/pty_throughput.sh PROGRAM [MEGABYTES] [LINE_LENGTH]    (default: 20 80)
#
# A figure only for a run that happened and delivered every byte: where the
# stand-in cannot be set up, the program fails, or bytes are missing or
# changed at the far end, it says so and exits 1.
set -euo pipefail
fail() { echo "pty_throughput.sh: $*; no figure" >&2; exit 1; }
[ $# -ge 1 ] || fail "usage: bench/pty_throughput.sh PROGRAM [MEGABYTES] [LINE_LENGTH]"
command -v python3 > /dev/null ||
    fail "it needs python3 (Debian package python3; scripts/install-build-deps installs it)"
program=$(type -P "$1") || fail "$1: no such program"
program=$(realpath "$program") megabytes=${2:-20} length=${3:-80}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
awk -v lines=$((megabytes * 1048576 / (length + 1))) -v width="$length" \
    'BEGIN { line = sprintf("%0" width "d", 0); for (i = 0; i < lines; i++) print line }' \
    > "$scratch/input"
python3 - "$program" "$scratch" "$length" "$(realpath "$(dirname "$0")")" <<'PY'
import hashlib, os, pty, select, subprocess, sys, threading, time
program, scratch, length, here = sys.argv[1:5]

def fail(why):
    print(f"pty_throughput.sh: {why}; no figure", file=sys.stderr)
    sys.exit(1)

near, far = pty.openpty()
farPath = os.ttyname(far)
# the far end stays open here too, so the line stays up between opens
with open(scratch + "/input", "rb") as given:
    expected = hashlib.md5(given.read()).hexdigest()
size = os.path.getsize(scratch + "/input")
if size == 0:
    fail("no input: give at least 1 MB")

# The near end's reader takes the bytes as fast as the pty hands them over,
# and keeps what it needs to judge them: their count and digest.
received = 0
digest = hashlib.md5()
lastByteAt = None
stop = threading.Event()
def read():
    global received, lastByteAt
    while not stop.is_set():
        if select.select([near], [], [], 0.1)[0]:
            chunk = os.read(near, 65536)
            received += len(chunk)
            digest.update(chunk)
            lastByteAt = time.monotonic()
reader = threading.Thread(target=read)
reader.start()
started = time.monotonic()
try:
    child = subprocess.run(["unshare", "-m", here + "/../scripts/pty-as-port", farPath, scratch,
                            'exec "$1" < "$2/input"', program, scratch], stderr=subprocess.PIPE)
except OSError as error:
    stop.set(); reader.join()
    fail(f"cannot run unshare ({error.strerror}); it is in the package util-linux")
# What the pty still holds reaches the reader within moments; a run that
# fell short has no more to come.
waited = time.monotonic()
while received < size and time.monotonic() - waited < 2:
    time.sleep(0.05)
stop.set()
reader.join()
said = child.stderr.decode(errors="replace").strip()
if not os.path.exists(scratch + "/set-up"):
    fail("the pseudo-terminal could not stand in for /dev/ttyUSB0 "
         f"(exit {child.returncode}{': ' + said if said else ''}); "
         "it needs root, and a system where unshare -m can make a private mount namespace")
if child.returncode != 0:
    fail(f"{program} failed (exit {child.returncode}{': ' + said if said else ''})")
if received != size or digest.hexdigest() != expected:
    fail(f"{program} exited 0, but the far end received {received:,} bytes of the {size:,} "
         f"given{'' if received != size else ', not the same bytes'}")
seconds = lastByteAt - started
wire = 19200 / 10
print(f"{size / 1048576:.0f} MiB of {length}-character lines through a pty in {seconds:.2f} s, "
      f"every byte received: {size / seconds / 1e6:.1f} MB/s, "
      f"{size / seconds / wire:,.0f} times the wire rate")
PY
