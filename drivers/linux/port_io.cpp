#include "serial_port.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "kernel_serial_driver.h"
#include "stop_waiting.h"

namespace {

long long millisecondsNow()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Waits until descriptor is ready for writing, told to stop waiting, or
// the deadline (kLookAgain), looking at the port again every
// kRecheckMilliseconds: a pseudo-terminal frees room without waking its
// writer.
WaitOutcome waitForRoom(int descriptor, long long deadline)
{
    WaitOutcome outcome = kLookAgain;
    for (long long left; outcome == kLookAgain && (left = deadline - millisecondsNow()) > 0;) {
        outcome = waitUnlessTold(descriptor, POLLOUT,
                                 static_cast<int>(std::min<long long>(left, kRecheckMilliseconds)));
    }
    return outcome;
}

}  // namespace

FT_STATUS writeSome(int descriptor, const void* bytes, uint32_t count, uint32_t* written,
                    bool* stalled)
{
    const char* next = static_cast<const char*>(bytes);
    uint32_t done = 0;
    // From the call, which follows the last write that took bytes: one
    // stall costs one deadline, whatever woke the wait meanwhile.
    const long long deadline = millisecondsNow() + kStallMilliseconds;
    while (done < count && !toldToStopWaiting()) {
        ssize_t accepted = write(descriptor, next + done, count - done);
        if (accepted > 0) {
            done += static_cast<uint32_t>(accepted);
            continue;
        }
        if (accepted < 0 && errno == EINTR) {
            continue;  // a signal that did not tell us to stop: go on
        }
        if (accepted < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (done > 0) {
                break;  // some went: the caller comes back for the rest
            }
            WaitOutcome waited = waitForRoom(descriptor, deadline);
            if (waited == kReady) {
                continue;
            }
            if (waited == kWaitFailed) {
                *written = done;
                return FT_IO_ERROR;
            }
            *stalled = waited == kLookAgain;
            break;
        }
        *written = done;
        return FT_IO_ERROR;  // EIO or ENODEV: the converter was unplugged
    }
    *written = done;
    return FT_OK;
}

namespace {

void onAlarm(int)
{
    // Ringing is all it has to do: the call it interrupts returns.
}

// tcdrain and a tty's last close sleep in the kernel until the port's bytes
// have left, and only a signal ends that sleep early (tty_wait_until_sent):
// a usb-serial port has no flush, and only root may shorten its
// closing_wait (30 s). So such a call runs while SIGALRM rings every 10 ms,
// and the driver looks at its deadline and the program's answer at each.
struct AlarmRinging {
    struct sigaction previousAction;
    sigset_t callersMask;
};

AlarmRinging startAlarmRinging()
{
    AlarmRinging ringing;
    struct sigaction ring;
    memset(&ring, 0, sizeof ring);
    ring.sa_handler = onAlarm;
    sigaction(SIGALRM, &ring, &ringing.previousAction);
    sigset_t alarm;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarm, &ringing.callersMask);
    itimerval every10Milliseconds = {{0, 10 * 1000}, {0, 10 * 1000}};
    setitimer(ITIMER_REAL, &every10Milliseconds, nullptr);
    return ringing;
}

void stopAlarmRinging(const AlarmRinging& ringing)
{
    itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, nullptr);
    pthread_sigmask(SIG_SETMASK, &ringing.callersMask, nullptr);
    sigaction(SIGALRM, &ringing.previousAction, nullptr);
}

// tcdrain, which the kernel's FTDI driver extends to the chip's own buffer,
// while the alarm rings.
DrainEnd drainTheChip(int descriptor, long long deadline)
{
    for (;;) {
        if (toldToStopWaiting()) {
            return kCutShort;
        }
        if (tcdrain(descriptor) == 0) {
            return kDrained;
        }
        if (errno != EINTR) {
            return kDrainFailed;
        }
        if (millisecondsNow() >= deadline) {
            return kStalled;
        }
    }
}

// The kernel's queue first, then the chip, as drainAndClose says.
DrainEnd drain(int descriptor, uint32_t charactersPerSecond)
{
    int queued = 0;
    if (charactersPerSecond == 0) {
        return kStalled;  // a write waited out its deadline already: no second wait
    }
    if (ioctl(descriptor, TIOCOUTQ, &queued) != 0) {
        return kDrainFailed;
    }
    long long lastMove = millisecondsNow();
    long long deadline = lastMove + kStallMilliseconds + queued * 1000LL / charactersPerSecond;
    while (queued > 0) {
        long long left = std::min(deadline, lastMove + kStallMilliseconds) - millisecondsNow();
        if (left <= 0) {
            return kStalled;
        }
        WaitOutcome outcome = waitUnlessTold(
            -1, 0, static_cast<int>(std::min<long long>(left, kRecheckMilliseconds)));
        if (outcome == kTold) {
            return kCutShort;
        }
        int before = queued;
        if (outcome == kWaitFailed || ioctl(descriptor, TIOCOUTQ, &queued) != 0) {
            return kDrainFailed;
        }
        if (queued < before) {
            lastMove = millisecondsNow();
        }
    }
    AlarmRinging ringing = startAlarmRinging();
    DrainEnd end = drainTheChip(descriptor, deadline);
    int reason = errno;
    stopAlarmRinging(ringing);
    errno = reason;
    return end;
}

}  // namespace

DrainEnd drainAndClose(int descriptor, uint32_t charactersPerSecond)
{
    DrainEnd end = drain(descriptor, charactersPerSecond);
    int reason = errno;
    // Exclusive mode outlives us while another process holds the port.
    ioctl(descriptor, TIOCNXCL);
    flock(descriptor, LOCK_UN);
    if (end == kDrained) {
        return close(descriptor) == 0 ? kDrained : kDrainFailed;
    }
    // Given up: the close must not wait again, up to closing_wait, for what
    // the kernel still holds. Cut short in turn, the kernel drops it
    // (usb-serial's generic close, the serial core's shutdown).
    AlarmRinging ringing = startAlarmRinging();
    close(descriptor);
    stopAlarmRinging(ringing);
    errno = reason;
    return end;
}
