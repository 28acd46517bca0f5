#!/usr/bin/env bash
# line-transmitter on the kernel's own FTDI driver: boots Debian's kernel in
# QEMU (software emulation, no KVM needed) with emulated FTDI chips and other
# usb-serial devices on an xhci controller, and a 16550 UART whose far end
# the host paces (slow_far_end.pl), runs guest_init.sh there, and judges on
# the host what each chip received (its file chardev) and was set to (QEMU's
# usb_serial trace), and how long the guest's runs took.
#
#   run_in_qemu.sh PROGRAM WORK_FOLDER [ARCHITECTURE]
#
# ARCHITECTURE, Debian's name, is the guest's and PROGRAM's: amd64 (the
# default), arm64, or ppc64el, whose kernel has 64 KiB pages and runs the
# USB cases and, of the UART's, the one that needs such pages. Debian's
# kernel and busybox-static of that architecture are fetched once into
# WORK_FOLDER by apt-get download, never installed.
# Exit 77 (skipped) when they cannot be had, except under CI, where that is
# a failure.
set -euo pipefail
program=$(realpath "$1") work=$2 architecture=${3:-amd64}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
cd "$work"

skip() {
    echo "SKIPPED: $*"
    echo "<CTestLabel>skipped: $*</CTestLabel>"  # CTest's summary shows it without -V
    [ -n "${CI:-}" ] && exit 1
    exit 77
}

# Each guest's machine: its console; a reply port (replies) and the paced
# UART (uart), two 16550s; its cases besides the USB ones; the page size
# of Debian's kernel for it; the emulator (qemu-user) that runs programs of
# that architecture here: the program's loader, for its list of libraries,
# and busybox's depmod and cpio.
case $architecture in
amd64)
    machine=(qemu-system-x86_64 -machine q35 -m 256)
    ports=(-serial file:console.log -chardev pipe,id=reply,path=reply -serial chardev:reply
           -chardev pipe,id=uart,path=uart -serial chardev:uart)
    console=ttyS0 replies=ttyS1 uart=ttyS2 cases=uart guest_page=4096 emulator=() ;;
arm64)
    # The virt board's own UART, a PL011, is the console: QEMU's PL011 has
    # no transmit FIFO and writes each byte with a blocking write, so a far
    # end that takes nothing would stop the whole guest rather than fill the
    # tty's queue. QEMU's PCI 16550s (the kernel's 8250_pci) are the others.
    machine=(qemu-system-aarch64 -machine virt -cpu cortex-a57 -m 256)
    ports=(-serial file:console.log -chardev pipe,id=reply,path=reply
           -chardev pipe,id=uart,path=uart -device pci-serial-2x,chardev1=reply,chardev2=uart)
    console=ttyAMA0 replies=ttyS0 uart=ttyS1 cases=uart guest_page=4096 emulator=(qemu-aarch64) ;;
ppc64el)
    # Without KVM there are no Spectre mitigations to offer: said, not warned of.
    machine=(qemu-system-ppc64 -m 512
             -machine pseries,cap-cfpc=broken,cap-sbbc=broken,cap-ibs=broken,cap-ccf-assist=off)
    ports=(-chardev file,id=console,path=console.log -device spapr-vty,chardev=console
           -chardev pipe,id=reply,path=reply -chardev pipe,id=uart,path=uart
           -device pci-serial-2x,chardev1=reply,chardev2=uart)
    console=hvc0 replies=ttyS0 uart=ttyS1 cases=long-drain guest_page=65536 emulator=(qemu-ppc64le) ;;
*)
    echo "FAIL: no QEMU guest for the architecture $architecture"
    exit 1 ;;
