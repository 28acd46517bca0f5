// The driver calls forwarded to the vendor's D2XX library, loaded at run
// time on the first FT_Open. A missing library, or one that lacks any of
// the calls this driver makes, answers FT_DEVICE_NOT_FOUND at the open,
// naming it: there is then no converter to drive, and nothing is sent.
//
// The library's own calls do less than ftd2xx.h promises, so this driver
// adds what its further calls (d2xx_further_calls.h) allow: after the open,
// no flow control and a write deadline; at the close, a wait until the
// library's queue and the chip's transmitter are empty, bounded, and given
// up when told to stop waiting, after which the rest is discarded.
#include <algorithm>
#include <chrono>

#include "converter_failure.h"
#include "d2xx_further_calls.h"
#include "ftd2xx.h"
#include "ftd2xx_status_names.h"
#include "line_rate.h"
#include "stop_waiting.h"
#include "vendor_library.h"

namespace {

using Clock = std::chrono::steady_clock;

// What may sit between a write's return and the wire: the driver's USB
// transfer buffer (4 KiB, its default, FT_SetUSBParameters) and the largest
// transmit FIFO of the vendor's UART chips (4 KiB, FT2232H).
const uint32_t kDriverBufferBytes = 4096;
const uint32_t kLargestChipFifoBytes = 4096;

// How often the close looks at the queue while it drains: about when what
// is queued should have left, within these bounds.
const uint32_t kShortestDrainPollMilliseconds = 10;
const uint32_t kLongestDrainPollMilliseconds = 200;

struct VendorCalls {
    decltype(&FT_Open) open;
    decltype(&FT_SetBaudRate) setBaudRate;
    decltype(&FT_SetDataCharacteristics) setDataCharacteristics;
    decltype(&FT_Write) write;
    decltype(&FT_Close) close;
    decltype(&FT_SetFlowControl) setFlowControl;
    decltype(&FT_SetTimeouts) setTimeouts;
    decltype(&FT_GetStatus) getStatus;
    decltype(&FT_GetModemStatus) getModemStatus;
    decltype(&FT_Purge) purge;
};

VendorCalls vendor = {};
bool libraryLoaded = false;

// The open converter's line, which the close's deadline needs.
struct OpenConverter {
    uint32_t baudRate;
    uint32_t bitsPerCharacter;
    bool stalled;  // a write waited out its deadline: the close waits no more
};
const OpenConverter kLineAtOpen = {9600, 10, false};
OpenConverter converter = kLineAtOpen;

// Records that the library refused a setting, naming its status.
FT_STATUS refused(FT_STATUS status, const char* what)
{
    const char* name = ftStatusName(status);
    return failed(status, "%s: " VENDOR_LIBRARY_NAME " answered %s", what,
                  name != nullptr ? name : "an unknown status");
}

template <typename Call>
bool find(void* library, const char* name, Call* call)
{
    *call = reinterpret_cast<Call>(findVendorFunction(library, name));
    if (*call == nullptr) {
        failed(FT_DEVICE_NOT_FOUND, VENDOR_LIBRARY_NAME " lacks %s", name);
    }
    return *call != nullptr;
}

bool loadVendorCalls()
{
    if (libraryLoaded) {
        return true;
    }
    void* library = loadVendorLibrary();
    if (library == nullptr) {
        failed(FT_DEVICE_NOT_FOUND, VENDOR_LIBRARY_NAME " cannot be loaded");
        return false;
    }
    VendorCalls found = {};
    libraryLoaded = find(library, "FT_Open", &found.open) &&
                    find(library, "FT_SetBaudRate", &found.setBaudRate) &&
                    find(library, "FT_SetDataCharacteristics", &found.setDataCharacteristics) &&
                    find(library, "FT_Write", &found.write) &&
                    find(library, "FT_Close", &found.close) &&
                    find(library, "FT_SetFlowControl", &found.setFlowControl) &&
                    find(library, "FT_SetTimeouts", &found.setTimeouts) &&
                    find(library, "FT_GetStatus", &found.getStatus) &&
                    find(library, "FT_GetModemStatus", &found.getModemStatus) &&
                    find(library, "FT_Purge", &found.purge);
    vendor = found;
    return libraryLoaded;
}

uint32_t wireMilliseconds(uint64_t bytes)
{
    return static_cast<uint32_t>(
        bytes * 1000 / charactersPerSecond(converter.baudRate, converter.bitsPerCharacter));
}

uint32_t millisecondsSince(Clock::time_point start)
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

enum DrainResult { kDrained, kDrainFailed, kDrainTooLong, kDrainGivenUp };

// Waits until the library's queue and the chip's transmitter are empty, at
// most the wire time of what may be queued (the library's queue and a full
// chip FIFO) plus kStallMilliseconds.
DrainResult drain(FT_HANDLE handle, FT_STATUS* status)
{
    Clock::time_point start = Clock::now();
    Clock::time_point queueEmptySince = {};  // none while bytes are queued
    uint32_t received = 0, queued = 0, events = 0, modem = 0, bound = 0;
    for (;;) {
        if ((*status = vendor.getStatus(handle, &received, &queued, &events)) != FT_OK) {
            return kDrainFailed;
        }
        bound = bound > 0 ? bound
                          : wireMilliseconds(uint64_t{queued} + kLargestChipFifoBytes) +
                                kStallMilliseconds;
        if (queued > 0) {
            queueEmptySince = {};
        } else {
            if ((*status = vendor.getModemStatus(handle, &modem)) != FT_OK) {
                return kDrainFailed;
            }
            queueEmptySince =
                queueEmptySince == Clock::time_point{} ? Clock::now() : queueEmptySince;
            // A library that reports no line status (the guide gives it on
            // Windows only) is taken as drained once a full chip FIFO has had
            // the time to leave after the queue emptied.
            uint32_t lineStatus = (modem >> FT_LINE_STATUS_SHIFT) & 0xFF;
            if ((lineStatus & FT_LINE_STATUS_TRANSMITTER_EMPTY) != 0 ||
                (lineStatus == 0 &&
                 millisecondsSince(queueEmptySince) >= wireMilliseconds(kLargestChipFifoBytes))) {
                return kDrained;
            }
        }
        if (millisecondsSince(start) > bound) {
            return kDrainTooLong;
        }
        if (!pauseUnlessTold(std::clamp(wireMilliseconds(queued), kShortestDrainPollMilliseconds,
                                        kLongestDrainPollMilliseconds))) {
            return kDrainGivenUp;
        }
    }
}

}  // namespace

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    clearFailure();
    if (!loadVendorCalls()) {
        advise("install the converter's driver from its vendor, which brings the library");
        return FT_DEVICE_NOT_FOUND;
    }
    FT_HANDLE opened = nullptr;
    FT_STATUS status = vendor.open(deviceNumber, &opened);
    if (status != FT_OK) {
        return status;
    }
    converter = kLineAtOpen;
    // Whatever another program left: no flow control of any kind, else a
    // far end that never asserts CTS would hang the run without a word.
    if ((status = vendor.setFlowControl(opened, FT_FLOW_NONE, 0, 0)) != FT_OK) {
        vendor.close(opened);
        return refused(status, "flow control could not be turned off");
    }
    // The library's writes wait for room as long as it takes, unless told.
    if ((status = vendor.setTimeouts(opened, 0, kStallMilliseconds)) != FT_OK) {
        vendor.close(opened);
        return refused(status, "the write deadline could not be set");
    }
    *handle = opened;
    return FT_OK;
}

