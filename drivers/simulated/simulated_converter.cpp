// A simulated converter: one converter at index 0 whose wire is standard
// output. Each byte goes out as a receiver on a matching line would get it,
// with the bits above the configured word length cleared.
//
// Switches of the simulated hardware, for tests and demonstrations:
//   LINE_TRANSMITTER_SIM_TRACE=FILE  appends one line per driver call to FILE
//   LINE_TRANSMITTER_SIM_FAIL=CALL   makes that call fail: FT_Open,
//       FT_SetBaudRate, FT_SetDataCharacteristics, FT_Close, FT_Write:N (the
//       N-th write sends nothing, and the converter is gone: what follows
//       fails, the close too), FT_Write:N:short (it takes half, rounded up),
//       FT_Write:N:stall (it takes nothing, as a converter that took no byte
//       for 10 s). Any other value makes FT_Open refuse, naming it: a
//       mistyped switch must not pass for a run without faults.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ftd2xx.h"
#include "wire_output.h"

namespace {

enum WriteFault { kNoFault, kFailedWrite, kShortWrite, kStalledWrite };

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

// What FT_Open tells of a fail switch it refuses.
char refusal[256];

// Reads the write fault, if any, from the fail switch; false when the
// switch names nothing that this converter knows.
bool readFailSwitch()
{
    converter.faultyWrite = 0;
    converter.fault = kNoFault;
    const char* value = failSwitch();
    const char* const wholeCalls[] = {"", "FT_Open", "FT_SetBaudRate",
                                      "FT_SetDataCharacteristics", "FT_Close"};
    for (const char* call : wholeCalls) {
        if (strcmp(value, call) == 0) {
            return true;
        }
    }
    const char prefix[] = "FT_Write:";
    const char* number = value + sizeof prefix - 1;
    if (strncmp(value, prefix, sizeof prefix - 1) != 0 || *number < '1' || *number > '9') {
        return false;
    }
    char* rest = nullptr;
    errno = 0;
    unsigned long write = strtoul(number, &rest, 10);
    if (errno == ERANGE) {
        return false;
    }
    const struct {
        const char* suffix;
        WriteFault fault;
    } faults[] = {{"", kFailedWrite}, {":short", kShortWrite}, {":stall", kStalledWrite}};
    for (const auto& known : faults) {
        if (strcmp(rest, known.suffix) == 0) {
            converter.faultyWrite = write;
            converter.fault = known.fault;
            return true;
        }
    }
    return false;
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
    refusal[0] = '\0';
    if (!readFailSwitch()) {
        snprintf(refusal, sizeof refusal,
                 "LINE_TRANSMITTER_SIM_FAIL=%.100s is no fault of the simulated converter",
                 failSwitch());
        return FT_INVALID_PARAMETER;
    }
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
    if (fault == kStalledWrite) {
        return FT_OK;  // none taken, as the driver answers after 10 s of nothing
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

// The simulated hardware has no more to say than its statuses, but for a
// fail switch that FT_Open refused.
ConverterFailure lastConverterFailure()
{
    if (refusal[0] != '\0') {
        return ConverterFailure{
            refusal, "set it to FT_Open, FT_SetBaudRate, FT_SetDataCharacteristics, "
                     "FT_Close, FT_Write:N, FT_Write:N:short or FT_Write:N:stall, or unset it"};
    }
    return ConverterFailure{"", ""};
}
