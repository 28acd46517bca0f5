#!/usr/bin/perl
# The far end of the guest's 16550 UART: reads what QEMU sends into FIFO at
# the pace that the file PACE names, and appends it to WIRE.
#
#   slow_far_end.pl FIFO PACE WIRE
#
# PACE holds bytes a second, "0" (take nothing: QEMU then holds the bytes
# back, and the guest's tty queue fills), or "all" (take them as they come).
# The pipe is shrunk to the least the kernel allows, one page, so that the
# guest sees a full queue after a page of bytes rather than 64 KiB.
use strict;
use warnings;
use Fcntl qw(O_RDWR O_NONBLOCK);
use Time::HiRes qw(sleep time);

my ($fifo, $pace_file, $wire_file) = @ARGV;
my $F_SETPIPE_SZ = 1031;  # <linux/fcntl.h>: F_LINUX_SPECIFIC_BASE + 7
sysopen(my $in, $fifo, O_RDWR | O_NONBLOCK) or die "$fifo: $!\n";
fcntl($in, $F_SETPIPE_SZ, 1) or die "shrinking $fifo: $!\n";
open(my $wire, '>>', $wire_file) or die "$wire_file: $!\n";
$wire->autoflush(1);

my $allowance = 0;
my $before = time;
while (1) {
    my $pace = '0';
    if (open(my $control, '<', $pace_file)) {
        $pace = <$control> // '0';
        chomp $pace;
        close $control;
    }
    my $now = time;
    $allowance = $pace eq 'all' ? 65536 : $allowance + $pace * ($now - $before);
    $before = $now;
    my $want = int($allowance);
    if ($want > 0) {
        my $got = sysread($in, my $bytes, $want);
        $got = 0 unless defined $got && $got > 0;
        print $wire $bytes if $got;
        # Less than wanted: the pipe is empty, and idle time earns no burst.
        $allowance = $got < $want ? 0 : $allowance - $got;
    }
    sleep 0.02;
}