esac
command -v "${machine[0]}" > /dev/null || skip "${machine[0]} is not installed"
[ ${#emulator[@]} -eq 0 ] || command -v "${emulator[0]}" > /dev/null ||
    skip "${emulator[0]} is not installed (Debian: qemu-user)"

# The kernel that linux-image-FLAVOUR depends on, and busybox: of them only
# the kernel, the six modules and busybox are kept.
usb_modules=(usb/common/usb-common usb/core/usbcore usb/host/xhci-hcd usb/host/xhci-pci
             usb/serial/usbserial usb/serial/ftdi_sio)
if [ ! -e packages/kept/done ]; then
    rm -rf packages && mkdir -p packages/unpacked packages/kept/bin
    flavour=$architecture
    [ "$architecture" = ppc64el ] && flavour=powerpc64le
    kernel=$(apt-cache depends "linux-image-$flavour:$architecture" 2> /dev/null |
             awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
    [ -n "$kernel" ] || skip "apt-cache knows no linux-image-$flavour:$architecture" \
        "(run scripts/install-build-deps: dpkg --add-architecture $architecture, apt-get update)"
    kernel=${kernel%:*}
    wanted=("$kernel:$architecture" "busybox-static:$architecture")
    (cd packages && apt-get download "${wanted[@]}" > /dev/null 2>&1) ||
        skip "apt-get download ${wanted[*]} failed"
    for package in packages/*.deb; do
        dpkg-deb -x "$package" packages/unpacked
    done
    # ppc64el's kernel is an uncompressed vmlinux.
    cp packages/unpacked/boot/vmlinu[xz]-* packages/kept/
    cp packages/unpacked/bin/busybox packages/kept/bin/
    for module in "${usb_modules[@]}"; do
        kept=packages/kept/${module%/*}
        mkdir -p "$kept"
        cp packages/unpacked/lib/modules/*/kernel/drivers/$module.ko "$kept/"
    done
    rm -rf packages/unpacked packages/*.deb
    touch packages/kept/done
fi
vmlinuz=$(ls packages/kept/vmlinu[xz]-*)
version=${vmlinuz##*/vmlinu[xz]-}

# The initramfs: busybox, the USB host and serial modules with the
# modules.dep that busybox's depmod makes, the program and its libraries.
rm -rf root && mkdir -p root/bin root/proc root/sys root/dev root/tmp root/etc
cp packages/kept/bin/busybox root/bin/
cp "$here/guest_init.sh" root/init
for module in "${usb_modules[@]}"; do
    mkdir -p "root/lib/modules/$version/kernel/drivers/${module%/*}"
    cp "packages/kept/$module.ko" "root/lib/modules/$version/kernel/drivers/$module.ko"
done
"${emulator[@]}" root/bin/busybox depmod -b root "$version"
cp "$program" root/bin/line-transmitter
# The libraries as the program's own dynamic loader finds them: for another
# architecture, those of Debian's packages of it (libc6:arm64, ...), which
# are what a Debian system of that architecture has.
interpreter=$(readelf -l "$program" | sed -n 's/.*interpreter: \(.*\)]$/\1/p')
[ -e "$interpreter" ] || skip "$interpreter is missing (Debian: libstdc++6:$architecture)"
libraries=$("${emulator[@]}" "$interpreter" --list "$program") ||
    skip "the program's libraries are missing: $libraries (Debian: libstdc++6:$architecture)"
for library in $(grep -o '/[^ ]*' <<< "$libraries"); do
    mkdir -p "root$(dirname "$library")"
    cp -L "$library" "root$library"
done
(cd root && find . | "${emulator[@]}" bin/busybox cpio -o -H newc 2> /dev/null) |
    gzip -1 > initramfs.gz

# Every device's chardev is a file: what that chip received.
rm -f wire-* console.log trace.log marks monitor.* reply.* uart.* uart-pace
devices=(b0 b1 b3 b4 b5 b6 b7 b8 b9 fa fb)
chardevs=()
for device in "${devices[@]}"; do
    : > "wire-$device"
    chardevs+=(-chardev "file,id=$device,path=wire-$device")
done
# The UART's wire is what its far end took; at first it takes nothing.
wires=("${devices[@]}" uart)
: > wire-uart
echo 0 > uart-pace
mkfifo monitor.in monitor.out reply.in reply.out uart.in uart.out
: > console.log
# The names after "panic" reach the guest's init as its environment.
"${machine[@]}" -accel tcg -display none -no-reboot -nodefaults \
    -kernel "$vmlinuz" -initrd initramfs.gz \
    -append "console=$console quiet panic=-1 reply_port=$replies paced_uart=$uart case_set=$cases" \
    "${ports[@]}" -chardev pipe,id=monitor,path=monitor -mon chardev=monitor,mode=readline \
    -device qemu-xhci,id=xhci,p2=15,p3=15 "${chardevs[@]}" \
    -device usb-braille,id=b0,chardev=b0,bus=xhci.0 \
    -trace 'usb_serial_set_*' -D trace.log &
qemu=$!
perl "$here/slow_far_end.pl" uart.out uart-pace wire-uart &
far_end=$!
trap 'kill $qemu $far_end 2> /dev/null || true' EXIT
exec 5> monitor.in 6> reply.in
cat monitor.out > monitor.log &
cat reply.out > /dev/null &

# Carries out the guest's requests until it is done; only those whose line
# has ended: the guest may be halfway through writing one. A busy machine
# slows the whole guest several times over, so the run as a whole has no
# bound: the guest is taken for hung once it has asked for nothing for
# $hung_after s, far past its longest step (some 20 s). The cases' timings
# are the guest's own clock's, which no wait here bounds.
hung_after=600
declare -A address
done_lines=0 finished=
started=$SECONDS
deadline=$((SECONDS + hung_after))
while [ -z "$finished" ] && [ $SECONDS -lt $deadline ] && kill -0 $qemu 2> /dev/null; do
    mapfile -t requests < <(perl -ne 'print if /^HOST-DO / && /\n\z/' console.log | tr -d '\r')
    while [ $done_lines -lt ${#requests[@]} ]; do
        read -r _ verb rest <<< "${requests[$done_lines]}"
        case $verb in
        monitor) echo "$rest" >&5; sleep 0.3 ;;
        pace) echo "$rest" > uart-pace ;;
        settle)  # the UART's far end takes all there is, until no more comes
            echo all > uart-pace
            size=-1
            while [ "$size" != "$(stat -c %s wire-uart)" ]; do
                size=$(stat -c %s wire-uart)
                sleep 0.3
            done ;;
        arrived)  # arrived DEVICE BYTES: until DEVICE got BYTES since the last mark, or the guest is hung
            read -r device bytes <<< "$rest"
            for column in "${!wires[@]}"; do [ "${wires[$column]}" = "$device" ] && break; done
            since=$(tail -n 1 marks | awk -v column=$((column + 3)) '{ print $column }')
            give_up=$((SECONDS + hung_after))
            while [ $(($(stat -c %s "wire-$device") - since)) -lt "$bytes" ] &&
                  [ $SECONDS -lt $give_up ]; do
                sleep 0.1
            done ;;
        mark)
            sizes=$(for device in "${wires[@]}"; do stat -c %s "wire-$device"; done)
            echo "$rest $(wc -l < trace.log) $(echo $sizes)" >> marks ;;
        done) finished=1 ;;
        esac
        echo ok >&6
        done_lines=$((done_lines + 1))
        deadline=$((SECONDS + hung_after))
    done
    sleep 0.05
