// A simulated converter: one converter at index 0 whose wire is standard
// output. Each byte goes out as a receiver on a matching line would get it,
// with the bits above the configured word length cleared.
//
// Switches of the simulated hardware, for tests and demonstrations:
//   LINE_TRANSMITTER_SIM_TRACE=FILE  appends one line per driver call to FILE
//   LINE_TRANSMITTER_SIM_FAIL=CALL   makes that call fail: FT_Open,
//       FT_SetBaudRate, FT_SetDataCharacteristics, FT_Close, FT_Write:N (the
//       N-th write sends nothing, and the converter is gone: what follows
//       fails, the close too), FT_Write:N:short (it takes half, rounded up)
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ftd2xx.h"
#include "wire_output.h"

namespace {

enum WriteFault { kNoFault, kFailedWrite, kShortWrite };

struct SimulatedConverter {
    bool open;
    bool gone;                   // a write failed, as when the converter is unplugged
    int wordLength;              // 8 until configured
    unsigned long writes;        // FT_Write calls so far
    unsigned long faultyWrite;   // the write that the fail switch names, or 0
    WriteFault fault;            // what happens to it
};

SimulatedConverter converter = {false, false, 8, 0, 0, kNoFault};

void trace(const char* format, ...)
{
    const char* path = getenv("LINE_TRANSMITTER_SIM_TRACE");
    if (path == nullptr || *path == '\0') {
        return;
    }
    FILE* file = fopen(path, "ab");  // the same bytes on every platform
    if (file == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    vfprintf(file, format, arguments);
    va_end(arguments);
    fputc('\n', file);
    fclose(file);
}

const char* failSwitch()
{
    const char* value = getenv("LINE_TRANSMITTER_SIM_FAIL");
    return value != nullptr ? value : "";
}

bool failing(const char* call)
{
    return strcmp(failSwitch(), call) == 0;
}

// Reads "FT_Write:N" or "FT_Write:N:short" from the fail switch.
void readWriteFault()
{
    converter.faultyWrite = 0;
    converter.fault = kNoFault;
    const char* value = failSwitch();
    const char prefix[] = "FT_Write:";
    if (strncmp(value, prefix, sizeof prefix - 1) != 0) {
        return;
    }
    char* rest = nullptr;
    converter.faultyWrite = strtoul(value + sizeof prefix - 1, &rest, 10);
    converter.fault = strcmp(rest, ":short") == 0 ? kShortWrite : kFailedWrite;
}

bool isOurHandle(FT_HANDLE handle)
{
    return converter.open && handle == &converter;
}

}  // namespace

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    trace("FT_Open %d", deviceNumber);
    if (deviceNumber != 0 || failing("FT_Open")) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (converter.open) {
        return FT_DEVICE_NOT_OPENED;
    }
    converter.open = true;
    converter.gone = false;
    converter.wordLength = 8;
    converter.writes = 0;
    readWriteFault();
    *handle = &converter;
    return FT_OK;
}

FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    trace("FT_SetBaudRate %lu", static_cast<unsigned long>(baudRate));
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (failing("FT_SetBaudRate")) {
        return FT_IO_ERROR;
    }
    return baudRate == 0 ? FT_INVALID_BAUD_RATE : FT_OK;
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength,
                                           uint8_t stopBits, uint8_t parity)
{
    trace("FT_SetDataCharacteristics %u %u %u", wordLength, stopBits, parity);
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    if (failing("FT_SetDataCharacteristics")) {
        return FT_IO_ERROR;
    }
    bool valid = (wordLength == FT_BITS_7 || wordLength == FT_BITS_8) &&
                 (stopBits == FT_STOP_BITS_1 || stopBits == FT_STOP_BITS_2) &&
                 parity <= FT_PARITY_EVEN;
    if (!valid) {
        return FT_INVALID_PARAMETER;
    }
    converter.wordLength = wordLength;
    return FT_OK;
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    trace("FT_Write %lu", static_cast<unsigned long>(bytesToWrite));
    *bytesWritten = 0;
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    WriteFault fault = ++converter.writes == converter.faultyWrite ? converter.fault : kNoFault;
    if (fault == kFailedWrite || converter.gone) {
        converter.gone = true;
        return FT_IO_ERROR;
    }
    uint32_t accepted = fault == kShortWrite ? (bytesToWrite + 1) / 2 : bytesToWrite;

    // What the receiver gets of each byte: only the configured data bits.
    unsigned char mask = static_cast<unsigned char>((1u << converter.wordLength) - 1u);
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    unsigned char chunk[512];
    uint32_t done = 0;
    while (done < accepted) {
        uint32_t count = accepted - done < sizeof chunk ? accepted - done : sizeof chunk;
        for (uint32_t i = 0; i < count; ++i) {
            chunk[i] = bytes[done + i] & mask;
        }
        if (!writeToWire(chunk, count)) {
            *bytesWritten = done;
            return FT_IO_ERROR;
        }
        done += count;
    }
    *bytesWritten = accepted;
    return FT_OK;
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    trace("FT_Close");
    if (!isOurHandle(handle)) {
        return FT_INVALID_HANDLE;
    }
    converter.open = false;
    return failing("FT_Close") || converter.gone ? FT_IO_ERROR : FT_OK;
}

}  // extern "C"

// The simulated hardware has no more to say than its statuses.
ConverterFailure lastConverterFailure()
{
    return ConverterFailure{"", ""};
}

// As much as a real converter may hold, so that the program's resend point
// can be seen: LINE_TRANSMITTER_SIM_HOLDS bytes, 10 KiB unless it says.
uint32_t converterHoldsAtMost(FT_HANDLE)
{
    const char* value = getenv("LINE_TRANSMITTER_SIM_HOLDS");
    return value != nullptr && *value != '\0'
               ? static_cast<uint32_t>(strtoul(value, nullptr, 10))
               : 10240;
}
