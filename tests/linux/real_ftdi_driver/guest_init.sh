#!/bin/busybox sh
# The guest's init: runs line-transmitter on the kernel's own FTDI driver
# (usbserial, ftdi_sio) against QEMU's emulated FTDI chips. What only the
# host can do (plug, unplug, note where its logs stand) it asks for with
# "HOST-DO ..." on the console, then waits for the reply on ttyS1. Each case
# prints "CASE name exit=N" and its standard error as "ERR name: ..."; the
# host judges them with what the chips received and were set to.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
echo 1 > /proc/sys/kernel/printk
echo 'root:x:0:0::/:/bin/sh' > /etc/passwd
echo 'user:x:1000:1000::/tmp:/bin/sh' >> /etc/passwd
echo 'root:x:0:' > /etc/group
trap '' PIPE
stty -F /dev/ttyS1 raw -echo

host() {
    echo "HOST-DO $*"
    read -r reply < /dev/ttyS1
}

# waitFor PORT [gone]: until the port has appeared, or gone.
waitFor() {
    for _ in $(seq 100); do
        if [ -e "/sys/bus/usb-serial/devices/$1" ]; then
            [ "$2" = gone ] || return 0
        else
            [ "$2" = gone ] && return 0
        fi
        sleep 0.1
    done
    echo "GUEST-FAIL $1 never ${2:-came}"
}

# plug ID DEVICE PORT: the host plugs device ID in, and it becomes PORT.
plug() {
    host monitor "device_add $2,id=$1,chardev=$1,bus=xhci.0"
    waitFor "$3"
}

# run NAME FUNCTION: the function's exit status and standard error.
run() {
    "$2" 2> /tmp/errors
    echo "CASE $1 exit=$?"
    sed "s/^/ERR $1: /" /tmp/errors
    host mark "$1"
}

sendAB() { printf 'AB\n' | line-transmitter; }
example() { printf 'AB\nQ\033\nZZ\n' | line-transmitter; }
longLine() { { head -c 5000 /dev/zero | tr '\0' L; echo; } | line-transmitter; }
asNobody() { printf 'AB\n' | su -s /bin/sh user -c line-transmitter; }
held() {
    mkfifo /tmp/hold
    line-transmitter < /tmp/hold 2> /dev/null &
    holder=$!
    exec 3> /tmp/hold
    sleep 1
    sendAB
    status=$?
    exec 3>&-
    wait $holder
    return $status
}
unplugged() {
    mkfifo /tmp/input
    line-transmitter < /tmp/input &
    sender=$!
    exec 4> /tmp/input
    echo one >&4
    sleep 1
    host monitor "device_del fa"
    waitFor ttyUSB2 gone
    echo two >&4
    sleep 1
    echo three >&4 2> /dev/null
    exec 4>&-
    wait $sender
}

modprobe xhci-pci
# QEMU's braille display (0403:fe72) on the generic driver: another
# usb-serial driver's ttyUSB0, beside the FTDI ports to come.
modprobe usbserial vendor=0x0403 product=0xfe72
waitFor ttyUSB0
plug b1 usb-braille ttyUSB1
host mark start
run no-driver sendAB
modprobe ftdi_sio
run no-converter sendAB
plug fa usb-serial ttyUSB2
for n in 3 4 5 6 7 8 9; do
    plug "b$n" usb-braille "ttyUSB$n"
done
plug fb usb-serial ttyUSB10
host monitor "info usb"  # which USB address QEMU's trace gives each chip
host mark plugged
run example example
# From ports left at other settings: the chip must end at 19200 7E1, no flow control.
for dirt in 57600 "cs8 cstopb -parenb" crtscts "ixon ixoff" "parenb parodd cmspar" \
            "parenb -parodd cmspar"; do
    name=$(echo "$dirt" | tr ' ' _)
    stty -F /dev/ttyUSB2 $dirt
    host mark "dirt-$name"
    run "from-$name" sendAB
done
run long-line longLine
run held held
run no-permission asNobody
run unplugged unplugged
host done
poweroff -f