done
# A hung guest is stopped, not waited for.
[ -n "$finished" ] || kill $qemu 2> /dev/null || true
wait $qemu 2> /dev/null || true
[ -n "$finished" ] ||
    { cat console.log; echo "FAIL: the guest asked for nothing for $hung_after s, or stopped before it was done"; exit 1; }
echo "     the guest ran for $((SECONDS - started)) s (host's clock)"
# "Device 0.3, Port 3, Speed 12 Mb/s, Product QEMU USB SERIAL, ID: fa"
for device in "${devices[@]}"; do
    address[$device]=$(tr -d '\r' < monitor.log |
                       sed -n "s/.*Device [0-9]*\.\([0-9]*\),.* ID: $device\$/\1/p" | head -n 1)
done

# --- Judging --------------------------------------------------------------
failures=0
check() {  # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
# What device received between the mark before case and the case's own mark.
received() {  # received CASE DEVICE
    local column
    for column in "${!wires[@]}"; do [ "${wires[$column]}" = "$2" ] && break; done
    awk -v name="$1" -v column=$((column + 3)) '
        $1 == name { print previous[column], $column - previous[column]; exit }
        { for (i = 1; i <= NF; ++i) previous[i] = $i }' marks | {
        read -r from count
        tail -c +$((from + 1)) "wire-$2" | head -c "$count"
    }
}
# The settings that the driver programmed into device during case.
settings() {  # settings CASE DEVICE
    awk -v name="$1" '$1 == name { print previous + 1, $2; exit } { previous = $2 }' marks | {
        read -r from to
        sed -n "${from},${to}p" trace.log | grep -a " dev [0-9]*:${address[$2]} " || true
    }
}
outcome() { grep -a "^CASE $1 " console.log | tr -d '\r'; }
errors() { grep -a "^ERR $1: " console.log | tr -d '\r' | sed "s/^ERR $1: //"; }
hundredByteLines() { for i in $(seq 1 "$1"); do printf '%099d\n' "$i"; done; }
is() { [ "$1" = "$2" ] || { printf '    got:  %q\n    want: %q\n' "$1" "$2"; false; }; }
has() { [[ $1 == *"$2"* ]] || { printf '    got:  %q\n    lacks: %q\n' "$1" "$2"; false; }; }
last() {  # the values of the last trace line of this event
    grep -a "usb_serial_$2" <<< "$1" | tail -n 1 | sed 's/.*dev [0-9]*:[0-9]* //'
}
# Flow control as the program's last setting left it: the one programmed with
# the last framing. (At close the driver turns flow control off anyway.)
flowAsSet() {
    awk '/usb_serial_set_data/ { framed = 1; flow = "" }
         framed && flow == "" && /usb_serial_set_flow_control/ { flow = $0 }
         END { sub(/.*dev [0-9]*:[0-9]* /, "", flow); print flow }' <<< "$1"
}
nothingElseReceived() {  # no device but the one named received anything in case
    local device
    for device in "${devices[@]}"; do
        [ "$device" = "$2" ] || [ -z "$(received "$1" "$device" | od -An -c)" ] || return 1
    done
}

