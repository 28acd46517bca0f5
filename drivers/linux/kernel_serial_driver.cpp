#include "kernel_serial_driver.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "converter_discovery.h"
#include "line_rate.h"
#include "serial_port.h"
#include "stop_waiting.h"

namespace {

// The program holds one converter at a time, so one record serves.
struct OpenConverter {
    int descriptor;
    termios settings;          // ours, whole: never read back from the port
    uint32_t baudRate;
    uint32_t bitsPerCharacter; // of the framing as last set
    bool stalled;              // a write waited out its deadline: the close waits no more
    char path[256];
};

OpenConverter converter = {-1, {}, 9600, 10, false, ""};

// What the last failed call can tell the user.
char failureDetail[512];
const char* failureAdvice = "";

bool isOpen(FT_HANDLE handle)
{
    return handle == &converter && converter.descriptor >= 0;
}

// Records "<path>: <the system's reason>" and advice, and passes status on.
FT_STATUS failureRecorded(FT_STATUS status, const char* path, int reason, const char* advice)
{
    snprintf(failureDetail, sizeof failureDetail, "%s: %s", path,
             reason == EINTR ? "the drain was cut short by a signal; what the kernel still "
                               "held was dropped at the close, what the converter's chip "
                               "held may still go out: the last line may arrive cut"
             : reason != 0   ? strerror(reason)
                             : "the converter stopped taking bytes; what the kernel still "
                               "held was dropped at the close, what the converter's chip "
                               "held may still go out");
    failureAdvice = advice;
    return status;
}

const char* adviceForOpenError(int reason)
{
    switch (reason) {
    case EACCES:
    case EPERM:
        return "add the user to the group that owns the port, usually dialout "
               "(as root: usermod -aG dialout $USER), then log in again";
    case EBUSY:
        return "another program holds the port: find it with fuser or lsof, and end it";
    default:
        return "unplug the converter and plug it in again";
    }
}

// Why there is no converter `index`, for the message.
FT_STATUS notFound(int index)
{
    failureAdvice = "plug the converter in; ls -l /sys/bus/usb-serial/drivers/ftdi_sio/ lists "
                    "the ports the FTDI driver has bound";
    std::string driver;
    std::string other = otherSerialPort("/sys", &driver);
    if (!ftdiDriverLoaded("/sys")) {
        snprintf(failureDetail, sizeof failureDetail,
                 "no FTDI converter: the kernel's FTDI driver (ftdi_sio) is not loaded");
        failureAdvice = "plug the converter in, or load the driver (as root: modprobe ftdi_sio)";
    } else if (index > 0) {
        snprintf(failureDetail, sizeof failureDetail, "fewer than %d FTDI converters", index + 1);
    } else {
        snprintf(failureDetail, sizeof failureDetail, "no FTDI converter is attached");
    }
    if (!other.empty()) {
        size_t used = strlen(failureDetail);
        snprintf(failureDetail + used, sizeof failureDetail - used,
                 "; /dev/%s is driven by %s, not by the FTDI driver", other.c_str(),
                 driver.c_str());
        failureAdvice = "this program drives FTDI converters only";
    }
    return FT_DEVICE_NOT_FOUND;
}

}  // namespace

FT_STATUS openConverterAt(const char* path, FT_HANDLE* handle)
{
    failureDetail[0] = '\0';
    failureAdvice = "";
    if (converter.descriptor >= 0) {
        return failureRecorded(FT_DEVICE_NOT_OPENED, path, EBUSY, "");
    }
    FT_STATUS status = openSerialPort(path, &converter.descriptor, &converter.settings);
    if (status != FT_OK) {
        int reason = errno;
        converter.descriptor = -1;
        return failureRecorded(status, path, reason, adviceForOpenError(reason));
    }
    converter.baudRate = 9600;
    converter.bitsPerCharacter = bitsPerCharacter(FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
    converter.stalled = false;
    snprintf(converter.path, sizeof converter.path, "%s", path);
    *handle = &converter;
    return FT_OK;
}

ConverterFailure lastConverterFailure()
{
    return ConverterFailure{failureDetail, failureAdvice};
}

// A figure of the system, not of the handle: it stays true after the
// close, where the program composes its message.
uint32_t converterHoldsAtMost(FT_HANDLE)
{
    return kernelHoldsAtMost(sysconf(_SC_PAGESIZE));
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
        pageSize = kLargestPageSize;  // unknown: claim the least
    }
    return static_cast<uint32_t>(pageSize) + kWriteTransfers * kFtdiTransferSize +
           kLargestChipFifo;
}


extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    std::string path = converterPath("/sys", "/dev", deviceNumber);
    if (path.empty()) {
        return notFound(deviceNumber);
    }
    return openConverterAt(path.c_str(), handle);
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    speed_t speed;
    if (!speedForBaudRate(baudRate, &speed)) {
        return FT_INVALID_BAUD_RATE;
    }
    termios settings = converter.settings;
    cfsetospeed(&settings, speed);
    cfsetispeed(&settings, speed);
    if (applySettings(converter.descriptor, settings) != FT_OK) {
        return failureRecorded(FT_IO_ERROR, converter.path, errno, "");
    }
    converter.settings = settings;
    converter.baudRate = baudRate;
    return FT_OK;
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength,
                                           uint8_t stopBits, uint8_t parity)
{
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    termios settings = converter.settings;
    if (!setFraming(&settings, wordLength, stopBits, parity)) {
        return FT_INVALID_PARAMETER;
    }
    if (applySettings(converter.descriptor, settings) != FT_OK) {
        return failureRecorded(FT_IO_ERROR, converter.path, errno, "");
    }
    converter.settings = settings;
    converter.bitsPerCharacter = bitsPerCharacter(wordLength, stopBits, parity);
    return FT_OK;
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    *bytesWritten = 0;
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    FT_STATUS status = writeSome(converter.descriptor, buffer, bytesToWrite, bytesWritten,
                                 &converter.stalled);
    return status == FT_OK ? status : failureRecorded(status, converter.path, errno, "");
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    int descriptor = converter.descriptor;
    converter.descriptor = -1;
    uint32_t rate = charactersPerSecond(converter.baudRate, converter.bitsPerCharacter);
    FT_STATUS status = drainAndClose(descriptor, converter.stalled ? 0 : rate);
    if (status != FT_OK) {
        failureRecorded(status, converter.path, errno, "");
    }
    forgetStopWaiting();
    return status;
}

}  // extern "C"

