// Our declaration of the five D2XX calls that line-transmitter makes, and of
// three of our own. Each driver in this folder implements them; the program
// never knows which one it is linked with. Every call blocks until done; a
// handle is valid from a successful FT_Open to its FT_Close.
#ifndef LINE_TRANSMITTER_FTD2XX_H
#define LINE_TRANSMITTER_FTD2XX_H

#include <stdint.h>

#ifdef _WIN32
#define FT_API __stdcall  // WINAPI, the vendor library's calling convention
#else
#define FT_API
#endif

typedef void* FT_HANDLE;     // one open converter; opaque to the program
typedef uint32_t FT_STATUS;  // every call's result; FT_OK means success

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7
};

enum { FT_BITS_7 = 7, FT_BITS_8 = 8 };
enum { FT_STOP_BITS_1 = 0, FT_STOP_BITS_2 = 2 };
enum { FT_PARITY_NONE = 0, FT_PARITY_ODD = 1, FT_PARITY_EVEN = 2 };

// A converter that takes no byte for this long, while a write waits for
// room or the close for the drain, has stopped; the words that say so.
const uint32_t kStallMilliseconds = 10000;
const char kStoppedTakingBytes[] = "the converter stopped taking bytes";

#ifdef __cplusplus
extern "C" {
#endif

// Opens converter deviceNumber (0: the first the driver lists) for this
// process alone, at 9600 baud 8N1, without flow control, nothing translated,
// whatever another program left. On failure *handle is untouched.
FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle);

// FT_INVALID_BAUD_RATE for a speed the converter lacks.
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate);

// All three together; FT_INVALID_PARAMETER, the line unchanged, for values
// not listed above.
FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity);

// Hands bytes to the converter, in order; returns once taken, not sent. It
// may take fewer than asked and answer FT_OK: the caller goes on with the
// rest. Without room it waits, at most kStallMilliseconds from the call;
// FT_OK with none taken means it stalled or was told to stop waiting.
// *bytesWritten counts the bytes taken, on failure too.
FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten);

// Waits until every byte taken has left, at most their wire time plus
// kStallMilliseconds, none after a stalled write, then releases the
// converter. FT_OK only when every byte left; a drain given up (stalled,
// told to stop waiting) may drop what is still held. The handle is invalid
// afterwards in any case.
FT_STATUS FT_API FT_Close(FT_HANDLE handle);

#ifdef __cplusplus
}
#endif

// Ours: what the driver knows of its last failed call, for the message.
// detail names the port and the reason, advice what the user can do; each
// "" when there is nothing to say, valid until the next driver call.
struct ConverterFailure {
    const char* detail;
    const char* advice;
};
ConverterFailure lastConverterFailure();

// Ours: the most bytes the driver and the converter may hold between a
// write's return and the wire: a byte handed over that long before a
// failure has surely left. At most a page of Linux's largest size plus 8 KiB.
uint32_t converterHoldsAtMost(FT_HANDLE handle);
const uint32_t kLargestPageSize = 262144;

// Ours, answered by the program: whether it has been asked to stop at once.
// No wait of the driver's own begins then, and one under way ends: on POSIX
// the signal that changes the answer interrupts it, on Windows a procedure
// call queued to the waiting thread. The vendor library's own waits, and
// the simulated converter's write on Windows, are not ended.
bool toldToStopWaiting();

#endif
