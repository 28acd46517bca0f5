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

#include "stop_waiting.h"

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

enum Waited { kUntilReady, kUntilDeadline, kUntilTold, kUntilFailure };

// Waits until the deadline, until descriptor is ready for writing, or until
// the driver is told to stop waiting, looking at the port again every
// kRecheckMilliseconds: a pseudo-terminal frees room without waking its
// writer.
Waited waitForRoom(int descriptor, long long deadline)
{
    for (;;) {
        long long left = deadline - millisecondsNow();
        if (left <= 0) {
            return kUntilDeadline;
        }
        int slice = static_cast<int>(left < kRecheckMilliseconds ? left : kRecheckMilliseconds);
        switch (waitUnlessTold(descriptor, POLLOUT, slice)) {
        case kReady: return kUntilReady;
        case kTold: return kUntilTold;
        case kWaitFailed: return kUntilFailure;
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
            Waited waited = waitForRoom(descriptor, deadline);
            if (waited == kUntilReady) {
                continue;
            }
            if (waited == kUntilFailure) {
                *written = done;
                return FT_IO_ERROR;
            }
            *stalled = waited == kUntilDeadline;
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
        WaitOutcome outcome =
            waitUnlessTold(-1, 0, static_cast<int>(left < kRecheckMilliseconds ? left : kRecheckMilliseconds));
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
