#include "kernel_serial_driver.h"

#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "converter_discovery.h"
#include "converter_failure.h"
#include "line_rate.h"
#include "serial_port.h"

namespace {

// The program holds one converter at a time, so one record serves.
struct OpenConverter {
    int descriptor;
    termios settings;  // ours, whole: never read back from the port
    uint32_t baudRate;
    uint32_t bitsPerCharacter;  // of the framing as last set
    bool stalled;               // a write waited out its deadline: the close waits no more
    char path[256];
};

OpenConverter converter = {-1, {}, 9600, 10, false, ""};

const char kKernelDropped[] =
    "what the kernel still held was dropped at the close, what the "
    "converter's chip held may still go out";

bool isOpen(FT_HANDLE handle)
{
    return handle == &converter && converter.descriptor >= 0;
}

FT_STATUS failedOnPort(FT_STATUS status, const char* path, int reason)
{
    return failed(status, "%s: %s", path, strerror(reason));
}

// Sets the port to settings, which are ours from then on.
FT_STATUS setPort(const termios& settings)
{
    if (applySettings(converter.descriptor, settings) != FT_OK) {
        return failedOnPort(FT_IO_ERROR, converter.path, errno);
    }
    converter.settings = settings;
    return FT_OK;
}

// What the user can do when the port would not open.
void adviseOnOpenError(int reason, const char* path)
{
    if (reason == EACCES || reason == EPERM) {
        const passwd* user = getpwuid(getuid());
        const char* name = user != nullptr ? user->pw_name : "<your user name>";
        advise(
            "add %s to the group that owns the port, usually dialout (as root: usermod -aG "
            "dialout %s), then log in again",
            name, name);
    } else if (reason == EBUSY) {
        advise("another program holds the port: fuser -v %s names it (package psmisc); end it",
               path);
    } else {
        advise("unplug the converter and plug it in again");
    }
}

// Why there is no converter `index`.
FT_STATUS notFound(int index)
{
    std::string driver;
    std::string other = otherSerialPort("/sys", &driver);
    char otherPort[128] = "";
    if (!other.empty()) {
        snprintf(otherPort, sizeof otherPort, "; /dev/%s is driven by %s, not by the FTDI driver",
                 other.c_str(), driver.c_str());
    }
    bool loaded = ftdiDriverLoaded("/sys");
    if (!loaded) {
        failed(FT_DEVICE_NOT_FOUND,
               "no FTDI converter: the kernel's FTDI driver (ftdi_sio) is not loaded%s", otherPort);
    } else if (index > 0) {
        failed(FT_DEVICE_NOT_FOUND, "fewer than %d FTDI converters%s", index + 1, otherPort);
    } else {
        failed(FT_DEVICE_NOT_FOUND, "no FTDI converter is attached%s", otherPort);
    }
    advise(!other.empty() ? "this program drives FTDI converters only"
           : loaded       ? "plug the converter in; ls -l /sys/bus/usb-serial/drivers/ftdi_sio/ "
                            "lists the ports the FTDI driver has bound"
                          : "plug the converter in, or load the driver as root: modprobe ftdi_sio "
                            "(package kmod)");
    return FT_DEVICE_NOT_FOUND;
}

}  // namespace

FT_STATUS openConverterAt(const char* path, FT_HANDLE* handle)
{
    clearFailure();
    if (converter.descriptor >= 0) {
        return failedOnPort(FT_DEVICE_NOT_OPENED, path, EBUSY);
    }
    FT_STATUS status = openSerialPort(path, &converter.descriptor, &converter.settings);
    if (status != FT_OK) {
        int reason = errno;
        converter.descriptor = -1;
        failedOnPort(status, path, reason);
        adviseOnOpenError(reason, path);
        return status;
    }
    converter.baudRate = 9600;
    converter.bitsPerCharacter = bitsPerCharacter(FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
    converter.stalled = false;
    snprintf(converter.path, sizeof converter.path, "%s", path);
    *handle = &converter;
    return FT_OK;
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
    return static_cast<uint32_t>(pageSize) + kWriteTransfers * kFtdiTransferSize + kLargestChipFifo;
}

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    clearFailure();
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
    cfsetspeed(&settings, speed);
    FT_STATUS status = setPort(settings);
    converter.baudRate = status == FT_OK ? baudRate : converter.baudRate;
    return status;
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity)
{
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    termios settings = converter.settings;
    if (!setFraming(&settings, wordLength, stopBits, parity)) {
        return FT_INVALID_PARAMETER;
    }
    FT_STATUS status = setPort(settings);
    if (status == FT_OK) {
        converter.bitsPerCharacter = bitsPerCharacter(wordLength, stopBits, parity);
    }
    return status;
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    *bytesWritten = 0;
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    FT_STATUS status =
        writeSome(converter.descriptor, buffer, bytesToWrite, bytesWritten, &converter.stalled);
    return status == FT_OK ? status : failedOnPort(status, converter.path, errno);
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    int descriptor = converter.descriptor;
    converter.descriptor = -1;
    uint32_t rate = charactersPerSecond(converter.baudRate, converter.bitsPerCharacter);
    switch (drainAndClose(descriptor, converter.stalled ? 0 : rate)) {
    case kDrained: return FT_OK;
    case kStalled:
        return failed(FT_IO_ERROR, "%s: %s; %s", converter.path, kStoppedTakingBytes,
                      kKernelDropped);
    case kCutShort:
        return failed(FT_IO_ERROR, "%s: %s; %s: the last line may arrive cut", converter.path,
                      kDrainCutShort, kKernelDropped);
    default: return failedOnPort(FT_IO_ERROR, converter.path, errno);
    }
}

}  // extern "C"
