#!/bin/sh
# Makes the pseudo-terminal PTY stand in for the FTDI driver's /dev/ttyUSB0
# in this mount namespace alone (overlays on /sys/bus and /dev; root only),
# marks SCRATCH/set-up, then runs bash's COMMAND with the arguments after it
# as $1, $2, ...: for the benchmarks that run the real program on a pty.
#
#   unshare -m bench/pty_as_port.sh PTY SCRATCH COMMAND [ARGUMENT...]
set -e
pty=$1 scratch=$2 command=$3
shift 3
mount --make-rprivate /
mkdir -p "$scratch/su" "$scratch/sw" "$scratch/du" "$scratch/dw"
: > "$scratch/port"
mount --bind "$pty" "$scratch/port"
mount -t overlay overlay -o "lowerdir=/sys/bus,upperdir=$scratch/su,workdir=$scratch/sw" /sys/bus
mkdir -p /sys/bus/usb-serial/drivers/ftdi_sio
: > /sys/bus/usb-serial/drivers/ftdi_sio/ttyUSB0
mount -t overlay overlay -o "lowerdir=/dev,upperdir=$scratch/du,workdir=$scratch/dw" /dev
: > /dev/ttyUSB0
mount --bind "$scratch/port" /dev/ttyUSB0
: > "$scratch/set-up"
exec bash -c "$command" pty_as_port "$@"
