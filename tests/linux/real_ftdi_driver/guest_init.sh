#!/bin/busybox sh
# The guest's init: runs line-transmitter on the kernel's own FTDI driver
# (usbserial, ftdi_sio) against QEMU's emulated FTDI chips. What only the
# host can do (plug, unplug, note where its logs stand) it asks for with
# "HOST-DO ..." on the console, then waits for the reply on its reply port.
# Each case prints "CASE name exit=N" and its standard error as "ERR name:
# ..."; the host judges them with what the chips received and were set to.
# Last, a 16550 UART whose far end the host paces stands in for converter 0:
# a real kernel tty whose bytes take time to leave, and a timed case ("TIME
# name hundredths") for each way its drain ends.
#
# The kernel's command line names the reply port (reply_port), the UART
# (paced_uart) and which groups of cases run besides the USB ones
# (case_set: uart, the UART's timed cases; long-drain, one that needs the
# guest's pages larger than the host's).
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
echo 1 > /proc/sys/kernel/printk
echo 'root:x:0:0::/:/bin/sh' > /etc/passwd
echo 'alice:x:1000:1000::/tmp:/bin/sh' >> /etc/passwd
echo 'root:x:0:' > /etc/group
trap '' PIPE
replies=/dev/${reply_port:-ttyS1}
stty -F "$replies" raw -echo

host() {
    echo "HOST-DO $*"
    read -r reply < "$replies"
}
# As host, the request written in two pieces with a pause between, as a
# busy console may deliver it: the host must act on the whole line only.
hostInTwoPieces() {
    printf 'HOST-DO %s' "$1"
    sleep 1
    echo "$2"
    read -r reply < "$replies"
}

