// Our own declaration of the five D2XX driver calls that line-transmitter
// makes, and of the status and line-setting values they use. Every driver in
// this folder implements exactly these; the program never knows which one it
// is linked with.
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

#ifdef __cplusplus
extern "C" {
#endif

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle);
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate);
FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength,
                                           uint8_t stopBits, uint8_t parity);
FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten);
FT_STATUS FT_API FT_Close(FT_HANDLE handle);

#ifdef __cplusplus
}
#endif

#endif
