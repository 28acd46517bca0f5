#include "serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace {

FT_STATUS statusForOpenError(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return FT_DEVICE_NOT_FOUND;  // gone between discovery and open
    default:
        return FT_DEVICE_NOT_OPENED;  // in use, no permission, or refused
    }
}

// Unix98 pseudo-terminal far ends have majors 136 to 143.
bool isPseudoTerminal(int descriptor)
{
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISCHR(status.st_mode)) {
        return false;
    }
    unsigned int deviceMajor = major(status.st_rdev);
    return deviceMajor >= 136 && deviceMajor <= 143;
}

bool sameApartFromFraming(const termios& wanted, const termios& actual)
{
    const tcflag_t framing = CSIZE | PARENB | PARODD | CSTOPB;
    return wanted.c_iflag == actual.c_iflag && wanted.c_oflag == actual.c_oflag &&
           wanted.c_lflag == actual.c_lflag &&
           (wanted.c_cflag & ~framing) == (actual.c_cflag & ~framing) &&
           cfgetospeed(&wanted) == cfgetospeed(&actual);
}

}  // namespace

FT_STATUS openSerialPort(const char* path, int* descriptor, termios* settings)
{
    // Non-blocking, so that the open does not wait for carrier on the modem
    // lines, and so that a write that would block can have a deadline; not
    // our controlling terminal; not inherited by other programs.
    int port = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port < 0) {
        return statusForOpenError(errno);
    }
    // Two programs writing to one line interleave their bytes: hold it alone.
    termios inherited;
    FT_STATUS status = FT_OK;
    if (flock(port, LOCK_EX | LOCK_NB) != 0) {
        errno = EBUSY;  // the other holder's lock, told the way open would tell it
        status = FT_DEVICE_NOT_OPENED;
    } else if (ioctl(port, TIOCEXCL) != 0 || tcgetattr(port, &inherited) != 0) {
        status = FT_DEVICE_NOT_OPENED;
    } else {
        *settings = settingsAtOpen(inherited);
        status = applySettings(port, *settings);
    }
    if (status != FT_OK) {
        int reason = errno;
        ioctl(port, TIOCNXCL);
        close(port);
        errno = reason;
        return status;
    }
    *descriptor = port;
    return FT_OK;
}

termios settingsAtOpen(const termios& inherited)
{
    termios settings;
    memset(&settings, 0, sizeof settings);  // every flag off: raw, no flow control
    settings.c_cflag = CS8 | CREAD | CLOCAL | (inherited.c_cflag & HUPCL);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetospeed(&settings, B9600);
    cfsetispeed(&settings, B9600);
    return settings;
}

