// Finding the vendor's D2XX library and its functions at run time, so the
// program starts, and can say what is wrong, where the library is missing.
#ifndef LINE_TRANSMITTER_VENDOR_LIBRARY_H
#define LINE_TRANSMITTER_VENDOR_LIBRARY_H

#ifdef _WIN32
#define VENDOR_LIBRARY_NAME "FTD2XX.dll"
#else
#define VENDOR_LIBRARY_NAME "libftd2xx.so"
#endif

// The loaded library, or nullptr when it cannot be loaded.
void* loadVendorLibrary();

// The address of one of its functions, or nullptr.
void* findVendorFunction(void* library, const char* name);

#endif