check "no FTDI driver: exit 1, the other driver's port named" \
    is "$(outcome no-driver)" "CASE no-driver exit=1"
check "  message" has "$(errors no-driver)" "(no FTDI converter: the kernel's FTDI driver (ftdi_sio) is not loaded; /dev/ttyUSB0 is driven by generic, not by the FTDI driver)"
check "  nothing reached any device" nothingElseReceived no-driver none
check "FTDI driver, no converter: exit 1" is "$(outcome no-converter)" "CASE no-converter exit=1"
check "  message" has "$(errors no-converter)" "(no FTDI converter is attached; /dev/ttyUSB0 is driven by generic"
check "  nothing reached any device" nothingElseReceived no-converter none

check "the example: exit 0, silent" is "$(outcome example) $(errors example)" "CASE example exit=0 "
check "  converter 0 is ttyUSB2, the lowest FTDI port: its chip got exactly the bytes" \
    is "$(received example fa | od -An -tx1 | tr -s ' ')" " 41 42 0a 51 1b 0a"
check "  no other port was opened" nothingElseReceived example fa
for dirt in 57600 cs8_cstopb_-parenb crtscts ixon_ixoff parenb_parodd_cmspar parenb_-parodd_cmspar; do
    chip=$(settings "from-$dirt" fa)
    check "left at $dirt: the chip ends at 19200 baud" is "$(last "$chip" set_baud)" "baud rate 19200"
    check "  7 data bits, even parity, 1 stop bit" is "$(last "$chip" set_data)" \
        "parity E, data bits 7, stop bits 1"
    check "  no flow control" is "$(flowAsSet "$chip")" "flow control 0"
    check "  the bytes" is "$(outcome "from-$dirt") $(received "from-$dirt" fa)" \
        "CASE from-$dirt exit=0 AB"