bool speedForBaudRate(uint32_t baudRate, speed_t* speed)
{
    static const struct {
        uint32_t baudRate;
        speed_t speed;
    } speeds[] = {
        {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
        {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
        {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
        {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
        {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    };
    for (const auto& entry : speeds) {
        if (entry.baudRate == baudRate) {
            *speed = entry.speed;
            return true;
        }
    }
    return false;
}

bool setFraming(termios* settings, uint8_t wordLength, uint8_t stopBits, uint8_t parity)
{
    tcflag_t size;
    switch (wordLength) {
    case FT_BITS_7: size = CS7; break;
    case FT_BITS_8: size = CS8; break;
    default: return false;
    }
    tcflag_t stop;
    switch (stopBits) {
    case FT_STOP_BITS_1: stop = 0; break;
    case FT_STOP_BITS_2: stop = CSTOPB; break;
    default: return false;
    }
    tcflag_t parityFlags;
    switch (parity) {
    case FT_PARITY_NONE: parityFlags = 0; break;
    case FT_PARITY_ODD: parityFlags = PARENB | PARODD; break;
    case FT_PARITY_EVEN: parityFlags = PARENB; break;
    default: return false;
    }
    settings->c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD);
    settings->c_cflag |= size | stop | parityFlags;
    return true;
}

int bitsPerCharacter(const termios& settings)
{
    int dataBits = 5;
    switch (settings.c_cflag & CSIZE) {
    case CS6: dataBits = 6; break;
    case CS7: dataBits = 7; break;
    case CS8: dataBits = 8; break;
    default: break;
    }
    return 1 + dataBits + ((settings.c_cflag & PARENB) ? 1 : 0) +
           ((settings.c_cflag & CSTOPB) ? 2 : 1);
}

FT_STATUS applySettings(int descriptor, const termios& wanted)
{
    if (tcsetattr(descriptor, TCSANOW, &wanted) == 0) {
        return FT_OK;
    }
    // Some C libraries read the settings back and answer EINVAL when the
    // kernel did not take them all. A pseudo-terminal always forces 8 bits
    // and no parity: it has no framing to be wrong, so there, and only
    // there, that answer is accepted once the rest is confirmed as asked.
    // A real port that refuses the framing, or an unplugged one (EIO),
    // still fails.
    termios actual;
    if (errno == EINVAL && isPseudoTerminal(descriptor) && tcgetattr(descriptor, &actual) == 0 &&
        sameApartFromFraming(wanted, actual)) {
        return FT_OK;
    }
    return FT_IO_ERROR;
}

namespace {

long long millisecondsNow()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The caller holds its stop signals blocked outside the driver's waits, so
// each wait lets them all through (an empty mask) for its duration alone:
// one that came before the wait, or comes during it, ends it at once.
const sigset_t& everySignalLetThrough()
{
    static const sigset_t none = [] {
        sigset_t empty;
        sigemptyset(&empty);
        return empty;
    }();
    return none;
}

// Sleeps until the deadline or kRecheckMilliseconds, whichever is sooner,
// or until descriptor (when not -1) is ready for writing. 1 ready, 0 the
// deadline has passed, -1 a signal (errno EINTR) or a failure (errno set).
int pauseUntil(long long deadline, int descriptor)
{
    long long left = deadline - millisecondsNow();
    if (left <= 0) {
        return 0;
    }
    long long slice = left < kRecheckMilliseconds ? left : kRecheckMilliseconds;
    timespec pause = {static_cast<time_t>(slice / 1000), static_cast<long>(slice % 1000) * 1000000};
    pollfd port = {descriptor, POLLOUT, 0};
    int ready = ppoll(descriptor >= 0 ? &port : nullptr, descriptor >= 0 ? 1 : 0, &pause,
                      &everySignalLetThrough());
    if (ready < 0) {
        return -1;
    }
    if (ready > 0) {
        return 1;
    }
    return millisecondsNow() >= deadline ? 0 : 2;  // 2: look again
}

// Waits for room on the port until the deadline. 1 room, 0 none by then,
// -1 a signal or a failure.
int waitForRoom(int descriptor, long long deadline)
{
    for (;;) {
        int outcome = pauseUntil(deadline, descriptor);
        if (outcome != 2) {
            return outcome;
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
    while (done < count) {
        ssize_t accepted = write(descriptor, next + done, count - done);
        if (accepted > 0) {
            done += static_cast<uint32_t>(accepted);
            continue;
        }
        if (accepted < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && done == 0) {
            // Full: wait for room. Nothing within the deadline, or a signal,
            // returns with nothing taken; the caller decides.
            int ready = waitForRoom(descriptor, deadline);
            if (ready > 0) {
                continue;
            }
            *stalled = ready == 0;
            break;
        }
        if (accepted < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            break;  // some went: the caller comes back for the rest
        }
        *written = done;
        return FT_IO_ERROR;  // EIO or ENODEV: the converter was unplugged
    }
    *written = done;
    return FT_OK;
}

namespace {

// Whether a signal that the caller holds, and handles, is pending. Linux
// keeps a held signal pending even when it is ignored; that one must not
// cut a wait short.
bool handledSignalPending()
{
    sigset_t held;
    sigset_t pending;
    sigprocmask(SIG_SETMASK, nullptr, &held);
    sigpending(&pending);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        struct sigaction disposition;
        if (sigismember(&held, signalNumber) == 1 && sigismember(&pending, signalNumber) == 1 &&
            sigaction(signalNumber, nullptr, &disposition) == 0 &&
            disposition.sa_handler != SIG_IGN) {
            return true;
        }
    }
    return false;
}

volatile sig_atomic_t alarmRang = 0;

void onAlarm(int)
{
    alarmRang = 1;
}

// tcdrain and a tty's last close sleep in the kernel until the port's
// bytes have left, and only a signal ends that sleep early
// (tty_wait_until_sent): tcflush cannot empty a usb-serial port first, its
// driver having no flush operation, and only root may shorten the port's
// closing_wait (30 s). So such a call runs with every signal let through and
// SIGALRM ringing from withinMilliseconds on, every 10 ms after (the first
// ring may come before the call sleeps). The program sets no timer of its
// own. *rang tells whether the alarm, not another signal, ended it.
int callWithin(int (*call)(int), int descriptor, long long withinMilliseconds, bool* rang)
{
    if (withinMilliseconds > 0 && handledSignalPending()) {
        errno = EINTR;  // would be taken as the mask opens, unseen by the call
        return -1;
    }
    struct sigaction ring;
    memset(&ring, 0, sizeof ring);
    ring.sa_handler = onAlarm;
    sigemptyset(&ring.sa_mask);
    struct sigaction previousAction;
    sigaction(SIGALRM, &ring, &previousAction);
    alarmRang = 0;
    sigset_t callerMask;
    sigprocmask(SIG_SETMASK, &everySignalLetThrough(), &callerMask);
    long long first = withinMilliseconds > 0 ? withinMilliseconds : 1;
    itimerval alarm = {{0, 10 * 1000}, {static_cast<time_t>(first / 1000),
                                         static_cast<suseconds_t>(first % 1000 * 1000)}};
    setitimer(ITIMER_REAL, &alarm, nullptr);
    int result = call(descriptor);
    int reason = errno;
    itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigprocmask(SIG_SETMASK, &callerMask, nullptr);
    sigaction(SIGALRM, &previousAction, nullptr);
    *rang = alarmRang != 0;
    errno = reason;
    return result;
}

// Waits for the kernel's queue to empty, then for the chip (tcdrain, which
// the kernel's FTDI driver extends to the chip's own buffer), all within
// the wire time of what was queued plus kStallMilliseconds, and no longer
// than kStallMilliseconds while no byte leaves. False, errno set, on a
// failure, a signal (EINTR), or the deadline (0, ours).
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
        int outcome = pauseUntil(deadline < stallDeadline ? deadline : stallDeadline, -1);
        if (outcome == 0) {
            errno = 0;  // ours: the converter stopped taking bytes
            return false;
        }
        int before = queued;
        if (outcome < 0 || ioctl(descriptor, TIOCOUTQ, &queued) != 0) {
            return false;  // EINTR: a signal asks to stop waiting
        }
        if (queued < before) {
            lastMove = millisecondsNow();
        }
    }
    bool rang = false;
    if (callWithin(tcdrain, descriptor, deadline - millisecondsNow(), &rang) == 0) {
        return true;
    }
    if (rang) {
        errno = 0;  // the chip's own buffer did not empty within the deadline
    }
    return false;
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
        // Cut short: the close must not wait again, up to closing_wait, for
        // what the kernel still holds. Cut short in turn, the kernel drops
        // it (usb-serial's generic close, the serial core's shutdown); the
        // converter's chip still sends what it has.
        bool rang = false;
        callWithin(close, descriptor, 0, &rang);
    }
    errno = reason;
    return drained && closed == 0 ? FT_OK : FT_IO_ERROR;
}

uint32_t kernelHoldsAtMost(long pageSize)
{
    // usb-serial.c gives each port a write kfifo of PAGE_SIZE and two write
    // URBs (write_urbs[2]) of the driver's bulk_out_size, 256 in ftdi_sio.c;
    // the largest transmit FIFO of FTDI's UARTs is the FT2232H's 4 KiB.
    const uint32_t kWriteTransfers = 2;
    const uint32_t kFtdiTransferSize = 256;
    const uint32_t kLargestChipFifo = 4096;
    if (pageSize <= 0) {
        pageSize = 65536;  // unknown: the largest page Linux commonly uses
    }
    return static_cast<uint32_t>(pageSize) + kWriteTransfers * kFtdiTransferSize +
           kLargestChipFifo;
}
