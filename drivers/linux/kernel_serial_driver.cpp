#include "kernel_serial_driver.h"

#include <string>

#include "converter_discovery.h"
#include "serial_port.h"

namespace {

// The program holds one converter at a time, so one record serves.
struct OpenConverter {
    int descriptor;
};

OpenConverter converter = {-1};

bool isOpen(FT_HANDLE handle)
{
    return handle == &converter && converter.descriptor >= 0;
}

}  // namespace

FT_STATUS openConverterAt(const char* path, FT_HANDLE* handle)
{
    if (converter.descriptor >= 0) {
        return FT_DEVICE_NOT_OPENED;
    }
    FT_STATUS status = openSerialPort(path, &converter.descriptor);
    if (status != FT_OK) {
        converter.descriptor = -1;
        return status;
    }
    *handle = &converter;
    return FT_OK;
}

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    std::string path = converterPath("/sys", "/dev", deviceNumber);
    if (path.empty()) {
        return FT_DEVICE_NOT_FOUND;
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
    termios settings;
    FT_STATUS status = readSettings(converter.descriptor, &settings);
    if (status != FT_OK) {
        return status;
    }
    cfsetospeed(&settings, speed);
    cfsetispeed(&settings, speed);
    return applySettings(converter.descriptor, settings);
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength,
                                           uint8_t stopBits, uint8_t parity)
{
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    termios settings;
    FT_STATUS status = readSettings(converter.descriptor, &settings);
    if (status != FT_OK) {
        return status;
    }
    if (!setFraming(&settings, wordLength, stopBits, parity)) {
        return FT_INVALID_PARAMETER;
    }
    return applySettings(converter.descriptor, settings);
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    *bytesWritten = 0;
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    return writeAll(converter.descriptor, buffer, bytesToWrite, bytesWritten);
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    if (!isOpen(handle)) {
        return FT_INVALID_HANDLE;
    }
    int descriptor = converter.descriptor;
    converter.descriptor = -1;
    return drainAndClose(descriptor);
}

}  // extern "C"