# waitFor PORT [gone]: until the port has appeared, or gone; a minute at
# most, which a busy host's slow guest never needs.
waitFor() {
    for _ in $(seq 600); do
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

# run NAME FUNCTION [PREFIX]: the function's exit status and standard error;
# with PREFIX, the mark's request goes in two pieces, split after it.
run() {
    "$2" 2> /tmp/errors
    echo "CASE $1 exit=$?"
    sed "s/^/ERR $1: /" /tmp/errors
    if [ -n "$3" ]; then
        hostInTwoPieces "mark $3" "${1#"$3"}"
    else
        host mark "$1"
    fi
}

# The hundredths of a second since boot.
hundredths() {
    read -r up _ < /proc/uptime
    echo "${up%.*}${up#*.}"
}

# timed NAME FUNCTION: as run, with the time that slowPort took; then the
# UART's far end takes what is left, so that the mark holds all that came out.
timed() {
    "$2" 2> /tmp/errors
    status=$?
    echo "CASE $1 exit=$status"
    echo "TIME $1 $(cat /tmp/took)"
    sed "s/^/ERR $1: /" /tmp/errors
    host settle
    host mark "$1"
}

# lines COUNT: COUNT lines of 80 bytes, each its number in 79 digits.
lines() {
    i=0
    while [ $i -lt "$1" ]; do
        printf '%079d\n' $i
        i=$((i + 1))
    done
}

# slowPort WRITTEN [SIGNAL DELAY]...: the program on the UART, its input
# standard input. Its times, in /tmp/took, run to its end from the moment
# it has written WRITTEN bytes, the input or what the port takes of it, and
# from the last SIGNAL; "none" if it ended before. What a case times comes
# after that moment, and a busy host, which stretches the guest's start-up,
# does not move it. Each SIGNAL goes DELAY after the one before, the first
# after that moment; a signal that finds the program gone leaves no time.
# A stuck program must not hold up the rest: 45 s is past every wait it has.
# It runs in the foreground: started with "&", it would begin with SIGINT
# ignored, as a shell's background job does.
slowPort() {
    rm -f /tmp/sender /tmp/wrote /tmp/signalled
    afterWriting "$@" &
    watcher=$!
    sh -c 'echo $$ > /tmp/sender; exec timeout -s KILL 45 line-transmitter'
    status=$?
    end=$(hundredths)
    wait $watcher
    echo "$(since /tmp/wrote) $(since /tmp/signalled)" > /tmp/took
    return $status
}
since() { if [ -s "$1" ]; then echo $((end - $(cat "$1"))); else echo none; fi; }
# afterWriting WRITTEN [SIGNAL DELAY]...: for slowPort, by the count of
# bytes written in /proc/PID/io, which goes on across the exec from sh.
afterWriting() {
    while [ ! -s /tmp/sender ]; do sleep 0.01; done
    sender=$(cat /tmp/sender)
    wrote=0
    while [ "$wrote" -lt "$1" ]; do
        sleep 0.01
        [ -r "/proc/$sender/io" ] || return
        while read -r key value; do
            [ "$key" = wchar: ] && wrote=$value
        done < "/proc/$sender/io"
    done
    hundredths > /tmp/wrote
    shift
    while [ $# -ge 2 ]; do
        sleep "$2"
        rm -f /tmp/signalled
        kill -"$1" "$sender" || return
        hundredths > /tmp/signalled
        shift 2
    done
}
# Each input is made before the program starts: made as the program reads
# it, a busy guest's feeder would be what the program waits for.
drainDeadline() {
    lines 75 > /tmp/lines
    slowPort 6000 < /tmp/lines
}
# 102 lines and part of the 103rd fill the tty's queue and QEMU.
writeStall() {
    lines 130 > /tmp/lines
    slowPort 8000 < /tmp/lines
}
# Two requests, of two kinds, once the input has ended: neither is heeded.
signalInLastDrain() {
    lines 100 > /tmp/lines
    slowPort 8000 TERM 0.5 HUP 0.3 < /tmp/lines
}
# The input stays open past both requests, however slowly the program starts.
secondSignal() {
    lines 100 > /tmp/lines
    { cat /tmp/lines; sleep 5; } | slowPort 8000 INT 0.3 TERM 0.5
}
# QEMU's pipe to the far end takes bytes only into an empty page, so the
# tty's queue shrinks a host page at a time. Where the guest's page, which
# bounds that queue, is 64 KiB, 512 lines leave 36847 bytes queued, beyond
# the 4113 that QEMU holds: the queue shrinks 9 times before it is empty.
longDrain() {
    lines 512 > /tmp/lines
    slowPort 40960 < /tmp/lines
}

sendAB() { printf 'AB\n' | line-transmitter; }
example() { printf 'AB\nQ\033\nZZ\n' | line-transmitter; }
longLine() { { head -c 5000 /dev/zero | tr '\0' L; echo; } | line-transmitter; }
asAlice() { printf 'AB\n' | su -s /bin/sh alice -c line-transmitter; }
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
# 1000 lines of 100 bytes, then the unplug: the resend point then depends
# on the kernel's page size.
unplugged() {
    mkfifo /tmp/input
    line-transmitter < /tmp/input &
    sender=$!
    exec 4> /tmp/input
    awk 'BEGIN { for (i = 1; i <= 1000; ++i) printf "%099d\n", i }' >&4
    host arrived fa 100000  # so all of them were handed over, however busy the machine
    host monitor "device_del fa"
    waitFor ttyUSB2 gone
    echo two >&4
    sleep 1
    echo three >&4 2> /dev/null
    exec 4>&-
    wait $sender
}

# The page size of the running kernel, which the driver's bound follows; on
# a line of its own, whatever the kernel's last message left unended.
echo
kibibytes=$(sed -n 's/^KernelPageSize: *\([0-9]*\) kB$/\1/p' /proc/self/smaps | head -n 1)
echo "PAGE-SIZE $((kibibytes * 1024))"
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
# Its mark asked for in two pieces: the host must wait for the whole line.
run example example exa
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
run no-permission asAlice
run unplugged unplugged
wanted() { case ",$case_set," in *",$1,"*) true ;; *) false ;; esac; }

# The UART as converter 0: its node where the program opens ttyUSB0, its
# entry alone where the program looks for the FTDI driver's ports, beside
# the files that folder always holds.
ftdi=/sys/bus/usb-serial/drivers/ftdi_sio
mount -t tmpfs uart-as-ftdi "$ftdi"
touch "$ftdi/bind" "$ftdi/unbind" "$ftdi/uevent" "$ftdi/new_id" "$ftdi/remove_id"
uart=${paced_uart:-ttyS2}
ln -s "/sys/class/tty/$uart" "$ftdi/ttyUSB0"
mount --bind "/dev/$uart" /dev/ttyUSB0
host pace 0
host mark uart
if wanted uart; then
    timed drain-deadline drainDeadline
    host pace 0
    timed write-stall writeStall
    host pace 1920
    timed signal-in-last-drain signalInLastDrain
    host pace 1920
    timed second-signal secondSignal
fi
if wanted long-drain; then
    # At 1881 bytes a second a page leaves every 2.18 s, and the queue is
    # empty at the 9th, 19.6 s after the first byte left: 9.6 s past the
    # 10 s that a queue which does not shrink is allowed, and 9.6 s short of
    # the drain's deadline, 10 s and the queue's wire time (29.2 s).
    host pace 1881
    timed long-drain longDrain
fi
host done
poweroff -f
