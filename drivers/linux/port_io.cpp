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

#include "kernel_serial_driver.h"
#include "stop_waiting.h"

namespace {

long long millisecondsNow()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

enum RoomWait { kRoom, kNoRoomInTime, kToldToStop, kRoomWaitFailed };

// Waits until the deadline, until descriptor is ready for writing, or until
// the driver is told to stop waiting, looking at the port again every
// kRecheckMilliseconds: a pseudo-terminal frees room without waking its
// writer.
RoomWait waitForRoom(int descriptor, long long deadline)
{
    for (;;) {
        long long left = deadline - millisecondsNow();
        if (left <= 0) {
            return kNoRoomInTime;
        }
        int slice = static_cast<int>(left < kRecheckMilliseconds ? left : kRecheckMilliseconds);
        switch (waitUnlessTold(descriptor, POLLOUT, slice)) {
        case kReady: return kRoom;
        case kTold: return kToldToStop;
        case kWaitFailed: return kRoomWaitFailed;
        case kLookAgain: break;
        }
    }
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
            RoomWait waited = waitForRoom(descriptor, deadline);
            if (waited == kRoom) {
                continue;
            }
            if (waited == kRoomWaitFailed) {
                *written = done;
                return FT_IO_ERROR;
            }
            *stalled = waited == kNoRoomInTime;
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

// tcdrain and a tty's last close sleep in the kernel until the port's
// bytes have left, and only a signal ends that sleep early
// (tty_wait_until_sent): tcflush cannot empty a usb-serial port first, its
// driver having no flush operation, and only root may shorten the port's
// closing_wait (30 s). So such a call runs while SIGALRM rings every 10 ms,
// which lets the driver look at its deadline and at whether it has been
// told to stop waiting. The program sets no timer of its own.
class AlarmRinging {
public:
    AlarmRinging()
    {
        struct sigaction ring;
        memset(&ring, 0, sizeof ring);
        ring.sa_handler = onAlarm;
        sigemptyset(&ring.sa_mask);
        sigaction(SIGALRM, &ring, &previousAction_);
        sigset_t alarm;
        sigemptyset(&alarm);
        sigaddset(&alarm, SIGALRM);
        pthread_sigmask(SIG_UNBLOCK, &alarm, &callersMask_);
        itimerval every10Milliseconds = {{0, 10 * 1000}, {0, 10 * 1000}};
        setitimer(ITIMER_REAL, &every10Milliseconds, nullptr);
    }
    ~AlarmRinging()
    {
        itimerval off = {{0, 0}, {0, 0}};
        setitimer(ITIMER_REAL, &off, nullptr);
        pthread_sigmask(SIG_SETMASK, &callersMask_, nullptr);
        sigaction(SIGALRM, &previousAction_, nullptr);
    }
    AlarmRinging(const AlarmRinging&) = delete;
    AlarmRinging& operator=(const AlarmRinging&) = delete;

private:
    struct sigaction previousAction_;
    sigset_t callersMask_;
};

// Waits for the kernel's queue to empty, then for the chip (tcdrain, which
// the kernel's FTDI driver extends to the chip's own buffer), all within
// the wire time of what was queued plus kStallMilliseconds, and no longer
// than kStallMilliseconds while no byte leaves. False, errno set, on a
// failure, when told to stop waiting (EINTR), or at the deadline (0, ours).
bool drain(int descriptor, uint32_t charactersPerSecond)
{
    int queued = 0;
    if (ioctl(descriptor, TIOCOUTQ, &queued) != 0) {
        return false;
    }
    if (charactersPerSecond == 0) {
        errno = 0;  // a write waited out its deadline already: no second wait
        return false;
    }
    long long now = millisecondsNow();
    long long deadline = now + kStallMilliseconds + queued * 1000LL / charactersPerSecond;
    // A queue that does not shrink for kStallMilliseconds has stalled,
    // however far the wire-time deadline is.
    long long lastMove = now;
    while (queued > 0) {
        long long stallDeadline = lastMove + kStallMilliseconds;
        long long left = (deadline < stallDeadline ? deadline : stallDeadline) - millisecondsNow();
        if (left <= 0) {
            errno = 0;  // ours: the converter stopped taking bytes
            return false;
        }
        int slice = static_cast<int>(left < kRecheckMilliseconds ? left : kRecheckMilliseconds);
        WaitOutcome outcome = waitUnlessTold(-1, 0, slice);
        if (outcome == kTold) {
            errno = EINTR;
            return false;
        }
        int before = queued;
        if (outcome == kWaitFailed || ioctl(descriptor, TIOCOUTQ, &queued) != 0) {
            return false;
        }
        if (queued < before) {
            lastMove = millisecondsNow();
        }
    }
    AlarmRinging ringing;
    for (;;) {
        if (toldToStopWaiting()) {
            errno = EINTR;
            return false;
        }
        if (tcdrain(descriptor) == 0) {
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
        if (millisecondsNow() >= deadline) {
            errno = 0;  // the chip's own buffer did not empty within the deadline
            return false;
        }
    }
}

}  // namespace

FT_STATUS drainAndClose(int descriptor, uint32_t charactersPerSecond)
{
    bool drained = drain(descriptor, charactersPerSecond);
    int reason = errno;
    // Exclusive mode outlives us while another process holds the port.
    ioctl(descriptor, TIOCNXCL);
    flock(descriptor, LOCK_UN);
    int closed = 0;
    if (drained) {
        closed = close(descriptor);
        reason = closed != 0 ? errno : reason;
    } else {
        // Given up: the close must not wait again, up to closing_wait, for
        // what the kernel still holds. Cut short in turn, the kernel drops
        // it (usb-serial's generic close, the serial core's shutdown); the
        // converter's chip still sends what it has.
        AlarmRinging ringing;
        close(descriptor);
    }
    errno = reason;
    return drained && closed == 0 ? FT_OK : FT_IO_ERROR;
}