done
# The driver programs the inherited settings into the chip at open: the dirt was real.
check "the port really was left dirty (RTS/CTS on at the open)" \
    has "$(settings from-crtscts fa)" "flow control 1"
check "a 5000-character line arrives whole" \
    is "$(outcome long-line) $(received long-line fa | tr -d L | od -An -c | tr -d ' ') $(received long-line fa | wc -c)" \
    "CASE long-line exit=0 \n 5001"
check "held by another program: exit 1" is "$(outcome held)" "CASE held exit=1"
check "  message names the port and the reason" has "$(errors held)" \
    "cannot open converter 0 (/dev/ttyUSB2: Device or resource busy); nothing was sent; another program holds the port: fuser -v /dev/ttyUSB2 names it (package psmisc); end it"
check "no permission: exit 1" is "$(outcome no-permission)" "CASE no-permission exit=1"
check "  message names the port, the reason, the group and the user who ran it" \
    has "$(errors no-permission)" \
    "(/dev/ttyUSB2: Permission denied); nothing was sent; add alice to the group that owns the port, usually dialout (as root: usermod -aG dialout alice), then log in again"
# The resend point follows the running kernel's page size: what the driver
# may hold is a page, two 256-byte transfers and a 4 KiB chip FIFO, and a
# line is surely sent once that much followed its line feed. 1000 lines of
# 100 bytes went before the unplug.
reported=$(tr -d '\r' < console.log | sed -n 's/^PAGE-SIZE //p')
echo "     the guest's kernel ($architecture) has pages of $reported bytes"
check "the guest's kernel has the page size of Debian's $architecture kernel" \
    is "$reported" "$guest_page"
surely=$(((100000 - (${reported:-0} + 512 + 4096)) / 100))
check "unplugged mid-run: exit 2" is "$(outcome unplugged)" "CASE unplugged exit=2"
check "  one message: lines handed over, and surely sent by the bound of $((${reported:-0} / 1024)) KiB pages" \
    is "$(errors unplugged)" "line-transmitter: sending to converter 0 failed (/dev/ttyUSB2: Input/output error); 1000 lines handed over, $surely surely sent: send again from line $((surely + 1)) (lines $((surely + 1)) to 1000 may arrive twice); check that the converter is still plugged in and the cable is sound"
check "  the chip got the lines before it went" \
    is "$(received unplugged fa | od -An -tx1 -v)" "$(hundredByteLines 1000 | od -An -tx1 -v)"

