#include "simulated_hardware.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "converter_failure.h"
#include "wire_output.h"

namespace {

const char* switchValue(const char* name)
{
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

// The write fault of FT_Write:N[:short|:stall]; false for anything else.
bool readWriteFault(const char* value, FaultSwitch* switches)
{
    const char prefix[] = "FT_Write:";
    const char* number = value + sizeof prefix - 1;
    if (strncmp(value, prefix, sizeof prefix - 1) != 0 || *number < '1' || *number > '9') {
        return false;
    }
    char* rest = nullptr;
    errno = 0;
    switches->faultyWrite = strtoul(number, &rest, 10);
    switches->writeFault = strcmp(rest, "") == 0         ? kFailedWrite
                           : strcmp(rest, ":short") == 0 ? kShortWrite
                           : strcmp(rest, ":stall") == 0 ? kStalledWrites
                                                         : kNoFault;
    return switches->writeFault != kNoFault && errno != ERANGE;
}

}  // namespace

void traceCall(const char* format, ...)
{
    const char* path = switchValue("LINE_TRANSMITTER_SIM_TRACE");
    if (*path == '\0') {
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

bool readSwitches(FaultSwitch* switches)
{
    *switches = FaultSwitch{"", 0, kNoFault, 10240};
    const char* fail = switchValue("LINE_TRANSMITTER_SIM_FAIL");
    const char* const wholeCalls[] = {"", "FT_Open", "FT_SetBaudRate", "FT_SetDataCharacteristics",
                                      "FT_Close"};
    bool known = readWriteFault(fail, switches);
    for (const char* call : wholeCalls) {
        if (strcmp(fail, call) == 0) {
            snprintf(switches->failingCall, sizeof switches->failingCall, "%s", call);
            known = true;
        }
    }
    if (!known) {
        failed(FT_INVALID_PARAMETER,
               "LINE_TRANSMITTER_SIM_FAIL=%.100s is no fault of the simulated converter", fail);
        advise(
            "set it to FT_Open, FT_SetBaudRate, FT_SetDataCharacteristics, FT_Close, "
            "FT_Write:N, FT_Write:N:short or FT_Write:N:stall, or unset it");
        return false;
    }
    const char* holds = switchValue("LINE_TRANSMITTER_SIM_HOLDS");
    if (strspn(holds, "0123456789") != strlen(holds)) {
        failed(FT_INVALID_PARAMETER, "LINE_TRANSMITTER_SIM_HOLDS=%.100s is no count of bytes",
               holds);
        advise("set it to a number of bytes, or unset it");
        return false;
    }
    if (*holds != '\0') {
        switches->holdsAtMost = static_cast<uint32_t>(strtoul(holds, nullptr, 10));
    }
    return true;
}

namespace {

bool isOpenLine(const SimulatedLine* line, FT_HANDLE handle)
{
    return line->open && handle == line;
}

bool failing(const SimulatedLine* line, const char* call)
{
    return strcmp(line->switches.failingCall, call) == 0;
}

// What every call on an open line looks at first: its handle, then whether
// the fault switch fails it.
FT_STATUS callOnLine(const SimulatedLine* line, FT_HANDLE handle, const char* call)
{
    return !isOpenLine(line, handle) ? FT_INVALID_HANDLE
           : failing(line, call)     ? FT_IO_ERROR
                                     : FT_OK;
}

}  // namespace

FT_STATUS openSimulatedLine(SimulatedLine* line, int deviceNumber, FT_HANDLE* handle)
{
    traceCall("FT_Open %d", deviceNumber);
    clearFailure();
    if (!readSwitches(&line->switches)) {
        return FT_INVALID_PARAMETER;
    }
    if (deviceNumber != 0 || failing(line, "FT_Open")) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (line->open) {
        return FT_DEVICE_NOT_OPENED;
    }
    line->open = true;
    line->gone = false;
    line->wordLength = 8;
    line->writes = 0;
    *handle = line;
    return FT_OK;
}

FT_STATUS setSimulatedSpeed(SimulatedLine* line, FT_HANDLE handle, uint32_t baudRate)
{
    traceCall("FT_SetBaudRate %lu", static_cast<unsigned long>(baudRate));
    FT_STATUS status = callOnLine(line, handle, "FT_SetBaudRate");
    return status == FT_OK && baudRate == 0 ? FT_STATUS{FT_INVALID_BAUD_RATE} : status;
}

FT_STATUS setSimulatedFraming(SimulatedLine* line, FT_HANDLE handle, uint8_t wordLength,
                              uint8_t stopBits, uint8_t parity)
{
    traceCall("FT_SetDataCharacteristics %u %u %u", wordLength, stopBits, parity);
    FT_STATUS status = callOnLine(line, handle, "FT_SetDataCharacteristics");
    if (status != FT_OK) {
        return status;
    }
    bool valid = (wordLength == FT_BITS_7 || wordLength == FT_BITS_8) &&
                 (stopBits == FT_STOP_BITS_1 || stopBits == FT_STOP_BITS_2) &&
                 parity <= FT_PARITY_EVEN;
    if (!valid) {
        return FT_INVALID_PARAMETER;
    }
    line->wordLength = wordLength;
    return FT_OK;
}

FT_STATUS closeSimulatedLine(SimulatedLine* line, FT_HANDLE handle)
{
    traceCall("FT_Close");
    FT_STATUS status = callOnLine(line, handle, "FT_Close");
    line->open = line->open && status == FT_INVALID_HANDLE;
    return status == FT_OK && line->gone ? FT_STATUS{FT_IO_ERROR} : status;
}

FT_STATUS beginSimulatedWrite(SimulatedLine* line, FT_HANDLE handle, uint32_t count,
                              WriteFault* fault)
{
    traceCall("FT_Write %lu", static_cast<unsigned long>(count));
    if (!isOpenLine(line, handle)) {
        return FT_INVALID_HANDLE;
    }
    // From the faulty write on, a stall stalls every write; a failed or
    // short write is that one.
    const FaultSwitch& switches = line->switches;
    ++line->writes;
    bool struck = switches.faultyWrite != 0 &&
                  (line->writes == switches.faultyWrite ||
                   (switches.writeFault == kStalledWrites && line->writes > switches.faultyWrite));
    *fault = struck ? switches.writeFault : kNoFault;
    if (*fault == kFailedWrite || line->gone) {
        line->gone = true;
        return FT_IO_ERROR;
    }
    return FT_OK;
}

FT_STATUS takeSimulatedWrite(SimulatedLine* line, const void* bytes, uint32_t count,
                             WriteFault fault, uint32_t* taken)
{
    uint32_t accepted = fault == kShortWrite ? (count + 1) / 2 : count;
    unsigned char mask = static_cast<unsigned char>((1u << line->wordLength) - 1u);
    const unsigned char* from = static_cast<const unsigned char*>(bytes);
    unsigned char chunk[1024];  // a whole write of the sender's, one system call
    bool refused = false;
    *taken = 0;
    while (*taken < accepted) {
        uint32_t size = accepted - *taken < sizeof chunk ? accepted - *taken : sizeof chunk;
        for (uint32_t i = 0; i < size; ++i) {
            chunk[i] = from[*taken + i] & mask;
        }
        uint32_t written = writeToWire(chunk, size, &refused);
        *taken += written;
        if (written < size) {
            break;
        }
    }
    return refused ? FT_IO_ERROR : FT_OK;
}
