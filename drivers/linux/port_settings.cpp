#include "serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

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

// The settings of a freshly opened port, built from nothing but HUPCL.
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

}  // namespace

FT_STATUS openSerialPort(const char* path, int* descriptor, termios* settings)
{
    // Non-blocking, so that the open does not wait for carrier on the modem
    // lines, and so that a write that would block can have a deadline; not
    // our controlling terminal; not inherited by other programs.
    int port = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port < 0) {
        // Gone between discovery and open; else in use, no permission, or refused.
        return errno == ENOENT || errno == ENODEV || errno == ENXIO ? FT_DEVICE_NOT_FOUND
                                                                    : FT_DEVICE_NOT_OPENED;
    }
    // Two programs writing to one line interleave their bytes: hold it alone.
    // Exclusive mode comes last, so that no failure after it leaves it set.
    termios inherited;
    FT_STATUS status = FT_DEVICE_NOT_OPENED;
    if (flock(port, LOCK_EX | LOCK_NB) != 0) {
        errno = EBUSY;  // the other holder's lock, told the way open would tell it
    } else if (tcgetattr(port, &inherited) == 0) {
        *settings = settingsAtOpen(inherited);
        status = applySettings(port, *settings);
        if (status == FT_OK && ioctl(port, TIOCEXCL) != 0) {
            status = FT_DEVICE_NOT_OPENED;
        }
    }
    if (status != FT_OK) {
        int reason = errno;
        close(port);
        errno = reason;
        return status;
    }
    *descriptor = port;
    return FT_OK;
}

bool speedForBaudRate(uint32_t baudRate, speed_t* speed)
{
    static const struct {
        uint32_t baudRate;
        speed_t speed;
    } speeds[] = {
        {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},
        {38400, B38400},     {57600, B57600},     {115200, B115200},   {230400, B230400},
        {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
        {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {2500000, B2500000}, {3000000, B3000000},
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