finish() {  # finish [WHAT RAN]: the count, and the console's end on a failure
    echo "$failures failed${1:+ ($1)}"
    [ $failures -eq 0 ] || { echo "--- console"; tr -d '\r' < console.log | grep -a -v '^$' | tail -n 80; exit 1; }
    exit 0
}
# --- The UART as converter 0: a real tty whose bytes take time to leave.
# QEMU writes its bytes into a pipe of one host page, and holds 17 more (its
# 16-byte FIFO and the byte going out) while the far end takes nothing; the
# rest waits in the guest's tty queue. A pipe takes more only into an empty
# page, so the queue shrinks a page at a time, however slow the far end. The wire runs at 1920 characters a
# second (19200 baud, 10 bits a character).
page=$(getconf PAGESIZE)
heldOutside=$((page + 17))
# From the program's last write, or (second) from the last signal, to its end.
took() {  # took CASE [second]
    tr -d '\r' < console.log |
        awk -v name="$1" -v field=$((${2:+1} + 3)) '$1 == "TIME" && $2 == name { print $field }'
}
within() {  # within HUNDREDTHS LOW HIGH
    [[ $1 =~ ^[0-9]+$ ]] && [ "$1" -ge "$2" ] && [ "$1" -le "$3" ] ||
        { printf '    took: %s hundredths of a second, want %s to %s\n' "$1" "$2" "$3"; false; }
}
lacks() { [[ $1 != *"$2"* ]] || { printf '    got:  %q\n    has:  %q\n' "$1" "$2"; false; }; }
linesOf() { for i in $(seq 0 $(($1 - 1))); do printf '%079d\n' "$i"; done; }
# The bytes that reached the far end: the input's first ones, none lost
# while QEMU held them back, and between LEAST and MOST of them.
arrivedInOrder() {  # arrivedInOrder CASE LINES LEAST MOST
    local got count
    got=$(received "$1" uart | od -An -tx1 -v)
    count=$(received "$1" uart | wc -c)
    [ "$got" = "$(linesOf "$2" | head -c "$count" | od -An -tx1 -v)" ] && [ "$count" -ge "$3" ] &&
        [ "$count" -le "$4" ] || { printf '    %s bytes arrived, want %s to %s, in order\n' "$count" "$3" "$4"; false; }
}
queuedTime() { echo $((($1 - heldOutside) * 100 / ${2:-1920})); }  # hundredths [at PACE]

if [ "$cases" = long-drain ]; then
    # From the program's last write, the drain's start: 19.6 s, or up to 2 s
    # less or more, for the writes' own time and the far end's tick lost at
    # each page; 10 s if it were given up while the queue still moved.
    check "a queue that shrinks for 19.6 s, a page every 2.18 s: the drain is not given up" \
        within "$(took long-drain)" $(($(queuedTime 40960 1881) - 200)) $(($(queuedTime 40960 1881) + 200))
    check "  exit 0, silent" is "$(outcome long-drain) $(errors long-drain)" "CASE long-drain exit=0 "
    check "  every byte arrived" arrivedInOrder long-drain 512 40960 40960
    finish "the USB cases and the paced UART's long drain; its other cases on amd64 and arm64"
fi

check "far end takes nothing: the drain gives up once no byte has left for 10 s" \
    within "$(took drain-deadline)" 990 1080
check "  exit 2: the close failed" is "$(outcome drain-deadline)" "CASE drain-deadline exit=2"
check "  message" has "$(errors drain-deadline)" \
    "closing converter 0 failed (/dev/ttyUSB0: the converter stopped taking bytes; what the kernel still held was dropped at the close"
check "  the close did not wait for what the kernel held: it dropped it" \
    arrivedInOrder drain-deadline 75 "$page" $((heldOutside + 16))
check "a write that finds no room for 10 s: the run ends then, without a second wait" \
    within "$(took write-stall)" 990 1080
check "  exit 2, the write's failure" has "$(outcome write-stall) $(errors write-stall)" \
    "CASE write-stall exit=2 line-transmitter: sending to converter 0 failed (the converter stopped taking bytes)"
check "  the kernel's queue was dropped" arrivedInOrder write-stall 130 "$page" $((heldOutside + 16))
check "SIGTERM, then SIGHUP while the last lines drain, none before: the drain runs to its end" \
    within "$(took signal-in-last-drain)" $(($(queuedTime 8000) - 30)) $(($(queuedTime 8000) + 80))
check "  exit 0, silent" is "$(outcome signal-in-last-drain) $(errors signal-in-last-drain)" \
    "CASE signal-in-last-drain exit=0 "
check "  every byte arrived" arrivedInOrder signal-in-last-drain 100 8000 8000
check "a second signal cuts the drain and the close short at once" \
    within "$(took second-signal second)" 0 60
check "  exit 130" is "$(outcome second-signal)" "CASE second-signal exit=130"
check "  never said to be drained" lacks "$(errors second-signal)" "drained"
check "  what the kernel held was dropped" arrivedInOrder second-signal 100 "$page" 6500

finish "the USB cases and the paced UART's timed cases; its long drain on ppc64el"
