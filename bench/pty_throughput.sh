#!/usr/bin/env bash
# The real program through a pseudo-terminal standing in for /dev/ttyUSB0
# (a private mount namespace, as the end-to-end tests make it; needs root):
# how many times the wire rate it sends lines at.
#
#   bench/pty_throughput.sh PROGRAM [MEGABYTES] [LINE_LENGTH]    (default: 20 80)
set -euo pipefail
command -v python3 > /dev/null ||
    { echo "pty_throughput.sh needs python3 (Debian package python3; scripts/install-build-deps installs it)" >&2; exit 1; }
program=$(realpath "$1") megabytes=${2:-20} length=${3:-80}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
awk -v lines=$((megabytes * 1048576 / (length + 1))) -v width="$length" \
    'BEGIN { line = sprintf("%0" width "d", 0); for (i = 0; i < lines; i++) print line }' \
    > "$scratch/input"
python3 - "$program" "$scratch" "$length" <<'PY'
import os, pty, subprocess, sys, time
program, scratch, length = sys.argv[1:4]
near, far = pty.openpty()
farPath = os.ttyname(far)
# the far end stays open here too, so the line stays up between opens
script = '''set -e
mount --make-rprivate /
mkdir -p "$1/su" "$1/sw" "$1/du" "$1/dw"; : > "$1/port"; mount --bind "$0" "$1/port"
mount -t overlay overlay -o "lowerdir=/sys/bus,upperdir=$1/su,workdir=$1/sw" /sys/bus
mkdir -p /sys/bus/usb-serial/drivers/ftdi_sio; : > /sys/bus/usb-serial/drivers/ftdi_sio/ttyUSB0
mount -t overlay overlay -o "lowerdir=/dev,upperdir=$1/du,workdir=$1/dw" /dev
: > /dev/ttyUSB0; mount --bind "$1/port" /dev/ttyUSB0
exec "$2" < "$1/input"'''
size = os.path.getsize(scratch + "/input")
# cat takes the bytes at the near end as fast as the pty hands them over.
reader = subprocess.Popen(["cat"], stdin=near, stdout=subprocess.DEVNULL)
started = time.monotonic()
child = subprocess.Popen(["unshare", "-m", "sh", "-c", script, farPath, scratch, program])
child.wait()
seconds = time.monotonic() - started
reader.kill()
wire = 19200 / 10
print(f"{size / 1048576:.0f} MiB of {length}-character lines through a pty in {seconds:.2f} s: "
      f"{size / seconds / 1e6:.1f} MB/s, {size / seconds / wire:,.0f} times the wire rate "
      f"(exit {child.returncode})")
PY
