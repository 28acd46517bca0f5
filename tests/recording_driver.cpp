#include "recording_driver.h"

#include <signal.h>

#include "transmit_line.h"

namespace {
RecordingDriver driver;
int handleTarget;
}  // namespace

RecordingDriver& recordingDriver()
{
    return driver;
}
FT_HANDLE recordingHandle()
{
    return &handleTarget;
}

void deliverStopRequests(int count)
{
    for (int i = 0; i < count; ++i) {
        raise(SIGHUP);
    }
}

extern "C" {

FT_STATUS FT_API FT_Open(int, FT_HANDLE* handle)
{
    *handle = recordingHandle();
    return FT_OK;
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE, uint32_t)
{
    return FT_OK;
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE, uint8_t, uint8_t, uint8_t)
{
    return FT_OK;
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    *bytesWritten = 0;
    if (handle != recordingHandle()) {
        return FT_INVALID_HANDLE;
    }
    const char* bytes = static_cast<const char*>(buffer);
    driver.writes.emplace_back(bytes, bytesToWrite);
    std::size_t number = driver.writes.size();
    if (number == driver.signalAtWrite) {
        deliverStopRequests(driver.signalsThen);
    }
    if (number == driver.failingWrite) {
        std::size_t taken = driver.failingTakes < bytesToWrite ? driver.failingTakes : bytesToWrite;
        driver.wire.append(bytes, taken);
        *bytesWritten = static_cast<uint32_t>(taken);
        return driver.failingStatus;
    }
    if (number == driver.stalledWrite) {
        return FT_OK;
    }
    uint32_t accepted = bytesToWrite;
    if (driver.acceptAtMost != 0 && accepted > driver.acceptAtMost) {
        accepted = static_cast<uint32_t>(driver.acceptAtMost);
    }
    driver.wire.append(bytes, accepted);
    *bytesWritten = accepted;
    return FT_OK;
}

FT_STATUS FT_API FT_Close(FT_HANDLE)
{
    return FT_OK;
}

}  // extern "C"

ConverterFailure lastConverterFailure()
{
    return ConverterFailure{"", ""};
}

uint32_t converterHoldsAtMost(FT_HANDLE)
{
    return driver.holdsAtMost;
}
