#include <windows.h>

#include "vendor_library.h"

void* loadVendorLibrary()
{
    // No dialog box for a missing DLL: the program reports it itself.
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Only beside the exe or where the vendor's driver installs it (System32),
    // never the current folder, where anyone could have put an FTD2XX.dll.
    HMODULE library =
        LoadLibraryExA(VENDOR_LIBRARY_NAME, nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetErrorMode(previous);
    return reinterpret_cast<void*>(library);
}

void* findVendorFunction(void* library, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
