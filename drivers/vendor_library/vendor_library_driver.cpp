// The driver calls forwarded to the vendor's D2XX library, loaded at run
// time on the first FT_Open. A missing library, or a missing function in it,
// answers FT_DEVICE_NOT_FOUND: there is then no converter to drive.
#include "ftd2xx.h"
#include "vendor_library.h"

namespace {

using OpenCall = FT_STATUS(FT_API*)(int, FT_HANDLE*);
using SetBaudRateCall = FT_STATUS(FT_API*)(FT_HANDLE, uint32_t);
using SetDataCharacteristicsCall = FT_STATUS(FT_API*)(FT_HANDLE, uint8_t, uint8_t, uint8_t);
using WriteCall = FT_STATUS(FT_API*)(FT_HANDLE, void*, uint32_t, uint32_t*);
using CloseCall = FT_STATUS(FT_API*)(FT_HANDLE);

struct VendorCalls {
    OpenCall open;
    SetBaudRateCall setBaudRate;
    SetDataCharacteristicsCall setDataCharacteristics;
    WriteCall write;
    CloseCall close;
};

VendorCalls vendor = {};
const char* missing = "";  // what of the library is missing, for the message

template <typename Call>
bool find(void* library, const char* name, Call* call)
{
    *call = reinterpret_cast<Call>(findVendorFunction(library, name));
    return *call != nullptr;
}

bool loadVendorCalls()
{
    if (vendor.open != nullptr) {
        return true;
    }
    void* library = loadVendorLibrary();
    if (library == nullptr) {
        missing = VENDOR_LIBRARY_NAME " cannot be loaded";
        return false;
    }
    VendorCalls found = {};
    if (!find(library, "FT_Open", &found.open) ||
        !find(library, "FT_SetBaudRate", &found.setBaudRate) ||
        !find(library, "FT_SetDataCharacteristics", &found.setDataCharacteristics) ||
        !find(library, "FT_Write", &found.write) || !find(library, "FT_Close", &found.close)) {
        missing = VENDOR_LIBRARY_NAME " lacks one of the calls this program makes";
        return false;
    }
    vendor = found;
    return true;
}

}  // namespace

extern "C" {

FT_STATUS FT_API FT_Open(int deviceNumber, FT_HANDLE* handle)
{
    if (!loadVendorCalls()) {
        return FT_DEVICE_NOT_FOUND;
    }
    return vendor.open(deviceNumber, handle);
}

// The calls below come only after a successful FT_Open, which loaded them.
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE handle, uint32_t baudRate)
{
    return vendor.setBaudRate != nullptr ? vendor.setBaudRate(handle, baudRate)
                                         : static_cast<FT_STATUS>(FT_INVALID_HANDLE);
}

FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE handle, uint8_t wordLength,
                                           uint8_t stopBits, uint8_t parity)
{
    return vendor.setDataCharacteristics != nullptr
               ? vendor.setDataCharacteristics(handle, wordLength, stopBits, parity)
               : static_cast<FT_STATUS>(FT_INVALID_HANDLE);
}

FT_STATUS FT_API FT_Write(FT_HANDLE handle, void* buffer, uint32_t bytesToWrite,
                          uint32_t* bytesWritten)
{
    if (vendor.write == nullptr) {
        *bytesWritten = 0;
        return FT_INVALID_HANDLE;
    }
    return vendor.write(handle, buffer, bytesToWrite, bytesWritten);
}

FT_STATUS FT_API FT_Close(FT_HANDLE handle)
{
    return vendor.close != nullptr ? vendor.close(handle)
                                   : static_cast<FT_STATUS>(FT_INVALID_HANDLE);
}

}  // extern "C"

// The vendor's library says no more than its statuses; only its absence is ours to tell.
ConverterFailure lastConverterFailure()
{
    return ConverterFailure{missing,
                            missing[0] != '\0'
                                ? "install the converter's driver from its vendor, which "
                                  "brings the library"
                                : ""};
}

uint32_t converterHoldsAtMost(FT_HANDLE)
{
    return 10240;
}
