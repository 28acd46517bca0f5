// A vendor library that lacks one of the calls the vendor-library driver
// makes (LACKING_FT_<call> names it): the program must refuse it at the
// open, naming the call, and send nothing.
#include "d2xx_further_calls.h"
#include "ftd2xx.h"

namespace {
int converter;
}

extern "C" {
#ifndef LACKING_FT_Open
FT_STATUS FT_API FT_Open(int, FT_HANDLE* handle)
{
    *handle = &converter;
    return FT_OK;
}
#endif
FT_STATUS FT_API FT_SetBaudRate(FT_HANDLE, uint32_t)
{
    return FT_OK;
}
FT_STATUS FT_API FT_SetDataCharacteristics(FT_HANDLE, uint8_t, uint8_t, uint8_t)
{
    return FT_OK;
}
#ifndef LACKING_FT_Write
FT_STATUS FT_API FT_Write(FT_HANDLE, void*, uint32_t count, uint32_t* written)
{
    *written = count;
    return FT_OK;
}
#endif
FT_STATUS FT_API FT_Close(FT_HANDLE)
{
    return FT_OK;
}
FT_STATUS FT_API FT_SetFlowControl(FT_HANDLE, uint16_t, uint8_t, uint8_t)
{
    return FT_OK;
}
FT_STATUS FT_API FT_SetTimeouts(FT_HANDLE, uint32_t, uint32_t)
{
    return FT_OK;
}
FT_STATUS FT_API FT_GetStatus(FT_HANDLE, uint32_t* received, uint32_t* queued, uint32_t* events)
{
    *received = *queued = *events = 0;
    return FT_OK;
}
#ifndef LACKING_FT_GetModemStatus
FT_STATUS FT_API FT_GetModemStatus(FT_HANDLE, uint32_t* status)
{
    *status = (FT_LINE_STATUS_TRANSMITTER_EMPTY << FT_LINE_STATUS_SHIFT);
    return FT_OK;
}
#endif
FT_STATUS FT_API FT_Purge(FT_HANDLE, uint32_t)
{
    return FT_OK;
}
}
