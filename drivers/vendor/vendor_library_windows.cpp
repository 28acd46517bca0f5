#include <windows.h>

#include "vendor_library.h"

void* loadVendorLibrary()
{
    // No dialog box for a missing DLL: the program reports it itself.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryA("FTD2XX.dll");
    SetErrorMode(previous);
    return reinterpret_cast<void*>(library);
}

void* findVendorFunction(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
