// A vendor library that lacks one of the five calls (LACKING names it): the
// program must treat it as no library at all, never call into the gap.
// With LACKING 0 it has the five and none of the further calls: the program
// sends, but cannot say that the bytes left.
#include "ftd2xx.h"

namespace {
int converter;
}

extern "C" {
#if LACKING != 1
FT_STATUS FT_API FT_Open(int, FT_HANDLE* handle)
{
    *handle = &converter;
    return FT_OK;
}
#endif
#if LACKING != 2
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE, uint32_t) { return FT_OK; }
#endif
#if LACKING != 3
FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE, uint8_t, uint8_t, uint8_t) { return FT_OK; }
#endif
#if LACKING != 4
FT_STATUS FT_API FT_Write(FT_HANDLE, void*, uint32_t count, uint32_t* written)
{
    *written = count;
    return FT_OK;
}
#endif
#if LACKING != 5
FT_STATUS FT_API FT_Close(FT_HANDLE) { return FT_OK; }
#endif
}