// The calls below come only after a successful FT_Open, which loaded them.
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    if (!libraryLoaded) {
        return FT_INVALID_HANDLE;
    }
    FT_STATUS status = vendor.setBaudRate(handle, baudRate);
    if (status == FT_OK && baudRate > 0) {
        converter.baudRate = baudRate;
    }
    return status;
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity)
{
    if (!libraryLoaded) {
        return FT_INVALID_HANDLE;
    }
    FT_STATUS status = vendor.setDataCharacteristics(handle, wordLength, stopBits, parity);
    if (status == FT_OK) {
        converter.bitsPerCharacter = bitsPerCharacter(wordLength, stopBits, parity);
    }
    return status;
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    *bytesWritten = 0;
    if (!libraryLoaded) {
        return FT_INVALID_HANDLE;
    }
    if (toldToStopWaiting()) {
        return FT_OK;  // the library's write may wait: it does not begin
    }
    FT_STATUS status = vendor.write(handle, buffer, bytesToWrite, bytesWritten);
    // Nothing taken: the library waited out the deadline set at the open.
    converter.stalled = status == FT_OK && *bytesWritten == 0 && bytesToWrite > 0;
    return status;
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    if (!libraryLoaded) {
        return FT_INVALID_HANDLE;
    }
    FT_STATUS drainStatus = FT_OK;
    DrainResult result = converter.stalled ? kDrainTooLong : drain(handle, &drainStatus);
    // A wait given up discards the rest, else the library's close might go
    // on sending it, or wait for it.
    if (result != kDrained) {
        vendor.purge(handle, FT_PURGE_TX | FT_PURGE_RX);
    }
    FT_STATUS closeStatus = vendor.close(handle);
    switch (result) {
    case kDrainGivenUp:
        return failed(FT_IO_ERROR, "%s and the rest discarded: the last line may be cut",
                      kDrainCutShort);
    case kDrainTooLong:
        return failed(FT_IO_ERROR, "%s; what it still held was discarded", kStoppedTakingBytes);
    case kDrainFailed: return drainStatus;
    case kDrained: break;
    }
    return closeStatus;
}

}  // extern "C"

uint32_t converterHoldsAtMost(FT_HANDLE)
{
    return kDriverBufferBytes + kLargestChipFifoBytes;
}
