#include <dlfcn.h>

#include "vendor_library.h"

void* loadVendorLibrary()
{
    // Local: the library's own FT_ names must not resolve to ours, nor ours
    // to its.
    return dlopen(VENDOR_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL);
}

void* findVendorFunction(void* library, const char* name)
{
    return dlsym(library, name);
}
