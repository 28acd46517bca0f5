#include "serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

FT_STATUS openSerialPort(const char* path, int* descriptor)
{
    // Non-blocking, so that the open does not wait for carrier on the modem
    // lines; not our controlling terminal; not inherited by other programs.
    int port = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port < 0) {
        return statusForOpenError(errno);
    }
    // Two programs writing to one line interleave their bytes: hold it alone.
    if (flock(port, LOCK_EX | LOCK_NB) != 0 || ioctl(port, TIOCEXCL) != 0) {
        close(port);
        return FT_DEVICE_NOT_OPENED;
    }

    termios settings;
    if (tcgetattr(port, &settings) != 0) {
        close(port);
        return FT_DEVICE_NOT_OPENED;
    }
    // Raw: a line feed leaves as 0x0A alone, nothing is translated on the
    // way in, no flow control can stall the line, modem lines are ignored.
    // cfmakeraw forces 8 bits and no parity; the framing call sets them.
    cfmakeraw(&settings);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;

    int flags = fcntl(port, F_GETFL);
    if (applySettings(port, settings) != FT_OK || flags < 0 ||
        fcntl(port, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(port);
        return FT_DEVICE_NOT_OPENED;
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

FT_STATUS readSettings(int descriptor, termios* settings)
{
    return tcgetattr(descriptor, settings) == 0 ? FT_OK : FT_IO_ERROR;
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

FT_STATUS writeAll(int descriptor, const void* bytes, uint32_t count, uint32_t* written)
{
    const char* next = static_cast<const char*>(bytes);
    uint32_t done = 0;
    while (done < count) {
        ssize_t accepted = write(descriptor, next + done, count - done);
        if (accepted < 0 && errno == EINTR) {
            continue;
        }
        if (accepted <= 0) {
            *written = done;
            return FT_IO_ERROR;  // EIO or ENODEV: the converter was unplugged
        }
        done += static_cast<uint32_t>(accepted);
    }
    *written = done;
    return FT_OK;
}

FT_STATUS drainAndClose(int descriptor)
{
    // Without the drain, closing may cut off the bytes still in the port.
    int drained;
    do {
        drained = tcdrain(descriptor);
    } while (drained != 0 && errno == EINTR);
    flock(descriptor, LOCK_UN);
    int closed = close(descriptor);
    return drained == 0 && closed == 0 ? FT_OK : FT_IO_ERROR;
}
